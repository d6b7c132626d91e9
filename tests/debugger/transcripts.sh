#!/bin/sh
# Scripted vexldb sessions compared with their transcripts. Each case is
# NAME.vxl (compiled with vexlc -g) or NAME.hex (hex words, '#' comments;
# an image without debug information) beside NAME.cmd (the commands), an
# optional NAME.in (the program's input) and NAME.out (the expected
# transcript: standard output and error of
# `vexldb --echo --batch NAME.cmd --input NAME.in NAME`, then the exit status;
# @DIR@ in both stands for the directory the case runs in).
# VEXL_BLESS=1 rewrites the transcripts instead; review the diff.
#   transcripts.sh VEXLC VEXLDB CASES_DIR
set -u
vexlc=$1 vexldb=$2 cases=$3
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0 count=0
for cmd in "$cases"/*.cmd; do
    name=$(basename "$cmd" .cmd)
    count=$((count + 1))
    work=$tmp/$name
    mkdir -p "$work"
    if [ -f "$cases/$name.vxl" ]; then
        cp "$cases/$name.vxl" "$work/"
        (cd "$work" && "$vexlc" -g "$name.vxl" > /dev/null 2>&1) || {
            echo "FAIL: $name: vexlc -g failed"; failures=$((failures + 1)); continue; }
    else
        # Hex words to big-endian bytes.
        sed 's/#.*//' "$cases/$name.hex" | tr -s ' \t' '\n\n' | grep . |
            while read -r w; do
                v=$((0x${w#0x}))
                printf "\\$(printf %03o $((v >> 8)))\\$(printf %03o $((v & 255)))"
            done > "$work/$name.exec"
    fi
    # @DIR@ stands for the case's directory (absolute paths).
    sed "s|@DIR@|$work|g" "$cmd" > "$work/cmd"
    input=
    [ -f "$cases/$name.in" ] && cp "$cases/$name.in" "$work/in" && input="--input in"
    # shellcheck disable=SC2086
    (cd "$work" && "$vexldb" --echo --batch cmd $input "$name" > raw 2>&1; echo "[status $?]" >> raw
     sed "s|$work|@DIR@|g" raw > actual)
    if [ "${VEXL_BLESS:-}" = 1 ]; then
        cp "$work/actual" "$cases/$name.out"
    elif ! cmp -s "$work/actual" "$cases/$name.out"; then
        echo "FAIL: $name"
        diff -u "$cases/$name.out" "$work/actual" | head -40
        failures=$((failures + 1))
    fi
done
# The command line itself.
check() {  # check NAME EXPECTED-STATUS ACTUAL-STATUS FILE TEXT
    [ "$2" = "$3" ] && grep -qF -- "$5" "$4" && return
    echo "FAIL: $1 (status $3)"; cat "$4"; failures=$((failures + 1))
}
"$vexldb" --help > "$tmp/out" 2>&1
check "--help" 0 $? "$tmp/out" "--batch=FILE"
"$vexldb" > "$tmp/out" 2>&1
check "no image" 2 $? "$tmp/out" "vexldb: no image given"
"$vexldb" --bogus x > "$tmp/out" 2>&1
check "unknown option" 2 $? "$tmp/out" "vexldb: unrecognized option '--bogus'"
"$vexldb" "$tmp/none" > "$tmp/out" 2>&1 < /dev/null
check "missing image" 1 $? "$tmp/out" "vexldb: $tmp/none.exec: cannot open: No such file or directory"
"$vexldb" --batch "$tmp/none" "$tmp/machine/machine" > "$tmp/out" 2>&1
check "missing batch file" 1 $? "$tmp/out" "cannot open the command file"

echo "$count transcripts, $failures failed"
[ "$failures" -eq 0 ]
