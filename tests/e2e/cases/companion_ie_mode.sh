#!/usr/bin/env bash
# Edge's IE mode and Windows' own zone in tkexamine's report, end to end under Wine: the
# policies in the prefix's registry, the Enterprise Mode Site List as a local file, over
# HTTP from a server on 127.0.0.1 that the case starts and stops, as a v.1 list behind a
# file: URL (not supported by IE mode), not well-formed, and unreachable; NeedIE as IE
# mode, Internet Explorer's own site-list policy, a cloud site list that overrides the
# local one, and the Internet Explorer 11 feature removed; and Wine's zone manager asked
# about every trusted site, its answer beside the user column and the disagreements in the
# summary.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

EDGE='HKLM\Software\Policies\Microsoft\Edge'
IE_LIST='HKLM\Software\Policies\Microsoft\Internet Explorer\Main\EnterpriseMode'

# ie_run NAME: tkexamine --report-only with the report in NAME.json, the summary in NAME.out.
ie_run() {
    companion_run "$1" --report-only --json="$(qtk_windows_path "$BENCH_WORK/$1.json")"
    [[ -s $BENCH_WORK/$1.json ]] || fail "$1: no report (exit $COMPANION_STATUS: $(cat "$1.err"))"
    companion_validate "$BENCH_WORK/$1.json"
}

# ie_value RUN ID FIELD [DETAIL]: a row's field, or one of its details.
ie_value() {
    python3 - "$BENCH_WORK/$1.json" "$2" "$3" "${4:-}" <<'PY'
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
rows = [r for r in report["checks"] if r["id"] == sys.argv[2]]
if not rows:
    print("-")
elif sys.argv[4]:
    print(rows[0]["details"].get(sys.argv[4], "-"))
else:
    print(rows[0][sys.argv[3]])
PY
}

# ie_expect RUN SITE VERDICT: the IE-mode row of SITE ("https:tesk.qrn.example").
ie_expect() {
    expect "$1: ie_mode $2" "$(ie_value "$1" "ie_mode.user.$2" verdict)" "$3"
}

# ie_zone RUN SITE ZONE DISAGREEMENT [WHY]: Windows' zone beside SITE's user row.
ie_zone() {
    local id="trusted_sites.user.$2"
    expect "$1: Windows' zone for $2${5:+ ($5)}" "$(ie_value "$1" "$id" details system_zone)" "$3"
    expect "$1: disagreement on $2" "$(ie_value "$1" "$id" details zone_disagreement)" "$4"
}

# ie_reason_has RUN SITE TEXT
ie_reason_has() {
    local reason
    reason=$(ie_value "$1" "ie_mode.user.$2" reason)
    [[ $reason == *"$3"* ]] || fail "$1: the reason for $2 does not say \"$3\": $reason"
}

# ie_verdicts RUN: the IE-mode rows' ids and verdicts, one a line.
ie_verdicts() {
    python3 - "$BENCH_WORK/$1.json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"]:
    if r["group"] == "ie_mode":
        print(r["id"], r["verdict"])
PY
}

# ie_all RUN VERDICT: every IE-mode row has VERDICT, and there are eleven.
ie_all() {
    local verdicts
    verdicts=$(python3 - "$BENCH_WORK/$1.json" <<'PY'
import json, sys
rows = [r for r in json.load(open(sys.argv[1], encoding="utf-8"))["checks"] if r["group"] == "ie_mode"]
print(len(rows), " ".join(sorted(set(r["verdict"] for r in rows))))
PY
)
    expect "$1: the IE-mode rows" "$verdicts" "11 $2"
}

bench_prepare 96
companion_import "$COMPANION_DATA/ie_mode_registry.reg"
cp "$COMPANION_DATA"/ie_mode_{v2,v1,broken}.xml "$BENCH_WORK/"

# ---- the list as a local file
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "$(qtk_windows_path "$BENCH_WORK/ie_mode_v2.xml")"
ie_run local
while IFS=' ' read -r site verdict; do
    ie_expect local "$site" "$verdict"
done <<'ROWS'
https:tesk.qrn.example pass
https:*.halvek.example fail
https:*.hvk.example fail
https:*.hvk.qrn.example pass
https:*.qrn.example fail
https:*.drosk.example fail
https:*.pelund.example fail
https:kessor.qrn.example fail
https:sandrel.qrn.example pass
https:telmira.qrn.example pass
http:*.omvar.example pass
ROWS
ie_reason_has local 'https:*.qrn.example' 'except kessor.qrn.example'
ie_reason_has local 'https:*.halvek.example' 'neutral'
# A sign-on host listed as neutral below a domain sent to IE11 keeps its row a pass.
ie_reason_has local 'http:*.omvar.example' 'login.omvar.example'
expect_true "local: the summary counts the ie_mode group" grep -q 'ie_mode .*5 pass, 6 fail' local.out

# Wine's zone manager, asked for the process's own user. Wine follows the conformance
# cases Windows passes for these shapes: the host sub-key maps its host, the one-piece key
# hvk.qrn.example does not reach the hosts below it, and the machine's list counts for the
# user, which the user column (HKCU only) does not show: a disagreement the report marks.
ie_zone local https:tesk.qrn.example '2 (Trusted sites)' no
ie_zone local 'https:*.hvk.qrn.example' '3 (Internet)' no "one-piece longer key"
ie_zone local 'https:*.pelund.example' '2 (Trusted sites)' yes "the machine's list"
ie_zone local https:kessor.qrn.example '3 (Internet)' no
expect "local: Windows' zone is not set beside the machine column" \
    "$(ie_value local 'trusted_sites.machine.https:tesk.qrn.example' details system_zone)" "-"
expect_true "local: the summary names the disagreement" \
    grep -q 'https://\*\.pelund\.example: Windows maps it to Trusted sites' local.out

# ---- the same list over HTTP, from a server of the case's own on 127.0.0.1
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$BENCH_WORK" \
    >"$BENCH_WORK/http.log" 2>&1 &
http_pid=$!
qtk_on_exit qtk_kill_pid "$http_pid"
qtk_wait_until 20000 grep -q 'port [0-9]' "$BENCH_WORK/http.log" || qtk_die "the HTTP server did not start"
port=$(grep -oE 'port [0-9]+' "$BENCH_WORK/http.log" | head -n 1 | cut -d' ' -f2)
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "http://127.0.0.1:$port/ie_mode_v2.xml"
ie_run http
expect "the verdicts from the list over HTTP" "$(ie_verdicts http)" "$(ie_verdicts local)"
expect_true "the list was fetched from the server" grep -q 'GET /ie_mode_v2.xml' "$BENCH_WORK/http.log"
qtk_kill_pid "$http_pid"

# ---- a v.1 list behind a file: URL
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "file:///Z:${BENCH_WORK}/ie_mode_v1.xml"
ie_run v1
ie_all v1 fail
ie_reason_has v1 https:tesk.qrn.example 'does not support v.1 lists'
ie_reason_has v1 'https:*.pelund.example' 'does not support v.1'

# ---- a list that is not well-formed: undecided, with the reason
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "$(qtk_windows_path "$BENCH_WORK/ie_mode_broken.xml")"
ie_run broken
ie_all broken undecided
ie_reason_has broken https:tesk.qrn.example 'not well-formed'

# ---- a list server that does not answer: undecided, with the reason
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ "http://127.0.0.1:$closed/sites.xml"
ie_run unreachable
ie_all unreachable undecided
ie_reason_has unreachable https:tesk.qrn.example 'could not be fetched'

# ---- a sub-key with no value for the scheme. Our reading goes on to the domain key and
# passes sandrel; Wine's zone manager stops at the sub-key and answers Internet, where the
# documented layout (a key speaks only for the protocols it names) reads on. The report
# marks the row as a disagreement, which is what it is for.
qtk_reg_set 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example' https REG_DWORD 2
qtk_reg_set 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example\sandrel' http REG_DWORD 3
ie_run nodefault
ie_zone nodefault https:kessor.qrn.example '2 (Trusted sites)' no "the two-label domain key"
ie_zone nodefault https:sandrel.qrn.example '3 (Internet)' yes "Wine stops at the sub-key"

# ---- NeedIE (2) opens IE mode since the IE11 retirement: the same verdicts as IEMode (1)
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "$(qtk_windows_path "$BENCH_WORK/ie_mode_v2.xml")"
qtk_reg_set "$EDGE" InternetExplorerIntegrationLevel REG_DWORD 2
ie_run needie
expect "the verdicts with NeedIE" "$(ie_verdicts needie)" "$(ie_verdicts local)"

# ---- Internet Explorer's own site-list policy, Edge's not set: IE mode uses it
qtk_reg_delete "$EDGE" InternetExplorerIntegrationSiteList
qtk_reg_set "$IE_LIST" SiteList REG_SZ "$(qtk_windows_path "$BENCH_WORK/ie_mode_v2.xml")"
ie_run ielist
expect "the verdicts from Internet Explorer's list" "$(ie_verdicts ielist)" "$(ie_verdicts local)"
expect "ielist: the policy in force" \
    "$(ie_value ielist 'ie_mode.user.https:tesk.qrn.example' details site_list_policy)" \
    'HKLM\Software\Policies\Microsoft\Internet Explorer\Main\EnterpriseMode value SiteList'

# ---- a cloud site list overrides the local one and cannot be read here: undecided
qtk_reg_set "$EDGE" InternetExplorerIntegrationCloudSiteList REG_SZ 3f0c1b4e-8c1a-4c55-9d2e-7d1c0a9e5b21
ie_run cloud
ie_all cloud undecided
ie_reason_has cloud https:tesk.qrn.example 'InternetExplorerIntegrationCloudSiteList'
qtk_reg_delete "$EDGE" InternetExplorerIntegrationCloudSiteList

# ---- the Internet Explorer 11 feature removed: Wine's prefix has the feature's
# iexplore.exe where Windows keeps it, so the runs above find the feature in place; taken
# away (from this prefix's own folder), every row fails with that reason.
iexplore="$WINEPREFIX/drive_c/Program Files/Internet Explorer/iexplore.exe"
[[ -f $iexplore ]] || qtk_die "the prefix has no $iexplore"
mv "$iexplore" "$iexplore.removed"
ie_run noie11
mv "$iexplore.removed" "$iexplore"
ie_all noie11 fail
ie_reason_has noie11 https:tesk.qrn.example 'Internet Explorer 11 feature'

# ---- IE mode switched off: every row fails
qtk_reg_set "$EDGE" InternetExplorerIntegrationLevel REG_DWORD 0
ie_run off
ie_all off fail
ie_reason_has off https:tesk.qrn.example '0 (None)'

finish
