#!/usr/bin/env bash
# tkexamine --fix and --undo on a prefix whose user rows fail: exactly the planned values
# change (registry exports before and after), the rows they serve pass and Wine's own zone
# manager puts each fixed site in the Trusted sites zone, a row a policy holds is left with
# its reason, a second fix changes nothing, the undo file puts HKCU back byte for byte, a
# fix killed part-way is undone to the start, an undo file that is not ours or whose values
# changed since is refused with nothing changed, and another user's hive (as under SYSTEM)
# is fixed in place with the undo file in that user's own profile.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

SECOND_SID=S-1-5-21-111-222-333-1001
HELD=zone_scripting.user.1201

bench_prepare 96
companion_import "$COMPANION_DATA/registry_a.reg"
# A policy of the user's own sets one zone setting: the fix must leave that row alone.
cat >policy.reg <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Policies\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2]
"1201"=dword:00000003
EOF
companion_import policy.reg
mkdir -p "$WINEPREFIX/drive_c/reports"

# export NAME KEY: the key's .reg export, as Wine's reg writes it, in NAME.reg.
export_key() {
    rm -f "$BENCH_WORK/$1.reg"
    qtk_wine reg export "$2" "$(qtk_windows_path "$BENCH_WORK/$1.reg")" /y >>"$BENCH_WORK/wine.log" 2>&1 ||
        qtk_die "cannot export $2"
}
# fix_run NAME ARG...: companion_run, its output's CR LF as LF for grep.
fix_run() {
    companion_run "$@"
    sed -i 's/\r$//' "$1.out" "$1.err"
}
same_file() { cmp -s "$BENCH_WORK/$1.reg" "$BENCH_WORK/$2.reg" && echo same || echo different; }
# same_machine A B: same_file for two HKLM exports, less the one key Wine's service manager
# rewrites by itself: Control\ServiceCurrent counts the services it has started, and any
# process may start one on demand. A difference anywhere else is printed.
same_machine() {
    local a b
    a=$(machine_lines "$1") b=$(machine_lines "$2")
    [[ $a == "$b" ]] && { echo same; return; }
    diff <(printf '%s\n' "$a") <(printf '%s\n' "$b") | head -n 20 >&2
    echo different
}
machine_lines() {
    iconv -f UTF-16LE -t UTF-8 "$BENCH_WORK/$1.reg" | tr -d '\r' |
        awk '/^\[/ { skip = ($0 == "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent]") }
             !skip'
}
undo_path() { sed -n 's/^Undo file written: //p' "$1.out" | tr -d '\r'; }
unix_path() { qtk_wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }

# What changed between two exports that the undo file does not name: nothing, when the
# fix kept to its plan.
unplanned_changes() {
    python3 - "$BENCH_WORK/$1.reg" "$BENCH_WORK/$2.reg" "$3" "$4" <<'EOF'
import json, re, sys
def load(path):
    text = open(path, 'rb').read().decode('utf-16')
    keys, key = {}, None
    for line in text.replace('\\\r\n', '').splitlines():
        if line.startswith('['):
            key = line[1:-1].lower(); keys.setdefault(key, {})
        elif key and '=' in line and not line.startswith(';'):
            name, data = re.match(r'^("(?:[^"\\]|\\.)*"|@)=(.*)$', line).groups()
            keys[key][name.lower()] = data
    return keys
before, after = load(sys.argv[1]), load(sys.argv[2])
undo = json.load(open(sys.argv[3], encoding='utf-8'))
root = sys.argv[4].lower()
planned = {(root + '\\' + v['key'].lower(), '"%s"' % v['name'].lower()) for v in undo['values']}
created = {root + '\\' + k.lower() for k in undo['created_keys']}
for key in sorted(set(before) | set(after)):
    if (key in before) != (key in after) and key not in created:
        print('key', key)
    for name in sorted(set(before.get(key, {})) | set(after.get(key, {}))):
        if before.get(key, {}).get(name) != after.get(key, {}).get(name) and (key, name) not in planned:
            print('value', key, name)
EOF
}

# ---- the start: failing user rows, one of them held by the user's policy
fix_run start --report-only '--json=C:\reports\start.json'
expect "exit code of the start" "$COMPANION_STATUS" 1
failing_user=$(python3 -c 'import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
print(" ".join(c["id"] for c in r["checks"] if c["scope"] == "user" and c["verdict"] == "fail"
               and c["group"] in ("trusted_sites", "zone_scripting", "popup_allowed")))' \
    "$WINEPREFIX/drive_c/reports/start.json")
expect_true "failing user rows to fix ($failing_user)" test -n "$failing_user"
expect "the held row fails at the start" \
    "$(companion_row "$WINEPREFIX/drive_c/reports/start.json" $HELD verdict)" fail

# ---- --fix, after --what-if said what it would change
export_key hkcu-start HKCU
export_key hklm-start HKLM
fix_run what-if --what-if
fix_run fix --fix '--json=C:\reports\fix.json'
expect "what --fix changed is what --what-if said" \
    "$(sed -n '/^Changed:$/,/^[A-Z]/p' fix.out | grep '^  HKCU')" "$(grep '^  HKCU' what-if.out)"
expect "exit code of --fix (machine rows still fail)" "$COMPANION_STATUS" 1
undo=$(undo_path fix)
expect_true "--fix names its undo file ($undo)" test -n "$undo"
undo_unix=$(unix_path "$undo")
expect_true "the undo file is in the user's local application data" \
    grep -qiE '^C:\\users\\[^\\]+\\(AppData\\Local|Local Settings\\Application Data)\\QUORIN\\Token Key Check\\undo\\fix-[0-9]{8}T[0-9]{6}Z-[0-9a-f]{8}\.json$' <<<"$undo"
expect_true "the undo file is there" test -s "$undo_unix"
cp "$undo_unix" undo.json
report="$WINEPREFIX/drive_c/reports/fix.json"
companion_validate "$report"
companion_check_report_markers "$report"
expect "markers rewritten after the fix" "$(companion_report_field "$report" markers_written)" true
planned=$(python3 -c 'import json, sys
print(" ".join(sorted({v["row"] for v in json.load(open(sys.argv[1], encoding="utf-8"))["values"]})))' undo.json)
for id in $failing_user; do
    if [[ $id == "$HELD" ]]; then
        expect "the held row after the fix" "$(companion_row "$report" "$id" verdict)" fail
        expect_true "the held row is not in the undo file" eval "[[ ' $planned ' != *' $id '* ]]"
        continue
    fi
    # Rows the administrator's pop-up list holds stay as they were.
    if grep -qF "  $id: held by" fix.out; then
        expect "$id, held, after the fix" "$(companion_row "$report" "$id" verdict)" fail
        continue
    fi
    expect "$id after the fix" "$(companion_row "$report" "$id" verdict)" pass
    expect_true "$id is listed as fixed" grep -qxF "  $id" fix.out
    if [[ $id == trusted_sites.* ]]; then
        expect "Wine's zone manager on $id" "$(companion_row "$report" "$id" details.system_zone)" \
            '"2 (Trusted sites)"'
    fi
done
expect_true "the held row is named with its policy" \
    grep -qF "  $HELD: held by a policy that sets URL action 1201" fix.out
expect_true "the machine rows are left alone, said so" \
    grep -qF "Left alone, the machine's settings (an administrator must change them):" fix.out
expect_true "each change is listed as key value: old -> new [row]" \
    grep -qE '^  HKCU\\.*\\ZoneMap\\Domains\\.* value https?: (absent|REG_DWORD [0-9]+) -> REG_DWORD 2 \[trusted_sites\.user\.' fix.out
expect_true "one closing line for a log" grep -qE '^Fix: [0-9]+ values changed, [0-9]+ checks fixed, [0-9]+ held by a policy, [0-9]+ machine checks left alone, [0-9]+ still failing; undo file: C:.*\.json$' fix.out
export_key hkcu-fixed HKCU
export_key hklm-fixed HKLM
expect "HKLM after the fix" "$(same_machine hklm-start hklm-fixed)" same
expect "HKCU changes outside the undo file's values" \
    "$(unplanned_changes hkcu-start hkcu-fixed undo.json hkey_current_user)" ""

# ---- a second --fix finds nothing to do
fix_run again --fix
expect "exit code of a second --fix" "$COMPANION_STATUS" 1
expect_true "a second --fix says nothing changed" grep -q '^Nothing changed' again.out
expect "a second --fix's undo file" "$(undo_path again)" ""
export_key hkcu-again HKCU
expect "HKCU after a second --fix" "$(same_file hkcu-fixed hkcu-again)" same

# ---- undo files that are refused, with nothing changed
cp undo.json "$WINEPREFIX/drive_c/reports/edited.json"
sed -i 's/"data": "02000000"/"data": "03000000"/' "$WINEPREFIX/drive_c/reports/edited.json"
printf '{"format": "something else"}\n' >"$WINEPREFIX/drive_c/reports/foreign.json"
for refused in edited:'check sum' foreign:'not an undo file of tkexamine'; do
    fix_run "refused-${refused%%:*}" --undo "C:\\reports\\${refused%%:*}.json"
    expect "exit code for a refused ${refused%%:*} file" "$COMPANION_STATUS" 4
    expect_true "it says why ($(head -n 1 "refused-${refused%%:*}.err" | tr -d '\r'))" \
        grep -qF "${refused#*:}" "refused-${refused%%:*}.err"
done
# A value the user changed since: named, and kept, unless forced.
qtk_wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2' \
    /v 1402 /t REG_DWORD /d 3 /f >>"$BENCH_WORK/wine.log" 2>&1
export_key hkcu-changed HKCU
fix_run changed --undo "$undo"
expect "exit code when a value changed since" "$COMPANION_STATUS" 4
expect_true "it names the value" grep -qF 'Internet Settings\Zones\2 value 1402' changed.err
export_key hkcu-refused HKCU
expect "HKCU after refused undo files" "$(same_file hkcu-changed hkcu-refused)" same

# ---- --undo --force puts back the start byte for byte
fix_run undo --undo "$undo" --force
expect "exit code of --undo (the examination's)" "$COMPANION_STATUS" 1
expect_true "--undo says how many values went back" grep -qE '^Undo: [0-9]+ values put back' undo.out
export_key hkcu-undone HKCU
expect "HKCU after --undo" "$(same_file hkcu-start hkcu-undone)" same
fix_run undone --report-only '--json=C:\reports\undone.json'
expect "rows after --undo as at the start" \
    "$(python3 -c 'import json, sys
a, b = (json.load(open(p, encoding="utf-8"))["checks"] for p in sys.argv[1:])
print([(c["id"], c["verdict"]) for c in a] == [(c["id"], c["verdict"]) for c in b])' \
        "$WINEPREFIX/drive_c/reports/start.json" "$WINEPREFIX/drive_c/reports/undone.json")" True

# ---- a fix killed after its third value: its undo file brings back the start
killed=0
TKEXAMINE_TEST_FAULT=kill-after-value:3 timeout "$COMPANION_HANG_S" wine "$COMPANION_FAULTS_EXE" --fix \
    >killed.out 2>killed.err </dev/null || killed=$?
sed -i 's/\r$//' killed.out
expect "exit status of the killed fix" "$killed" 99
killed_undo=$(undo_path killed)
expect_true "the killed fix had written its undo file ($killed_undo)" test -s "$(unix_path "$killed_undo")"
export_key hkcu-killed HKCU
expect "HKCU part-way" "$(same_file hkcu-start hkcu-killed)" different
fix_run killed-undo --undo "$killed_undo"
expect "exit code of the undo of a killed fix" "$COMPANION_STATUS" 1
export_key hkcu-killed-undone HKCU
expect "HKCU after undoing the killed fix" "$(same_file hkcu-start hkcu-killed-undone)" same

# ---- another user's hive, as a management system's SYSTEM run fixes the console user's
companion_import "$COMPANION_DATA/registry_user_1001.reg"
qtk_wine reg add "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$SECOND_SID" \
    /v ProfileImagePath /t REG_EXPAND_SZ /d 'C:\users\second' /f >>"$BENCH_WORK/wine.log" 2>&1
qtk_wine reg add "HKU\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders" \
    /v 'Local AppData' /t REG_EXPAND_SZ /d '%USERPROFILE%\AppData\Local' /f >>"$BENCH_WORK/wine.log" 2>&1
mkdir -p "$WINEPREFIX/drive_c/users/second/AppData/Local"
export_key hkcu-before-second HKCU
export_key second-start "HKU\\$SECOND_SID"
fix_run second --fix --user "$SECOND_SID" '--json=C:\reports\second.json'
expect "exit code of --fix for the second user" "$COMPANION_STATUS" 1
second_undo=$(undo_path second)
expect_true "the undo file is in the second user's profile ($second_undo)" \
    grep -qiF 'C:\users\second\AppData\Local\QUORIN\Token Key Check\undo\fix-' <<<"$second_undo"
expect "tesk for the second user after the fix" \
    "$(companion_row "$WINEPREFIX/drive_c/reports/second.json" trusted_sites.user.https:tesk.qrn.example verdict)" pass
expect_true "the changes are named in that user's hive" \
    grep -qF "  HKU\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\qrn.example\\tesk value https: REG_DWORD 3 -> REG_DWORD 2" second.out
export_key hkcu-after-second HKCU
expect "this user's HKCU after fixing the second user" "$(same_file hkcu-before-second hkcu-after-second)" same
fix_run second-undo --undo "$second_undo" --user "$SECOND_SID"
export_key second-undone "HKU\\$SECOND_SID"
expect "the second user's hive after --undo" "$(same_file second-start second-undone)" same
fix_run second-wrong --undo "$second_undo"
expect "exit code of another user's undo file" "$COMPANION_STATUS" 4
expect_true "it names whose file it is" grep -qF "made for the user $SECOND_SID" second-wrong.err

# ---- nobody to fix for: nothing changed, said so
fix_run nobody --fix --user S-1-5-21-9-9-9-9999
expect "exit code with nobody logged on (machine rows fail)" "$COMPANION_STATUS" 1
expect_true "it says nothing changed and why" grep -qF 'Fix: nothing changed: the settings of S-1-5-21-9-9-9-9999 are not loaded' nobody.out
export_key hkcu-nobody HKCU
expect "HKCU with nobody to fix for" "$(same_file hkcu-before-second hkcu-nobody)" same

finish
