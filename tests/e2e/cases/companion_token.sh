#!/usr/bin/env bash
# The token group through the companion's own Windows layer (the probe's token-rows runs
# the same examination code), on a prefix with no smart-card reader and then with test
# certificates this case makes and adds to the prefix user's stores:
#
# - no reader: whatever Wine's smart-card layer answers is reported as it is (here, with
#   no PC/SC daemon, SCardEstablishContext gives 0x80100001), never as a pass;
# - certificates whose key-provider property names a smart-card provider: one usable (for
#   web sign-in, not Windows sign-in), one expired, one for e-mail only (no Client
#   Authentication), one that chains to a root nobody trusts, one whose issuer is in no
#   store (undecided: Windows would fetch it when the certificate is used), one expiring in
#   ten days, one of a vendor provider that a card type registers, with Smart Card Logon
#   (also for Windows sign-in); one of a software provider, which is left out;
# - services: the Smart Card service stopped with a manual start (a reader's arrival starts
#   it: fine), Certificate Propagation stopped with a plain manual start and no trigger
#   (nothing starts it when a token is inserted: a fail), and the client package's own
#   service found from its Uninstall entry's folder, set to start automatically yet stopped;
# - the examination writes nothing: a registry export before and after is the same and
#   inotify sees nothing written under the user's profile or C:\tmptk;
# - tkexamine --report-only --json carries the same rows, in a report valid against its
#   schema, and counts the group in its summary.
# - another user's certificates (--user SID, as under SYSTEM for the console user) come from
#   their own store, which this Wine reaches as the registry store on their hive.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"
# The certificates are made anew for each run, so their rows (ids by thumbprint, dates)
# cannot be recorded; the rows are judged one by one below instead.
COMPANION_CHECK_ROWS=0

# token_probe OUT ARG...: the probe with its output in OUT; the case fails if it cannot.
token_probe() {
    local out=$1 rc=0
    shift
    qtk_wine "$BENCH_PROBE" "$@" >"$out" 2>>"$BENCH_WORK/probe.log" || rc=$?
    ((rc == 0)) || qtk_die "tkprobe $* exited $rc: $(grep '^error' "$out" || tail -n 3 "$out")"
}

# row FILE ID: the row's line; field FILE ID N: its Nth tab-separated field (2 verdict,
# 3 reason); detail FILE ID NAME: the value of one of its details.
row() { awk -F'\t' -v id="$2" '$1 == id' "$1"; }
field() { row "$1" "$2" | cut -f "$3"; }
detail() { row "$1" "$2" | tr '\t' '\n' | sed -n "s/^$3=//p"; }

# expect_row FILE ID VERDICT TEXT: the row is there with VERDICT and TEXT in its reason.
expect_row() {
    local line
    line=$(row "$1" "$2")
    if [[ -z $line ]]; then
        fail "no row $2 in $1"
        return
    fi
    expect "verdict of $2" "$(cut -f2 <<<"$line")" "$3"
    [[ $(cut -f3 <<<"$line") == *"$4"* ]] || fail "reason of $2 lacks '$4': $(cut -f3 <<<"$line")"
}

# ---- certificates, made here with openssl
companion_test_ca 'QRN Test Root'
certs=$COMPANION_CERTS
companion_issue usable client "$(companion_when '-1 day')" "$(companion_when '+1 year')"
companion_issue expired client "$(companion_when '-2 years')" "$(companion_when '-1 year')"
companion_issue mailonly mail "$(companion_when '-1 day')" "$(companion_when '+1 year')"
companion_issue soon client "$(companion_when '-1 day')" "$(companion_when '+10 days 1 hour')"
companion_issue vendor logon "$(companion_when '-1 day')" "$(companion_when '+1 year')"
companion_issue software client "$(companion_when '-1 day')" "$(companion_when '+1 year')"
# Issued by an intermediate that is put in no store.
companion_issue intermediate intermediate "$(companion_when '-1 day')" "$(companion_when '+2 years')"
companion_openssl req -newkey rsa:2048 -nodes -keyout "$certs/orphan.key" -out "$certs/orphan.csr" -subj "/CN=orphan"
printf 'basicConstraints = CA:FALSE\nextendedKeyUsage = clientAuth\n' >"$certs/orphan.ext"
companion_openssl x509 -req -in "$certs/orphan.csr" -CA "$certs/intermediate.pem" \
    -CAkey "$certs/intermediate.key" -set_serial 4242 -days 365 -extfile "$certs/orphan.ext" \
    -out "$certs/orphan.pem"
# Its own root, which nobody trusts.
companion_openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/stranger.key" -out "$certs/stranger.pem" \
    -subj "/CN=stranger" -days 365 -addext "extendedKeyUsage=clientAuth"
declare -A thumb
companion_der root usable expired mailonly soon vendor software stranger orphan

bench_prepare 96

# ---- no reader, no certificate
token_probe none.tsv token-rows
readers_verdict=$(field none.tsv token.machine.readers 2)
readers_reason=$(field none.tsv token.machine.readers 3)
echo "Wine answered: $readers_verdict: $readers_reason"
expect_true "the readers row is there" test -n "$readers_verdict"
[[ $readers_verdict != pass ]] || fail "no reader on this bench, yet: $readers_reason"
code=$(detail none.tsv token.machine.readers code)
if [[ $readers_verdict == undecided ]]; then
    # Passed on as it came: the code the smart-card layer gave is in the reason.
    expect_true "the smart-card layer's answer ($code) is in the reason" \
        test -n "$code" -a "${readers_reason/$code/}" != "$readers_reason"
fi
expect "reader rows with no reader" "$(grep -c '^token\.machine\.reader\.' none.tsv || true)" 0
expect_row none.tsv token.user.certificates fail "no certificate in the personal store"
expect "rows of the token group only" "$(cut -f1 none.tsv | grep -vc '^token\.' || true)" 0

# ---- test certificates in the user's stores
ksp='Microsoft Smart Card Key Storage Provider'
csp='Microsoft Base Smart Card Crypto Provider'
token_probe add.tsv cert-add-root "$(companion_der_path root)" \
    cert-add-my "$(companion_der_path usable)" "$ksp" 0 cert-add-my "$(companion_der_path expired)" "$csp" 1 \
    cert-add-my "$(companion_der_path mailonly)" "$ksp" 0 cert-add-my "$(companion_der_path stranger)" "$ksp" 0 \
    cert-add-my "$(companion_der_path soon)" "$ksp" 0 cert-add-my "$(companion_der_path vendor)" 'Test Vendor Token CSP' 1 \
    cert-add-my "$(companion_der_path orphan)" "$ksp" 0 \
    cert-add-my "$(companion_der_path software)" 'Microsoft Software Key Storage Provider' 0
qtk_reg_set 'HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\Test Vendor Card' \
    'Crypto Provider' REG_SZ 'Test Vendor Token CSP'

# Services as the service manager holds them: the two smart-card ones (which this Wine
# does not have) with a manual start each (Wine registers no trigger), and a service of the client package
# in the folder its Uninstall entry names, set to start automatically but not running.
sc_create() {
    qtk_wine sc create "$@" >>"$BENCH_WORK/wine.log" 2>&1 || qtk_die "sc create $1 failed"
}
sc_create SCardSvr binPath= 'C:\windows\system32\svchost.exe -k LocalServiceAndNoImpersonation' start= demand
sc_create CertPropSvc binPath= 'C:\windows\system32\svchost.exe -k netsvcs' start= demand
client='SafeNet Authentication Client 8.2'
sc_create QrnTokenSvc binPath= '"C:\Program Files\Vendor\Client\bin\tokensvc.exe" -service' start= auto
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5A1E7E57-0000-4000-8000-000000000001}'
qtk_reg_set "$uninstall" DisplayName REG_SZ "$client"
qtk_reg_set "$uninstall" InstallLocation REG_SZ 'C:\Program Files\Vendor\Client\'

# ---- the examination, watched
# HKLM\System beyond the services holds Wine's own device entries, which its display
# driver refreshes whenever a process starts; the services are where this group reads.
registry_keys=('HKLM\Software' 'HKLM\System\CurrentControlSet\Services' 'HKCU')
export_registry() {
    local key i=0
    : >"$1.regs"
    for key in "${registry_keys[@]}"; do
        qtk_wine reg export "$key" "$1.$i.reg" /y >>"$BENCH_WORK/wine.log" 2>&1 ||
            qtk_die "reg export $key failed"
        # Wine's user32 keeps its volatile copy of the display settings under HKCU\Software\
        # Wine\Temporary System Parameters and writes it when a process first needs it:
        # Wine's, not the examination's (the bench's read-only case measures it the same way).
        iconv -f UTF-16LE -t UTF-8 "$1.$i.reg" | tr -d '\r' |
            awk '/^\[/ { skip = index($0, "\\Software\\Wine\\Temporary System Parameters") > 0 }
                 !skip' >>"$1.regs"
        i=$((i + 1))
    done
}
export_registry before
watch_log=$BENCH_WORK/token.inotify
inotifywait -m -r --format $'%w%f\t%e' -o "$watch_log" \
    -e modify,attrib,close_write,create,delete,moved_from,moved_to \
    "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/tmptk" 2>"$watch_log.err" &
watch_pid=$!
qtk_on_exit qtk_kill_pid "$watch_pid"
qtk_wait_until 20000 grep -q 'Watches established' "$watch_log.err" ||
    qtk_die "inotifywait did not start: $(cat "$watch_log.err")"
token_probe report.tsv token-rows
# tkexamine itself, reporting only: the same rows in its summary and JSON report.
companion_run exam --report-only --json
# A fence: once its own event is logged, every earlier one is too.
touch "$WINEPREFIX/drive_c/tmptk/.fence"
qtk_wait_until 10000 grep -q '/\.fence' "$watch_log" || fail "inotify lost its events"
qtk_kill_pid "$watch_pid"
export_registry after
expect "registry lines changed by the examination" \
    "$(diff before.regs after.regs | grep -c '^[<>]' || true)" 0
expect "files written by the examination" "$(grep -v '/\.fence' "$watch_log" | tr '\n' ' ')" ""
rm -f "$WINEPREFIX/drive_c/tmptk/.fence"

# ---- tkexamine's report carries the group as the probe saw it
expect "exit code of tkexamine (token rows fail)" "$COMPANION_STATUS" 1
companion_validate exam.out
expect "token rows in the report" "$(grep -c '^token\.' report.tsv)" \
    "$(python3 -c 'import json, sys; print(sum(r["group"] == "token" for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"]))' exam.out)"
while IFS=$'\t' read -r id verdict _; do
    expect "report verdict of $id" "$(companion_row exam.out "$id" verdict)" "$verdict"
done < <(grep '^token\.' report.tsv)
expect "the usable certificate's issuer in the report" \
    "$(companion_report_field exam.out checks | python3 -c 'import json, sys; rows = json.load(sys.stdin); print(next(r["details"]["issuer"] for r in rows if r["id"] == sys.argv[1]))' "$(printf 'token.user.certificate.%s' "${thumb[usable]}")")" \
    "CN=QRN Test Root"
expect_true "the summary counts the token group" grep -qE '^ +token +' exam.err

# ---- what it found
expect_row report.tsv token.machine.scardsvr pass "stopped, manual start"
expect_row report.tsv token.machine.certpropsvc fail "no start trigger, so nothing starts it when a token is inserted"
expect_row report.tsv token.machine.middleware.safenet_authentication_client_8_2.qrntokensvc \
    fail "stopped, automatic start"
expect_row report.tsv token.machine.middleware.safenet_authentication_manager_client_8_0_sp2 \
    undecided "not installed"
cert() { printf 'token.user.certificate.%s' "${thumb[$1]}"; }
expect_row report.tsv token.user.certificates pass "7 certificate(s) with a key on a token"
expect "software keys counted" "$(detail report.tsv token.user.certificates software_keys)" 1
expect_row report.tsv "$(cert usable)" pass "usable for web sign-in (TLS client authentication); not for Windows sign-in"
expect "Windows sign-in of the usable one" "$(detail report.tsv "$(cert usable)" windows_logon)" no
expect "chain of the usable one" "$(detail report.tsv "$(cert usable)" chain)" trusted
expect "its issuer" "$(detail report.tsv "$(cert usable)" issuer)" "CN=QRN Test Root"
expect_row report.tsv "$(cert expired)" fail "expired on"
# Expiry is its own fault: the chain of an expired certificate is judged on trust alone.
expect "chain of the expired one" "$(detail report.tsv "$(cert expired)" chain)" trusted
expect_row report.tsv "$(cert mailonly)" fail "not usable for Client Authentication"
expect "Client Authentication of the e-mail one" \
    "$(detail report.tsv "$(cert mailonly)" client_authentication)" no
expect_row report.tsv "$(cert stranger)" fail "does not chain to a trusted root"
expect_row report.tsv "$(cert orphan)" undecided "cannot be completed from this machine's stores"
expect "chain of the one whose issuer is nowhere" "$(detail report.tsv "$(cert orphan)" chain)" partial
expect "its missing issuer" "$(detail report.tsv "$(cert orphan)" missing_issuer)" "CN=intermediate"
expect_row report.tsv "$(cert soon)" pass "expires in 10 day(s)"
expect "the expiring one is flagged" "$(detail report.tsv "$(cert soon)" expires_soon)" yes
expect_row report.tsv "$(cert vendor)" pass "also for Windows sign-in (Smart Card Logon usage)"
expect "Windows sign-in of the vendor one" "$(detail report.tsv "$(cert vendor)" windows_logon)" yes
expect "the software key's certificate is left out" "$(row report.tsv "$(cert software)")" ""

# ---- another user's store, as SYSTEM reads the console user's: theirs, by SID, never ours.
# Their copy of the store lacks the usable certificate, so that ours cannot pass for it:
# they have one token certificate fewer than we do.
other_sid=S-1-5-21-111-222-333-1001
qtk_wine reg export 'HKCU\Software\Microsoft\SystemCertificates\MY' my.reg /y >>"$BENCH_WORK/wine.log" 2>&1 ||
    qtk_die "reg export of the MY store failed"
iconv -f UTF-16LE -t UTF-8 my.reg | sed "s/^\[HKEY_CURRENT_USER\\\\/[HKEY_USERS\\\\$other_sid\\\\/" |
    iconv -f UTF-8 -t UTF-16LE >other-my.reg
companion_import other-my.reg
qtk_wine reg delete "HKU\\$other_sid\\Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\${thumb[usable]^^}" /f \
    >>"$BENCH_WORK/wine.log" 2>&1 || qtk_die "cannot take the usable certificate out of the other user's store"
companion_run other --report-only --json --user "$other_sid"
companion_validate other.out
expect "another user's store: verdict" "$(companion_row other.out token.user.certificates verdict)" pass
own=$(detail report.tsv token.user.certificates token_keys)
expect "another user's store: reason" "$(companion_row other.out token.user.certificates reason)" \
    "$((own - 1)) certificate(s) with a key on a token"
expect "another user's store: where" "$(companion_row other.out token.user.certificates place)" \
    "personal store $other_sid\\MY"
expect "another user's store: the certificate only we have" "$(companion_row other.out "$(cert usable)" verdict)" -
expect "another user's store: one they have" "$(companion_row other.out "$(cert vendor)" verdict)" pass

finish
