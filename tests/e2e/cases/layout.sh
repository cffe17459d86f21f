#!/usr/bin/env bash
# The window as painted after a run on the demo data, at the DPI given (--dpi N): every frame and
# label (text, rectangle, parent, colour, alignment), the client area, the position on the
# screen, the font size and that no control takes the focus; and that every caption fits
# its label, measured in the font the label is drawn with (the probe's fit). Then nothing
# may change until the window is closed.
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
bench_require dpi
dpi=$(bench_option dpi)

bench_prepare "$dpi"
qtk_start_program "$BENCH_EXE"
bench_probe shown.tsv wait-shown 30000 dump colors fit
bench_screenshot screen

if awk -f "$BENCH_DIR/lib/check_layout.awk" -v dpi="$dpi" \
    "$BENCH_DIR/expected_layout.tsv" "$BENCH_DIR/expected_demo.tsv" shown.tsv; then
    echo "ok: layout at $dpi DPI"
else
    fail "layout at $dpi DPI differs (see above)"
fi

bench_check_fit shown.tsv "at $dpi DPI"

bench_probe later.tsv wait-shown 5000 dump close wait-gone 10000
if diff <(grep -E '^(window|control)' shown.tsv) <(grep -E '^(window|control)' later.tsv); then
    echo "ok: nothing changed while the window was shown"
else
    fail "the window changed after it was first shown"
fi
qtk_wait_program 15000 || fail "the program did not end after the close"
finish
