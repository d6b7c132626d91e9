#!/bin/sh
# Memory and time of going back in a recorded run: records 10^6 and 10^8
# instructions of the sieve and of the bubble sort of bench/programs (both
# write to thousands of words of memory all the time) and steps back from
# the end (see bench/record_bench.cpp for the figures printed).
#
#   sh bench/record.sh [BUILD_DIR]      (default: build)
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
vexlc=$build/compiler/vexlc
bench=$build/bench/record_bench
for tool in "$vexlc" "$bench"; do
  [ -x "$tool" ] || { echo "record.sh: $tool is not built" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for p in sieve bubble; do
  cp "bench/programs/$p.vxl" "$work/"
  "$vexlc" "$work/$p.vxl" >/dev/null 2>&1 || { echo "record.sh: $p.vxl does not compile" >&2; exit 1; }
  echo "$p:"
  "$bench" "$work/$p.exec" 1000000 100000000
done
