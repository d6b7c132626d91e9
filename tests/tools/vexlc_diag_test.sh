#!/bin/sh
# contrib/vexlc-diag: the compiler's diagnostics in UTF-8 and the gnu form,
# the compiler it finds, and its exit status.
#   vexlc_diag_test.sh VEXLC_DIAG VEXLC
set -u
diag=$1
VEXLC=$2
export VEXLC
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {
    [ "$2" = "$3" ] && return
    fail "$1"
    printf '  expected: [%s]\n  actual:   [%s]\n' "$3" "$2"
}

# Errors and warnings, among them an illegal Shift-JIS lead byte (0x82, the
# first half of a character outside a string), shown as \x82, and a warning
# without a line (the function named main).
printf '%s\n' \
    'int unused;' \
    'function void main() { }' \
    'function void start() {' \
    '    int x;' \
    '    x := 40000;' \
    '    output x; #' \
    '    y := true;' \
    '}' > bad.vxl
printf '    \202\n' >> bad.vxl
sh "$diag" bad.vxl > stdout 2> stderr
expect "errors: status" "$?" 1
expect "errors: standard output" "$(cat stdout)" ""
expect "errors: diagnostics" "$(cat stderr)" "bad.vxl:5: warning: 32767より大きい整数値が使われています(バイナリコードが不正です)
        x := 40000;
bad.vxl:6: error: 文字'#'を無視します
        output x; #
bad.vxl:9: error: 文字'\x82'を無視します
        \x82
bad.vxl:2: warning: 関数'main'はC言語で宣言されています(Cソースが不正です)
bad.vxl:7: error: 変数'y'は宣言されていません
        y := true;
bad.vxl:10: warning: 変数'unused'は使用されていません
bad.vxl - エラー 3、警告 3"
[ -e bad.exec ] || [ -e bad.c ] && fail "errors: output files written"

# Warnings only: status 0, files written. The argument without ".vxl" is
# compiled as warn.vxl, and the lines name that file.
printf '%s\n' 'function void start() {' '    output 32768;' '}' > warn.vxl
sh "$diag" warn 2> stderr
expect "warnings: status" "$?" 0
expect "warnings: diagnostics" "$(cat stderr)" "warn.vxl:2: warning: 32767より大きい整数値が使われています(バイナリコードが不正です)
        output 32768;
warn.vxl - エラー 0、警告 1"
[ -f warn.exec ] && [ -f warn.c ] || fail "warnings: output files missing"

# Shift-JIS text inside a string compiles cleanly.
printf 'function void start() {\n    output "\202\261\202\361\202\311\202\277\202\315";\n}\n' > ja.vxl
sh "$diag" ja.vxl 2> stderr
expect "Japanese text: status" "$?" 0
expect "Japanese text: diagnostics" "$(cat stderr)" "ja.vxl - エラー 0、警告 0"

# A fatal error names the file; status 255.
sh "$diag" missing.vxl 2> stderr
expect "fatal: status" "$?" 255
expect "fatal: diagnostics" "$(cat stderr)" "missing.vxl:1: fatal error: 入力ファイルが開けません
コンパイルを中断します"

# No argument: the compiler's usage line on standard output, status 0.
expect "usage: output" "$(sh "$diag" 2>&1)" "Usage: vexlc inputfile"
sh "$diag" > /dev/null 2>&1
expect "usage: status" "$?" 0

# The editors' patterns: every line parses as FILE:LINE: or FILE:, or is an
# indented source line.
sh "$diag" bad.vxl 2>&1 | grep -v -e '^bad\.vxl:[0-9][0-9]*: \(error\|warning\): ' \
    -e '^bad\.vxl: warning: ' -e '^bad\.vxl - ' -e '^        ' > other
expect "errors: every line in editor form" "$(cat other)" ""

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all vexlc-diag checks passed"
