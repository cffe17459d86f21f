#!/usr/bin/env bash
# Marker files as the set-up scripts may leave them, one table per run (scenarios/*.tsv,
# each row a file's exact bytes and what its status label must then show), on the demo
# data otherwise. After each run the whole window is compared with the layout and the
# table: every label not in the table must show what it shows on the demo, so a verdict
# painted on the wrong label, or a row that leaks into the next, fails the case.
#   scenarios.sh ... -- SCENARIO.tsv...   (each run on the same prefix, data reset)
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
((${#CASE_ARGS[@]} > 0)) || qtk_die "no scenario given"

zone_frame='Security level Script Setting for Trusted sites zone'

bench_prepare 96
for scenario in "${CASE_ARGS[@]}"; do
    name=$(basename "$scenario" .tsv)
    echo "== $name"
    qtk_install_tmptk "$BENCH_DEMO_DATA"
    bench_want_reset
    bench_load_scenario "$BENCH_DIR/scenarios/$scenario"
    bench_run_window "$name"
    [[ -s $name.tsv ]] || continue
    # The zone-scripting frame speaks of settings, never of sites: whatever its files
    # hold, it must not borrow the other groups' words.
    borrowed=$(bench_frame_texts "$name.tsv" "$zone_frame" | grep -cxE 'Success|Fail' || true)
    expect "$name: Success or Fail in the zone-scripting frame" "$borrowed" 0
done
finish
