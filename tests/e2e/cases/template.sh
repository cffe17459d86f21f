#!/usr/bin/env bash
# Fixture: the prepared Wine prefix that every case copies.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"

qtk_xvfb_start
qtk_template_ensure "$BENCH_TEMPLATE"
expect_true "template prefix ready in $BENCH_TEMPLATE" test -f "$BENCH_TEMPLATE/system.reg"
finish
