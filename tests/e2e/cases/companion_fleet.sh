#!/usr/bin/env bash
# tkfleet.exe from the kit on a share as the fleet fills it: tkexamine --json=FOLDER\ leaves
# this workstation's report there, beside an older report of the same desk, another desk's
# and one cut short. The page and the CSV show the newest report of each desk and the
# unreadable one with its reason; the usage and a bad command line keep tkexamine's exit
# codes, and a folder that is not there ends the run with 3 and nothing written.
# shellcheck source=tests/e2e/lib/companion.sh
source "$(dirname "$0")/../lib/companion.sh" "$@"

FLEET_EXE=$COMPANION_KIT/tkfleet.exe
[[ -f $FLEET_EXE ]] || qtk_die "the kit has no tkfleet.exe ($COMPANION_KIT)"

bench_prepare 96
companion_import "$COMPANION_DATA/registry_a.reg"
share=$BENCH_WORK/share
out=$BENCH_WORK/out
mkdir -p "$share" "$out"

# fleet NAME ARG...: tkfleet.exe ARG...; output in NAME.out/.err, exit code in FLEET_STATUS.
fleet() {
    local name=$1
    shift
    FLEET_STATUS=0
    qtk_wine --version >/dev/null
    timeout "$COMPANION_HANG_S" wine "$FLEET_EXE" "$@" >"$name.out" 2>"$name.err" </dev/null ||
        FLEET_STATUS=$?
}

# ---- the share: this desk's report as tkexamine writes it, and what else a share holds
companion_run examine --report-only --json="$(qtk_windows_path "$share")\\"
expect_true "tkexamine completed (exit $COMPANION_STATUS)" test "$COMPANION_STATUS" -lt 3
report=$(find "$share" -name '*.json' | head -n1)
[[ -n $report ]] || qtk_die "tkexamine left no report in $share"
desk=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["computer_name"])' "$report")
# An older report of the same desk, in which everything passed: the newer one must win.
python3 - "$report" "$share/older.json" "$share/other.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
older = dict(report, started_utc="2020-01-01T00:00:00Z", exit_code=0, error=None,
             checks=[dict(c, verdict="pass") for c in report["checks"]],
             counts={"pass": len(report["checks"]), "fail": 0, "undecided": 0})
json.dump(older, open(sys.argv[2], "w"))
other = dict(older, computer_name="WS-OTHER", started_utc=report["started_utc"])
json.dump(other, open(sys.argv[3], "w"))
PY
printf '{"schema_version": 1, "tool": {' >"$share/cut-short.json"
fails=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["counts"]["fail"])' "$report")

fleet run "$(qtk_windows_path "$share")" --out "$(qtk_windows_path "$out")"
expect "tkfleet exit code" "$FLEET_STATUS" 0
expect "tkfleet's standard error" "$(cat run.err)" ""
expect_true "tkfleet wrote the page" test -s "$out/fleet.html"
csv=$(tr -d '\r' <"$out/fleet.csv")
verdict=ready
((fails == 0)) || verdict=failing
expect "the desk's verdict is its newest report's" \
    "$(awk -F, -v d="\"$desk\"" '$1 == d { print $2 }' <<<"$csv" | sort -u)" "$verdict"
expect "the other desk is ready" "$(awk -F, '$1 == "\"WS-OTHER\"" { print $2 }' <<<"$csv")" ready
expect "the desk's failing checks, one line each" \
    "$(awk -F, -v d="\"$desk\"" '$1 == d && $10 != "\"\""' <<<"$csv" | wc -l)" "$fails"
expect_true "the cut-short report is listed as unreadable" \
    grep -q '^"",unreadable,.*"not JSON.*cut-short.json"$' <<<"$csv"
expect_true "the page counts two desks" grep -q 'id="total-desks">2<' "$out/fleet.html"

# ---- the usage, a bad command line and a folder that is not there
for option in '/?' --help; do
    fleet help "$option"
    expect "exit code of $option" "$FLEET_STATUS" 0
    expect_true "$option prints the usage" grep -q 'tkfleet FOLDER' help.out
done
fleet bad "$(qtk_windows_path "$share")" /stale-days:0
expect "exit code of a bad command line" "$FLEET_STATUS" 87
rm -f "$out"/fleet.*
fleet missing "$(qtk_windows_path "$share")" 'C:\no\such\folder' /out:"$(qtk_windows_path "$out")"
expect "exit code when a folder is not there" "$FLEET_STATUS" 3
expect_true "it says which folder" grep -q 'no\\such\\folder' missing.err
expect "nothing written" "$(ls "$out")" ""
finish
