#!/usr/bin/env bash
# A marker file the sequence needs is missing: the run ends with exactly one error report,
# naming the file and the system's error number, and the window is never shown.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
marker=${CASE_ARGS[0]:?marker file name}

bench_prepare 96
rm "$(bench_tmptk "$marker")"

# Watching starts before the program does, so a window shown even briefly is seen.
bench_probe_bg watch.tsv watch-error 30000
qtk_wait_until 15000 grep -q '^#msgbox' watch.tsv || bench_fail "the probe did not start"
qtk_start_program "$BENCH_EXE"
bench_wait_probe_bg 40000 ||
    bench_fail "the probe failed or outran its time: $(grep '^error' watch.tsv || true)"
qtk_wait_program 10000 || bench_fail "the program did not end after OK"

cat watch.tsv
bench_expect "error reports" "$(grep -c '^msgbox' watch.tsv)" 1
bench_expect "report caption" "$(bench_field watch.tsv msgbox 4)" "$BENCH_TITLE"
text=$(bench_unescape "$(bench_field watch.tsv msgbox 5)")
first_line=${text%%$'\n'*}
bench_expect_true "the report's first line gives error number 2: [${first_line%$'\r'}]" \
    grep -qE '(^|[^0-9])2([^0-9]|$)' <<<"$first_line"
bench_expect_true "the report names C:\\tmptk\\$marker" grep -qiF "C:\\tmptk\\$marker" <<<"$text"
bench_expect "report dismissed with OK" "$(bench_field watch.tsv msgbox 6)" ok
bench_expect "main window visible behind the report" "$(bench_field watch.tsv msgbox 3)" 0
bench_expect "main window ever visible" "$(bench_field watch.tsv watch 3)" 0
bench_expect "program ended after OK" "$(bench_field watch.tsv watch 5)" 1
bench_expect_true "exit status is non-zero (${QTK_PROGRAM_STATUS:-none})" \
    test "${QTK_PROGRAM_STATUS:-0}" -ne 0
bench_finish
