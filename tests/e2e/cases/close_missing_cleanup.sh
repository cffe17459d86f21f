#!/usr/bin/env bash
# Without C:\tmptk\rundelay.bat the close still goes ahead: once the window is gone the
# error report names the script, and OK ends the program.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

bench_prepare 96
rm "$(qtk_tmptk_path rundelay.bat)"

qtk_start_program "$BENCH_EXE"
bench_probe close.tsv wait-shown 30000 close watch-error 20000
qtk_wait_program 10000 || fail "the program did not end after OK"

cat close.tsv
expect "error reports" "$(grep -c '^msgbox' close.tsv)" 1
expect "report caption" "$(bench_field close.tsv msgbox 4)" "$BENCH_TITLE"
text=$(bench_unescape "$(bench_field close.tsv msgbox 5)")
expect_true "the report names C:\\tmptk\\rundelay.bat" \
    grep -qiF 'C:\tmptk\rundelay.bat' <<<"$text"
expect "report dismissed with OK" "$(bench_field close.tsv msgbox 6)" ok
expect "main window visible behind the report" "$(bench_field close.tsv msgbox 3)" 0
expect "program ended after OK" "$(bench_field close.tsv watch 5)" 1
finish
