#!/bin/sh
# Runs the four benchmark programs of bench/programs (bubble sort, recursive
# fib, nested loops, sieve) on both engines of vexl, on Lua 5.4 and as C
# compiled by gcc -O2, interleaved: every round runs each program once on
# each of them, and the best time of the rounds counts. Prints the times,
# the ratios and their geometric means, then the start-up cost: the median
# time of the smallest example (hello) on each engine, over 100 runs each
# per round, interleaved.
#
#   sh bench/engines.sh [BUILD_DIR] [ROUNDS]      (defaults: build, 5)
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
vexlc=$build/compiler/vexlc
vexl=$build/vm/vexl
for tool in "$vexlc" "$vexl"; do
  [ -x "$tool" ] || { echo "engines.sh: $tool is not built" >&2; exit 2; }
done
command -v lua5.4 >/dev/null || { echo "engines.sh: lua5.4 is missing (sh scripts/deps.sh lua5.4)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
programs="bubble fib loops sieve"
for p in $programs; do
  mkdir "$work/$p"
  cp "bench/programs/$p.vxl" "$work/$p/"
  "$vexlc" "$work/$p/$p.vxl" >/dev/null 2>&1 || { echo "engines.sh: $p.vxl does not compile" >&2; exit 1; }
  gcc -O2 -o "$work/$p.bin" "bench/programs/$p.c"
done

now() { date +%s%N; }
# Runs a command with its output in $work/out; appends its time in
# nanoseconds to the file $1.
timed() {
  file=$1
  shift
  start=$(now)
  "$@" >"$work/out"
  echo $(($(now) - start)) >>"$file"
}

# All four must print what Lua prints.
for p in $programs; do
  expected=$(lua5.4 "bench/programs/$p.lua")
  for got in "$("$vexl" --engine=reference "$work/$p/$p.exec")" \
             "$("$vexl" --engine=native "$work/$p/$p.exec")" "$("$work/$p.bin")"; do
    [ "$got" = "$expected" ] || { echo "engines.sh: $p prints '$got', Lua '$expected'" >&2; exit 1; }
  done
done

r=1
while [ "$r" -le "$rounds" ]; do
  for p in $programs; do
    timed "$work/$p.reference" "$vexl" --engine=reference "$work/$p/$p.exec"
    timed "$work/$p.native" "$vexl" --engine=native "$work/$p/$p.exec"
    timed "$work/$p.lua" lua5.4 "bench/programs/$p.lua"
    timed "$work/$p.c" "$work/$p.bin"
  done
  r=$((r + 1))
done

best() { sort -n "$1" | head -n 1; }
for p in $programs; do
  echo "$p $(best "$work/$p.reference") $(best "$work/$p.native") $(best "$work/$p.lua") $(best "$work/$p.c")"
done | awk '
  BEGIN {
    printf "%-8s %9s %9s %9s %9s  %11s %11s %11s\n", "program", "reference", "native", "lua", "gcc -O2",
           "native/lua", "native/ref", "native/gcc"
  }
  {
    printf "%-8s %7.1fms %7.1fms %7.1fms %7.1fms  %11.2f %11.2f %11.2f\n", $1, $2 / 1e6, $3 / 1e6,
           $4 / 1e6, $5 / 1e6, $3 / $4, $3 / $2, $3 / $5
    lua += log($3 / $4); ref += log($3 / $2); gcc += log($3 / $5); refl += log($2 / $4); n++
  }
  END {
    printf "geomean  native/lua %.2f  native/reference %.2f  native/gcc %.2f  reference/lua %.2f\n",
           exp(lua / n), exp(ref / n), exp(gcc / n), exp(refl / n)
  }'

mkdir "$work/hello"
cp examples/hello.vxl "$work/hello/"
"$vexlc" "$work/hello/hello.vxl" >/dev/null 2>&1
i=0
while [ "$i" -lt $((rounds * 100)) ]; do
  timed "$work/start.reference" "$vexl" --engine=reference "$work/hello/hello.exec"
  timed "$work/start.native" "$vexl" --engine=native "$work/hello/hello.exec"
  i=$((i + 1))
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v r="$(median "$work/start.reference")" -v n="$(median "$work/start.native")" 'BEGIN {
  printf "start-up (hello, median of %d runs)  reference %.2fms  native %.2fms  native-reference %+.2fms\n",
         '"$((rounds * 100))"', r / 1e6, n / 1e6, (n - r) / 1e6
}'
