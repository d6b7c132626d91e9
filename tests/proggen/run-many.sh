#!/bin/sh
# Runs the differential test on many generated programs (10,000 by default):
# each is compiled by vexlc, run on vexl and, through its C translation, by
# gcc, and the two outputs must agree. Failing cases are kept, with the
# seed, the program, its input and both outputs, under
# BUILD/tests/differential/many-work/seed-N.
#
#   sh tests/proggen/run-many.sh [BUILD_DIR] [COUNT] [FIRST_SEED] [JOBS]
#
# A single case is regenerated with: vexl-proggen SEED --input prog.in > prog.vxl
set -eu
build=${1:-build}
count=${2:-10000}
first=${3:-1}
jobs=${4:-2}
driver="$build/tests/differential/differential_test"
if [ ! -x "$driver" ]; then
    echo "run-many.sh: $driver not found; build first: cmake --build $build -j2" >&2
    exit 2
fi
exec "$driver" --count "$count" --first-seed "$first" --jobs "$jobs" --work "$build/tests/differential/many-work"
