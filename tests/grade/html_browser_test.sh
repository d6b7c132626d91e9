#!/bin/sh
# The HTML report of the example suites opened in a headless Chromium: the
# page loads from its file alone, and the rendered document holds every
# submission, the differences of a wrong answer, the compile errors and a
# runtime error at its source line. Skipped (77) without chromium.
#   html_browser_test.sh VEXL_GRADE VEXL GRADING_DIR WORK_DIR [TIMEOUT_FACTOR]
set -u
grade=$1 vexl=$2 examples=$3 work=$4 factor=${5:-1}
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium not installed: skipped"; exit 77; }
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$examples" || exit 1
"$grade" --vexl="$vexl" --progress=never --timeout-factor="$factor" --format=html gcd.toml gcd/correct.vxl gcd/lcm-product.vxl \
    gcd/divides-by-zero.vxl primes/no-semicolon.vxl > "$work/report.html" 2> "$work/stderr" ||
    fail "vexl-grade: status $?: $(cat "$work/stderr")"
timeout 60 "$browser" --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
    --dump-dom "file://$work/report.html" > "$work/dom.html" 2> "$work/browser.log" ||
    fail "chromium --dump-dom: status $?: $(tail -5 "$work/browser.log")"

count() { grep -o "$1" "$work/dom.html" | wc -l | tr -d ' '; }
[ "$(count '<section class="submission"')" = 4 ] || fail "expected 4 submissions, got $(count '<section class="submission"')"
[ "$(count 'data-status="compile-error"')" = 1 ] || fail "the compile error is not marked"
grep -q 'no-semicolon.vxl:21: error: ' "$work/dom.html" || fail "the compile errors are not shown"
grep -q '<tr class="del"><td class="mark">-</td><td>gcd(12,18) = 6, lcm = 36</td></tr>' "$work/dom.html" ||
    fail "no expected line in the difference"
grep -q '<tr class="add"><td class="mark">+</td><td>gcd(12,18) = 6, lcm = 216</td></tr>' "$work/dom.html" ||
    fail "no actual line in the difference"
grep -q 'gcd/divides-by-zero.vxl:5: <code>        t := a mod (b - b);</code>' "$work/dom.html" ||
    fail "the runtime error's source line is missing"
# Self-contained: nothing but the page itself.
grep -Eq '<(script|link|img)[ >]' "$work/report.html" && fail "the page loads something else"

[ "$failures" -eq 0 ] || { echo "$failures failure(s); the page is $work/report.html"; exit 1; }
echo "the HTML report renders in $browser"
