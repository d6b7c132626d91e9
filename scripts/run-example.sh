#!/bin/sh
# Installs what is missing, builds the toolchain, compiles an example
# program and runs it on the machine.
#   scripts/run-example.sh [examples/NAME.vxl]
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vexlc vexl vexldump
src="${1:-examples/primes.vxl}"
name="$(basename "$src" .vxl)"
mkdir -p build/run
cp "$src" "build/run/$name.vxl"
cd build/run
../compiler/vexlc "$name.vxl" 2>&1 | iconv -c -f CP932 -t UTF-8
input="../../${src%.vxl}.in"
if [ -f "$input" ]; then ../vm/vexl "$name" < "$input"; else ../vm/vexl "$name" < /dev/null; fi
