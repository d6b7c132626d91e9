#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UBSan) in
# build-fuzz and runs one of them for a time or a number of inputs:
#
#   sh scripts/fuzz.sh compiler 60          fuzz the compiler for 60 seconds
#   sh scripts/fuzz.sh vm 10000000 runs     fuzz the machine for 10,000,000 inputs
#   sh scripts/fuzz.sh debuginfo 60         fuzz the debug file reader for 60 seconds
#
# The corpus grows in build-fuzz/corpus/TARGET from run to run; the seeds
# come from the source tree every time (examples and golden cases). On a
# finding the script exits with status 1; the input is kept as
# build-fuzz/findings/TARGET/crash-* (or leak-, timeout-, oom-) and the
# fuzzer's report as build-fuzz/fuzz-TARGET.log. To replay or minimise one:
#   build-fuzz/fuzz/fuzz_TARGET FILE
#   build-fuzz/fuzz/fuzz_TARGET -minimize_crash=1 -runs=100000 FILE
#
# FUZZ_SANITIZERS=undefined builds without AddressSanitizer, in
# build-fuzz-undefined: several times faster for long runs of the engines'
# comparison (native), which needs no allocator checks to find a difference.
# FUZZ_JOBS=N runs N fuzzing processes side by side (AMOUNT each).
set -e
cd "$(dirname "$0")/.."

usage() {
  echo "usage: sh scripts/fuzz.sh compiler|vm|native|debuginfo AMOUNT [seconds|runs]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
target=$1
amount=$2
unit=${3:-seconds}
case "$target" in compiler|vm|native|debuginfo) ;; *) usage ;; esac
case "$amount" in ''|*[!0-9]*) usage ;; esac
case "$unit" in
  seconds) limit="-max_total_time=$amount" ;;
  runs) limit="-runs=$amount" ;;
  *) usage ;;
esac

# Build tools: those of the normal build, then clang with its fuzzer runtime.
sh scripts/deps.sh clang-14 libclang-rt-14-dev

sanitizers=${FUZZ_SANITIZERS:-address,undefined}
case "$sanitizers" in
  address,undefined) build=build-fuzz ;;
  undefined) build=build-fuzz-undefined ;;
  *) echo "FUZZ_SANITIZERS: address,undefined or undefined" >&2; exit 2 ;;
esac
jobs=${FUZZ_JOBS:-1}
case "$jobs" in ''|*[!0-9]*|0) echo "FUZZ_JOBS: a number of processes" >&2; exit 2 ;; esac
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXL_FUZZ=ON -DVEXL_BENCH=OFF \
  -DVEXL_FUZZ_SANITIZERS="$sanitizers" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
if [ "$target" = vm ] || [ "$target" = native ]; then
  cmake --build "$build" -j2 --target "fuzz_$target" fuzz_vm_seeds
elif [ "$target" = debuginfo ]; then
  cmake --build "$build" -j2 --target fuzz_debuginfo
else
  cmake --build "$build" -j2 --target fuzz_compiler
fi

seeds=$build/seeds/$target
corpus=$build/corpus/$target
findings=$build/findings/$target
log=$build/fuzz-$target.log
rm -rf "$seeds" "$log".*
mkdir -p "$seeds" "$corpus" "$findings"
set --
if [ "$target" = compiler ]; then
  # Every source of the examples and the golden cases, named by its path so
  # that equal file names in different folders stay apart.
  find examples tests/golden -name '*.vxl' | while read -r f; do
    cp "$f" "$seeds/$(echo "$f" | tr / _)"
  done
  # The compiler target writes a source and two outputs for every input;
  # a memory-backed temporary folder makes that much cheaper.
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    TMPDIR=/dev/shm
    export TMPDIR
  fi
  # The entropic input schedule costs about a third of each run here.
  set -- -dict=fuzz/vexl.dict -entropic=0
elif [ "$target" = debuginfo ]; then
  cp fuzz/debuginfo/*.dbg "$seeds/"
  set -- -dict=fuzz/debuginfo.dict
else
  "$build/fuzz/fuzz_vm_seeds" "$seeds" .
  # The native target compares two runs of tiny images: the entropic
  # schedule would cost more than the runs.
  if [ "$target" = native ]; then set -- -entropic=0; fi
fi

echo "fuzzing $target ($amount $unit, $jobs process(es)); log in $log"
# The processes share the corpus folder (each takes up what the others add)
# and write a log each: $log, then $log.2, $log.3 and so on.
pids=""
j=1
while [ "$j" -le "$jobs" ]; do
  jlog=$log
  [ "$j" = 1 ] || jlog=$log.$j
  UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/fuzz_$target" "$limit" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$@" "$corpus" "$seeds" >"$jlog" 2>&1 &
  pids="$pids $!"
  j=$((j + 1))
done
status=0
for pid in $pids; do
  wait "$pid" || status=$?
done

if [ "$status" -ne 0 ]; then
  for f in "$log" "$log".*; do
    [ -f "$f" ] && ! grep -q '^Done' "$f" && tail -n 80 "$f"
  done
  echo "FINDING in $target (fuzzer status $status); the input is in $findings/:" >&2
  ls -t "$findings" | head -n 3 >&2
  exit 1
fi
total=0
for f in "$log" "$log".*; do
  [ -f "$f" ] || continue
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$f")
  total=$((total + ${n:-0}))
  grep -E '^#[0-9]+' "$f" | tail -n 1
done
grep -E '^stat::peak_rss_mb' "$log" || true
echo "executed inputs: $total"
