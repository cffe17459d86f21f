# shellcheck shell=bash
# What the release tests share. A test script sources this and is called as
#   TEST.sh WORK [ARG...]
# with WORK its own scratch directory (emptied first); its files stay there after a failure.
# Assertions and `finish` come from tests/lib/assert.sh.
set -euo pipefail

RELEASE_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RELEASE_ROOT=$(cd "$RELEASE_TESTS/../.." && pwd)
# shellcheck source=tests/lib/assert.sh
source "$RELEASE_ROOT/tests/lib/assert.sh"

release_work() {
    RELEASE_WORK=$(realpath -m "$1")
    # shellcheck disable=SC2034  # read by finish
    ASSERT_FILES=$RELEASE_WORK
    rm -rf "$RELEASE_WORK"
    mkdir -p "$RELEASE_WORK"
}

# make_signer DIR NAME: a throw-away CA (DIR/NAME-ca.pem) and a code-signing certificate it
# issued, as PEM (NAME.pem with the chain, NAME.key) and as PKCS#12 (NAME.p12, password in
# NAME.pass). Valid for two days: long enough for a test, useless for anything else.
make_signer() {
    local dir=$1 name=$2
    mkdir -p "$dir"
    (
        cd "$dir"
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$name-ca.key" \
            -out "$name-ca.pem" -subj "/CN=$name throw-away test CA" \
            -addext basicConstraints=critical,CA:TRUE \
            -addext keyUsage=critical,keyCertSign,cRLSign
        openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" \
            -subj "/CN=$name throw-away code signing/O=QUORIN support tools test"
        printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
            extendedKeyUsage=codeSigning >"$name.ext"
        openssl x509 -req -in "$name.csr" -CA "$name-ca.pem" -CAkey "$name-ca.key" \
            -CAcreateserial -days 2 -extfile "$name.ext" -out "$name.leaf.pem"
        cat "$name.leaf.pem" "$name-ca.pem" >"$name.pem"
        printf 'throw away %s\n' "$RANDOM$RANDOM" >"$name.pass"
        openssl pkcs12 -export -inkey "$name.key" -in "$name.leaf.pem" -certfile "$name-ca.pem" \
            -out "$name.p12" -passout "file:$name.pass"
    ) >"$dir/$name.log" 2>&1 || { cat "$dir/$name.log"; echo "cannot make test certificates"; exit 1; }
}

# make_tsa DIR: a throw-away time-stamping authority in DIR (tsa-ca.pem, tsa.pem, tsa.key,
# tsa.cnf for `openssl ts -reply`), for tsa.py to serve.
make_tsa() {
    local dir=$1
    mkdir -p "$dir"
    (
        cd "$dir"
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout tsa-ca.key -out tsa-ca.pem \
            -subj "/CN=throw-away time-stamping CA" \
            -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
        openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=throw-away TSA"
        printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
            extendedKeyUsage=critical,timeStamping >tsa.ext
        openssl x509 -req -in tsa.csr -CA tsa-ca.pem -CAkey tsa-ca.key -CAcreateserial -days 2 \
            -extfile tsa.ext -out tsa.pem
        echo 01 >serial
        printf '%s\n' '[ tsa ]' 'default_tsa = tsa_config' '[ tsa_config ]' 'serial = ./serial' \
            'signer_cert = ./tsa.pem' 'signer_key = ./tsa.key' 'certs = ./tsa-ca.pem' \
            'signer_digest = sha256' 'default_policy = 1.2.3.4.1' 'digests = sha256, sha1' \
            'ess_cert_id_alg = sha256' >tsa.cnf
    ) >"$dir/make_tsa.log" 2>&1 || { cat "$dir/make_tsa.log"; echo "cannot make the test TSA"; exit 1; }
}

# msi_table MSI TABLE: the table's rows, tab-separated, without msiinfo's three header lines.
msi_table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }

# msi_property MSI NAME
msi_property() { msi_table "$1" Property | awk -F'\t' -v n="$2" '$1 == n { print $2 }'; }
