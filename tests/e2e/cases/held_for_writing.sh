#!/usr/bin/env bash
# Markers that another program still holds open for writing, sharing reading and writing
# with everybody (a set-up script still writing them, an editor), are read all the same:
# the run shows the board as on the demo data. Here the OS-version file, a marker of the
# first check group and one of the last are held from before the program starts until
# it has ended.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

held=(outwinversion.txt www_tesk.txt pwww_telmira.txt)

bench_prepare 96
args=()
for file in "${held[@]}"; do args+=(hold "C:\\tmptk\\$file"); done
bench_probe_bg holder.tsv "${args[@]}" release-after-exit 120000
# shellcheck disable=SC2016  # expanded by eval at each try
qtk_wait_until 30000 eval '[[ $(grep -c "^held" holder.tsv) -eq ${#held[@]} ]]' ||
    qtk_die "the files were not held: $(cat holder.tsv)"

bench_run_window held
bench_wait_probe_bg 30000 || fail "the holder did not end: $(grep '^error' holder.tsv || true)"
expect "the files were held until" "$(bench_field holder.tsv released 2)" "after the program"
finish
