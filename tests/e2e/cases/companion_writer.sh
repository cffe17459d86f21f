#!/usr/bin/env bash
# How the companion replaces the set of files in C:\tmptk\ when something gets in the way:
# a reader holding a marker, a second examination at once, a kill between renames, links
# planted beside the files or in the directory's place. Each time C:\tmptk holds the whole
# earlier set, the whole new set, or a set without the OS-version file (which the
# diagnostic reads first, and refuses with its error report); never a mix.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

bench_prepare 96

# The fault hook lives in the test build only: the shipped program does not even name it.
has_hook() {
    python3 -c 'import sys; sys.exit(0 if "TKEXAMINE_TEST_FAULT".encode("utf-16-le") in open(sys.argv[1], "rb").read() else 1)' "$1"
}
expect_true "the test build reads the fault hook" has_hook "$COMPANION_FAULTS_EXE"
expect_true "the shipped program reads no fault hook" eval '! has_hook "$COMPANION_EXE"'
tmptk=$(qtk_tmptk_path '')
rm -rf "$tmptk"
companion_import "$COMPANION_DATA/registry_a.reg"

# companion_snapshot: each file of a set with a digest of its bytes, or "absent".
companion_snapshot() {
    local name
    for name in $(companion_written_files); do
        if [[ -f $tmptk/$name ]]; then
            printf '%s %s\n' "$name" "$(md5sum <"$tmptk/$name" | cut -c1-32)"
        else
            printf '%s absent\n' "$name"
        fi
    done
}
# Exit codes of a run that wrote its files: 0, 1 or 2 by the rows; 3 is "could not complete".
companion_completed() { [[ $1 == 0 || $1 == 1 || $1 == 2 ]]; }
companion_leftovers() { (cd "$tmptk" && ls | grep -E '\.tmp$' | tr '\n' ' ' || true); }
companion_tmp_exists() { compgen -G "$tmptk/*.tmp" >/dev/null; }

# Registry changes that change what the user rows say: the machine-only switch as a
# REG_DWORD of three bytes (every user row "cannot look"), and gone again.
short_switch="$BENCH_WORK/short_switch.reg"
no_switch="$BENCH_WORK/no_switch.reg"
policy='HKEY_LOCAL_MACHINE\Software\Policies\Microsoft\Windows\CurrentVersion\Internet Settings'
printf 'REGEDIT4\r\n\r\n[%s]\r\n"Security_HKLM_only"=hex(4):01,00,00\r\n' "$policy" >"$short_switch"
printf 'REGEDIT4\r\n\r\n[%s]\r\n"Security_HKLM_only"=-\r\n' "$policy" >"$no_switch"

companion_examine
expect_true "exit code of the earlier examination ($COMPANION_STATUS)" companion_completed "$COMPANION_STATUS"
companion_snapshot >earlier.txt
expect "the earlier set is whole" "$(grep -c ' absent$' earlier.txt)" 0

# ---- a reader holds a marker open without sharing delete, for longer than the retries
flag="$BENCH_WORK/hold.flag"
touch "$flag"
qtk_wine "$BENCH_PROBE" hold-while 'C:\tmptk\mwww_telmira.txt' "$(qtk_windows_path "$flag")" \
    >held.tsv 2>>"$BENCH_WORK/wine.log" &
holder=$!
qtk_wait_until 30000 grep -q '^held' held.tsv || fail "the reader did not open the marker"
companion_import "$short_switch"
companion_run held
expect "exit code with a marker held" "$COMPANION_STATUS" 3
expect_true "it names the held marker and the sharing violation: [$(tr -d '\r' <held.err)]" \
    grep -qF 'C:\tmptk\mwww_telmira.txt (error 32: ' held.err
expect "the earlier set after the failure" "$(companion_snapshot | diff earlier.txt - && echo same)" same
expect "temporaries left" "$(companion_leftovers)" ""
rm -f "$flag"
wait "$holder" || true

# ---- two examinations at once: the second waits briefly, then refuses and changes nothing
flag="$BENCH_WORK/run.flag"
touch "$flag"
# Under another file name, so that the probe watching the second knows which is which.
cp "$COMPANION_FAULTS_EXE" "$BENCH_WORK/tkexamine_first.exe"
TKEXAMINE_TEST_FAULT="hold-while:$(qtk_windows_path "$flag")" \
    wine "$BENCH_WORK/tkexamine_first.exe" >>"$BENCH_WORK/examine.log" 2>&1 </dev/null &
first=$!
qtk_wait_until 60000 companion_tmp_exists || fail "the first examination wrote no temporaries"
companion_run second
expect "exit code of the second examination" "$COMPANION_STATUS" 3
expect_true "it says another examination runs: [$(tr -d '\r' <second.err)]" \
    grep -qF 'Another examination is writing its files' second.err
expect "the earlier set while the first still runs" \
    "$(companion_snapshot | diff earlier.txt - && echo same)" same
rm -f "$flag"
status=0
wait "$first" || status=$?
expect_true "exit code of the first examination ($status)" companion_completed "$status"
companion_snapshot >new.txt
expect "the new set is whole" "$(grep -c ' absent$' new.txt)" 0
expect_true "the new set differs from the earlier one" eval '! diff -q earlier.txt new.txt >/dev/null'
expect "temporaries left" "$(companion_leftovers)" ""
expect_true "a three-byte REG_DWORD is cannot look, with why: $(head -c 160 "$tmptk/www_tesk.txt")" \
    grep -q '^cannot look,.*impossible size.*Security_HKLM_only' "$tmptk/www_tesk.txt"

# ---- killed between renames: the seal is missing, so the diagnostic refuses the set
companion_import "$no_switch"
status=0
TKEXAMINE_TEST_FAULT=kill-after:20 timeout "$COMPANION_HANG_S" wine "$COMPANION_FAULTS_EXE" >>"$BENCH_WORK/examine.log" 2>&1 </dev/null ||
    status=$?
expect "exit status of the killed run" "$status" 99
expect_true "the OS-version file is missing after the kill" test ! -e "$tmptk/outwinversion.txt"
expect_true "the kill left backups to repair from: $(companion_leftovers)" companion_tmp_exists
# What the diagnostic makes of it: its error report, no board.
rm -rf "$BENCH_WORK/killed-copy" && cp -a "$tmptk" "$BENCH_WORK/killed-copy"
bench_probe_bg killed-check.tsv watch-error 60000
qtk_wait_until 30000 grep -q '^#msgbox' killed-check.tsv || fail "the probe did not start"
qtk_start_program "$BENCH_EXE"
bench_wait_probe_bg 75000 || fail "probe: $(grep '^error' killed-check.tsv || true)"
qtk_wait_program 30000 || fail "the diagnostic did not end after OK"
expect "the diagnostic's error reports on the killed run's set" "$(grep -c '^msgbox' killed-check.tsv)" 1
text=$(bench_unescape "$(bench_field killed-check.tsv msgbox 5)")
expect_true "it names the missing OS-version file: [${text//$'\r\n'/ | }]" \
    grep -qiF 'outwinversion.txt' <<<"$text"
expect "the board was never shown" "$(bench_field killed-check.tsv watch 3)" 0
# Should it have started the clean-up script, let it finish, then put the killed state back.
bench_wait_cleanup_gone || fail "the clean-up script never ended"
rm -rf "$tmptk" && cp -a "$BENCH_WORK/killed-copy" "$tmptk"
# The next run puts the earlier set back before anything else; killed right after that
# (once its temporaries are written), it leaves the set of before the kill.
status=0
TKEXAMINE_TEST_FAULT=kill-after:1 timeout "$COMPANION_HANG_S" wine "$COMPANION_FAULTS_EXE" >>"$BENCH_WORK/examine.log" 2>&1 </dev/null ||
    status=$?
expect "exit status of the run killed after its repair" "$status" 99
expect "the set put back by the repair" "$(companion_snapshot | diff new.txt - && echo same)" same

# ---- killed while it holds the lock that another process keeps open: the lock is left
# abandoned, not gone, and the next run takes it as its own instead of waiting and refusing
flag="$BENCH_WORK/keep.flag"
touch "$flag"
qtk_wine "$BENCH_PROBE" keep-mutex 'Global\Quorin.TokenKeyCheck.Examine' \
    "$(qtk_windows_path "$flag")" >kept.tsv 2>>"$BENCH_WORK/wine.log" &
keeper=$!
qtk_wait_until 30000 grep -q '^kept' kept.tsv || fail "the probe did not open the lock"
status=0
TKEXAMINE_TEST_FAULT=kill-after:1 timeout "$COMPANION_HANG_S" wine "$COMPANION_FAULTS_EXE" >>"$BENCH_WORK/examine.log" 2>&1 </dev/null ||
    status=$?
expect "exit status of the run killed holding the lock" "$status" 99
companion_run abandoned
expect_true "exit code of the run after it ($COMPANION_STATUS): [$(tr -d '\r' <abandoned.err | head -c 300)]" \
    companion_completed "$COMPANION_STATUS"
expect "the set after the abandoned lock" "$(companion_snapshot | diff earlier.txt - && echo same)" same
rm -f "$flag"
wait "$keeper" || true

# ---- links planted at names beside the files point outside; a run removes the links only
printf 'precious\r\n' >"$BENCH_WORK/outside.txt"
for name in www_tesk.txt.1234.tmp rundelay.bat.4321.tmp outwinversion.txt.9.old.tmp; do
    ln -sf "$BENCH_WORK/outside.txt" "$tmptk/$name"
done
companion_examine
expect_true "exit code of the run after the repair ($COMPANION_STATUS)" companion_completed "$COMPANION_STATUS"
expect "the set after the run" "$(companion_snapshot | diff earlier.txt - && echo same)" same
# Wine opens the file a Unix link points at, so a link there cannot be removed safely
# and is left; on Windows the link itself goes. Either way nothing is written through it.
expect "temporaries left" "$(companion_leftovers | tr ' ' '\n' | grep -v -e '\.1234\.' -e '\.4321\.' -e '\.9\.old\.' | tr -d '\n')" ""
expect "the file the links pointed at" "$(tr -d '\r' <"$BENCH_WORK/outside.txt")" precious
expect_true "the clean-up script covers stale temporaries" \
    grep -qF 'del /f /q "C:\tmptk\*.tmp"' "$tmptk/rundelay.bat"

# ---- C:\tmptk a link to a directory elsewhere (no reparse attribute under Wine)
rm -rf "$tmptk"
mkdir -p "$BENCH_WORK/elsewhere"
ln -s "$BENCH_WORK/elsewhere" "${tmptk%/}"
companion_run linked
expect "exit code with C:\\tmptk a link" "$COMPANION_STATUS" 3
expect_true "it says it is a link: [$(tr -d '\r' <linked.err)]" \
    grep -qF 'link to somewhere else' linked.err
expect "what was written where the link points" "$(ls -A "$BENCH_WORK/elsewhere" | tr '\n' ' ')" ""
rm -f "${tmptk%/}"

finish
