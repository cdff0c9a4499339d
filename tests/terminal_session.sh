#!/usr/bin/env bash
# Proves what a user sees in a real terminal: the prompt shows before the name is read, the
# names and the summary follow, the key-press wait holds the program until one key (not Enter)
# ends it with status 0, and the terminal is then back in canonical mode with echo and signals,
# also when that key is Ctrl+C.
# Usage: terminal_session.sh VCARDSPLIT EXAMPLE_VCF
set -euo pipefail
binary=$1 example=$2

if ! command -v tmux >/dev/null; then
    echo "SKIP: tmux is not installed, so the session in a real terminal is not tested" \
        "(scripts/test.sh installs it)."
    exit 77
fi

export LC_ALL=C.UTF-8
unset TMUX
work=$(mktemp -d)
# A server of its own, on its own socket, without any user's configuration.
tm() { tmux -u -S "$work/tmux.socket" -f /dev/null "$@"; }
trap 'tm kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen || true
    exit 1
}

# The pane's lines, without the empty ones below the last line written.
screen() { tm capture-pane -p -t "$target" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }

# Polls the screen until one of its lines matches the extended regular expression.
wait_for() {
    local deadline=$((SECONDS + 30))
    until screen | grep -Eq -- "$1"; do
        ((SECONDS < deadline)) || fail "waited 30 s for a line matching: $1"
        sleep 0.05
    done
}

type_line() {
    tm send-keys -t "$target" -l -- "$1"
    tm send-keys -t "$target" Enter
}

command='vcardsplit; echo "status=$?"'
modes="stty -a | tr ' ;' '\n\n' | grep -Ex -- '-?(isig|icanon|echo)' | paste -sd' '"
expected="\$ $command
Nazwa pliku: kontakty.vcf
Anna Kowalska
Łukasz Wiśniewski
Zofia Żółkiewska
Anna Kowalska
Grzegorz Brzęczyszczykiewicz
Zapisano kart: 5, pominięto: 0, błędy zapisu: 0
Zakończono konwersję!

Naciśnij dowolny klawisz, aby zakończyć...
status=0
\$ $modes
isig icanon echo
\$"

# session NAME KEY: one run in a fresh terminal, its wait ended by KEY (a tmux key name).
session() {
    local dir=$work/$1
    target=$1
    mkdir "$dir"
    cp "$example" "$dir/kontakty.vcf"
    # sh rather than bash: readline would reset the terminal modes and hide what the program
    # left behind.
    tm new-session -d -s "$target" -x 80 -y 24 -c "$dir" \
        env -i PATH="$(dirname "$binary"):/usr/bin:/bin" HOME="$dir" TERM=screen \
        LC_ALL=C.UTF-8 PS1='$ ' sh || fail "tmux could not open a terminal"
    wait_for '^\$ ?$'

    type_line "$command"
    # Typing only once the prompt is there proves it is shown before the name is read.
    wait_for '^Nazwa pliku: ?$'
    type_line kontakty.vcf
    wait_for '^Naciśnij dowolny klawisz, aby zakończyć\.\.\.$'
    # The wait holds the program, and the cards are on disk before it.
    ! screen | grep -q '^status=' || fail "the program ended before a key was pressed"
    [ "$(find "$dir/Contacts" -name '*.vcf' | wc -l)" = 5 ] ||
        fail "Contacts does not hold the 5 card files during the wait"

    tm send-keys -t "$target" "$2"
    # The shell's next prompt without a status line means the key killed the program.
    wait_for '^(status=[0-9]+|\$ ?)$'
    screen | grep -q '^status=' || fail "the program did not end normally after $2"
    type_line "$modes"
    # Without echo, the answer lands on the line of the shell's prompt.
    wait_for '-?isig -?icanon -?echo$'
    wait_for '^\$ ?$'

    echo "=== the screen of the run ended by $2 ==="
    screen
    echo "==="
    if [ "$(screen | sed 's/ *$//')" != "$expected" ]; then
        diff <(echo "$expected") <(screen | sed 's/ *$//') || true
        fail "the screen differs from the expected one (< expected, > seen)"
    fi
    tm kill-session -t "$target"
}

session any-key x
session ctrl-c C-c
echo "PASS: the dialogue, the key-press wait and the terminal modes are right"
