#!/usr/bin/env bash
# The one-click entry point as handed out: run-check.cmd beside the two programs. When the
# examination completes (whatever its rows say) the diagnostic comes up showing it; when it
# cannot complete, the examination says why on the console, the script pauses so that a
# person can read it, and the diagnostic is not started.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

# run_check NAME [INPUT [ARG...]]: starts the kit's run-check.cmd through cmd, as a
# double-click (or a shortcut with ARGs) would; INPUT (a file) is what a person would type
# into its window.
run_check() {
    local name=$1 input=${2:-/dev/null}
    shift $(($# < 2 ? $# : 2))
    qtk_wine --version >/dev/null
    wine cmd /c "$(qtk_windows_path "$COMPANION_KIT/run-check.cmd")" "$@" \
        >>"$BENCH_WORK/$name-cmd.log" 2>&1 <"$input" &
    RUN_CHECK_PID=$!
    qtk_on_exit qtk_kill_pid "$RUN_CHECK_PID"
}

run_check_status() {
    qtk_wait_until "$1" eval "! kill -0 $RUN_CHECK_PID 2>/dev/null" || return 1
    RUN_CHECK_STATUS=0
    wait "$RUN_CHECK_PID" || RUN_CHECK_STATUS=$?
}

for program in tkexamine.exe tkcheck.exe run-check.cmd; do
    expect_true "the kit holds $program" test -f "$COMPANION_KIT/$program"
done

bench_prepare 96
rm -rf "$(qtk_tmptk_path '')"
companion_import "$COMPANION_DATA/registry_a.reg"

# ---- the examination succeeds: the diagnostic shows it
run_check success
companion_check_board "$COMPANION_DATA/expected_a.tsv" success started
run_check_status 15000 || fail "run-check.cmd did not end"
expect "run-check.cmd exit status" "${RUN_CHECK_STATUS:-none}" 0
qtk_wait_until 30000 eval '! qtk_prefix_runs tkcheck.exe' || fail "the diagnostic did not end after the close"

# ---- asked to fix: the user's own settings set, and the board shows those rows green.
# The pop-up rows stay red: the machine's policy allow list holds them.
awk -F'\t' 'BEGIN { OFS = "\t" }
    $2 ~ /^www_/ { $3 = "ok"; $4 = "Success"; $5 = "green" }
    $2 ~ /^(a_script|j_script|r_plugin|init_script)\.txt$/ { $3 = "ok"; $4 = "Enable"; $5 = "green" }
    { print }' "$COMPANION_DATA/expected_a.tsv" >expected_fixed.tsv
run_check fix /dev/null /fix
# The markers are read while the board is up: run-check.cmd starts it once the examination
# has ended, and closing it runs the clean-up script, which removes them two seconds later.
bench_probe fix-up.tsv wait-shown 30000 || true
companion_check_markers expected_fixed.tsv
companion_check_board expected_fixed.tsv fix started
run_check_status 30000 || fail "run-check.cmd /fix did not end"
expect "run-check.cmd /fix exit status" "${RUN_CHECK_STATUS:-none}" 0
expect_true "the fix's undo file is on the screen" grep -q '^Undo file written: C:' "$BENCH_WORK/fix-cmd.log"
qtk_wait_until 30000 eval '! qtk_prefix_runs tkcheck.exe' || fail "the diagnostic did not end after the close"

# ---- the examination cannot complete: its error, a pause, no diagnostic
tmptk=$(qtk_tmptk_path '')
rm -rf "$tmptk"
printf 'not a directory\r\n' >"${tmptk%/}"
bench_probe_bg refused.tsv --exe tkexamine.exe watch-error 60000
qtk_wait_until 30000 grep -q '^#msgbox' refused.tsv || fail "the probe did not start"
# The pause waits for a key: a person presses Enter.
mkfifo keys
run_check failure keys
exec {keys_fd}>keys
qtk_wait_until 30000 grep -q 'could not complete' "$BENCH_WORK/failure-cmd.log" ||
    fail "run-check.cmd did not say the examination failed: $(cat "$BENCH_WORK/failure-cmd.log")"
expect_true "run-check.cmd waits at its pause" kill -0 "$RUN_CHECK_PID"
printf '\r\n' >&"$keys_fd"
exec {keys_fd}>&-
bench_wait_probe_bg 75000 || fail "probe: $(grep '^error' refused.tsv || true)"
run_check_status 15000 || fail "run-check.cmd did not end after the key"
cat refused.tsv "$BENCH_WORK/failure-cmd.log"
expect "message boxes of the examination" "$(grep -c '^msgbox' refused.tsv)" 0
expect "exit code of the examination" "$(bench_field refused.tsv watch 6)" 3
expect_true "its error is in the console window" \
    grep -q 'tkexamine: .*C:\\tmptk (error 267' "$BENCH_WORK/failure-cmd.log"
expect "run-check.cmd passes the failure on" "${RUN_CHECK_STATUS:-none}" 3
# run-check.cmd has ended: had it started the diagnostic, which it does last and does not
# wait for, the diagnostic would be running now, waiting with its own error report.
expect_false "the diagnostic was started" qtk_prefix_runs tkcheck.exe

finish
