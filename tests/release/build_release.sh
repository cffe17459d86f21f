#!/usr/bin/env bash
# Fixture: the release target, built as an organisation would, signing with a PKCS#12 file
# and its password from the environment; here a throw-away certificate made for the run.
# Leaves WORK/out (the release) and WORK/certs (the signer and its CA) for the other tests.
#   build_release.sh WORK BUILD_DIR CMAKE
# shellcheck source=tests/release/lib.sh
source "$(dirname "$0")/lib.sh"
release_work "$1"
build=$2
cmake=$3

make_signer "$RELEASE_WORK/certs" signer
export QTK_SIGN_PKCS12=$RELEASE_WORK/certs/signer.p12
QTK_SIGN_PASSWORD=$(cat "$RELEASE_WORK/certs/signer.pass")
export QTK_SIGN_PASSWORD
export QTK_RELEASE_DIR=$RELEASE_WORK/out
unset QTK_SIGN_CERT QTK_SIGN_KEY QTK_SIGN_PASSWORD_FILE QTK_SIGN_TIMESTAMP_URL QTK_SIGN_CAFILE

if ! "$cmake" --build "$build" --target release >"$RELEASE_WORK/build.log" 2>&1; then
    cat "$RELEASE_WORK/build.log"
    fail "the release target failed"
fi
# What the release says about itself, for whoever reads the test log.
sed -n '/^release /,$p' "$RELEASE_WORK/build.log"
grep -q '^release [0-9.]* (signed)' "$RELEASE_WORK/build.log" ||
    fail "the release does not say it is signed"
finish
