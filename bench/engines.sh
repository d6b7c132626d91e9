#!/bin/sh
# Runs the benchmark programs of bench/programs on both engines of vexl, on
# Lua 5.4, on LuaJIT and as C compiled by gcc -O2, interleaved: every round
# runs each program once on each of them, and the best time of the rounds
# counts. The programs: bubble sort, recursive fib, nested loops and the
# sieve; the n queens (recursion over arrays), matmul (nested index
# arithmetic), collatz (division in while loops) and table (1.2 million
# lines of output). NAME.lua is the Lua peer of NAME.vxl; where LuaJIT needs
# other syntax, NAME.luajit.lua is its peer for LuaJIT. Prints the times,
# the ratios and their geometric means, then the start-up cost: the median
# time of the smallest example (hello) on each engine, over 100 runs each
# per round, interleaved.
#
#   sh bench/engines.sh [BUILD_DIR] [ROUNDS]      (defaults: build, 5)
#
# VEXL_BENCH_PROGRAMS="fib table" limits the run to some programs, and
# VEXL_BENCH_ENGINE_ARGS adds options to the native engine's command line.
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
vexlc=$build/compiler/vexlc
vexl=$build/vm/vexl
for tool in "$vexlc" "$vexl"; do
  [ -x "$tool" ] || { echo "engines.sh: $tool is not built" >&2; exit 2; }
done
for peer in lua5.4 luajit gcc; do
  command -v $peer >/dev/null || { echo "engines.sh: $peer is missing (sh scripts/deps.sh)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
programs=${VEXL_BENCH_PROGRAMS:-"bubble fib loops sieve queens matmul collatz table"}
native_args=${VEXL_BENCH_ENGINE_ARGS:-}
for p in $programs; do
  mkdir "$work/$p"
  cp "bench/programs/$p.vxl" "$work/$p/"
  "$vexlc" "$work/$p/$p.vxl" >/dev/null 2>&1 || { echo "engines.sh: $p.vxl does not compile" >&2; exit 1; }
  gcc -O2 -o "$work/$p.bin" "bench/programs/$p.c"
done
jit_peer() {
  if [ -f "bench/programs/$1.luajit.lua" ]; then echo "bench/programs/$1.luajit.lua"; else echo "bench/programs/$1.lua"; fi
}

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

# Every one must print what Lua 5.4 prints.
for p in $programs; do
  lua5.4 "bench/programs/$p.lua" >"$work/expected"
  # shellcheck disable=SC2086
  for run in "$vexl --engine=reference $work/$p/$p.exec" "$vexl --engine=native $native_args $work/$p/$p.exec" \
             "luajit $(jit_peer "$p")" "$work/$p.bin"; do
    $run >"$work/got"
    cmp -s "$work/got" "$work/expected" || { echo "engines.sh: $p: '$run' prints other than Lua 5.4" >&2; exit 1; }
  done
done

r=1
while [ "$r" -le "$rounds" ]; do
  for p in $programs; do
    timed "$work/$p.reference" "$vexl" --engine=reference "$work/$p/$p.exec"
    # shellcheck disable=SC2086
    timed "$work/$p.native" "$vexl" --engine=native $native_args "$work/$p/$p.exec"
    timed "$work/$p.lua" lua5.4 "bench/programs/$p.lua"
    timed "$work/$p.luajit" luajit "$(jit_peer "$p")"
    timed "$work/$p.c" "$work/$p.bin"
  done
  r=$((r + 1))
done

best() { sort -n "$1" | head -n 1; }
for p in $programs; do
  echo "$p $(best "$work/$p.reference") $(best "$work/$p.native") $(best "$work/$p.lua") $(best "$work/$p.luajit") $(best "$work/$p.c")"
done | awk '
  BEGIN {
    printf "%-8s %9s %9s %9s %9s %9s  %10s %10s %10s %10s\n", "program", "reference", "native", "lua5.4",
           "luajit", "gcc -O2", "native/ref", "native/lua", "native/jit", "native/gcc"
  }
  {
    printf "%-8s %7.1fms %7.1fms %7.1fms %7.1fms %7.1fms  %10.2f %10.2f %10.2f %10.2f\n", $1, $2 / 1e6,
           $3 / 1e6, $4 / 1e6, $5 / 1e6, $6 / 1e6, $3 / $2, $3 / $4, $3 / $5, $3 / $6
    ref += log($3 / $2); lua += log($3 / $4); jit += log($3 / $5); gcc += log($3 / $6); n++
  }
  END {
    printf "geomean  native/reference %.2f  native/lua %.2f  native/luajit %.2f  native/gcc %.2f\n",
           exp(ref / n), exp(lua / n), exp(jit / n), exp(gcc / n)
  }'

mkdir "$work/hello"
cp examples/hello.vxl "$work/hello/"
"$vexlc" "$work/hello/hello.vxl" >/dev/null 2>&1
i=0
while [ "$i" -lt $((rounds * 100)) ]; do
  timed "$work/start.reference" "$vexl" --engine=reference "$work/hello/hello.exec"
  # shellcheck disable=SC2086
  timed "$work/start.native" "$vexl" --engine=native $native_args "$work/hello/hello.exec"
  i=$((i + 1))
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v r="$(median "$work/start.reference")" -v n="$(median "$work/start.native")" 'BEGIN {
  printf "start-up (hello, median of %d runs)  reference %.2fms  native %.2fms  native-reference %+.2fms\n",
         '"$((rounds * 100))"', r / 1e6, n / 1e6, (n - r) / 1e6
}'
