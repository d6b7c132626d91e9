#!/bin/sh
# scripts/run-example.sh with a source outside the repository: a source
# that does not compile ends the script with the compiler's status and runs
# nothing (not even an image left from before), and FILE.in beside the
# source is the program's input.
#   run_example_test.sh SCRIPT BUILD_DIR WORK_DIR
set -u
script=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work/src" "$work/build/run" || exit 1
ln -s "$build/compiler" "$work/build/compiler"
ln -s "$build/vm" "$work/build/vm"
VEXL_BUILD_DIR=$work/build
export VEXL_BUILD_DIR
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cd "$work/src" || exit 1

# An image of an earlier, working version is still there: LDI GR0,7; OUTI GR0.
printf '\023\000\000\007\361\000' > "$work/build/run/broken.exec"
printf 'function void start() { output 1 }\n' > broken.vxl
sh "$script" broken.vxl > out 2> err
status=$?
[ "$status" -eq 1 ] || fail "broken.vxl: status $status, expected the compiler's 1"
grep -q 7 out && fail "broken.vxl: the old image ran"
[ -e "$work/build/run/broken.exec" ] && fail "broken.vxl: the old image is still there"

# A fatal error (the image limit, after an illegal byte in the list): the
# script ends with the compiler's 255.
{ printf 'function void start() {\nint x;\n\200\n'
  i=0; while [ $i -lt 3000 ]; do echo 'x := 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1;'; i=$((i + 1)); done
  echo '}'; } > huge.vxl
sh "$script" huge.vxl > out 2> err
status=$?
[ "$status" -eq 255 ] || fail "huge.vxl: status $status, expected 255"

printf 'function void start() { int a, b; input a; input b; output a * b; }\n' > product.vxl
printf '6 7\n' > product.in
sh "$script" product.vxl > out 2> err
[ "$?" -eq 0 ] || fail "product.vxl: $(cat err)"
[ "$(tail -n 1 out)" = 42 ] || fail "product.vxl: printed '$(cat out)', expected 42 from product.in"

printf 'function void start() { output "hi"; }\n' > hi.vxl
sh "$script" "$work/src/hi.vxl" > out 2> err
[ "$(tail -n 1 out)" = hi ] || fail "hi.vxl: printed '$(cat out)'"
grep -q "no .*hi.in" err || fail "hi.vxl: no note about the missing input: '$(cat err)'"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$work"
echo "run-example.sh stops on errors and finds the input beside the source"
