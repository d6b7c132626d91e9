#!/bin/sh
# vexlc's structured diagnostics: every JSON document validated against
# docs/diagnostics.schema.json and every SARIF log against the SARIF 2.1.0
# structure (required properties, types, levels, bounds), with the counts
# and positions checked against the compilation; the gnu form read back
# through an editor's quickfix list, with the default 'errorformat' and
# with the shipped compiler file, and through Emacs' compilation mode.
#   diagnostics_forms_test.sh VEXLC JSON_SCHEMA SARIF_SCHEMA VIM_RUNTIME
set -u
vexlc=$1
json_schema=$2
sarif_schema=$3
vim_runtime=$4
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Sources: clean, errors and warnings (one without a line, a CP932 line
# with two-byte characters), the error limit, a name with a space.
printf 'function void start() {\n  output 1;\n}\n' > clean.vxl
printf 'function void main() { }\nfunction void start() {\n  int unused;\n  output "\203e\203X\203g" # 1;\n  y := true;\n}\n' > errors.vxl
{ printf 'function void start() {\n'; i=0; while [ $i -lt 101 ]; do printf '  x := 1;\n'; i=$((i + 1)); done; printf '}\n'; } > limit.vxl
cp errors.vxl 'with space.vxl'
printf 'function void start() {\n  int a[3]; int s;\n  a := 1;\n  s[1] := 2;\n  output a[true];\n  input a;\n}\n' > subscripts.vxl

run() {  # FORMAT NAME OUT [OPTION...]: runs vexlc; its standard error is OUT.FORMAT
    format=$1 name=$2 out=$3
    shift 3
    "$vexlc" --diagnostics-format="$format" "$@" "$name" 2> "$out.$format" > /dev/null
    echo "$format $? $out.$format" >> runs
}
for format in json sarif; do
    run $format clean.vxl clean
    run $format errors.vxl errors
    run $format errors.vxl english --diagnostics-language=en --diagnostics-charset=utf-8
    run $format limit.vxl limit
    run $format 'with space.vxl' space
    run $format subscripts.vxl subscripts
    run $format missing.vxl missing
done
python3 - "$json_schema" "$sarif_schema" < runs <<'PY' || fail "json and sarif documents"
import json, sys, jsonschema
schemas = {'json': json.load(open(sys.argv[1])), 'sarif': json.load(open(sys.argv[2]))}
failed = 0
for line in open('runs', encoding='utf-8'):
    fmt, status, path = line.rstrip('\n').split(' ', 2)
    try:
        doc = json.loads(open(path, 'rb').read().decode('utf-8'))  # UTF-8 throughout, one document
        jsonschema.validate(doc, schemas[fmt], format_checker=jsonschema.FormatChecker())
        if fmt == 'json':
            errors = sum(d['severity'] == 'error' for d in doc['diagnostics'])
            warnings = len(doc['diagnostics']) - errors
            assert (errors, warnings) == (doc['errors'], doc['warnings']), (errors, warnings)
            for d in doc['diagnostics']:
                if d['line']:
                    assert (d['end']['line'], d['end']['column']) > (d['line'], d['column']), d
            expected = 255 if doc['fatal'] else 1 if doc['errors'] else 0
        else:
            run = doc['runs'][0]
            rules = run['tool']['driver']['rules']
            for r in run['results']:
                assert rules[r['ruleIndex']]['id'] == r['ruleId'], r
            errors = sum(r['level'] == 'error' for r in run['results'])
            expected = 255 if not run['invocations'][0]['executionSuccessful'] else 1 if errors else 0
        assert int(status) == expected, ('status', status, expected)
    except Exception as e:
        print(f'{path}: {e!r}'[:2000])
        failed += 1
sys.exit(1 if failed else 0)
PY

# Values the schema cannot know.
grep -q '"column": 16, "end": {"line": 4, "column": 17}' errors.json || fail "json: columns of a line with two-byte characters"
grep -q '"text": "テスト"' errors.json && fail "json: source text leaked into a message"
grep -q '"fatal": {"line": 102, "column": 3, "end": {"line": 102, "column": 4}, "class": "OverSomeErrors", "text": "エラーの数が100を超えました"}' limit.json || fail "json: the fatal error"
grep -q '"uri": "with%20space.vxl"' space.sarif || fail "sarif: the file name as a URI"
version=$("$vexlc" --version | sed -n '1s/^vexlc //p')
grep -q "\"driver\": {\"name\": \"vexlc\", \"version\": \"$version\"" clean.sarif || fail "sarif: the version --version prints"
# The array checks name the accessed name's token, like every other check.
for at in '"line": 3, "column": 3, "end": {"line": 3, "column": 4}, "severity": "error", "part": "assignment", "class": "SubscriptRequired"' \
          '"line": 4, "column": 3, "end": {"line": 4, "column": 4}, "severity": "error", "part": "assignment", "class": "SubscriptOnScalar"' \
          '"line": 5, "column": 10, "end": {"line": 5, "column": 11}, "severity": "error", "part": "exp_variable", "class": "SubscriptNotInt"' \
          '"line": 6, "column": 9, "end": {"line": 6, "column": 10}, "severity": "error", "part": "input_statement", "class": "SubscriptRequired"'; do
    grep -qF "$at" subscripts.json || fail "json: $at"
done
[ "$(grep -c '"region": {"startLine": [0-9]*, "startColumn"' subscripts.sarif)" = 5 ] || fail "sarif: columns of the array checks"
grep -q '"text": "variable .unused. is not used"' errors.json && fail "json: English without the option"
grep -q '"text": "variable .unused. is not used"' english.json || fail "json: English"

# The gnu form in a quickfix list: every entry, the line-less warning and
# the fatal error included, is a valid entry with a line.
if command -v vim > /dev/null; then
    "$vexlc" --diagnostics-format=gnu --diagnostics-charset=utf-8 errors.vxl 2> errors.gnu
    "$vexlc" --diagnostics-format=gnu --diagnostics-charset=utf-8 limit.vxl 2> limit.gnu
    quickfix() {  # ERRORS_FILE SETUP...: one "valid lnum type text" line per entry
        file=$1
        shift
        vim -u NONE -N -es "$@" -c "cgetfile $file" \
            -c "call writefile(map(getqflist(), 'v:val.valid . \" \" . v:val.lnum . \" \" . v:val.type . \" \" . v:val.text'), 'qf')" \
            -c 'qa!' < /dev/null
        cat qf
    }
    quickfix errors.gnu -c 'set efm&' > default.qf
    [ "$(grep -c '^1 ' default.qf)" = 7 ] || { fail "default errorformat: 7 entries"; cat default.qf; }
    grep -q "^1 1   warning: 関数'main'" default.qf || fail "default errorformat: the warning without a line"
    quickfix limit.gnu -c 'set efm&' > limit.qf
    grep -q '^1 102   fatal error: エラーの数が100を超えました' limit.qf || { fail "default errorformat: the fatal error"; cat limit.qf; }
    quickfix limit.gnu --cmd "set rtp^=$vim_runtime" -c 'compiler vexlc' > shipped.qf
    grep -q '^1 102 e エラーの数が100を超えました' shipped.qf || { fail "compiler vexlc: the fatal error"; tail -3 shipped.qf; }
    quickfix errors.gnu --cmd "set rtp^=$vim_runtime" -c 'compiler vexlc' > shipped.qf
    [ "$(grep -c '^1 ' shipped.qf)" = 7 ] && [ "$(grep -c '^1 [0-9]* w ' shipped.qf)" = 2 ] ||
        { fail "compiler vexlc: 5 errors and 2 warnings"; cat shipped.qf; }
else
    echo "vim not found: quickfix checks skipped"
fi

# The same in Emacs' compilation mode: every entry with its file, line and
# kind (the gnu form names no column), the source lines under them and the
# summary line left out.
if command -v emacs > /dev/null; then
    compilation() {  # MESSAGES_FILE: "TYPE LINE COLUMN FILE | TEXT" per entry
        timeout 60 emacs --batch -Q -l "$here/compilation_mode.el" "$1" < /dev/null
    }
    compilation errors.gnu > errors.emacs
    [ "$(wc -l < errors.emacs)" = 7 ] || { fail "compilation mode: 7 entries"; cat errors.emacs; }
    grep -q "^2 4 nil errors.vxl | errors.vxl:4: error: 文字'#'を無視します$" errors.emacs || fail "compilation mode: an error"
    grep -q "^1 6 nil errors.vxl | errors.vxl:6: warning: 変数'unused'は使用されていません$" errors.emacs ||
        fail "compilation mode: a warning"
    grep -q "^1 1 nil errors.vxl | errors.vxl:1: warning: 関数'main'" errors.emacs ||
        fail "compilation mode: the warning without a line"
    compilation limit.gnu > limit.emacs
    tail -1 limit.emacs | grep -q '^2 102 nil limit.vxl | limit.vxl:102: fatal error: エラーの数が100を超えました$' ||
        { fail "compilation mode: the fatal error"; tail -3 limit.emacs; }
else
    echo "emacs not found: compilation mode checks skipped"
fi

[ $failures -eq 0 ] || exit 1
echo "all passed"
