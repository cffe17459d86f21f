#!/usr/bin/env bash
# C:\tmptk\ as someone else may have left it. Open to everyone with a planted clean-up
# script: the companion makes the directory private and replaces the script. Not a
# directory at all: it refuses, says so in one message box, and writes nothing. A file it
# cannot put in place: it says which, and leaves neither temporary files nor a mix of old
# and new files behind.
source "$(dirname "$0")/companion_lib.sh" "$@"

TITLE='QUORIN Token Key Check - examination'

# companion_examine_watched NAME: runs the companion while the probe watches for its
# message boxes and presses OK; the probe's report is NAME.tsv.
companion_examine_watched() {
    bench_probe_bg "$1.tsv" --exe tkexamine.exe watch-error 60000
    qtk_wait_until 30000 grep -q '^#msgbox' "$1.tsv" || bench_fail "the probe did not start"
    qtk_start_program "$COMPANION_EXE"
    bench_wait_probe_bg 75000 || bench_fail "probe: $(grep '^error' "$1.tsv" || true)"
    qtk_wait_program 10000 || bench_fail "the companion did not end after OK"
    cat "$1.tsv"
}

bench_prepare 96
tmptk=$(qtk_tmptk_path '')

# ---- open to everyone, with something planted
companion_show_acl 'C:\tmptk' before.tsv
user_sid=$(bench_field before.tsv user 2)
qtk_wine "$COMPANION_ACL_PROBE" open-to-everyone 'C:\tmptk' >>"$BENCH_WORK/wine.log" 2>&1 ||
    qtk_die "cannot open C:\\tmptk to everyone"
companion_show_acl 'C:\tmptk' loose.tsv
bench_expect "others who may write before (the set-up took)" \
    "$(companion_foreign_writers "$(bench_field loose.tsv sddl 2)" "$user_sid")" "WD "
printf 'echo planted\r\n' >"$tmptk/rundelay.bat"
printf 'ok,planted\r\n' >"$tmptk/www_tesk.txt"

companion_examine
bench_expect "exit code on a directory open to everyone" "$COMPANION_STATUS" 0
companion_show_acl 'C:\tmptk' tight.tsv
bench_expect "others who may write after ($(bench_field tight.tsv sddl 2))" \
    "$(companion_foreign_writers "$(bench_field tight.tsv sddl 2)" "$user_sid")" ""
bench_expect_true "the planted clean-up script is replaced" grep -q 'Left by tkexamine' "$tmptk/rundelay.bat"
bench_expect "the planted marker is replaced" "$(head -c 5 "$tmptk/www_tesk.txt")" "fail,"

# ---- a file where the directory should be
rm -rf "$tmptk"
printf 'not a directory\r\n' >"${tmptk%/}"
companion_examine_watched refused
bench_expect "message boxes when refusing" "$(grep -c '^msgbox' refused.tsv)" 1
bench_expect "its caption" "$(bench_field refused.tsv msgbox 4)" "$TITLE"
text=$(bench_unescape "$(bench_field refused.tsv msgbox 5)")
bench_expect_true "it names C:\\tmptk and why: [${text//$'\r\n'/ | }]" \
    grep -qF 'C:\tmptk' <<<"$text"
bench_expect_true "it gives error 267 and its description" grep -qE '^Error 267: .+' <<<"$text"
bench_expect_true "it says it is not a directory" grep -qF 'not a directory' <<<"$text"
# Wine hands only the low byte of an exit code to the shell; the probe sees all of it.
bench_expect "exit code when refusing" "$(bench_field refused.tsv watch 6)" 267
bench_expect "the file in its place is untouched" "$(cat "${tmptk%/}")" $'not a directory\r'
bench_expect_true "the console got the same story" grep -q 'tkexamine: .*C:\\tmptk.*error 267' \
    "$BENCH_WORK/program.log"

# ---- a marker that cannot be put in place
rm -f "${tmptk%/}"
mkdir -p "$tmptk"
companion_examine
bench_expect "exit code of a clean examination" "$COMPANION_STATUS" 0
# An earlier examination is complete; now a directory blocks one of the markers.
rm -f "$tmptk/www_kessor.txt"
mkdir "$tmptk/www_kessor.txt"
companion_examine_watched blocked
bench_expect "message boxes when a file is blocked" "$(grep -c '^msgbox' blocked.tsv)" 1
text=$(bench_unescape "$(bench_field blocked.tsv msgbox 5)")
bench_expect_true "it names the blocked file: [${text//$'\r\n'/ | }]" \
    grep -qF 'C:\tmptk\www_kessor.txt' <<<"$text"
bench_expect "exit code when a file is blocked" "$(bench_field blocked.tsv watch 6)" 5
left=$(cd "$tmptk" && ls)
bench_expect "what is left after the failure" "$left" "www_kessor.txt"

bench_finish
