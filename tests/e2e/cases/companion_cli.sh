#!/usr/bin/env bash
# tkexamine as a management system runs it: every option and exit code, the JSON report
# validated against its schema each time, --report-only leaving C:\tmptk untouched (seen
# with inotify), another user's settings examined with --user, and a report that cannot
# be written ending the run with exit 3 and nothing half-written.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

SECOND_SID=S-1-5-21-111-222-333-1001
TESK_USER=trusted_sites.user.https:tesk.qrn.example
HVK_USER='trusted_sites.user.https:*.hvk.example'
SCRIPT_USER=zone_scripting.user.1400
SAM=software.machine.safenet_authentication_manager_client_8.0_sp2

bench_prepare 96
companion_import "$COMPANION_DATA/registry_a.reg"
tmptk=$(qtk_tmptk_path '')

# ---- asking for help or the version examines nothing
for option in '/?' -h --help; do
    rm -rf "$tmptk"
    companion_run help "$option"
    expect "exit code of $option" "$COMPANION_STATUS" 0
    expect_true "$option prints the usage" grep -q '^Usage: tkexamine' help.out
    expect_true "$option names every option" grep -q -- '--report-only' help.out
    expect_true "$option writes no C:\\tmptk" test ! -e "${tmptk%/}"
done
companion_run version --version
expect "exit code of --version" "$COMPANION_STATUS" 0
expect "--version" "$(tr -d '\r' <version.out)" "tkexamine $COMPANION_VERSION"

# ---- a bad command line: usage on the standard error, 87, nothing examined
for line in --frobnicate /x report '--user' '--user=..\S-1-5-18' '--json=' '--quiet=1'; do
    companion_run bad $line
    expect "exit code of [$line]" "$COMPANION_STATUS" 87
    expect "standard output of [$line]" "$(cat bad.out)" ""
    expect_true "[$line]: the usage on the standard error" grep -q 'Usage: tkexamine' bad.err
    expect_true "[$line]: says what was wrong ($(head -n 1 bad.err | tr -d '\r'))" \
        grep -q '^tkexamine: ' bad.err
done
expect_true "bad command lines write no C:\\tmptk" test ! -e "${tmptk%/}"

# ---- --report-only --json: the report on the standard output, C:\tmptk untouched
qtk_install_tmptk "$BENCH_DEMO_DATA"
before=$(cd "$tmptk" && find . -type f -exec md5sum {} + | sort)
bench_watch_start report-only
companion_run report-only --report-only --json
bench_watch_stop
expect "exit code with failing rows" "$COMPANION_STATUS" 1
companion_validate report-only.out
expect "what it opened in C:\\tmptk" "$(bench_watch_opened | tr '\n' ' ')" ""
expect "what it changed in C:\\tmptk" "$(bench_watch_writes | tr '\n' ' ')" ""
expect "C:\\tmptk afterwards" "$(cd "$tmptk" && find . -type f -exec md5sum {} + | sort)" "$before"
expect "markers_written" "$(companion_report_field report-only.out markers_written)" false
counts=$(python3 -c 'import json, sys
c = json.load(open(sys.argv[1], encoding="utf-8"))["counts"]
print("%d pass, %d fail, %d undecided" % (c["pass"], c["fail"], c["undecided"]))' report-only.out)
expect "the summary on the standard error agrees with the report ($counts)" \
    "$(grep -c "^Result: $counts (report only" report-only.err)" 1
expect "examined user" "$(companion_report_field report-only.out run_context.examined_user.is_process_user)" true
expect "not as SYSTEM" "$(companion_report_field report-only.out run_context.as_system)" false
expect "the computer" "$(companion_report_field report-only.out computer_name)" "\"$QTK_DEMO_COMPUTER_NAME\""
expect "the tool's version" "$(companion_report_field report-only.out tool.version)" "\"$COMPANION_VERSION\""
expect "the current user's tesk row" "$(companion_row report-only.out $TESK_USER verdict)" pass
expect "its place" "$(companion_row report-only.out $TESK_USER place)" \
    'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example\tesk value https'

# ---- --what-if: the plan on the standard output; the user's registry and C:\tmptk untouched
qtk_wine reg export HKCU "$(qtk_windows_path "$BENCH_WORK/hkcu-before.reg")" /y >/dev/null 2>&1 ||
    qtk_die "cannot export HKCU"
bench_watch_start what-if
companion_run what-if --what-if
bench_watch_stop
qtk_wine reg export HKCU "$(qtk_windows_path "$BENCH_WORK/hkcu-after.reg")" /y >/dev/null 2>&1 ||
    qtk_die "cannot export HKCU"
expect "exit code of --what-if (the examination's)" "$COMPANION_STATUS" 1
expect_true "--what-if names a change in the form key value: old -> new [row]" \
    grep -qE '^  HKCU\\.* value .*: .* -> REG_(DWORD [0-9]+|BINARY \(empty\)) \[[a-z_]+\.user\.' what-if.out
expect "what --what-if changed in C:\\tmptk" "$(bench_watch_writes | tr '\n' ' ')" ""
expect "HKCU after --what-if" "$(cmp -s "$BENCH_WORK/hkcu-before.reg" "$BENCH_WORK/hkcu-after.reg" && echo same)" same
# ---- the markers as always, the report into a folder as <COMPUTERNAME>.json
mkdir -p "$WINEPREFIX/drive_c/reports"
companion_run markers '--json=C:\reports'
expect "exit code with markers and a report" "$COMPANION_STATUS" 1
report="$WINEPREFIX/drive_c/reports/$QTK_DEMO_COMPUTER_NAME.json"
expect_true "the report is named after the computer" test -s "$report"
companion_validate "$report"
companion_check_markers "$COMPANION_DATA/expected_a.tsv"
companion_check_report_markers "$report"
expect "markers_written" "$(companion_report_field "$report" markers_written)" true
# 12 of the 22 trusted-site rows are "ok" in expected_a.tsv.
expect_true "the summary counts each group" grep -qE '^  trusted_sites +12 pass, 10 fail, 0 undecided' markers.out
expect_true "the summary lists a failing row with its reason" \
    grep -qE '^  fail +trusted_sites user https://\*\.hvk\.example: ' markers.out
expect "files left beside the report" "$(ls "$WINEPREFIX/drive_c/reports" | tr '\n' ' ')" "$QTK_DEMO_COMPUTER_NAME.json "

# ---- --quiet: nothing but errors
companion_run quiet --quiet --report-only
expect "exit code of --quiet" "$COMPANION_STATUS" 1
expect "--quiet standard output" "$(cat quiet.out)" ""
expect "--quiet standard error" "$(cat quiet.err)" ""

# ---- another user's settings, under HKEY_USERS\<SID>
companion_import "$COMPANION_DATA/registry_user_1001.reg"
companion_run second --report-only "/json:C:\reports\second.json" /user "$SECOND_SID"
second="$WINEPREFIX/drive_c/reports/second.json"
expect "exit code for the second user" "$COMPANION_STATUS" 1
companion_validate "$second"
expect "whose settings" "$(companion_report_field "$second" run_context.examined_user.sid)" "\"$SECOND_SID\""
expect "not the process's own" "$(companion_report_field "$second" run_context.examined_user.is_process_user)" false
expect_true "the summary names them" grep -q "examined the settings of .*$SECOND_SID" second.out
for row in "$TESK_USER pass fail" "$HVK_USER fail pass" "$SCRIPT_USER pass fail" "$SAM fail pass"; do
    read -r id mine theirs <<<"$row"
    expect "$id for the current user" "$(companion_row report-only.out "$id" verdict)" "$mine"
    expect "$id for $SECOND_SID" "$(companion_row "$second" "$id" verdict)" "$theirs"
done
expect "where the second user's tesk row was decided" "$(companion_row "$second" $TESK_USER place)" \
    "HKU\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\qrn.example\\tesk value https"
expect "machine rows do not change with the user" \
    "$(companion_row "$second" trusted_sites.machine.https:tesk.qrn.example verdict)" \
    "$(companion_row report-only.out trusted_sites.machine.https:tesk.qrn.example verdict)"

# A user who is not logged on: every user row undecided, never someone else's settings.
companion_run absent --report-only --json --user S-1-5-21-9-9-9-9999
companion_validate absent.out
expect "logged_on of an absent user" "$(companion_report_field absent.out run_context.examined_user.logged_on)" false
expect "user rows of an absent user that are not undecided" "$(python3 -c 'import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
print(sum(1 for c in r["checks"] if c["scope"] == "user" and c["verdict"] != "undecided"))' absent.out)" 0

# ---- a report that cannot be written: exit 3, the error on stderr, nothing half-written
companion_run unwritable --report-only '--json=C:\no such folder\r.json'
expect "exit code when the report cannot be written" "$COMPANION_STATUS" 3
expect_true "the error names the report ($(tr -d '\r' <unwritable.err | head -n 1))" \
    grep -qF 'tkexamine: Cannot write the report: C:\no such folder\r.json (error 3' unwritable.err
# An earlier report stays whole when the new one cannot replace it: a file held open
# refuses the rename, after the new report was written under its temporary name.
printf '{"earlier": true}\n' >"$WINEPREFIX/drive_c/reports/earlier.json"
mkfifo hold.in
qtk_wine --version >/dev/null
wine "$BENCH_PROBE" hold-unshared 'C:\reports\earlier.json' <hold.in >hold.out 2>>"$BENCH_WORK/wine.log" &
hold_pid=$!
qtk_on_exit qtk_kill_pid "$hold_pid"
exec {hold_fd}>hold.in
qtk_wait_until 20000 grep -q '^held' hold.out || fail "the report could not be held open: $(cat hold.out)"
companion_run earlier --report-only '--json=C:\reports\earlier.json'
exec {hold_fd}>&-
qtk_wait_until 10000 eval "! kill -0 $hold_pid 2>/dev/null" || fail "the holder did not end"
expect "exit code when the report cannot replace an earlier one" "$COMPANION_STATUS" 3
expect_true "the error names it ($(tr -d '\r' <earlier.err | head -n 1))" \
    grep -qF 'tkexamine: Cannot write the report: C:\reports\earlier.json (error 5' earlier.err
expect "the earlier report" "$(cat "$WINEPREFIX/drive_c/reports/earlier.json")" '{"earlier": true}'
expect "temporary files left in C:\\reports" \
    "$(ls "$WINEPREFIX/drive_c/reports" | grep -c '\.tmp$' || true)" 0
expect_true "the summary still went out" grep -q '^Result: ' earlier.out

# ---- every row but the token group's passes; the same with nobody's user settings to read
# The token group cannot pass on this bench (no smart-card service, and Wine's smart-card
# layer answers 0x80100001), so the exit code follows its rows: 1, a failure outranking the
# undecided ones. 0 and 2 for the other rows alone are the unit tests' (ExitCodeFor).
bench_fresh_prefix all-ok
companion_import "$COMPANION_DATA/registry_all_ok.reg"
# Every site opens in Edge's IE mode too (the registry points at this list).
cp "$COMPANION_DATA/sitelist_all_ok.xml" "$WINEPREFIX/drive_c/sitelist.xml"
# other_counts REPORT: "pass fail undecided" over the rows of every group but the token's.
other_counts() {
    python3 -c 'import json, sys
rows = [r for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"] if r["group"] != "token"]
print(*(sum(r["verdict"] == v for r in rows) for v in ("pass", "fail", "undecided")))' "$1"
}
companion_run all-ok --report-only --json
expect "exit code when every other row passes (the token group fails here)" "$COMPANION_STATUS" 1
companion_validate all-ok.out
expect "its rows but the token group's: pass, fail, undecided" "$(other_counts all-ok.out)" "47 0 0"
expect "rows of other groups the summary lists as not passed" \
    "$(tr -d '\r' <all-ok.err | grep -E '^  (fail|undecided) ' | grep -vc ' token ' || true)" 0
companion_run nobody --report-only --json --user S-1-5-21-9-9-9-9999
expect "exit code with nobody's user settings (the token group fails here)" "$COMPANION_STATUS" 1
companion_validate nobody.out
expect "its rows but the token group's: pass, fail, undecided" "$(other_counts nobody.out)" "17 0 30"
expect "the token group's user row with nobody to examine" \
    "$(companion_row nobody.out token.user.certificates verdict)" undecided

# ---- the same runs with the token group left out: 0 when every row passes, 2 when nothing
# fails but some rows are undecided
# token_rows REPORT: how many rows of the token group the report holds.
token_rows() {
    python3 -c 'import json, sys
print(sum(r["group"] == "token" for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"]))' "$1"
}
companion_run skip-ok --report-only --json --skip=token
expect "exit code when every row passes (--skip=token)" "$COMPANION_STATUS" 0
companion_validate skip-ok.out
expect "token rows with --skip=token" "$(token_rows skip-ok.out)" 0
expect_true "the summary says the group was left out" grep -q '^Left out: token' skip-ok.err
companion_run skip-nobody --report-only --json /skip:TOKEN --user S-1-5-21-9-9-9-9999
expect "exit code when nothing fails and user rows are undecided (/skip:TOKEN)" \
    "$COMPANION_STATUS" 2
companion_validate skip-nobody.out
companion_run skip-bad --report-only --skip=trusted_sites
expect "exit code of --skip=trusted_sites (the window needs its markers)" "$COMPANION_STATUS" 87

# ---- odd characters in names round-trip: the computer's own name
odd=$'\u0e17\u0e14\u0e2a\u0e2d\u0e1a "PC" \\ 07'
python3 - "$odd" >"$BENCH_WORK/odd.reg" <<'PY'
import sys
name = sys.argv[1].replace("\\", "\\\\").replace('"', '\\"')
text = ("Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName]\r\n"
        f'"ComputerName"="{name}"\r\n')
sys.stdout.buffer.write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
companion_import "$BENCH_WORK/odd.reg"
companion_run odd --report-only --json
companion_validate odd.out
expect "an odd computer name" "$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1], encoding="utf-8"))["computer_name"])' odd.out)" "$odd"

finish
