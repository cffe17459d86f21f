#!/usr/bin/env bash
# Both installers read back with msitools: the architecture Windows Installer will see, the
# version, the upgrade wiring that lets a newer kit replace an older one in place, where the
# programs and the Start-menu shortcut go, and that each carries the release's own files.
#   installers.sh WORK RELEASE VERSION
# shellcheck source=tests/release/lib.sh
source "$(dirname "$0")/lib.sh"
release_work "$1"
release=$2
version=$3
IFS=. read -r major minor patch <<<"$version"
upgrade_below=$major.$minor.$((patch + 1))

# The UpgradeCodes are how every later kit finds an installed one: they may never change.
declare -A upgrade_code=([x64]='{84DD495B-02C3-481D-A5CB-98E990D82F30}'
                         [x86]='{90826442-5FF1-4C6F-AD77-7CA025344A0E}')
declare -A template=([x64]='x64;1033' [x86]='Intel;1033')
declare -A program_files=([x64]=ProgramFiles64Folder [x86]=ProgramFilesFolder)
# msidbComponentAttributes64bit: without it, Windows puts a 64-bit package's registry and
# system-folder use through the 32-bit views.
declare -A component_bits=([x64]=256 [x86]=0)

python3 -c 'import zipfile, sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$release/kit-$version.zip" "$RELEASE_WORK/zip"
kit=$RELEASE_WORK/zip/kit-$version

product_codes=()
for arch in x64 x86; do
    msi=$release/kit-$version-$arch.msi
    echo "== $arch: $msi"
    expect "$arch template" "$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')" "${template[$arch]}"
    for pair in "ProductVersion=$version" "ProductName=QUORIN Token Key Check" \
        "Manufacturer=QUORIN support tools" "ALLUSERS=1" "UpgradeCode=${upgrade_code[$arch]}"; do
        expect "$arch property ${pair%%=*}" "$(msi_property "$msi" "${pair%%=*}")" "${pair#*=}"
    done
    product_codes+=("$(msi_property "$msi" ProductCode)")

    expect "$arch install folder" \
        "$(msi_table "$msi" Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2 "/" $3 }')" \
        "${program_files[$arch]}/QUORIN Token Key Check"
    expect "$arch files" "$(msi_table "$msi" File | awk -F'\t' '{ print $2 ":" $3 }' | sort | tr '\n' ' ')" \
        "run_check:run-check.cmd tkcheck:tkcheck.exe tkexamine:tkexamine.exe tkfleet:tkfleet.exe "
    expect "$arch file components in INSTALLDIR with the ${component_bits[$arch]} attribute" \
        "$(msi_table "$msi" Component | awk -F'\t' -v a="${component_bits[$arch]}" '$3 == "INSTALLDIR" && $4 == a' | wc -l)" 4
    # Where the programs went, for management scripts: HKLM (root 2) in the package's own
    # view, kept by a component whose key path is that value (msidbComponentAttributesRegistryKeyPath, 4).
    expect "$arch install folder in the registry (root, key, name, value)" \
        "$(msi_table "$msi" Registry | awk -F'\t' '{ print $2 "|" $3 "|" $4 "|" $5 "|" $6 }')" \
        "2|SOFTWARE\\QUORIN\\Token Key Check|InstallDir|[INSTALLDIR]|install_dir"
    expect "$arch its component's attributes" \
        "$(msi_table "$msi" Component | awk -F'\t' '$1 == "install_dir" { print $3, $4 }')" \
        "INSTALLDIR $((component_bits[$arch] + 4))"
    # The fix has a shortcut of its own; the plain one never fixes.
    expect "$arch Start-menu shortcuts (folder, name, target, arguments, start in)" \
        "$(msi_table "$msi" Shortcut | awk -F'\t' '{ print $2 "|" $3 "|" $5 "|" $6 "|" $12 }' | LC_ALL=C sort | tr '\n' ';')" \
        "ProgramMenuFolder|QUORIN Token Key Check - fix my settings|[#run_check.cmd]|/fix|INSTALLDIR;ProgramMenuFolder|QUORIN Token Key Check|[#run_check.cmd]||INSTALLDIR;"

    # Older or equal versions (a rebuild) are removed; a newer one stops the install.
    expect "$arch upgrade rows" \
        "$(msi_table "$msi" Upgrade | awk -F'\t' '{ print $1, $2 "-" $3, $5, $7 }' | sort | tr '\n' ';')" \
        "${upgrade_code[$arch]} 0.0.0-$upgrade_below 256 QTK_OLDER_FOUND;${upgrade_code[$arch]} $upgrade_below- 258 QTK_NEWER_FOUND;"
    expect "$arch launch condition" "$(msi_table "$msi" LaunchCondition | cut -f1)" "NOT QTK_NEWER_FOUND"
    expect "$arch removes the old product right after InstallValidate" \
        "$(msi_table "$msi" InstallExecuteSequence | sort -t$'\t' -k3,3n |
            awk -F'\t' '$1 == "InstallValidate" { getline; print $1 }')" RemoveExistingProducts

    # The payload is the release's: the signed programs of the zip, the same run-check.cmd.
    mkdir -p "$RELEASE_WORK/$arch"
    msiextract -C "$RELEASE_WORK/$arch" "$msi" >/dev/null
    # (msiextract names the folders as it likes; the files are what matters.)
    for file in "$arch/tkcheck.exe" "$arch/tkexamine.exe" "$arch/tkfleet.exe" run-check.cmd; do
        extracted=$(find "$RELEASE_WORK/$arch" -type f -name "${file#*/}")
        expect_true "$arch installer carries the zip's $file" cmp -s "$extracted" "$kit/$file"
    done
done
expect_false "each build has a ProductCode of its own" test "${product_codes[0]}" == "${product_codes[1]}"
finish
