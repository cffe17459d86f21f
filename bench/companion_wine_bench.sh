#!/usr/bin/env bash
# The companion under Wine on big registries: uninstall keys by the ten thousand, and
# policy site lists plus pop-up allow lists by the ten thousand, imported into a private
# copy of the bench's template prefix. Prints, for each size, the companion's own time and
# the time of one `reg query` pass over the same keys in the same prefix (the floor).
#
#   bench/companion_wine_bench.sh BUILD_DIR [TKEXAMINE...]
#
# BUILD_DIR is a windows-x64 build whose e2e template exists (ctest -R e2e.template);
# more than one tkexamine may be given to compare builds.
set -euo pipefail
build=$(realpath "$1")
shift
exes=("$@")
((${#exes[@]})) || exes=("$build/companion/win32/tkexamine.exe")
work="$build/tests/e2e/work/companion_wine_bench"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
cp -a "$build/tests/e2e/wine-template" "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT

ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

uninstall_reg() {  # N FILE
    {
        printf 'REGEDIT4\r\n\r\n'
        for ((i = 0; i < $1; i++)); do
            printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{%d-product}]\r\n"DisplayName"="Some Product %d"\r\n\r\n' "$i" "$i"
        done
    } >"$2"
}

lists_reg() {  # N FILE: N policy entries per scope and N pop-up entries per list
    local zm='Software\Policies\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMapKey'
    local hive key
    {
        printf 'REGEDIT4\r\n\r\n'
        for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
            printf '[%s\\%s]\r\n' "$hive" "$zm"
            for ((i = 0; i < $1; i++)); do printf '"https://host%d.example.org"="2"\r\n' "$i"; done
            printf '\r\n'
        done
        for key in 'HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\New Windows\Allow' \
            'HKEY_CURRENT_USER\Software\Policies\Microsoft\Internet Explorer\New Windows\Allow' \
            'HKEY_LOCAL_MACHINE\Software\Policies\Microsoft\Internet Explorer\New Windows\Allow'; do
            printf '[%s]\r\n' "$key"
            for ((i = 0; i < $1; i++)); do printf '"*.site%d.example.net"=hex:\r\n' "$i"; done
            printf '\r\n'
        done
    } >"$2"
}

run_all() {  # LABEL FLOOR_KEY
    local exe start took floor rc
    start=$(ms)
    wine reg query "$2" /s >/dev/null 2>&1 || true
    floor=$(($(ms) - start))
    for exe in "${exes[@]}"; do
        start=$(ms)
        # 1 and 2 are verdicts about the rows; 3 and above mean it did not complete.
        wine "$exe" >/dev/null 2>&1 </dev/null || { rc=$?; ((rc < 3)) || echo "  ($exe exited $rc)"; }
        took=$(($(ms) - start))
        printf '  %-30s %-52s %7d ms; one reg query pass %6d ms; ratio %5.1f\n' "$1" \
            "$(realpath --relative-to="$PWD" "$exe")" \
            "$took" "$floor" "$(awk -v a="$took" -v b="$floor" 'BEGIN { printf "%.1f", a / b }')"
    done
}

wine cmd /c exit 2>/dev/null || true
echo "tkexamine under Wine ($(wine --version)), private prefix $WINEPREFIX"
run_all "empty registry" 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
done_keys=0
for n in 10000 30000; do
    uninstall_reg "$n" "$work/uninstall.reg"
    wine regedit /S "$(printf 'Z:%s' "${work//\//\\}")\\uninstall.reg"
    run_all "$n uninstall keys" 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
done
lists_reg 10000 "$work/lists.reg"
wine regedit /S "$(printf 'Z:%s' "${work//\//\\}")\\lists.reg"
run_all "+ 20000 policy + 30000 pop-up" 'HKCU\Software\Policies\Microsoft\Internet Explorer\New Windows\Allow'
