#!/usr/bin/env bash
# The 64-bit installer under Wine, as a deployment system drives it: silent install over an
# older version (upgraded in place), the installed companion answering with its version,
# the Start-menu shortcut, a downgrade refused, a rebuild of the same version replacing
# the installed one rather than settling beside it, and a silent uninstall that leaves
# nothing of the kit behind.
#   install.sh (the bench's arguments) --release DIR --version X.Y.Z
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../e2e/lib/bench.sh" "$@"
bench_require release version
release=$(realpath "$(bench_option release)")
version=$(bench_option version)
old_version=0.9.0

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
install_dir_win='C:\Program Files\QUORIN Token Key Check'
kit_key='HKLM\SOFTWARE\QUORIN\Token Key Check'

# ---- what is installed: the release's zip, an older kit built here from the same source
python3 -c 'import zipfile, sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$release/kit-$version.zip" "$BENCH_WORK/zip"
kit=$BENCH_WORK/zip/kit-$version
new_msi=$release/kit-$version-x64.msi

# build_msi OUT VERSION RUNCHECK: an unsigned x64 installer of the release's programs.
build_msi() {
    local out=$1 ver=$2 run_check=$3 dir major minor patch
    dir=$(mktemp -d "$BENCH_WORK/msi.XXXXXX")
    IFS=. read -r major minor patch <<<"$ver"
    cp "$kit/x64/tkcheck.exe" "$kit/x64/tkexamine.exe" "$kit/x64/tkfleet.exe" "$dir/"
    cp "$run_check" "$dir/run-check.cmd"
    python3 "$BENCH_ROOT/tools/make_icon.py" "$dir/tkcheck.ico"
    (cd "$dir" && wixl -a x64 -D Arch=x64 -D Version="$ver" \
        -D UpgradeBelow="$major.$minor.$((patch + 1))" -o "$out" \
        "$BENCH_ROOT/packaging/kit.wxs") >>"$BENCH_WORK/wixl.log" 2>&1 ||
        qtk_die "wixl failed: $(cat "$BENCH_WORK/wixl.log")"
}
# The older kit's run-check.cmd differs, so that its replacement shows in the file itself.
{ cat "$kit/run-check.cmd"; printf 'rem kit %s\r\n' "$old_version"; } >"$BENCH_WORK/old-run-check.cmd"
build_msi "$BENCH_WORK/old.msi" "$old_version" "$BENCH_WORK/old-run-check.cmd"
build_msi "$BENCH_WORK/rebuild.msi" "$version" "$kit/run-check.cmd"

product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
old_code=$(product_code "$BENCH_WORK/old.msi")
new_code=$(product_code "$new_msi")
rebuild_code=$(product_code "$BENCH_WORK/rebuild.msi")

bench_prepare 96
installed=$WINEPREFIX/drive_c/Program\ Files/QUORIN\ Token\ Key\ Check
before=$BENCH_WORK/files-before.txt
# Everything outside Wine's own folders, to compare after the uninstall.
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path ./tmptk -prune -o \
        -path './users/*/Temp' -prune -o -path './users/*/AppData/Local/Temp' -prune -o \
        -type f -print | sort)
}
snapshot >"$before"

# msiexec_run LOG ARG...: msiexec, silent, logging to LOG; MSI_STATUS is its exit status.
msiexec_run() {
    local log=$1 pid
    shift
    qtk_wine --version >/dev/null
    wine msiexec "$@" /qn /l*v "$(qtk_windows_path "$BENCH_WORK/$log")" \
        >>"$BENCH_WORK/msiexec.out" 2>&1 </dev/null &
    pid=$!
    qtk_on_exit qtk_kill_pid "$pid"
    MSI_STATUS=timeout
    if qtk_wait_until 120000 eval "! kill -0 $pid 2>/dev/null"; then
        MSI_STATUS=0
        wait "$pid" || MSI_STATUS=$?
    fi
}

# The products Windows lists under Programs and Features, as "code version" lines.
listed_products() {
    local out
    # Run inside $(...), so an unreadable key is told in the answer every check compares.
    out=$(qtk_reg_query "$uninstall_key" /s) || { echo "unreadable: $uninstall_key"; return; }
    printf '%s\n' "$out" | awk '
        /^HKEY_/ { key = $0; sub(/.*\\/, "", key) }
        $1 == "DisplayName" && /QUORIN Token Key Check/ { name[key] = 1 }
        $1 == "DisplayVersion" { ver[key] = $3 }
        END { for (k in name) print k, ver[k] }' | sort
}

same_file() { cmp -s "$1" "$2"; }

# ---- an older kit, installed silently
msiexec_run install-old.log /i "$(qtk_windows_path "$BENCH_WORK/old.msi")"
expect "older kit: msiexec exit status" "$MSI_STATUS" 0
qtk_wait_until 30000 test -f "$installed/run-check.cmd" || fail "older kit: nothing installed"
expect "older kit: listed products" "$(listed_products)" "$old_code $old_version"

# ---- this release over it: upgraded in place
msiexec_run install-new.log /i "$(qtk_windows_path "$new_msi")"
expect "upgrade: msiexec exit status" "$MSI_STATUS" 0
qtk_wait_until 30000 same_file "$installed/run-check.cmd" "$kit/run-check.cmd" ||
    fail "upgrade: run-check.cmd is not this release's"
expect "upgrade: listed products (the older one gone)" "$(listed_products)" "$new_code $version"
for program in tkcheck.exe tkexamine.exe tkfleet.exe; do
    expect_true "upgrade: $program is this release's" same_file "$installed/$program" "$kit/x64/$program"
done
expect "upgrade: files in the install folder" "$(ls "$installed" | tr '\n' ' ')" \
    "run-check.cmd tkcheck.exe tkexamine.exe tkfleet.exe "
# Where management scripts find the programs: recorded in the 64-bit view.
expect "upgrade: the install folder recorded for scripts" \
    "$(qtk_reg_get "$kit_key" InstallDir || true)" "$install_dir_win\\"
expect "upgrade: nothing recorded in the 32-bit view" \
    "$(qtk_reg_get 'HKLM\SOFTWARE\WOW6432Node\QUORIN\Token Key Check' InstallDir || echo none)" none
expect_true "the 64-bit kit is not under Program Files (x86)" \
    test ! -e "$WINEPREFIX/drive_c/Program Files (x86)/QUORIN Token Key Check"

# The shortcut: in a Start menu's Programs folder (the all-users one on Windows; Wine may
# choose the user's), starting the installed run-check.cmd.
mapfile -t shortcuts < <(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/QUORIN Token Key Check.lnk')
expect "Start-menu shortcuts" "${#shortcuts[@]}" 1
if ((${#shortcuts[@]} == 1)); then
    expect_true "the shortcut starts the installed run-check.cmd" python3 - "${shortcuts[0]}" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
target = "Program Files\\QUORIN Token Key Check\\run-check.cmd"
sys.exit(0 if target.encode("utf-16le") in data or target.encode("ascii") in data else 1)
PY
fi

# The installed companion tells which version is deployed.
rm -rf "$(qtk_tmptk_path '')"
rc=0
timeout 60 wine "$install_dir_win\\tkexamine.exe" --version >"$BENCH_WORK/version.out" \
    2>>"$BENCH_WORK/version.err" </dev/null || rc=$?
expect "installed tkexamine --version: exit status" "$rc" 0
expect_true "installed tkexamine --version prints $version ($(head -c 200 "$BENCH_WORK/version.out"))" \
    grep -qw -- "${version//./\\.}" "$BENCH_WORK/version.out"
expect_true "tkexamine --version examines nothing" test ! -e "$(qtk_tmptk_path '')"

# ---- an older kit over this one: refused, this one stays
msiexec_run downgrade.log /i "$(qtk_windows_path "$BENCH_WORK/old.msi")"
expect_true "downgrade: msiexec fails (status $MSI_STATUS)" test "$MSI_STATUS" != 0
expect_true "downgrade: refused because the newer kit was found" \
    grep -qF "QTK_NEWER_FOUND = $new_code" "$BENCH_WORK/downgrade.log"
expect "downgrade: listed products" "$(listed_products)" "$new_code $version"
expect_true "downgrade: run-check.cmd still this release's" \
    same_file "$installed/run-check.cmd" "$kit/run-check.cmd"

# ---- a rebuild of this version (new ProductCode): replaces, never sits beside
msiexec_run rebuild.log /i "$(qtk_windows_path "$BENCH_WORK/rebuild.msi")"
expect "rebuild: msiexec exit status" "$MSI_STATUS" 0
expect "rebuild: listed products" "$(listed_products)" "$rebuild_code $version"

# ---- silent uninstall: nothing of the kit left
msiexec_run uninstall.log /x "$rebuild_code"
expect "uninstall: msiexec exit status" "$MSI_STATUS" 0
qtk_wait_until 30000 test ! -e "$installed" || fail "uninstall: the install folder is still there"
expect "uninstall: listed products" "$(listed_products)" ""
expect "uninstall: the recorded install folder" "$(qtk_reg_get "$kit_key" InstallDir || echo gone)" gone
snapshot >"$BENCH_WORK/files-after.txt"
expect "uninstall: files added since before the first install" \
    "$(comm -13 "$before" "$BENCH_WORK/files-after.txt" | tr '\n' ' ')" ""
finish
