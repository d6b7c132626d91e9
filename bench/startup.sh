#!/bin/sh
# The start-up cost of vexl: the median wall time of the smallest example
# (hello) on each engine, with the confined machine (the default) and
# without it (--no-sandbox), over RUNS runs of each, interleaved.
#
#   sh bench/startup.sh [BUILD_DIR] [RUNS]      (defaults: build, 300)
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-300}
vexlc=$build/compiler/vexlc
vexl=$build/vm/vexl
for tool in "$vexlc" "$vexl"; do
  [ -x "$tool" ] || { echo "startup.sh: $tool is not built" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/hello.vxl "$work/"
"$vexlc" "$work/hello.vxl" >/dev/null 2>&1

now() { date +%s%N; }
i=0
while [ "$i" -lt "$runs" ]; do
  for c in reference native; do
    for s in on off; do
      flag=; [ $s = off ] && flag=--no-sandbox
      start=$(now)
      # shellcheck disable=SC2086
      "$vexl" --engine=$c $flag "$work/hello.exec" >/dev/null
      echo $(($(now) - start)) >>"$work/$c.$s"
    done
  done
  i=$((i + 1))
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for s in on off; do
  awk -v s=$s -v r="$(median "$work/reference.$s")" -v n="$(median "$work/native.$s")" 'BEGIN {
    printf "start-up (hello, median of '"$runs"' runs, sandbox %-3s)  reference %.2fms  native %.2fms  native-reference %+.2fms\n",
           s, r / 1e6, n / 1e6, (n - r) / 1e6
  }'
done
