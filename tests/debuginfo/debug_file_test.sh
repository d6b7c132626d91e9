#!/bin/sh
# The debug file as the tools meet it: vexldump --source and --trace with
# and without it, and vexl with a damaged or stale one (a note, the run
# unchanged).
#   debug_file_test.sh VEXLC VEXL VEXLDUMP
set -u
vexlc=$1 vexl=$2 dump=$3
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# has NAME FILE TEXT: FILE holds the line TEXT
has() { grep -qxF -- "$3" "$2" || { fail "$1: no line [$3] in:"; cat "$2"; }; }

cat > prog.vxl <<'VXL'
int g[3];
function int f(int n) {
    return 10 div n;
}
function void start() {
    g[1] := f(2);
    output g[1];
    output f(0);
}
VXL
"$vexlc" -g prog.vxl 2>/dev/null || fail "vexlc -g"

"$dump" --source prog.exec > listing 2> err
has "label" listing "000B <f>:"
has "source line" listing "     6 |     g[1] := f(2);"
has "parameter" listing "0010: 1005 0003  LD GR0,3,bp  ; n"
has "element" listing "002D: 1101 0000  ST GR0,0,GR1  ; g[]"
has "call named" listing "0023: 8003 000B  CALL 0x000B,GR3  ; <f>"
# A function's closing brace comes before the next function's label.
[ "$(grep -n -e '^     4 | }$' -e '^001B <start>:$' listing | cut -d: -f2 | tr '\n' ' ')" = "     4 | } 001B <start> " ] ||
    fail "the closing brace of f is not right above the label of start"
has "last brace" listing "     9 | }"
[ -s err ] && fail "--source wrote to standard error: $(cat err)"

"$dump" --trace prog.exec > /dev/null 2> trace
has "trace source line" trace "prog.vxl:3: return 10 div n;"
has "trace runtime error" trace "prog.vxl:3: runtime error: division by zero in 'div'"
has "trace calls" trace "prog.vxl:8: in start"

# Without the debug file both say so, and still list and trace.
"$vexl" prog > run.out 2> run.err; status=$?
mv prog.dbg prog.dbg.keep
"$dump" --source prog.exec > listing 2> err
has "--source without it" err "vexldump: prog.dbg: no debug information (compile with vexlc -g); no source shown"
grep -q "^000B: 7250" listing || fail "no listing without the debug file"

# Damaged and stale: one note after the machine's own lines, output and
# status as without the file.
"$vexl" prog > plain.out 2> plain.err
[ "$status" = 1 ] || fail "status $status after a zero divide"
cmp -s run.out plain.out || fail "standard output changes with the debug file"
sed "s/^line 0x000b 3$/line 0x000b x/" prog.dbg.keep > prog.dbg
"$vexl" prog > out 2> err; s=$?
cmp -s out plain.out && [ "$s" = "$status" ] || fail "a damaged debug file changes the run"
has "damaged note" err "vexl: prog.dbg:6: bad line number \"x\" (debug information ignored)"
[ "$(wc -l < err)" -eq "$(($(wc -l < plain.err) + 1))" ] || fail "damaged: more than one note line"
cp prog.dbg.keep prog.dbg
# A source edited where the image does not change (a blank line, a
# comment) and rebuilt without -g: the image still matches, the source
# does not, and every reader says so.
cp prog.vxl prog.vxl.keep
sed -i '1i // a comment that moves every line' prog.vxl
"$vexlc" prog.vxl 2>/dev/null
"$vexl" prog > out 2> err
has "changed source (vexl)" err "vexl: prog.vxl: source changed since the debug information was written"
"$dump" --source prog.exec > listing 2> err
has "changed source (vexldump)" err "vexldump: prog.vxl: source changed since the debug information was written"
mv prog.vxl.keep prog.vxl
"$vexl" prog > out 2> err
grep -q "source changed" err && fail "unchanged source reported as changed"
"$vexlc" prog.vxl 2>/dev/null  # rebuilt without -g: the old debug file is stale
sed -i 's/10 div n/10 div n + 0/' prog.vxl
"$vexlc" prog.vxl 2>/dev/null
"$vexl" prog > out 2> err
has "stale note" err "vexl: prog.dbg: describes another image (compiled before the image was rebuilt?); debug information ignored"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
