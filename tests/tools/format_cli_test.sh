#!/bin/sh
# vexlc --format: the layout on standard output, -i in place (mode kept,
# nothing written for a source it cannot format), and the complaints.
#   format_cli_test.sh VEXLC
set -u
vexlc=$1
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

printf 'function void start(){output 1;}\n' > p.vxl
printf 'function void start() {\n    output 1;\n}\n' > expected
chmod 640 p.vxl
"$vexlc" --format p.vxl > out 2> err || fail "--format: status"
cmp -s out expected || fail "--format: standard output"
[ ! -s err ] || fail "--format: standard error"
[ ! -e p.exec ] || fail "--format compiled"
"$vexlc" --format -i p.vxl > out 2> err || fail "-i: status"
[ ! -s out ] || fail "-i: standard output"
cmp -s p.vxl expected || fail "-i: the file"
[ "$(stat -c %a p.vxl)" = 640 ] || fail "-i: the mode"
[ "$(ls)" = "$(printf 'err\nexpected\nout\np.vxl')" ] || fail "-i: files left behind: $(ls)"

printf 'function void start() {\n  output 1; #\n}\n' > bad.vxl
cp bad.vxl bad.orig
"$vexlc" --format -i bad.vxl > out 2> err
[ $? = 1 ] || fail "bad source: status"
cmp -s bad.vxl bad.orig || fail "bad source: rewritten"
[ "$(cat err)" = "bad.vxl:2: error: illegal character (not formatted)" ] || fail "bad source: $(cat err)"

"$vexlc" -i p.vxl > out 2> err
[ $? = 2 ] || fail "-i alone: status"
grep -q "option '-i' needs '--format'" err || fail "-i alone: $(cat err)"
"$vexlc" --format missing.vxl 2> err
[ $? = 2 ] || fail "missing file: status"

[ $failures -eq 0 ] || exit 1
echo "all passed"
