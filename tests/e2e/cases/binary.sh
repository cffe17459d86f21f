#!/usr/bin/env bash
# The shipped file itself: hardened (ASLR with high entropy, DEP), a GUI program (or a
# console one, when the fourth argument says so), linked statically so that it loads only
# DLLs from the system, and restricting its own DLL search path before anything else, in a
# way that still starts on Windows 7.
set -euo pipefail
# shellcheck source=tests/lib/assert.sh
source "$(dirname "$0")/../../lib/assert.sh"
exe=${1:?tkcheck.exe}
objdump=${2:?objdump}
pointer_size=${3:-8}
subsystem=${4:-gui}

headers=$("$objdump" -p "$exe")

flags=$(awk '/^DllCharacteristics/ { on = 1; next } on && /^\t\t/ { print $1; next } { on = 0 }' \
    <<<"$headers")
wanted=(DYNAMIC_BASE NX_COMPAT)
# High-entropy ASLR exists only for 64-bit programs.
((pointer_size == 8)) && wanted+=(HIGH_ENTROPY_VA)
for flag in "${wanted[@]}"; do
    if grep -qx "$flag" <<<"$flags"; then echo "ok: $flag"; else fail "DllCharacteristics lacks $flag"; fi
done

# 2: Windows GUI, 3: Windows console (IMAGE_SUBSYSTEM_WINDOWS_CUI).
want_subsystem=2
[[ $subsystem == console ]] && want_subsystem=3
if grep -qE "^Subsystem[[:space:]]+0+${want_subsystem}[[:space:]]" <<<"$headers"; then
    echo "ok: $subsystem subsystem"
else
    fail "not a Windows $subsystem program: $(grep '^Subsystem' <<<"$headers")"
fi

# Only DLLs that every Windows has; a MinGW runtime DLL (libstdc++, libgcc,
# libwinpthread) would be looked for beside the program and is a planting risk.
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[[ -n $dlls ]] || fail "no imports found"
while read -r dll; do
    case ${dll,,} in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | ole32.dll | api-ms-win-*.dll)
            echo "ok: imports $dll" ;;
        *) fail "imports $dll, which is not among the system DLLs it may use" ;;
    esac
done <<<"$dlls"

# Windows 7 without update KB2533623 has no SetDefaultDllDirectories, and a program that
# imports it statically does not start there: it must be looked up at run time instead
# (its name is in the file for GetProcAddress), with SetDllDirectoryW imported as the
# fallback that every system has.
imports=$(awk '/DLL Name:/ { dll = tolower($3) } dll == "kernel32.dll" && NF >= 3 { print $NF }' \
    <<<"$headers")
if grep -qx SetDefaultDllDirectories <<<"$imports"; then
    fail "SetDefaultDllDirectories is imported statically: the program does not start on Windows 7 without KB2533623"
else
    echo "ok: SetDefaultDllDirectories is not a static import"
fi
for name in GetProcAddress SetDllDirectoryW; do
    if grep -qx "$name" <<<"$imports"; then echo "ok: imports $name"; else fail "$name is not imported from KERNEL32"; fi
done
if grep -qaF SetDefaultDllDirectories "$exe"; then
    echo "ok: looks SetDefaultDllDirectories up at run time"
else
    fail "the name SetDefaultDllDirectories is not in the file: the DLL search is not restricted"
fi

finish
