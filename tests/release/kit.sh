#!/usr/bin/env bash
# The zip as a support person gets it: exactly the files the kit promises, each matching
# the kit's SHA256SUMS, the download matching the release's SHA256SUMS, each program built
# for the folder it sits in, stripped, carrying the release's version, and the text files
# with the line ends Windows expects.
#   kit.sh WORK RELEASE VERSION OBJDUMP
# shellcheck source=tests/release/lib.sh
source "$(dirname "$0")/lib.sh"
release_work "$1"
release=$2
version=$3
objdump=$4
name=kit-$version
zip=$release/$name.zip

# ---- the release's own sums cover exactly its three files, and match them
expect "files listed in the release's SHA256SUMS" \
    "$(awk '{ print $2 }' "$release/SHA256SUMS" | sort | tr '\n' ' ')" \
    "$name-x64.msi $name-x86.msi $name.zip "
expect_true "the release matches its SHA256SUMS" \
    bash -c "cd '$release' && sha256sum --quiet -c SHA256SUMS"

# ---- the zip holds exactly the kit, under one folder named after the version
python3 - "$zip" "$RELEASE_WORK" >"$RELEASE_WORK/names" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for n in sorted(i.filename for i in z.infolist() if not i.is_dir()):
        print(n)
    z.extractall(sys.argv[2])
PY
expect "files in the zip" "$(tr '\n' ' ' <"$RELEASE_WORK/names")" \
    "$name/README.txt $name/SHA256SUMS $name/run-check.cmd $name/x64/tkcheck.exe $name/x64/tkexamine.exe $name/x64/tkfleet.exe $name/x86/tkcheck.exe $name/x86/tkexamine.exe $name/x86/tkfleet.exe "
kit=$RELEASE_WORK/$name

# Every file but the sums themselves is summed, and matches.
expect "files listed in the kit's SHA256SUMS" \
    "$(awk '{ print $2 }' "$kit/SHA256SUMS" | sort | tr '\n' ' ')" \
    "README.txt run-check.cmd x64/tkcheck.exe x64/tkexamine.exe x64/tkfleet.exe x86/tkcheck.exe x86/tkexamine.exe x86/tkfleet.exe "
expect_true "the kit matches its SHA256SUMS" bash -c "cd '$kit' && sha256sum --quiet -c SHA256SUMS"

# ---- each program: the folder's architecture, no symbols, the release's version
declare -A format=([x64]=pei-x86-64 [x86]=pei-i386)
for arch in x64 x86; do
    for program in tkcheck.exe tkexamine.exe tkfleet.exe; do
        file=$kit/$arch/$program
        expect "$arch/$program file format" \
            "$("$objdump" -f "$file" | sed -n 's/.*file format //p')" "${format[$arch]}"
        expect "$arch/$program debug sections" \
            "$("$objdump" -h "$file" | awk '$2 ~ /^\.debug/' | wc -l)" 0
        expect_true "$arch/$program has no symbol table" \
            grep -qx 'no symbols' <("$objdump" -t "$file")
        # VERSIONINFO strings are UTF-16LE: "FileVersion" / "ProductVersion", a NUL, padding
        # to a 4-byte boundary, then the value.
        for key in FileVersion ProductVersion; do
            expect "$arch/$program VERSIONINFO $key" "$(python3 - "$file" "$key" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
key = sys.argv[2].encode("utf-16le") + b"\0\0"
m = re.search(re.escape(key) + b"(?:\0\0)?((?:[^\0]\0)+)\0\0", data)
print(m.group(1).decode("utf-16le") if m else "(none)")
PY
)" "$version"
        done
    done
done

# ---- text files: CRLF throughout; run-check.cmd is the source's
for text in README.txt run-check.cmd; do
    expect "$text lines without CR" "$(grep -vc $'\r$' "$kit/$text" || true)" 0
done
expect_true "run-check.cmd is the one in the source" \
    cmp -s <(tr -d '\r' <"$kit/run-check.cmd") <(tr -d '\r' <"$RELEASE_ROOT/companion/win32/run-check.cmd")
expect_true "README.txt names the version" grep -q "QUORIN Token Key Check $version" "$kit/README.txt"
expect_true "README.txt names both installers" \
    grep -q "kit-$version-x64.msi for 64-bit Windows, kit-$version-x86.msi for 32-bit" "$kit/README.txt"
expect_true "README.txt says the kit is signed" grep -q 'installers are signed' "$kit/README.txt"
expect_false "README.txt has no unfilled placeholder" grep -q '@[A-Z]*@' "$kit/README.txt"
finish
