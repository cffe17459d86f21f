#!/usr/bin/env bash
# The fleet's detection, as a management system runs it: the kit installed by its 64-bit
# MSI (built here from packaging/kit.wxs and this build's programs), tkexamine found where
# the installer recorded it, and run with --detect for the signed-in user's settings
# (--user SID: SYSTEM reads the console user's hive under HKEY_USERS the same way; Wine
# cannot run us as SYSTEM). A desk set up right is "no issue" and 0; one trusted site
# missing is "issue" naming it, and 1; a desk where only undecided rows remain is no issue
# unless strict; a run that cannot complete is an issue. Each time: one line, nothing on
# the standard error, C:\tmptk untouched. The token group is left out: Wine's smart-card
# layer cannot pass it.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

USER_SID=S-1-5-21-111-222-333-1001
ABSENT_SID=S-1-5-21-9-9-9-9999
PELUND_USER='trusted_sites.user.https:*.pelund.example'
kit_key='HKLM\SOFTWARE\QUORIN\Token Key Check'

# ---- the installer, from the kit's own description and this build's programs
msi_dir=$BENCH_WORK/msi
mkdir -p "$msi_dir"
cp "$COMPANION_KIT/tkcheck.exe" "$COMPANION_KIT/tkexamine.exe" "$COMPANION_KIT/tkfleet.exe" \
    "$COMPANION_KIT/run-check.cmd" "$msi_dir/"
python3 "$BENCH_ROOT/tools/make_icon.py" "$msi_dir/tkcheck.ico"
(cd "$msi_dir" && wixl -a x64 -D Arch=x64 -D Version="$COMPANION_VERSION" -D UpgradeBelow=255.255.65534 \
    -o kit.msi "$BENCH_ROOT/packaging/kit.wxs") >"$BENCH_WORK/wixl.log" 2>&1 ||
    qtk_die "wixl failed: $(cat "$BENCH_WORK/wixl.log")"

bench_prepare 96
# The settings the kit asks for, in the signed-in user's own hive and the machine's.
sed "s/HKEY_CURRENT_USER/HKEY_USERS\\\\$USER_SID/" "$COMPANION_DATA/registry_all_ok.reg" \
    >"$BENCH_WORK/user_all_ok.reg"
companion_import "$BENCH_WORK/user_all_ok.reg"
cp "$COMPANION_DATA/sitelist_all_ok.xml" "$WINEPREFIX/drive_c/sitelist.xml"
rm -rf "$(qtk_tmptk_path '')"

qtk_wine --version >/dev/null
wine msiexec /i "$(qtk_windows_path "$msi_dir/kit.msi")" /qn \
    /l*v "$(qtk_windows_path "$BENCH_WORK/install.log")" >>"$BENCH_WORK/msiexec.out" 2>&1 </dev/null &
msi_pid=$!
qtk_on_exit qtk_kill_pid "$msi_pid"
qtk_wait_until 120000 eval "! kill -0 $msi_pid 2>/dev/null" || qtk_die "msiexec did not end"
msi_status=0
wait "$msi_pid" || msi_status=$?
expect "msiexec exit status" "$msi_status" 0

# ---- where the recipes find the program: the folder the installer recorded
install_dir=$(qtk_reg_get "$kit_key" InstallDir || true)
expect "the install folder the installer recorded" "$install_dir" "C:\\Program Files\\QUORIN Token Key Check\\"
exe="${install_dir}tkexamine.exe"
qtk_wait_until 30000 test -f "$WINEPREFIX/drive_c/Program Files/QUORIN Token Key Check/tkexamine.exe" ||
    qtk_die "tkexamine.exe was not installed"

# detect NAME ARG...: the installed tkexamine --detect ARG...; the line in NAME.line, the exit
# code in DETECT_STATUS, and the checks every detection run must pass.
detect() {
    local name=$1
    shift
    DETECT_STATUS=0
    timeout "$COMPANION_HANG_S" wine "$exe" "$@" >"$name.out" 2>"$name.err" </dev/null || DETECT_STATUS=$?
    tr -d '\r' <"$name.out" >"$name.line"
    DETECT_LINE=$(cat "$name.line")
    expect "$name: lines on the standard output" "$(tr -d '\r' <"$name.out" | wc -l)" 1
    expect "$name: the standard error" "$(cat "$name.err")" ""
    expect_true "$name: the line fits (${#DETECT_LINE} characters)" test "${#DETECT_LINE}" -le 2048
    expect_true "$name: C:\\tmptk untouched" test ! -e "$(qtk_tmptk_path '')"
    echo "$name: [$DETECT_STATUS] $DETECT_LINE"
}

# ---- set up right: no issue
detect ok --detect --skip=token --user "$USER_SID"
expect "a desk set up right: exit code" "$DETECT_STATUS" 0
expect_true "a desk set up right: no issue, every row passed, whose settings ($DETECT_LINE)" \
    grep -qE "^no issue: 47 passed, 0 failed, 0 undecided, user ([^;]* \\()?$USER_SID\\)?, left out: token$" ok.line

# ---- one trusted site missing for the user: an issue that names it
qtk_wine reg delete "HKU\\$USER_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\pelund.example" /f \
    >>"$BENCH_WORK/wine.log" 2>&1 || qtk_die "cannot delete the pelund.example site"
detect missing --detect --skip=token --user "$USER_SID"
expect "one site missing: exit code" "$DETECT_STATUS" 1
expect_true "one site missing: an issue naming it ($DETECT_LINE)" \
    grep -qF "; failed: $PELUND_USER" missing.line
expect_true "one site missing: starts with issue" grep -q '^issue: 46 passed, 1 failed, 0 undecided' missing.line

# ---- nothing failed, some rows undecided: no issue by default, an issue when strict
detect absent --detect --skip=token --user "$ABSENT_SID"
expect "only undecided rows: exit code" "$DETECT_STATUS" 0
expect_true "only undecided rows: no issue ($DETECT_LINE)" \
    grep -qE '^no issue: [0-9]+ passed, 0 failed, [1-9][0-9]* undecided, user none, left out: token; undecided \(' absent.line
expect_true "only undecided rows: the line says why" \
    grep -qF "(the settings of $ABSENT_SID are not loaded (the user is not logged on)): " absent.line
detect strict --detect=strict --skip=token --user "$ABSENT_SID"
expect "only undecided rows, strict: exit code" "$DETECT_STATUS" 1
expect_true "only undecided rows, strict: an issue" grep -q '^issue: [0-9]* passed, 0 failed' strict.line

# ---- a run that cannot complete, and a command line not understood: an issue, never 3 or 87
detect unwritable --detect --skip=token --user "$USER_SID" '--json=C:\no such folder\r.json'
expect "report not written: exit code" "$DETECT_STATUS" 1
expect_true "report not written: could not complete, and why ($DETECT_LINE)" \
    grep -qF 'issue: could not complete: Cannot write the report: C:\no such folder\r.json (error 3' unwritable.line
detect bad --detect --frobnicate
expect "bad command line: exit code" "$DETECT_STATUS" 1
expect_true "bad command line: could not complete ($DETECT_LINE)" \
    grep -qF 'issue: could not complete: the command line is not understood: unknown option --frobnicate' bad.line

# ---- uninstalled: the record of the folder goes with the kit
qtk_wine --version >/dev/null
product=$(msiinfo export "$msi_dir/kit.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
wine msiexec /x "$product" /qn >>"$BENCH_WORK/msiexec.out" 2>&1 </dev/null &
msi_pid=$!
qtk_on_exit qtk_kill_pid "$msi_pid"
qtk_wait_until 120000 eval "! kill -0 $msi_pid 2>/dev/null" || qtk_die "msiexec /x did not end"
expect "after the uninstall, the recorded folder" "$(qtk_reg_get "$kit_key" InstallDir || echo gone)" gone
finish
