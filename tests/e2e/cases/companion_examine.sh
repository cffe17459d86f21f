#!/usr/bin/env bash
# The whole kit on a known configuration: the companion examines the prefix's registry and
# writes every marker, the diagnostic paints exactly what that configuration means, and
# closing it runs the companion's clean-up script, which removes every file again.
#
# Twice: first on user and machine lists of their own (registry_a.reg), then
# with policies on top and two keys the companion may not read (registry_b.reg).
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

bench_prepare 96
# The companion makes the directory itself.
rm -rf "$(qtk_tmptk_path '')"
companion_import "$COMPANION_DATA/registry_a.reg"

# ---- first examination
companion_examine '--json=C:\first.json'
expect "exit code of the first examination (rows fail)" "$COMPANION_STATUS" 1
companion_check_markers "$COMPANION_DATA/expected_a.tsv"
companion_validate "$WINEPREFIX/drive_c/first.json"
companion_check_report_markers "$WINEPREFIX/drive_c/first.json"
companion_check_version_file
expect_true "the clean-up script is left beside them" test -s "$(qtk_tmptk_path rundelay.bat)"
expect "files other than its own in C:\\tmptk" \
    "$(comm -13 <(companion_written_files | tr ' ' '\n' | sort) <(ls "$(qtk_tmptk_path '')" | sort) | tr '\n' ' ')" ""

companion_show_acl 'C:\tmptk' acl.tsv
user_sid=$(bench_field acl.tsv user 2)
expect_true "the access list was read back (user ${user_sid:-?})" test -n "$user_sid"
expect "others who may write to the new C:\\tmptk ($(bench_field acl.tsv sddl 2))" \
    "$(companion_foreign_writers "$(bench_field acl.tsv sddl 2)" "$user_sid")" ""

# Files made in it inherit that list.
companion_check_marker_list www_tesk.txt "$(bench_field acl.tsv sddl 2)" "$user_sid"
companion_check_marker_list rundelay.bat "$(bench_field acl.tsv sddl 2)" "$user_sid"

companion_check_board "$COMPANION_DATA/expected_a.tsv" first
# The diagnostic started the clean-up script as it closed.
qtk_wait_until 20000 companion_none_left ||
    fail "files left after the clean-up: $(ls "$(qtk_tmptk_path '')" | tr '\n' ' ')"
expect_true "C:\\tmptk itself stays" test -d "$(qtk_tmptk_path '')"

# ---- second examination
companion_import "$COMPANION_DATA/registry_b.reg"
companion_lock_key HKLM 'Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example\sandrel'
companion_lock_key HKCU 'Software\Microsoft\Windows\CurrentVersion\Uninstall'
companion_examine '--json=C:\second.json'
expect "exit code of the second examination (rows fail)" "$COMPANION_STATUS" 1
companion_check_markers "$COMPANION_DATA/expected_b.tsv"
companion_validate "$WINEPREFIX/drive_c/second.json"
companion_check_report_markers "$WINEPREFIX/drive_c/second.json"
expect_true "a locked key is named in its marker" \
    grep -q '^cannot look,access denied (error 5) reading HKLM\\.*\\qrn.example\\sandrel' \
    "$(qtk_tmptk_path mwww_sandrel.txt)"
companion_check_board "$COMPANION_DATA/expected_b.tsv" second

finish
