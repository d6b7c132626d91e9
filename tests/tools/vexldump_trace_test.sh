#!/bin/sh
# vexldump --trace: trace lines, program input and output, runtime errors,
# ordering of output and trace on one stream, and agreement with vexl on
# compiled examples.
#   vexldump_trace_test.sh VEXLDUMP VEXLC VEXL EXAMPLES_DIR
set -u
dump=$1 vexlc=$2 vexl=$3 examples=$4
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect NAME ACTUAL EXPECTED
expect() {
    [ "$2" = "$3" ] && return
    fail "$1"
    printf '  expected: [%s]\n  actual:   [%s]\n' "$3" "$2"
}
# A trace line: listing text padded to 40 columns, then the registers
# GR0..GR4 bp sp and the flags.
line() {
    printf '%-40s  GR0=%s GR1=%s GR2=%s GR3=%s GR4=%s bp=%s sp=%s ZF=%s SF=%s' "$@"
}

# LDI GR1,42; OUTI GR1; NOP
printf '\023\020\000\052\361\020\000\000' > out.exec
l1=$(line '0000: 1310 002A  LDI GR1,42' 0000 002A 0000 0000 0000 0000 FFFF 0 0)
l2=$(line '0002: F110       OUTI GR1' 0000 002A 0000 0000 0000 0000 FFFF 0 0)
l3=$(line '0003: 0000       NOP' 0000 002A 0000 0000 0000 0000 FFFF 0 0)
"$dump" --trace out.exec > stdout 2> stderr
expect "output: status" "$?" 0
expect "output: program output" "$(cat stdout)" 42
expect "output: trace" "$(cat stderr)" "$l1
$l2
$l3"
# On one stream the program's output comes between the lines of the
# instructions before and after the one that wrote it, and a trace line
# starts on a line of its own.
expect "output: order on one stream" "$("$dump" --trace out.exec 2>&1)" "$l1
42
$l2
$l3"

# INI GR1; OUTI GR1: input comes from standard input.
printf '\366\020\361\020' > in.exec
expect "input: program output" "$(echo ' -12' | "$dump" --trace in.exec 2>/dev/null)" -12
expect "input: trace" "$(echo ' -12' | "$dump" --trace in.exec 2>&1 >/dev/null | head -n 1)" \
    "$(line '0000: F610       INI GR1' 0000 FFF4 0000 0000 0000 0000 FFFF 0 0)"

# LDI GR1,5; LDI GR2,0; DIV GR1,GR2: the error line follows the trace of the
# instructions that completed, the dump goes to standard output, status 1.
printf '\023\020\000\005\023\040\000\000\047\022' > div.exec
"$dump" --trace div.exec > stdout 2> stderr
expect "fault: status" "$?" 1
expect "fault: trace and error" "$(cat stderr)" "$(line '0000: 1310 0005  LDI GR1,5' 0000 0005 0000 0000 0000 0000 FFFF 0 0)
$(line '0002: 1320 0000  LDI GR2,0' 0000 0005 0000 0000 0000 0000 FFFF 1 0)
Error:Zero Divide Error"
expect "fault: dump" "$(cat stdout)" "Debug Information
GR0:0x0000 GR1:0x0005 GR2:0x0000 GR3:0x0000
GR4:0x0000 bp :0x0000 sp :0xffff
pc :0x0004 SF :0x0000 ZF :0x0001"

# CMP sets SF from the 16-bit difference; OUTS is listed with its text.
# LDI GR1,3; LDI GR2,7; CMP GR1,GR2; OUTS "A\n"
printf '\023\020\000\003\023\040\000\007\104\022\364\000\000\101\000\134\000\156\000\000' > cmp.exec
expect "flags and text" "$("$dump" --trace cmp.exec 2>&1 >/dev/null | tail -n 2)" \
    "$(line '0004: 4412       CMP GR1,GR2' 0000 0003 0007 0000 0000 0000 FFFF 0 1)
$(line '0005: F400       OUTS "A\n"' 0000 0003 0007 0000 0000 0000 FFFF 0 1)"

# An empty image runs nothing and traces nothing.
: > empty.exec
"$dump" --trace empty.exec > stdout 2> stderr
expect "empty: status" "$?" 0
expect "empty: output" "$(cat stdout stderr)" ""

# Errors before running: the same lines as the listing mode.
"$dump" --trace missing.exec > stdout 2> stderr
expect "missing: status" "$?" 1
expect "missing: message" "$(cat stderr)" "vexldump: missing.exec: cannot open: No such file or directory"
mkdir dir.exec
expect "directory: message" "$("$dump" --trace dir.exec 2>&1)" "vexldump: dir.exec: is a directory"
for args in "--trace" "--trace a b" "--trace --bogus x"; do
    # shellcheck disable=SC2086
    "$dump" $args > stdout 2> stderr
    expect "usage '$args': status" "$?" 1
    expect "usage '$args': message" "$(cat stderr)" "usage: vexldump [--source] [--trace] IMAGE"
done
printf '\000\000' > ./--odd.exec
"$dump" --trace -- --odd.exec 2> stderr
expect "-- before a name" "$?" 0
expect "--help mentions --trace" "$("$dump" --help | grep -c -- --trace)" 2

# Compiled examples: the same output as vexl, and as many trace lines as
# the run executed instructions (every one of them is listed).
for name in gcd hanoi hello; do
    cp "$examples/$name.vxl" .
    "$vexlc" "$name.vxl" 2>/dev/null || { fail "$name: does not compile"; continue; }
    input=/dev/null
    [ -f "$examples/$name.in" ] && input=$examples/$name.in
    "$dump" --trace "$name.exec" < "$input" > traced 2> trace
    expect "$name: status" "$?" 0
    "$vexl" "$name.exec" < "$input" > plain
    cmp -s traced plain || fail "$name: output differs from vexl"
    cmp -s traced "$examples/$name.out" || fail "$name: output differs from $name.out"
    bad=$(grep -c -v '^[0-9A-F]\{4\}: .*  GR0=[0-9A-F]\{4\} .* ZF=[01] SF=[01]$' trace)
    expect "$name: malformed trace lines" "$bad" 0
    # The program ends by falling off its last word, a NOP.
    expect "$name: last traced instruction" "$(tail -n 1 trace | cut -c 18-20)" NOP
done

# Write errors: an endless printing loop on a full disk stops at the first
# failed write with a message and status 1, on either engine, as does a
# short program whose output fails only at the final flush; a trace that
# cannot be written stops the run too.
if [ -w /dev/full ]; then
    # 0: OUTS "ab"; 4: JUMP 0
    printf '\360\000\000\141\000\142\000\000\144\003\000\000' > loop.exec
    for engine in reference native; do
        timeout 20 "$vexl" --engine=$engine loop > /dev/full 2> stderr
        expect "full disk ($engine): status" "$?" 1
        expect "full disk ($engine): message" "$(cut -c 1-36 stderr)" "vexl: write error on standard output"
    done
    "$vexl" out.exec > /dev/full 2> stderr
    expect "full disk at the end: status" "$?" 1
    expect "full disk at the end: message" "$(cut -c 1-36 stderr)" "vexl: write error on standard output"
    timeout 20 "$dump" --trace loop.exec > /dev/full 2> /dev/null
    expect "trace, full disk: status" "$?" 1
    timeout 20 "$dump" --trace loop.exec > /dev/null 2> /dev/full
    expect "trace on a full disk: status" "$?" 1
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all vexldump --trace checks passed"
