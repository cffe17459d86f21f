#!/usr/bin/env bash
# The shipped file itself: hardened (ASLR with high entropy, DEP), a GUI program, linked
# statically so that it loads only DLLs from the system, and restricting its own DLL
# search path before anything else.
set -euo pipefail
exe=${1:?tkcheck.exe}
objdump=${2:?objdump}
pointer_size=${3:-8}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$exe")

flags=$(awk '/^DllCharacteristics/ { on = 1; next } on && /^\t\t/ { print $1; next } { on = 0 }' \
    <<<"$headers")
wanted=(DYNAMIC_BASE NX_COMPAT)
# High-entropy ASLR exists only for 64-bit programs.
((pointer_size == 8)) && wanted+=(HIGH_ENTROPY_VA)
for flag in "${wanted[@]}"; do
    if grep -qx "$flag" <<<"$flags"; then echo "ok: $flag"; else fail "DllCharacteristics lacks $flag"; fi
done

if grep -qE '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers"; then
    echo "ok: GUI subsystem"
else
    fail "not a Windows GUI program: $(grep '^Subsystem' <<<"$headers")"
fi

# Only DLLs that every Windows has; a MinGW runtime DLL (libstdc++, libgcc,
# libwinpthread) would be looked for beside the program and is a planting risk.
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[[ -n $dlls ]] || fail "no imports found"
while read -r dll; do
    case ${dll,,} in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | api-ms-win-*.dll)
            echo "ok: imports $dll" ;;
        *) fail "imports $dll, which is not among the system DLLs it may use" ;;
    esac
done <<<"$dlls"

# The import must be there for the call to be: a program that never calls it leaves the
# application directory and the current directory in its DLL search path.
imports=$(awk '/DLL Name:/ { dll = tolower($3) } dll == "kernel32.dll" && NF >= 3 { print $NF }' \
    <<<"$headers")
if grep -qx SetDefaultDllDirectories <<<"$imports"; then
    echo "ok: imports SetDefaultDllDirectories"
else
    fail "SetDefaultDllDirectories is not imported from KERNEL32"
fi

if ((failures > 0)); then
    echo "binary: $failures failure(s)"
    exit 1
fi
echo "binary: passed"
