#!/usr/bin/env bash
# packaging/make-release.sh on its own, from the staged programs: without a certificate it
# still builds the whole release and says, in its output and in the kit, that it is
# unsigned; a version the installers cannot carry, or a half-given certificate, stops it
# before anything is written.
#   assemble.sh WORK RELEASE X64_STAGE X86_STAGE   (RELEASE, the signed one, is not used)
# shellcheck source=tests/release/lib.sh
source "$(dirname "$0")/lib.sh"
release_work "$1"
x64_stage=$3
x86_stage=$4
make_release="$RELEASE_ROOT/packaging/make-release.sh"
no_signing=(-u QTK_SIGN_PKCS12 -u QTK_SIGN_CERT -u QTK_SIGN_KEY -u QTK_SIGN_PASSWORD
            -u QTK_SIGN_PASSWORD_FILE -u QTK_SIGN_TIMESTAMP_URL -u QTK_SIGN_CAFILE
            -u QTK_RELEASE_DIR)

# ---- unsigned: the whole release, labelled as such
out=$RELEASE_WORK/unsigned
rc=0
env "${no_signing[@]}" bash "$make_release" 2.3.4 "$x64_stage" "$x86_stage" "$out" \
    >"$RELEASE_WORK/unsigned.log" 2>&1 || rc=$?
expect "unsigned: exit status" "$rc" 0
expect_true "unsigned: says so" grep -q '^release 2.3.4 (unsigned)' "$RELEASE_WORK/unsigned.log"
expect "unsigned: files" "$(ls "$out" | tr '\n' ' ')" \
    "SHA256SUMS kit-2.3.4-x64.msi kit-2.3.4-x86.msi kit-2.3.4.zip "
expect_true "unsigned: the kit's README says so" bash -c \
    "python3 -c 'import zipfile,sys; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(\"kit-2.3.4/README.txt\"))' '$out/kit-2.3.4.zip' | grep -q 'NOT signed'"
expect_false "unsigned: the installer carries no signature" \
    bash -c "msiinfo streams '$out/kit-2.3.4-x64.msi' | grep -q DigitalSignature"
expect "unsigned: installer version" "$(msi_property "$out/kit-2.3.4-x86.msi" ProductVersion)" 2.3.4

# ---- refused before anything is written
refuse() {
    local label=$1 version=$2 rc=0 dir=$RELEASE_WORK/refused
    shift 2
    rm -rf "$dir"
    env "${no_signing[@]}" "$@" bash "$make_release" "$version" "$x64_stage" "$x86_stage" "$dir" \
        >"$RELEASE_WORK/refused.log" 2>&1 || rc=$?
    expect_false "$label: refused (exit $rc)" test "$rc" -eq 0
    expect_false "$label: nothing written" test -e "$dir"
    expect_true "$label: says why" grep -qE '^(release|sign): ' "$RELEASE_WORK/refused.log"
}
refuse "a fourth version field, which Windows Installer ignores" 1.0.0.1
refuse "a major version above 255" 256.0.0
refuse "two version fields" 1.0
refuse "a certificate without its key" 1.0.0 QTK_SIGN_CERT="$RELEASE_WORK/unsigned.log"
finish
