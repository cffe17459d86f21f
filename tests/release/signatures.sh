#!/usr/bin/env bash
# The signatures, as a workstation or a deployment system checks them: every program and
# both installers verify against the signer's CA, and fail to once a byte is changed or
# against a CA that did not issue the certificate. Then scripts/sign.sh itself, for each
# way an organisation hands over its certificate, and for the mistakes it must refuse
# instead of quietly shipping unsigned or half-written files.
#   signatures.sh WORK RELEASE CERTS
# shellcheck source=tests/release/lib.sh
source "$(dirname "$0")/lib.sh"
release_work "$1"
release=$2
certs=$3
version=$(sed -n 's/.*  kit-\([0-9.]*\)\.zip$/\1/p' "$release/SHA256SUMS")
python3 -c 'import zipfile, sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$release/kit-$version.zip" "$RELEASE_WORK/zip"
kit=$RELEASE_WORK/zip/kit-$version
ca=$certs/signer-ca.pem

verifies() { osslsigncode verify -CAfile "$2" -in "$1" >>"$RELEASE_WORK/verify.log" 2>&1; }

# flip FILE OFFSET: a copy of FILE (FILE.tampered) with one byte changed at OFFSET.
flip() {
    python3 - "$1" "$2" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int(sys.argv[2])] ^= 0x5A
open(sys.argv[1] + ".tampered", "wb").write(data)
PY
}

# ---- the release as shipped
signed=("$kit"/x64/tkcheck.exe "$kit"/x64/tkexamine.exe "$kit"/x64/tkfleet.exe "$kit"/x86/tkcheck.exe
        "$kit"/x86/tkexamine.exe "$kit"/x86/tkfleet.exe "$release/kit-$version-x64.msi"
        "$release/kit-$version-x86.msi")
for file in "${signed[@]}"; do
    expect_true "signature verifies: ${file#"$RELEASE_WORK"/}" verifies "$file" "$ca"
done

make_signer "$RELEASE_WORK/other" stranger
expect_false "a CA that did not issue the certificate is refused" \
    verifies "$kit/x64/tkcheck.exe" "$RELEASE_WORK/other/stranger-ca.pem"

# A program: any byte of its code. An installer: a byte inside its embedded cabinet, which
# the signature covers (an unused sector of the file would not be).
cp "$kit/x64/tkexamine.exe" "$RELEASE_WORK/tkexamine.exe"
flip "$RELEASE_WORK/tkexamine.exe" $(($(stat -c %s "$RELEASE_WORK/tkexamine.exe") / 2))
cp "$release/kit-$version-x64.msi" "$RELEASE_WORK/kit.msi"
cab=$(grep -obUaP 'MSCF\x00\x00\x00\x00' "$RELEASE_WORK/kit.msi" | head -n 1 | cut -d: -f1)
[[ -n $cab ]] || fail "no cabinet found in the installer"
flip "$RELEASE_WORK/kit.msi" $((${cab:-0} + 100))
expect_false "a tampered program is refused" verifies "$RELEASE_WORK/tkexamine.exe.tampered" "$ca"
expect_false "a tampered installer is refused" verifies "$RELEASE_WORK/kit.msi.tampered" "$ca"

# ---- scripts/sign.sh, on an unsigned copy of a program
osslsigncode remove-signature -in "$kit/x64/tkcheck.exe" -out "$RELEASE_WORK/unsigned.exe" \
    >>"$RELEASE_WORK/verify.log" 2>&1
expect_false "the unsigned copy has no signature" verifies "$RELEASE_WORK/unsigned.exe" "$ca"

# sign_case LABEL OUTCOME VAR=VALUE...: sign.sh on a fresh copy with only these QTK_SIGN_*
# set. OUTCOME: signed (exit 0, verifies), unsigned (exit 0, file untouched, says so),
# refused (fails, file untouched).
sign_case() {
    local label=$1 outcome=$2 copy=$RELEASE_WORK/case.exe rc=0
    shift 2
    cp "$RELEASE_WORK/unsigned.exe" "$copy"
    env -u QTK_SIGN_PKCS12 -u QTK_SIGN_CERT -u QTK_SIGN_KEY -u QTK_SIGN_PASSWORD \
        -u QTK_SIGN_PASSWORD_FILE -u QTK_SIGN_TIMESTAMP_URL -u QTK_SIGN_CAFILE "$@" \
        "$RELEASE_ROOT/scripts/sign.sh" "$copy" >"$RELEASE_WORK/sign.out" 2>&1 || rc=$?
    case $outcome in
        signed)
            expect "$label: exit status" "$rc" 0
            expect_true "$label: the signature verifies" verifies "$copy" "$ca" ;;
        unsigned)
            expect "$label: exit status" "$rc" 0
            expect_true "$label: says it left the file unsigned" grep -q UNSIGNED "$RELEASE_WORK/sign.out"
            expect_true "$label: file untouched" cmp -s "$copy" "$RELEASE_WORK/unsigned.exe" ;;
        refused)
            expect_false "$label: refused (exit $rc)" test "$rc" -eq 0
            expect_true "$label: file untouched" cmp -s "$copy" "$RELEASE_WORK/unsigned.exe"
            expect_false "$label: no half-signed file left beside it" test -e "$copy.signing" ;;
    esac
    [[ $outcome == refused || $rc -eq 0 ]] || cat "$RELEASE_WORK/sign.out"
}

openssl pkey -in "$certs/signer.key" -aes256 -passout "file:$certs/signer.pass" \
    -out "$RELEASE_WORK/encrypted.key" 2>>"$RELEASE_WORK/verify.log"
printf 'not the password\n' >"$RELEASE_WORK/wrong.pass"

sign_case "PEM certificate chain and key" signed \
    QTK_SIGN_CERT="$certs/signer.pem" QTK_SIGN_KEY="$certs/signer.key"
sign_case "encrypted key, password from a file" signed QTK_SIGN_CERT="$certs/signer.pem" \
    QTK_SIGN_KEY="$RELEASE_WORK/encrypted.key" QTK_SIGN_PASSWORD_FILE="$certs/signer.pass"
sign_case "PKCS#12, password from a file, checked against the CA" signed \
    QTK_SIGN_PKCS12="$certs/signer.p12" QTK_SIGN_PASSWORD_FILE="$certs/signer.pass" \
    QTK_SIGN_CAFILE="$ca"
# An RFC 3161 time stamp from a server of the test's own; a server that does not answer
# fails the signing rather than leaving a signature that dies with the certificate.
make_tsa "$RELEASE_WORK/tsa"
python3 "$RELEASE_TESTS/tsa.py" "$RELEASE_WORK/tsa" >"$RELEASE_WORK/tsa/server.log" 2>&1 &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s $RELEASE_WORK/tsa/port ]] && break; sleep 0.1; done
sign_case "PEM with an RFC 3161 time stamp" signed QTK_SIGN_CERT="$certs/signer.pem" \
    QTK_SIGN_KEY="$certs/signer.key" QTK_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$RELEASE_WORK/tsa/port")"
expect_true "the time stamp verifies against the TSA's CA" bash -c \
    "osslsigncode verify -CAfile '$ca' -TSA-CAfile '$RELEASE_WORK/tsa/tsa-ca.pem' -in '$RELEASE_WORK/case.exe' 2>&1 |
        grep -q 'Timestamp Server Signature verification: ok'"
sign_case "a time-stamp server that does not answer" refused QTK_SIGN_CERT="$certs/signer.pem" \
    QTK_SIGN_KEY="$certs/signer.key" QTK_SIGN_TIMESTAMP_URL=http://127.0.0.1:1
kill "$tsa_pid" 2>/dev/null || true

sign_case "nothing configured" unsigned
sign_case "PKCS#12 with the wrong password" refused \
    QTK_SIGN_PKCS12="$certs/signer.p12" QTK_SIGN_PASSWORD_FILE="$RELEASE_WORK/wrong.pass"
sign_case "certificate without its key" refused QTK_SIGN_CERT="$certs/signer.pem"
sign_case "PKCS#12 file missing" refused QTK_SIGN_PKCS12="$RELEASE_WORK/no-such.p12"
sign_case "both PKCS#12 and PEM" refused QTK_SIGN_PKCS12="$certs/signer.p12" \
    QTK_SIGN_CERT="$certs/signer.pem" QTK_SIGN_KEY="$certs/signer.key"
sign_case "a time-stamp server but no certificate" refused \
    QTK_SIGN_TIMESTAMP_URL=http://timestamp.invalid
sign_case "signed, but not by the CA it must verify against" refused \
    QTK_SIGN_CERT="$certs/signer.pem" QTK_SIGN_KEY="$certs/signer.key" \
    QTK_SIGN_CAFILE="$RELEASE_WORK/other/stranger-ca.pem"
finish
