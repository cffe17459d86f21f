#!/usr/bin/env bash
# Closing the window launches C:\tmptk\rundelay.bat once, minimized, and the program ends
# without waiting for it: the script here takes a few seconds, and the program must be
# gone well before it has finished. How the script was asked to show itself is read from
# its cmd.exe while it runs: the STARTUPINFO it was created with, flag
# STARTF_USESHOWWINDOW (1) and show command SW_SHOWMINIMIZED (2) ("STARTUPINFOW
# structure", "ShowWindow function", learn.microsoft.com).
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

bench_prepare 96
# ping is the delay that works in Wine's cmd (it has no timeout command): -n 5 is 4 s.
printf '%s\r\n' '@echo off' 'echo started>>C:\tmptk\started.txt' \
    'ping -n 5 127.0.0.1 >nul' 'echo done>C:\tmptk\done.txt' >"$(qtk_tmptk_path rundelay.bat)"

qtk_start_program "$BENCH_EXE"
bench_probe close.tsv wait-shown 30000 close wait-gone 10000 show-state cmd.exe 20000
qtk_wait_program 10000 || fail "the program did not end after the close"
done_at_exit=$([[ -e $(qtk_tmptk_path done.txt) ]] && echo yes || echo no)
expect "the script's STARTF_USESHOWWINDOW flag" "$(($(bench_field close.tsv startup 3) & 1))" 1
expect "the script's show command" "$(bench_field close.tsv startup 4)" 2
expect_true "cmd.exe runs C:\tmptk\rundelay.bat" \
    grep -qiF 'C:\tmptk\rundelay.bat' <<<"$(bench_unescape "$(bench_field close.tsv startup 5)")"
expect "clean-up script already finished when the program ended" "$done_at_exit" no

qtk_wait_until 20000 test -e "$(qtk_tmptk_path done.txt)" ||
    fail "the clean-up script never finished (was it launched?)"
expect "clean-up script runs" "$(tr -d '\r' <"$(qtk_tmptk_path started.txt)" 2>/dev/null | grep -c '^started' || true)" 1
finish
