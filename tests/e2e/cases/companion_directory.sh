#!/usr/bin/env bash
# C:\tmptk\ as someone else may have left it. Open to everyone with a planted clean-up
# script: the companion makes the directory private and replaces the script. Not a
# directory at all: it refuses, says so on the standard error and in its report (never in
# a message box, which would block an unattended run), exits 3 and writes nothing. A file
# it cannot put in place: the same, naming the file, and neither temporary files nor a mix
# of old and new files are left behind.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

# companion_examine_watched NAME: runs the companion, with its report in C:\NAME.json,
# while the probe watches for message boxes; the probe's report is NAME.tsv, the
# companion's output NAME.out and NAME.err.
companion_examine_watched() {
    bench_probe_bg "$1.tsv" --exe tkexamine.exe watch-error 60000
    qtk_wait_until 30000 grep -q '^#msgbox' "$1.tsv" || fail "the probe did not start"
    companion_run "$1" "--json=C:\\$1.json"
    bench_wait_probe_bg 75000 || fail "probe: $(grep '^error' "$1.tsv" || true)"
    cat "$1.tsv" "$1.err"
    companion_validate "$WINEPREFIX/drive_c/$1.json"
}

bench_prepare 96
tmptk=$(qtk_tmptk_path '')

# ---- open to everyone, with something planted
companion_show_acl 'C:\tmptk' before.tsv
user_sid=$(bench_field before.tsv user 2)
qtk_wine "$BENCH_PROBE" acl-open-to-everyone 'C:\tmptk' >>"$BENCH_WORK/wine.log" 2>&1 ||
    qtk_die "cannot open C:\\tmptk to everyone"
companion_show_acl 'C:\tmptk' loose.tsv
expect "others who may write before (the set-up took)" \
    "$(companion_foreign_writers "$(bench_field loose.tsv sddl 2)" "$user_sid")" "WD "
printf 'echo planted\r\n' >"$tmptk/rundelay.bat"
printf 'ok,planted\r\n' >"$tmptk/www_tesk.txt"

companion_examine
expect "exit code on a directory open to everyone (demo data: every row fails)" "$COMPANION_STATUS" 1
companion_show_acl 'C:\tmptk' tight.tsv
expect "others who may write after ($(bench_field tight.tsv sddl 2))" \
    "$(companion_foreign_writers "$(bench_field tight.tsv sddl 2)" "$user_sid")" ""
expect_true "the planted clean-up script is replaced" grep -q 'Left by tkexamine' "$tmptk/rundelay.bat"
expect "the planted marker is replaced" "$(head -c 5 "$tmptk/www_tesk.txt")" "fail,"

# ---- a file where the directory should be
rm -rf "$tmptk"
printf 'not a directory\r\n' >"${tmptk%/}"
companion_examine_watched refused
expect "message boxes when refusing" "$(grep -c '^msgbox' refused.tsv)" 0
expect "exit code when refusing" "$(bench_field refused.tsv watch 6)" 3
text=$(tr -d '\r' <refused.err)
expect_true "it names C:\\tmptk, error 267 and its description: [$text]" \
    grep -qE '^tkexamine: .*C:\\tmptk \(error 267: .+\)$' <<<"$text"
expect "the report's error" "$(companion_report_field "$WINEPREFIX/drive_c/refused.json" error.code)" 267
expect "the report's rows: examined all the same" \
    "$(python3 -c 'import json, sys; print(sum("marker" in r["details"] for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"]))' \
        "$WINEPREFIX/drive_c/refused.json")" "$(($(companion_written_files | wc -w) - 2))"
expect "the file in its place is untouched" "$(cat "${tmptk%/}")" $'not a directory\r'

# ---- a marker that cannot be put in place
rm -f "${tmptk%/}"
mkdir -p "$tmptk"
companion_examine
expect "exit code of a complete examination" "$COMPANION_STATUS" 1
# An earlier examination is complete; now a directory blocks one of the markers.
rm -f "$tmptk/www_kessor.txt"
mkdir "$tmptk/www_kessor.txt"
companion_examine_watched blocked
expect "message boxes when a file is blocked" "$(grep -c '^msgbox' blocked.tsv)" 0
expect "exit code when a file is blocked" "$(bench_field blocked.tsv watch 6)" 3
expect_true "it names the blocked file: [$(tr -d '\r' <blocked.err)]" \
    grep -qF 'C:\tmptk\www_kessor.txt (error 5: ' blocked.err
expect "the report's error" "$(companion_report_field "$WINEPREFIX/drive_c/blocked.json" error.subject)" \
    '"C:\\tmptk\\www_kessor.txt"'
expect "markers_written in the report" \
    "$(companion_report_field "$WINEPREFIX/drive_c/blocked.json" markers_written)" false
# The earlier set stays as it was, around the directory in the way; nothing of the new
# one and no temporary file is left.
left=$(cd "$tmptk" && ls | LC_ALL=C sort | tr '\n' ' ')
expect "what is left after the failure" "$left" "$(printf '%s\n' $(companion_written_files) | LC_ALL=C sort | tr '\n' ' ')"
expect_true "the directory in the way is left alone" test -d "$tmptk/www_kessor.txt"

# ---- C:\TMPTK in capitals is the same directory to Windows, not a link elsewhere
rm -rf "$tmptk"
upper="$WINEPREFIX/drive_c/TMPTK"
mkdir "$upper"
companion_run capitals
expect "exit code with C:\\TMPTK (demo data: every row fails): [$(tr -d '\r' <capitals.err | head -c 300)]" \
    "$COMPANION_STATUS" 1
expect_true "the files are written into it" test -f "$upper/outwinversion.txt"
rm -rf "$upper"

finish
