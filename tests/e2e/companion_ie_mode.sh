#!/usr/bin/env bash
# Edge's IE mode and the system's own zone, end to end under Wine: the policies in the
# prefix's registry, the Enterprise Mode Site List as a local file, over HTTP from a server
# on 127.0.0.1 that the case starts and stops, as a v.1 list behind a file: URL, not
# well-formed, and unreachable; and Wine's zone manager asked about every trusted site.
#
# Called as the other companion cases, with the IE-mode probe as the last argument.
source "$(dirname "$0")/companion_lib.sh" "$@"
IE_PROBE=$(realpath "${CASE_ARGS[3]:?tkiemodeprobe.exe}")

EDGE='HKLM\Software\Policies\Microsoft\Edge'

# ie_run NAME: the probe's rows in NAME.tsv.
ie_run() {
    if ! timeout 60 wine "$IE_PROBE" >"$BENCH_WORK/$1.tsv" 2>>"$BENCH_WORK/probe.log" </dev/null; then
        bench_fail "the IE-mode probe failed in run $1"
    fi
    tr -d '\r' <"$BENCH_WORK/$1.tsv" >"$BENCH_WORK/$1.rows"
}

# ie_expect RUN KIND SITE COLUMN WANT [WHY]: column COLUMN (3 = verdict or zone, 4 = reason
# or disagreement, 5 = note) of SITE's KIND row.
ie_expect() {
    local run=$1 kind=$2 site=$3 column=$4 want=$5 got
    got=$(awk -F'\t' -v k="$kind" -v s="$site" -v c="$column" '$1 == k && $2 == s { print $c }' \
        "$BENCH_WORK/$run.rows")
    bench_expect "$run: $kind $site${6:+ ($6)}" "$got" "$want"
}

# ie_reason_has RUN SITE TEXT: the IE-mode row's reason says TEXT.
ie_reason_has() {
    local reason
    reason=$(awk -F'\t' -v s="$2" '$1 == "ie_mode" && $2 == s { print $4 }' "$BENCH_WORK/$1.rows")
    [[ $reason == *"$3"* ]] || bench_fail "$1: the reason for $2 does not say \"$3\": $reason"
}

# ie_all RUN VERDICT: every IE-mode row has VERDICT.
ie_all() {
    local others
    others=$(awk -F'\t' -v v="$2" '$1 == "ie_mode" && $3 != v { print $2 ": " $3 }' "$BENCH_WORK/$1.rows")
    bench_expect "$1: rows not $2" "$others" ""
    bench_expect_true "$1: eleven IE-mode rows" test "$(grep -c '^ie_mode' "$BENCH_WORK/$1.rows")" = 11
}

bench_prepare 96
companion_import "$COMPANION_DIR/companion_ie_mode_registry.reg"
cp "$COMPANION_DIR"/companion_ie_mode_{v2,v1,broken}.xml "$BENCH_WORK/"

# ---- the list as a local file
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "$(qtk_windows_path "$BENCH_WORK/companion_ie_mode_v2.xml")"
ie_run local
while IFS=' ' read -r site verdict; do
    ie_expect local ie_mode "$site" 3 "$verdict"
done <<'ROWS'
https://tesk.qrn.example pass
https://*.halvek.example fail
https://*.hvk.example fail
https://*.hvk.qrn.example pass
https://*.qrn.example fail
https://*.drosk.example fail
https://*.pelund.example fail
https://kessor.qrn.example fail
https://sandrel.qrn.example pass
https://telmira.qrn.example pass
http://*.omvar.example pass
ROWS
ie_reason_has local 'https://*.qrn.example' 'except kessor.qrn.example'
ie_reason_has local 'https://*.halvek.example' 'neutral'

# Wine's zone manager, asked for the process's own user. Wine follows the conformance
# cases Windows passes for these shapes: the host sub-key maps its host, the one-piece key
# hvk.qrn.example does not reach the hosts below it, and the machine's list counts for the
# user, which the user column (HKCU only) does not show: a disagreement the report marks.
ie_expect local zone https://tesk.qrn.example 3 2
ie_expect local zone https://tesk.qrn.example 4 no
ie_expect local zone 'https://*.hvk.qrn.example' 3 3 "one-piece longer key"
ie_expect local zone 'https://*.hvk.qrn.example' 4 no
ie_expect local zone 'https://*.pelund.example' 3 2 "the machine's list"
ie_expect local zone 'https://*.pelund.example' 4 yes
ie_expect local zone https://kessor.qrn.example 4 no

# ---- the same list over HTTP, from a server of the case's own on 127.0.0.1
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$BENCH_WORK" \
    >"$BENCH_WORK/http.log" 2>&1 &
http_pid=$!
qtk_on_exit qtk_kill_pid "$http_pid"
qtk_wait_until 20000 grep -q 'port [0-9]' "$BENCH_WORK/http.log" || qtk_die "the HTTP server did not start"
port=$(grep -oE 'port [0-9]+' "$BENCH_WORK/http.log" | head -n 1 | cut -d' ' -f2)
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "http://127.0.0.1:$port/companion_ie_mode_v2.xml"
ie_run http
bench_expect "the rows from the list over HTTP" \
    "$(grep '^ie_mode' "$BENCH_WORK/http.rows" | cut -f2,3)" \
    "$(grep '^ie_mode' "$BENCH_WORK/local.rows" | cut -f2,3)"
bench_expect_true "the list was fetched from the server" grep -q 'GET /companion_ie_mode_v2.xml' "$BENCH_WORK/http.log"

# ---- a v.1 list behind a file: URL
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "file:///Z:${BENCH_WORK}/companion_ie_mode_v1.xml"
ie_run v1
ie_expect v1 ie_mode https://tesk.qrn.example 3 pass
ie_expect v1 ie_mode https://kessor.qrn.example 3 fail "excluded"
ie_expect v1 ie_mode 'https://*.pelund.example' 3 pass "docMode"
ie_reason_has v1 https://tesk.qrn.example 'v.1'

# ---- a list that is not well-formed: undecided, with the reason
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ \
    "$(qtk_windows_path "$BENCH_WORK/companion_ie_mode_broken.xml")"
ie_run broken
ie_all broken undecided
ie_reason_has broken https://tesk.qrn.example 'not well-formed'

# ---- a list server that does not answer: undecided, with the reason
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
qtk_reg_set "$EDGE" InternetExplorerIntegrationSiteList REG_SZ "http://127.0.0.1:$closed/sites.xml"
ie_run unreachable
ie_all unreachable undecided
ie_reason_has unreachable https://tesk.qrn.example 'could not be fetched'

# ---- a sub-key with no value for the scheme. Our reading goes on to the domain key and
# passes sandrel; Wine's zone manager stops at the sub-key and answers Internet, where the
# documented layout (a key speaks only for the protocols it names) reads on. The report
# marks the row as a disagreement, which is what it is for.
qtk_reg_set 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example' https REG_DWORD 2
qtk_reg_set 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains\qrn.example\sandrel' http REG_DWORD 3
ie_run nodefault
ie_expect nodefault zone https://kessor.qrn.example 3 2 "the two-label domain key"
ie_expect nodefault zone https://kessor.qrn.example 4 no
ie_expect nodefault zone https://sandrel.qrn.example 3 3 "Wine stops at the sub-key"
ie_expect nodefault zone https://sandrel.qrn.example 4 yes

# ---- IE mode switched off: every row fails, the list is not even fetched
qtk_reg_set "$EDGE" InternetExplorerIntegrationLevel REG_DWORD 0
ie_run off
ie_all off fail
ie_reason_has off https://tesk.qrn.example '0 (None)'

bench_finish
