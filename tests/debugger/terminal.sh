#!/bin/sh
# vexldb at a real terminal (a tmux pane): the prompt, line editing, the
# history (kept in $HOME/.vexldb_history), completion, an empty line
# repeating `next`, and the program's output in between; then a program
# reading its input at the terminal, ended with Ctrl-D, and a second run
# that reads afresh. Skipped (status 77) when tmux is not installed.
#   terminal.sh VEXLC VEXLDB EXAMPLES_DIR
set -u
vexlc=$1 vexldb=$2 examples=$3
command -v tmux > /dev/null 2>&1 || { echo "tmux not installed"; exit 77; }
tmp=$(mktemp -d) || exit 1
socket=vexldb-test-$$
trap 'tmux -L "$socket" kill-server 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
cp "$examples/factorial.vxl" . && "$vexlc" -g factorial.vxl > /dev/null 2>&1 && [ -f factorial.dbg ] ||
    { echo "FAIL: vexlc -g wrote no debug file"; exit 1; }

pane() { tmux -L "$socket" capture-pane -p -t dbg; }
# wait_for TEXT: until the pane shows TEXT (at most 10 s).
wait_for() {
    i=0
    while ! pane | grep -qF -- "$1"; do
        i=$((i + 1))
        [ "$i" -le 100 ] || { echo "FAIL: no \"$1\" on the terminal:"; pane; exit 1; }
        sleep 0.1
    done
}
keys() { tmux -L "$socket" send-keys -t dbg "$@"; }

tmux -L "$socket" -f /dev/null new-session -d -s dbg -x 100 -y 50 "HOME=$tmp $vexldb factorial; sleep 30"
wait_for "(vexldb)"
# Tab completes a command name.
keys "brea" Tab "factorial" Enter
wait_for "Breakpoint 1 at"
keys "run" Enter
wait_for "Breakpoint 1, factorial (n=0)"
# Line editing: a typing error taken back with backspace.
keys "print nn" BSpace Enter
wait_for '$1 = 0'
# The history: the previous command again.
keys "C-p" Enter
wait_for '$2 = 0'
keys "next" Enter
wait_for "4               return 1;"
# An empty line repeats next, which returns to the next line of the caller.
keys Enter
wait_for "start () at factorial.vxl:15"
keys "quit" Enter
wait_for "quit"
sleep 0.3
out=$(pane)
case $out in
*"0! ="*) ;;
*) echo "FAIL: the program's output is missing:"; echo "$out"; exit 1 ;;
esac
echo "$out" | grep -q "^(vexldb) print n$" || { echo "FAIL: the edited line is not shown as corrected:"; echo "$out"; exit 1; }
grep -q "^print" .vexldb_history || { echo "FAIL: no history file"; exit 1; }
tmux -L "$socket" kill-session -t dbg

# Input at the terminal.
printf 'function void start() {\n    int x, total;\n    input x;\n    total := x + x;\n    output total;\n    output "\\n";\n}\n' > double.vxl
"$vexlc" -g double.vxl > /dev/null 2>&1 || { echo "FAIL: vexlc -g double.vxl"; exit 1; }
tmux -L "$socket" -f /dev/null new-session -d -s dbg -x 100 -y 50 "HOME=$tmp $vexldb double; sleep 30"
wait_for "(vexldb)"
# The history of the last session is there, and Tab completes variables
# and info subcommands.
keys "C-p"
wait_for "(vexldb) quit"
keys "C-u" "break 5" Enter
wait_for "Breakpoint 1 at"
keys "run" Enter
wait_for "Starting program"
keys "21" Enter
wait_for "5           output total;"
keys "print tot" Tab Enter
wait_for '$1 = 42'
keys "info br" Tab Enter
wait_for "breakpoint already hit 1 time"
keys "continue" Enter
wait_for "42"
# Ctrl-D ends the program's input: it reads 0.
keys "run" Enter
sleep 0.3
keys "C-d"
wait_for '$1 = 42'
keys "print total" Enter
wait_for '$2 = 0'
keys "continue" Enter
# The next run reads the terminal afresh.
keys "run" Enter
sleep 0.3
keys "5" Enter
keys "print total" Enter
wait_for '$3 = 10'
keys "quit" Enter
echo ok
