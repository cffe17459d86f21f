#!/usr/bin/env bash
# A workstation set up the way a support person usually finds one, written into a Wine
# prefix's registry, so that tkexamine has something real to examine: the QUORIN sites
# trusted for the user, most of them for the machine, the zone's scripting enabled except
# one machine setting, both token packages installed (one by a 32-bit installer), and the
# QUORIN hosts allowed through the pop-up blocker.
#
# Sourced (after tools/wine-env.sh, with the prefix in use):  qtk_demo_configure
# Run on its own:                                             scripts/demo-configure.sh PREFIX
#
# Then run build/windows-x64/companion/win32/tkexamine.exe in the prefix instead of
# copying demo/tmptk, and start the diagnostic.

qtk_demo_registry() {
    local is='Software\Microsoft\Windows\CurrentVersion\Internet Settings'
    local cu=HKEY_CURRENT_USER lm=HKEY_LOCAL_MACHINE
    printf '%s\r\n' \
        'REGEDIT4' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\qrn.example]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\qrn.example\\tesk]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\qrn.example\\*.hvk]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\halvek.example]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\hvk.example]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\drosk.example]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\pelund.example]" '"https"=dword:00000002' '' \
        "[$cu\\$is\\ZoneMap\\Domains\\omvar.example]" '"http"=dword:00000002' '' \
        "[$lm\\$is\\ZoneMap\\Domains\\qrn.example]" '"https"=dword:00000002' '' \
        "[$lm\\$is\\ZoneMap\\Domains\\halvek.example]" '"*"=dword:00000002' '' \
        "[$lm\\$is\\ZoneMap\\Domains\\drosk.example]" '"https"=dword:00000002' '' \
        "[$lm\\$is\\ZoneMap\\Domains\\omvar.example]" '"http"=dword:00000002' '' \
        "[$cu\\$is\\Zones\\2]" '"1400"=dword:00000000' '"1402"=dword:00000000' \
        '"1200"=dword:00000000' '"1201"=dword:00000000' '' \
        "[$lm\\$is\\Zones\\2]" '"1400"=dword:00000000' '"1402"=dword:00000000' \
        '"1200"=dword:00000000' '"1201"=dword:00000003' '' \
        "[$lm\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D3D5A3E-1C7B-4E2B-9C55-0A5B2A8F8210}]" \
        '"DisplayName"="SafeNet Authentication Client 8.2"' '"DisplayVersion"="8.2.120"' \
        '"Publisher"="SafeNet, Inc."' '' \
        "[$lm\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{1F0C2E44-7A8B-4D1C-B6E5-3C9A7D2B8E61}]" \
        '"DisplayName"="SafeNet Authentication Manager Client 8.0 SP2"' \
        '"DisplayVersion"="8.0.2"' '"Publisher"="SafeNet, Inc."' '' \
        "[$cu\\Software\\Microsoft\\Internet Explorer\\New Windows\\Allow]" '"*.qrn.example"=hex:' '' \
        "[$lm\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]" '"UBR"=dword:000010c3' ''
}

# qtk_demo_configure: into the prefix in use (WINEPREFIX), through regedit in one process.
qtk_demo_configure() {
    local file
    file=$(mktemp --suffix=.reg)
    qtk_demo_registry >"$file"
    qtk_wine regedit /S "$(qtk_windows_path "$file")" >>"$QTK_WORK/wine.log" 2>&1 || {
        rm -f "$file"
        qtk_die "importing the demo configuration failed"
    }
    rm -f "$file"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -euo pipefail
    [[ $# -eq 1 && -d $1 ]] || { echo "usage: $0 WINEPREFIX" >&2; exit 2; }
    # shellcheck source=../tools/wine-env.sh
    source "$(dirname "$0")/../tools/wine-env.sh"
    qtk_env_init "$(mktemp -d)"
    qtk_use_prefix "$1"
    qtk_demo_configure
    # The registry reaches the prefix's files when its server exits.
    qtk_wineserver -w
fi
