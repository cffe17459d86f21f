#!/usr/bin/env bash
# Assembles the release from the two staged (stripped) program pairs; the `release` target
# of the 64-bit build is the one caller (cmake/Release.cmake):
#
#   make-release.sh VERSION X64_STAGE X86_STAGE OUT
#
# OUT (or $QTK_RELEASE_DIR when set) receives
#   kit-VERSION.zip          both pairs (x64\, x86\), run-check.cmd, README.txt, SHA256SUMS
#   kit-VERSION-x64.msi      the 64-bit installer
#   kit-VERSION-x86.msi      the 32-bit installer
#   SHA256SUMS               of the three files above
# Programs and installers are signed when scripts/sign.sh finds a certificate in the
# environment; otherwise the kit says it is unsigned, in the build's output and in README.txt.
set -euo pipefail

die() { echo "release: $*" >&2; exit 1; }

(($# == 4)) || die "usage: make-release.sh VERSION X64_STAGE X86_STAGE OUT"
version=$1
x64_stage=$(realpath -e "$2") || die "no 64-bit stage at $2"
x86_stage=$(realpath -e "$3") || die "no 32-bit stage at $3"
out=${QTK_RELEASE_DIR:-$4}
root=$(cd "$(dirname "$0")/.." && pwd)
sign=$root/scripts/sign.sh

# An installer can only carry what Windows Installer can compare: three fields, at most
# 255.255.65535 ("ProductVersion property", learn.microsoft.com/windows/win32/msi/productversion).
# A fourth field would be ignored, so two releases differing only there would not upgrade.
[[ $version =~ ^(0|[1-9][0-9]{0,2})\.(0|[1-9][0-9]{0,2})\.(0|[1-9][0-9]{0,4})$ ]] ||
    die "version '$version' is not MAJOR.MINOR.PATCH, which the installers need"
major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[2]} patch=${BASH_REMATCH[3]}
((major <= 255 && minor <= 255 && patch < 65535)) ||
    die "version $version is out of the installers' range (255.255.65534)"
upgrade_below=$major.$minor.$((patch + 1))

for arch in x64 x86; do
    stage=${arch}_stage
    for program in tkcheck.exe tkexamine.exe tkfleet.exe; do
        [[ -s ${!stage}/$program ]] || die "the $arch stage lacks $program (${!stage})"
    done
done
command -v wixl >/dev/null || die "wixl is not installed (Debian package wixl)"

# Checked before anything is built, so that a half-given certificate stops the release.
signing=$("$sign" --status)

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$out/.work
rm -rf "$work"
mkdir -p "$work"
name=kit-$version
kit=$work/$name
mkdir -p "$kit/x64" "$kit/x86"

# cmd.exe reads a batch file with LF-only line ends wrongly around labels; the kit is for
# Windows, so its text files get CRLF whatever the checkout did.
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }

cp "$x64_stage"/tkcheck.exe "$x64_stage"/tkexamine.exe "$x64_stage"/tkfleet.exe "$kit/x64/"
cp "$x86_stage"/tkcheck.exe "$x86_stage"/tkexamine.exe "$x86_stage"/tkfleet.exe "$kit/x86/"
crlf "$root/companion/win32/run-check.cmd" "$kit/run-check.cmd"
"$sign" "$kit"/x64/*.exe "$kit"/x86/*.exe

if [[ $signing == signed ]]; then
    signature="The programs and the installers are signed. Windows shows the signer under
the file's Properties > Digital Signatures; a program whose signature is
missing or broken has been altered and must not be run."
else
    signature="This kit is NOT signed. Check the files against SHA256SUMS before use."
fi
sed -e "s/@VERSION@/$version/g" "$root/packaging/README.txt.in" |
    awk -v sig="$signature" '$0 == "@SIGNATURE@" { print sig; next } { print }' >"$work/README.txt"
crlf "$work/README.txt" "$kit/README.txt"

# Paths with forward slashes, as sha256sum -c wants them on any system.
(cd "$kit" && sha256sum run-check.cmd README.txt x64/tkcheck.exe x64/tkexamine.exe \
    x64/tkfleet.exe x86/tkcheck.exe x86/tkexamine.exe x86/tkfleet.exe >SHA256SUMS)

rm -f "$out/$name.zip"
(cd "$work" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")

# The installers take the signed programs and the same run-check.cmd.
python3 "$root/tools/make_icon.py" "$work/tkcheck.ico"
for arch in x64 x86; do
    dir=$work/msi-$arch
    mkdir -p "$dir"
    cp "$kit/$arch/tkcheck.exe" "$kit/$arch/tkexamine.exe" "$kit/$arch/tkfleet.exe" "$kit/run-check.cmd" \
        "$work/tkcheck.ico" "$dir/"
    msi=$out/$name-$arch.msi
    rm -f "$msi"
    # wixl only warns about an attribute or element it does not implement, and builds the
    # installer without it: a warning is a failure here.
    (cd "$dir" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
        -D UpgradeBelow="$upgrade_below" -o "$msi" "$root/packaging/kit.wxs") 2>"$work/wixl.log" ||
        { cat "$work/wixl.log" >&2; die "wixl failed for $arch"; }
    if grep -qiE 'warning|critical|unimplemented' "$work/wixl.log"; then
        cat "$work/wixl.log" >&2
        rm -f "$msi"
        die "wixl ignored part of packaging/kit.wxs for $arch (above)"
    fi
    "$sign" "$msi"
done

(cd "$out" && sha256sum "$name.zip" "$name-x64.msi" "$name-x86.msi" >SHA256SUMS)

echo "release $version ($signing) in $out:"
for file in "$kit"/x64/*.exe "$kit"/x86/*.exe "$out/$name-x64.msi" "$out/$name-x86.msi" \
    "$out/$name.zip"; do
    label=${file#"$kit"/}
    printf '  %-24s %9d bytes\n' "${label#"$out"/}" "$(stat -c %s "$file")"
done
rm -rf "$work"
[[ $signing == signed ]] || echo "release: UNSIGNED: set QTK_SIGN_* to sign (see README.md)"
