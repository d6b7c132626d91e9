#!/bin/sh
# Installs the build into a fresh prefix, checks that the programs, the
# manual pages, the documents and the wrapper are in the GNU locations, and
# compiles and runs an example with the installed programs only.
#   install_test.sh CMAKE BUILD_DIR PREFIX EXAMPLES_DIR
set -u
cmake=$1 build=$2 prefix=$3 examples=$4
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 || {
    cat "$prefix.log"; echo "FAIL: cmake --install"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for f in bin/vexlc bin/vexl bin/vexldump bin/vexldb bin/vexlc-diag bin/vexl-grade; do
    [ -x "$prefix/$f" ] || fail "$f not installed as a program"
done
for f in share/man/man1/vexlc.1 share/man/man1/vexl.1 share/man/man1/vexldump.1 share/man/man1/vexldb.1 \
         share/man/man1/vexl-grade.1 share/doc/vexl/docs/grading.md share/doc/vexl/examples/grading/gcd.toml \
         share/doc/vexl/README.md share/doc/vexl/docs/language.md share/doc/vexl/docs/machine.md \
         share/doc/vexl/examples/hanoi.vxl \
         share/vexl/editors/vim/syntax/vexl.vim share/vexl/editors/vim/ftdetect/vexl.vim \
         share/vexl/editors/textmate/vexl.tmLanguage.json; do
    [ -f "$prefix/$f" ] || fail "$f not installed"
done

# A relative link of the installed documents that works in the source tree
# works in the installed copy too.
source=$(dirname "$examples")
for doc in "$prefix"/share/doc/vexl/README.md "$prefix"/share/doc/vexl/docs/*.md; do
    rel=${doc#$prefix/share/doc/vexl/}
    for link in $(grep -o '](\([^)#:]*\)' "$doc" | sed 's/^](//'); do
        [ -e "$(dirname "$source/$rel")/$link" ] || continue
        [ -e "$(dirname "$doc")/$link" ] || fail "$rel: link $link leads nowhere when installed"
    done
done

# An example, compiled and run from the installed copy, nothing from the
# build. vexlc-diag finds the vexlc beside it without the PATH.
work=$prefix/work
mkdir -p "$work" && cd "$work" || exit 1
cp "$prefix/share/doc/vexl/examples/hanoi.vxl" .
PATH=/usr/bin:/bin
export PATH
"$prefix/bin/vexlc-diag" hanoi.vxl 2> diag
[ "$?" -eq 0 ] || fail "vexlc-diag hanoi.vxl failed: $(cat diag)"
[ "$(cat diag)" = "hanoi.vxl - エラー 0、警告 0" ] || fail "unexpected diagnostics: $(cat diag)"
PATH=$prefix/bin:/usr/bin:/bin
vexl hanoi < "$examples/hanoi.in" > out
[ "$?" -eq 0 ] || fail "vexl hanoi failed"
cmp -s out "$examples/hanoi.out" || fail "vexl hanoi: output differs from hanoi.out"
vexldump hanoi.exec > listing || fail "vexldump hanoi.exec failed"
[ -s listing ] || fail "empty listing"

# The grading kit finds the vexl beside it and grades an example suite.
cd "$prefix/share/doc/vexl/examples/grading" || exit 1
"$prefix/bin/vexl-grade" --progress=never --format=json gcd.toml gcd/correct.vxl > "$work/grade.json" 2> "$work/grade.err" ||
    fail "vexl-grade from the installed copy: $(cat "$work/grade.err")"
grep -q '"score": 4,' "$work/grade.json" || fail "vexl-grade: the correct gcd does not score 4: $(cat "$work/grade.json")"
cd "$work" || exit 1

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
rm -rf "$prefix" "$prefix.log"
echo "install into a fresh prefix works"
