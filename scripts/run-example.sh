#!/bin/sh
# Installs what is missing, builds the toolchain, compiles a program and
# runs it on the machine.
#   scripts/run-example.sh [FILE.vxl]       (default: examples/primes.vxl)
# The program reads FILE.in from beside FILE.vxl when there is one, else an
# empty input. When FILE does not compile, the script ends with the
# compiler's status and runs nothing. VEXL_BUILD_DIR names a finished build
# to use instead of installing and building.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$root/examples/primes.vxl}
[ -f "$src" ] || { echo "run-example.sh: $src: no such file" >&2; exit 1; }
src=$(cd "$(dirname "$src")" && pwd)/$(basename "$src")
name=$(basename "$src" .vxl)

build=${VEXL_BUILD_DIR:-}
if [ -z "$build" ]; then
    build=$root/build
    cd "$root"
    sh scripts/deps.sh
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)" --target vexlc vexl vexldump
fi

run=$build/run
mkdir -p "$run"
cp "$src" "$run/$name.vxl"
cd "$run"
rm -f "$name.exec" "$name.c"
status=0
"$build/compiler/vexlc" "$name.vxl" 2> "$name.diag" || status=$?
# Some iconv versions report failure after -c dropped an illegal source
# byte quoted in a message; that must not replace the compiler's status.
iconv -c -f CP932 -t UTF-8 < "$name.diag" || :
[ "$status" -eq 0 ] || exit "$status"

input=${src%.vxl}.in
if [ ! -f "$input" ]; then
    echo "run-example.sh: no $input: the program reads an empty input" >&2
    input=/dev/null
fi
exec "$build/vm/vexl" "$name" < "$input"
