#!/bin/sh
# Every complete program in the documents (a block fenced as ```vexl) must
# compile without an error or a warning, and its two translations must
# print the same on the input given in a "<!-- input: ... -->" line just
# before the block (an empty input without one).
#   docs_examples_test.sh VEXLC VEXL CC WORK_DIR DOC...
set -u
vexlc=$1 vexl=$2 cc=$3 work=$4
shift 4
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0 count=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for doc in "$@"; do
    base=$(basename "$doc" .md)
    # Writes BASE-N.vxl and BASE-N.in for the N-th block.
    awk -v dir="$work" -v base="$base" '
        /^<!-- input: .* -->$/ { input = substr($0, 13, length($0) - 16); next }
        /^```vexl$/            { n++; src = dir "/" base "-" n; inblock = 1
                                 printf "%s", (input == "" ? "" : input "\n") > (src ".in"); close(src ".in")
                                 input = ""; next }
        /^```$/ && inblock     { inblock = 0; close(src ".vxl"); next }
        inblock                { print > (src ".vxl") }
        !/^$/                  { input = "" }' "$doc"
done

cd "$work" || exit 1
for src in *.vxl; do
    [ -f "$src" ] || continue
    count=$((count + 1))
    name=${src%.vxl}
    if ! "$vexlc" "$src" 2> "$name.diag"; then
        fail "$src: vexlc: $(iconv -c -f CP932 -t UTF-8 < "$name.diag")"; continue
    fi
    [ "$(wc -l < "$name.diag")" -eq 1 ] && grep -q ' 0$' "$name.diag" ||
        fail "$src: diagnostics: $(iconv -c -f CP932 -t UTF-8 < "$name.diag")"
    "$vexl" "$name" < "$name.in" > "$name.vm" 2>&1 || fail "$src: vexl failed: $(cat "$name.vm")"
    "$cc" -std=gnu17 -w -o "$name.bin" "$name.c" 2> "$name.cc" || { fail "$src: C: $(cat "$name.cc")"; continue; }
    "./$name.bin" < "$name.in" > "$name.out"
    cmp -s "$name.vm" "$name.out" || fail "$src: the machine printed '$(cat "$name.vm")', C '$(cat "$name.out")'"
done
[ "$count" -gt 0 ] || fail "no program found"
[ "$failures" -eq 0 ] || { echo "$failures of $count program(s) failed"; exit 1; }
rm -rf "$work"
echo "$count program(s) of the documents run alike on the machine and in C"
