#!/usr/bin/env bash
# The computer-name key cannot be opened, first because it is missing, then because its
# access list is empty: each run shows exactly one "Error opening key." box, under the
# program's title and before the window, and once it is answered the window appears with
# an empty computer name and everything else painted as on the demo data. A second box
# would keep the window hidden, and the probe's wait for the window fails on it. Each run
# has a prefix of its own.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

computer_name_key='HKLM\SYSTEM\CurrentControlSet\Control\ComputerName\ActiveComputerName'

# check_box NAME: the one box the run showed.
check_box() {
    local out=$1.tsv
    expect "$1: message boxes before the window" "$(grep -c '^msgbox' "$out")" 1
    expect "$1: box caption" "$(bench_field "$out" msgbox 4)" "$BENCH_TITLE"
    expect "$1: box text" "$(bench_unescape "$(bench_field "$out" msgbox 5)")" \
        'Error opening key.'
    expect "$1: main window visible behind the box" "$(bench_field "$out" msgbox 3)" 0
    expect "$1: box answered with OK" "$(bench_field "$out" msgbox 6)" ok
}

qtk_xvfb_start

echo "== key missing"
bench_fresh_prefix prefix-key_missing
qtk_wine reg delete "$computer_name_key" /f >>"$BENCH_WORK/wine.log" 2>&1 ||
    qtk_die "cannot delete $computer_name_key"
expect_true "the key is gone" \
    eval "! qtk_wine reg query '$computer_name_key' >/dev/null 2>&1"
bench_want comname '' blank
bench_run_window key_missing answer-box 30000
check_box key_missing

echo "== key unopenable"
bench_fresh_prefix prefix-key_denied
if bench_probe deny.tsv reg-deny "$computer_name_key"; then
    expect "opening the key for reading now gives" "$(bench_field deny.tsv denied 2)" 5
fi
bench_want comname '' blank
bench_run_window key_denied answer-box 30000
check_box key_denied

finish
