#!/usr/bin/env bash
# Signs Windows programs and installers in place (Authenticode, with osslsigncode), with the
# certificate and key the organisation supplies through the environment:
#
#   QTK_SIGN_PKCS12          a PKCS#12 file (.p12/.pfx) holding the key and its certificate chain
#   QTK_SIGN_CERT            or: the certificate, with its chain, as PEM or DER ...
#   QTK_SIGN_KEY             ... and its private key, PEM or DER
#   QTK_SIGN_PASSWORD        the password of the PKCS#12 file or of an encrypted key, or
#   QTK_SIGN_PASSWORD_FILE   a file whose first line is that password
#   QTK_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamping server, so that the signature
#                            stays valid after the certificate expires
#   QTK_SIGN_CAFILE          optional: verify each signature against these CA certificates
#
# Usage: sign.sh FILE...      sign each file (nothing set: leaves them unsigned, and says so)
#        sign.sh --status     print "signed" or "unsigned" for the current environment
#
# A half-given configuration (a certificate without its key, a file that is not there) is an
# error, never a quiet fall-back to unsigned files. The password never appears on a command
# line, where any user of the machine could read it.
set -euo pipefail

die() { echo "sign: $*" >&2; exit 2; }

mode=none
if [[ -n ${QTK_SIGN_PKCS12:-} ]]; then
    [[ -z ${QTK_SIGN_CERT:-}${QTK_SIGN_KEY:-} ]] ||
        die "set either QTK_SIGN_PKCS12 or QTK_SIGN_CERT and QTK_SIGN_KEY, not both"
    [[ -r $QTK_SIGN_PKCS12 ]] || die "QTK_SIGN_PKCS12: cannot read $QTK_SIGN_PKCS12"
    mode=pkcs12
elif [[ -n ${QTK_SIGN_CERT:-} || -n ${QTK_SIGN_KEY:-} ]]; then
    [[ -n ${QTK_SIGN_CERT:-} && -n ${QTK_SIGN_KEY:-} ]] ||
        die "QTK_SIGN_CERT and QTK_SIGN_KEY go together; only one of them is set"
    [[ -r $QTK_SIGN_CERT ]] || die "QTK_SIGN_CERT: cannot read $QTK_SIGN_CERT"
    [[ -r $QTK_SIGN_KEY ]] || die "QTK_SIGN_KEY: cannot read $QTK_SIGN_KEY"
    mode=pem
elif [[ -n ${QTK_SIGN_PASSWORD:-}${QTK_SIGN_PASSWORD_FILE:-}${QTK_SIGN_TIMESTAMP_URL:-} ]]; then
    die "a password or time-stamp server is set, but no certificate (QTK_SIGN_PKCS12, or QTK_SIGN_CERT and QTK_SIGN_KEY)"
fi
if [[ -n ${QTK_SIGN_PASSWORD:-} && -n ${QTK_SIGN_PASSWORD_FILE:-} ]]; then
    die "set QTK_SIGN_PASSWORD or QTK_SIGN_PASSWORD_FILE, not both"
fi
if [[ -n ${QTK_SIGN_PASSWORD_FILE:-} && ! -r $QTK_SIGN_PASSWORD_FILE ]]; then
    die "QTK_SIGN_PASSWORD_FILE: cannot read $QTK_SIGN_PASSWORD_FILE"
fi
if [[ -n ${QTK_SIGN_CAFILE:-} && ! -r $QTK_SIGN_CAFILE ]]; then
    die "QTK_SIGN_CAFILE: cannot read $QTK_SIGN_CAFILE"
fi

if [[ ${1:-} == --status ]]; then
    [[ $mode == none ]] && echo unsigned || echo signed
    exit 0
fi
(($# > 0)) || die "usage: sign.sh FILE... | sign.sh --status"

if [[ $mode == none ]]; then
    echo "sign: UNSIGNED: no certificate configured (QTK_SIGN_PKCS12, or QTK_SIGN_CERT and QTK_SIGN_KEY); left unsigned: $*" >&2
    exit 0
fi
command -v osslsigncode >/dev/null || die "osslsigncode is not installed"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

args=(-h sha256 -n "QUORIN Token Key Check")
if [[ $mode == pkcs12 ]]; then
    args+=(-pkcs12 "$QTK_SIGN_PKCS12")
else
    args+=(-certs "$QTK_SIGN_CERT" -key "$QTK_SIGN_KEY")
fi
if [[ -n ${QTK_SIGN_PASSWORD_FILE:-} ]]; then
    args+=(-readpass "$QTK_SIGN_PASSWORD_FILE")
elif [[ -n ${QTK_SIGN_PASSWORD:-} ]]; then
    (umask 077 && printf '%s\n' "$QTK_SIGN_PASSWORD" >"$scratch/pass")
    args+=(-readpass "$scratch/pass")
fi
[[ -z ${QTK_SIGN_TIMESTAMP_URL:-} ]] || args+=(-ts "$QTK_SIGN_TIMESTAMP_URL")

for file in "$@"; do
    [[ -f $file ]] || die "no such file: $file"
    # Written beside the original and moved over it only when complete: a failed signing
    # leaves the unsigned file, never half a file.
    out=$file.signing
    rm -f "$out"
    if ! osslsigncode sign "${args[@]}" -in "$file" -out "$out" >"$scratch/log" 2>&1; then
        cat "$scratch/log" >&2
        rm -f "$out"
        die "signing $file failed"
    fi
    if [[ -n ${QTK_SIGN_CAFILE:-} ]] &&
        ! osslsigncode verify -CAfile "$QTK_SIGN_CAFILE" -in "$out" >"$scratch/log" 2>&1; then
        cat "$scratch/log" >&2
        rm -f "$out"
        die "the signature on $file does not verify against $QTK_SIGN_CAFILE"
    fi
    mv -f "$out" "$file"
    echo "sign: signed $file"
done
