#!/usr/bin/env bash
# The token group's reader rows as tkexamine gives them against a real PC/SC stack: pcscd
# in the foreground on a private reader configuration, the vsmartcard virtual reader and
# card, and the relay that the stand-in winscard.dll (tests/e2e/pcsc) carries the calls to.
# One state per case, the last argument:
#
#   card       a card in the first slot: the readers row passes, that reader's row carries
#              the card's ATR; the certificates on it (key-provider property naming a
#              smart-card provider) are judged: usable, expired, without Client Authentication,
#              and none of their keys is acquired (which would reach for the card)
#   removed    the card taken out again: no token in any reader, each reader's row fails
#   no_reader  pcscd running with no reader configured: fails, no reader
#   stopped    pcscd gone: fails, the resource manager is not running
#   arrival    no card when the examination asks; the card arrives while it is still running
#              (the relay holds its SCardReleaseContext until then): the examination neither
#              waits for it nor asks again, so the report says no token
#
# In every state the examination asks the readers' state without waiting (timeout 0): a
# card that arrives while it runs is seen by the next run, not waited for.
#
# Every process started here is stopped by its own id when the case ends, failed or not.
state=${*: -1}
vsc_path=/usr/lib/python3/site-packages/virtualsmartcard
missing=()
for tool in pcscd vicc /usr/bin/python3; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[[ -f /usr/lib/pcsc/drivers/serial/libifdvpcd.so ]] || missing+=("vsmartcard-vpcd's driver")
[[ -d $vsc_path/virtualsmartcard ]] || missing+=(python3-virtualsmartcard)
[[ -d /usr/lib/python3/dist-packages/Cryptodome ]] || missing+=(python3-pycryptodome)
/usr/bin/python3 -c 'import ctypes; ctypes.CDLL("libpcsclite.so.1")' 2>/dev/null || missing+=(libpcsclite1)
if ((${#missing[@]} > 0)); then
    echo "SKIP: no PC/SC stack on this machine (missing: ${missing[*]}); scripts/setup.sh installs it"
    exit 77
fi

# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"
bench_require winscard
# Certificates are made anew for each run; their rows are judged one by one below.
COMPANION_CHECK_ROWS=0
relay_py=$BENCH_DIR/pcsc/pcsc_relay.py
case $state in card | removed | no_reader | stopped | arrival) ;; *) qtk_die "unknown state [$state]" ;; esac

# host_readers: what pcsc-lite on the host sees now (see pcsc_relay.py readers).
host_readers() { /usr/bin/python3 "$relay_py" readers 2>&1 || true; }
# seen PATTERN: the host's view matches PATTERN (an extended regular expression).
seen() { host_readers | grep -qE "$1"; }

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# ---- pcscd, on its own reader configuration: the virtual reader, or nothing at all
[[ $(host_readers) == 0x8010001D ]] ||
    qtk_die "a pcscd is already running on this machine: $(host_readers | head -n 3)"
mkdir -p "$BENCH_WORK/reader.conf.d"
vpcd_port=$(free_port)
if [[ $state != no_reader ]]; then
    printf 'FRIENDLYNAME "Virtual PCD"\nDEVICENAME /dev/null:0x%X\nLIBPATH %s\nCHANNELID 0x%X\n' \
        "$vpcd_port" /usr/lib/pcsc/drivers/serial/libifdvpcd.so "$vpcd_port" \
        >"$BENCH_WORK/reader.conf.d/vpcd"
fi
pcscd --foreground --config "$BENCH_WORK/reader.conf.d" >"$BENCH_WORK/pcscd.log" 2>&1 &
pcscd_pid=$!
qtk_on_exit qtk_kill_pid "$pcscd_pid"
if [[ $state == no_reader ]]; then
    qtk_wait_until 30000 seen '^0x8010002E$' || qtk_die "pcscd did not come up: $(host_readers)"
else
    qtk_wait_until 30000 seen '^Virtual PCD 00 00' || qtk_die "pcscd did not come up: $(host_readers)"
fi
kill -0 "$pcscd_pid" 2>/dev/null || qtk_die "pcscd exited: $(tail -n 5 "$BENCH_WORK/pcscd.log")"

# ---- the virtual card, in the first slot
vicc_pid=
start_card() {
    mkdir -p "$BENCH_WORK/shim"
    # Debian's virtualsmartcard imports Crypto; Debian ships the same library as Cryptodome.
    ln -sfn /usr/lib/python3/dist-packages/Cryptodome "$BENCH_WORK/shim/Crypto"
    PYTHONPATH=$BENCH_WORK/shim:$vsc_path /usr/bin/python3 /usr/bin/vicc -t iso7816 \
        --hostname 127.0.0.1 --port "$vpcd_port" >"$BENCH_WORK/vicc.log" 2>&1 &
    vicc_pid=$!
    qtk_on_exit qtk_kill_pid "$vicc_pid"
    qtk_wait_until 30000 seen $'^Virtual PCD 00 00\t0x[0-9A-F]{4}0022\t3B' ||
        qtk_die "the card did not arrive: $(host_readers) $(tail -n 3 "$BENCH_WORK/vicc.log")"
}
case $state in
    card) start_card ;;
    removed)
        start_card
        qtk_kill_pid "$vicc_pid"
        qtk_wait_until 30000 seen $'^Virtual PCD 00 00\t0x[0-9A-F]{4}0012\t$' ||
            qtk_die "the card did not go: $(host_readers)"
        ;;
    stopped)
        qtk_kill_pid "$pcscd_pid"
        qtk_wait_until 30000 seen '^0x8010001D$' || qtk_die "pcscd did not stop: $(host_readers)"
        ;;
esac
echo "the host sees: $(host_readers | tr '\t\n' ' ;')"

# ---- the relay, and the stand-in winscard.dll in this prefix's System32
hold=
[[ $state != arrival ]] || hold=$BENCH_WORK/card-arrived
QTK_PCSC_RELAY_HOLD_RELEASE=$hold /usr/bin/python3 "$relay_py" serve "$BENCH_WORK/relay.port" \
    "$BENCH_WORK/relay.log" >"$BENCH_WORK/relay.out" 2>&1 &
relay_pid=$!
qtk_on_exit qtk_kill_pid "$relay_pid"
qtk_wait_until 30000 test -s "$BENCH_WORK/relay.port" ||
    qtk_die "the relay did not start: $(cat "$BENCH_WORK/relay.out")"
QTK_PCSC_RELAY_PORT=$(cat "$BENCH_WORK/relay.port")
export QTK_PCSC_RELAY_PORT

bench_prepare 96
cp "$(realpath "$(bench_option winscard)")" "$WINEPREFIX/drive_c/windows/system32/winscard.dll"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winscard=n"

# ---- certificates, in the card's state only: made here with openssl, added with their
# key-provider property as a smart-card middleware adds them.
declare -A thumb
if [[ $state == card ]]; then
    companion_test_ca 'QRN PCSC Root'
    companion_issue usable client "$(companion_when '-1 day')" "$(companion_when '+1 year')"
    companion_issue expired client "$(companion_when '-2 years')" "$(companion_when '-1 year')"
    companion_issue mailonly mail "$(companion_when '-1 day')" "$(companion_when '+1 year')"
    companion_der root usable expired mailonly
    ksp='Microsoft Smart Card Key Storage Provider'
    rc=0
    qtk_wine "$BENCH_PROBE" cert-add-root "$(companion_der_path root)" \
        cert-add-my "$(companion_der_path usable)" "$ksp" 0 cert-add-my "$(companion_der_path expired)" "$ksp" 0 \
        cert-add-my "$(companion_der_path mailonly)" "$ksp" 0 >add.tsv 2>>"$BENCH_WORK/probe.log" || rc=$?
    ((rc == 0)) || qtk_die "tkprobe cert-add exited $rc: $(tail -n 3 add.tsv)"
    # Acquiring such a certificate's key would reach for the card (and here fails): the
    # examination must never try. Wine's relay trace shows every call to the functions that
    # acquire a key, and to one it does call, which shows the trace works.
    key_calls='crypt32.CryptAcquireCertificatePrivateKey;advapi32.CryptAcquireContextA;advapi32.CryptAcquireContextW;ncrypt.NCryptOpenStorageProvider;ncrypt.NCryptOpenKey'
    qtk_reg_set 'HKCU\Software\Wine\Debug' RelayInclude REG_SZ "crypt32.CertEnumCertificatesInStore;$key_calls"
fi

# ---- the examination
: >"$BENCH_WORK/relay.log"
if [[ $state == card ]]; then
    WINEDEBUG=-all,err+all,+relay companion_run exam --report-only --json
    expect_true "the relay trace sees the certificates enumerated" \
        grep -q 'Call crypt32.CertEnumCertificatesInStore' exam.err
    # crypt32 hashes with a provider of its own: a verify context, no container, no key.
    # The trace prints a DWORD argument as the whole 64-bit register, whose upper half may
    # hold anything: only the low eight digits are the flags (CRYPT_VERIFYCONTEXT).
    expect "calls that acquire a key" \
        "$(grep -E "Call (${key_calls//;/|})\(" exam.err |
            grep -vE 'Call advapi32\.CryptAcquireContext[AW]\([0-9a-f]+,00000000,.*,[0-9a-f]*f0000000\)' |
            sed 's/^[0-9a-f]*://; s/ ret=.*//' | sort -u | tr '\n' ' ')" ""
elif [[ $state == arrival ]]; then
    qtk_wine --version >/dev/null
    timeout "$COMPANION_HANG_S" wine "$COMPANION_EXE" --report-only --json >exam.out 2>exam.err </dev/null &
    exam_pid=$!
    qtk_on_exit qtk_kill_pid "$exam_pid"
    qtk_wait_until 120000 grep -q '^SCardReleaseContext held' "$BENCH_WORK/relay.log" ||
        qtk_die "the examination never got to SCardReleaseContext: $(cat "$BENCH_WORK/relay.log")"
    start_card
    expect_true "the examination was still running when the card arrived" kill -0 "$exam_pid"
    touch "$hold"
    COMPANION_STATUS=0
    wait "$exam_pid" || COMPANION_STATUS=$?
else
    companion_run exam --report-only --json
fi
echo "tkexamine exited $COMPANION_STATUS; the relay saw:"
sed 's/^/  /' "$BENCH_WORK/relay.log"
companion_validate exam.out
row() { companion_row exam.out "$@"; }
# detail ID NAME: one detail of a row ("-" when there is none).
detail() {
    companion_report_field exam.out checks | /usr/bin/python3 -c 'import json, sys
rows = [r for r in json.load(sys.stdin) if r["id"] == sys.argv[1]]
print(rows[0]["details"].get(sys.argv[2], "-") if rows else "-")' "$1" "$2"
}
# expect_row ID VERDICT TEXT: the row is there with VERDICT and TEXT in its reason.
expect_row() {
    expect "verdict of $1" "$(row "$1" verdict)" "$2"
    local reason
    reason=$(row "$1" reason)
    [[ $reason == *"$3"* ]] || fail "reason of $1 lacks '$3': $reason"
}
reader_rows() {
    companion_report_field exam.out checks |
        /usr/bin/python3 -c 'import json, sys
for r in json.load(sys.stdin):
    if r["id"].startswith("token.machine.reader."):
        print(r["id"])'
}
first=token.machine.reader.virtual_pcd_00_00
second=token.machine.reader.virtual_pcd_00_01

# The reader survey went through the stand-in, and never asked the state with a wait.
expect_true "the stand-in winscard.dll carried the calls" grep -q '^SCardEstablishContext' "$BENCH_WORK/relay.log"
expect "reader state asked with a wait" \
    "$(grep '^SCardGetStatusChange' "$BENCH_WORK/relay.log" | grep -vc 'timeout=0 ' || true)" 0

case $state in
    card)
        expect_row token.machine.readers pass "2 reader(s) seen, 1 holding a token"
        expect "first reader's name" "$(detail token.machine.readers reader_1)" "Virtual PCD 00 00"
        expect_row "$first" pass "a token is present"
        expect "the card's ATR" "$(detail "$first" atr)" "3B 95 13 81 01 80 73 FF 01 00 0B"
        expect_row "$second" pass "no token in this reader (another reader holds one)"
        expect "ATR of the empty slot" "$(detail "$second" atr)" -
        cert() { printf 'token.user.certificate.%s' "${thumb[$1]}"; }
        expect_row token.user.certificates pass "3 certificate(s) with a key on a token"
        expect_row "$(cert usable)" pass "usable for web sign-in (TLS client authentication)"
        expect_row "$(cert expired)" fail "expired on"
        expect_row "$(cert mailonly)" fail "not usable for Client Authentication"
        expect "the user's failing token rows" "$(companion_report_field exam.out checks | /usr/bin/python3 -c 'import json, sys
print(" ".join(sorted(r["id"] for r in json.load(sys.stdin)
                      if r["verdict"] == "fail" and r["id"].startswith("token.user."))))')" \
            "$(printf '%s\n' "$(cert expired)" "$(cert mailonly)" | sort | tr '\n' ' ' | sed 's/ $//')"
        expect "exit code of tkexamine" "$COMPANION_STATUS" 1
        ;;
    removed)
        expect_row token.machine.readers pass "2 reader(s) seen, 0 holding a token"
        expect_row "$first" fail "no token in this reader; no token in any reader"
        expect_row "$second" fail "no token in this reader; no token in any reader"
        expect "ATR once the card is out" "$(detail "$first" atr)" -
        expect "exit code of tkexamine" "$COMPANION_STATUS" 1
        ;;
    no_reader)
        expect_row token.machine.readers fail "no smart-card reader is attached or seen by Windows"
        expect "code" "$(detail token.machine.readers code)" 0x8010002E
        expect "reader rows" "$(reader_rows | wc -l)" 0
        expect "exit code of tkexamine" "$COMPANION_STATUS" 1
        ;;
    arrival)
        expect "reader state asked" "$(grep -c '^SCardGetStatusChange' "$BENCH_WORK/relay.log")" 1
        expect_row token.machine.readers pass "2 reader(s) seen, 0 holding a token"
        expect_row "$first" fail "no token in this reader; no token in any reader"
        expect "exit code of tkexamine" "$COMPANION_STATUS" 1
        ;;
    stopped)
        expect_row token.machine.readers fail \
            "the smart-card resource manager is not running: SCardEstablishContext answered 0x8010001D"
        expect "reader rows" "$(reader_rows | wc -l)" 0
        expect "exit code of tkexamine" "$COMPANION_STATUS" 1
        ;;
esac
echo "token rows:"
companion_report_field exam.out checks | /usr/bin/python3 -c 'import json, sys
for r in json.load(sys.stdin):
    if r["group"] == "token":
        print("  " + "\t".join([r["id"], r["verdict"], r["reason"], r["details"].get("code", ""), r["details"].get("atr", "")]))'

finish
