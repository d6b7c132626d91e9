#!/bin/sh
# The grading kit on a large batch: SUBMISSIONS generated submissions (one
# in ten wrong) against a suite of TESTS tests, graded with one job per
# processor; then what the kit adds to each test run beside a plain vexl
# run: a sample of SAMPLE submissions graded with -j1 against the whole
# suite and against its first test only (the difference is the cost of the
# extra runs alone, without the compilations), and the same number of runs
# of vexl with the same limits started one after another from the shell;
# the best of ROUNDS (default 3) interleaved rounds.
#
#   sh bench/grade.sh [BUILD_DIR] [SUBMISSIONS] [TESTS] [SAMPLE]
#                                     (defaults: build, 1000, 10, 200)
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
subs=${2:-1000}
tests=${3:-10}
sample=${4:-200}
grade=$build/grade/vexl-grade
vexl=$build/vm/vexl
for tool in "$grade" "$vexl"; do
  [ -x "$tool" ] || { echo "grade.sh: $tool is not built" >&2; exit 2; }
done
[ "$sample" -le "$subs" ] || sample=$subs
jobs=$(nproc)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The suite: the sum of 1..n and n squared for n = 10, 20, ...
{
  echo '[defaults]'
  echo 'max_steps = 1000000'
  echo 'max_output = 4096'
  echo 'timeout = 10'
  t=1
  while [ "$t" -le "$tests" ]; do
    n=$((t * 10))
    printf '[[test]]\nname = "t%d"\ninput = "%d\\n"\nexpected = "%d %d\\n"\n' "$t" "$n" $((n * (n + 1) / 2)) $((n * n))
    t=$((t + 1))
  done
} > "$work/suite.toml"
sed -n '1,/^\[\[test\]\]/p' "$work/suite.toml" > "$work/one.toml"
sed -n '5,8p' "$work/suite.toml" | tail -n +2 >> "$work/one.toml"

mkdir "$work/subs"
i=1
while [ "$i" -le "$subs" ]; do
  step=1
  [ $((i % 10)) -eq 0 ] && step=2   # wrong: every other number only
  cat > "$work/subs/s$i.vxl" <<VXL
function void start() {
    int n, k, s$i;
    input n;
    s$i := 0;
    for (k := 1; k <= n; k := k + $step) {
        s$i := s$i + k;
    }
    output s$i;
    output " ";
    output n * n;
    output "\n";
}
VXL
  i=$((i + 1))
done

now() { date +%s%N; }
ms() { echo "$1" | awk '{ printf "%.1f", $1 / 1e6 }'; }

start=$(now)
"$grade" -j"$jobs" --vexl="$vexl" --progress=never --format=json "$work/suite.toml" "$work"/subs/s*.vxl > "$work/report.json"
full=$(($(now) - start))
passed=$(grep -c '"status": "passed"' "$work/report.json" || true)

list=""
i=1
while [ "$i" -le "$sample" ]; do list="$list $work/subs/s$i.vxl"; i=$((i + 1)); done
extra=$((sample * (tests - 1)))
"$grade" -j1 --vexl="$vexl" --progress=never --scratch="$work/scratch" "$work/one.toml" "$work/subs/s1.vxl" > /dev/null
printf '50\n' > "$work/in"

# Interleaved rounds; the best time of each kind counts (the machine may be
# shared). With GNU time, the processor time (user + system, the children
# waited for included) is measured too: on a busy machine it shows the
# cost better than the wall time, which includes waiting for a processor.
best() { if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi; }
gnutime=""
[ -x /usr/bin/time ] && gnutime="/usr/bin/time -f %U+%S -a -o"
cpu() { [ -n "$gnutime" ] && awk -F+ '{ s += ($1 + $2) * 1e9 } END { printf "%d", s }' "$1" || echo 0; }
cat > "$work/plain.sh" <<SH
i=0
while [ "\$i" -lt "$extra" ]; do
  "$vexl" --max-steps=1000000 --max-output=4096 -- "$work/scratch/1/prog.exec" < "$work/in" > /dev/null
  i=\$((i + 1))
done
SH
all="" first="" plain="" cpu_all="" cpu_first="" cpu_plain=""
round=1
while [ "$round" -le "${ROUNDS:-3}" ]; do
  rm -f "$work/t1" "$work/t2" "$work/t3"
  start=$(now)
  $gnutime ${gnutime:+"$work/t1"} "$grade" -j1 --vexl="$vexl" --progress=never --format=json "$work/suite.toml" $list > /dev/null
  all=$(best "$all" $(($(now) - start)))
  start=$(now)
  $gnutime ${gnutime:+"$work/t2"} "$grade" -j1 --vexl="$vexl" --progress=never --format=json "$work/one.toml" $list > /dev/null
  first=$(best "$first" $(($(now) - start)))
  start=$(now)
  $gnutime ${gnutime:+"$work/t3"} sh "$work/plain.sh"
  plain=$(best "$plain" $(($(now) - start)))
  cpu_all=$(best "$cpu_all" "$(cpu "$work/t1")")
  cpu_first=$(best "$cpu_first" "$(cpu "$work/t2")")
  cpu_plain=$(best "$cpu_plain" "$(cpu "$work/t3")")
  round=$((round + 1))
done

runs=$((subs * tests))
echo "batch: $subs submissions x $tests tests = $runs runs with -j$jobs: $(ms $full) ms wall," \
     "$(echo "$full $runs" | awk '{ printf "%.2f", $1 / $2 / 1e6 }') ms per run; $passed tests passed"
echo "per run (-j1, $extra runs): kit $(echo "$all $first $extra" | awk '{ printf "%.3f", ($1 - $2) / $3 / 1e6 }') ms," \
     "plain vexl from the shell $(echo "$plain $extra" | awk '{ printf "%.3f", $1 / $2 / 1e6 }') ms," \
     "kit adds $(echo "$all $first $plain $extra" | awk '{ printf "%.3f", ($1 - $2 - $3) / $4 / 1e6 }') ms"
[ -n "$gnutime" ] &&
echo "processor time per run: kit $(echo "$cpu_all $cpu_first $extra" | awk '{ printf "%.3f", ($1 - $2) / $3 / 1e6 }') ms," \
     "plain vexl from the shell $(echo "$cpu_plain $extra" | awk '{ printf "%.3f", $1 / $2 / 1e6 }') ms," \
     "kit adds $(echo "$cpu_all $cpu_first $cpu_plain $extra" | awk '{ printf "%.3f", ($1 - $2 - $3) / $4 / 1e6 }') ms"
