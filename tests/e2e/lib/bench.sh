# shellcheck shell=bash source-path=SCRIPTDIR/../../..
# shellcheck disable=SC2034  # the BENCH_* settings are for the case scripts
# What every end-to-end case shares. A case script starts with
#
#   source "$(dirname "$0")/../lib/bench.sh" "$@"
#
# and is called as: CASE.sh EXE PROBE TEMPLATE WORKROOT NAME [ARG...]; its own arguments
# are left in CASE_ARGS. The case's files (logs, probe output, screenshots, its prefix)
# stay in WORKROOT/NAME for a look after a failure.

set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_ROOT=$(cd "$BENCH_DIR/../.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$BENCH_ROOT/tools/wine-env.sh"

[[ $# -ge 5 && -n $5 && $5 != */* ]] ||
    { echo "usage: $0 EXE PROBE TEMPLATE WORKROOT NAME [ARG...]" >&2; exit 2; }
BENCH_EXE=$(realpath "$1")
BENCH_PROBE=$(realpath "$2")
BENCH_TEMPLATE=$(realpath -m "$3")
BENCH_CASE=$5
BENCH_WORK=$(realpath -m "$4/$5")
shift 5
CASE_ARGS=("$@")

BENCH_DEMO_DATA=$BENCH_ROOT/demo/tmptk
BENCH_FAILURES=0
BENCH_TITLE='QUORIN Token Key Check'

rm -rf "$BENCH_WORK"
qtk_env_init "$BENCH_WORK"
cd "$BENCH_WORK"

bench_fail() {
    echo "FAIL: $*"
    BENCH_FAILURES=$((BENCH_FAILURES + 1))
}

# bench_expect WHAT ACTUAL EXPECTED
bench_expect() {
    if [[ $2 == "$3" ]]; then
        echo "ok: $1 = $3"
    else
        bench_fail "$1: expected [$3], got [$2]"
    fi
}

# bench_expect_true WHAT CMD...
bench_expect_true() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else bench_fail "$what"; fi
}

bench_finish() {
    if ((BENCH_FAILURES > 0)); then
        echo "$BENCH_CASE: $BENCH_FAILURES failure(s); files in $BENCH_WORK"
        exit 1
    fi
    echo "$BENCH_CASE: passed"
}

# bench_prepare [DPI]: a display, a fresh prefix with its persistent server, the demo data
# in C:\tmptk and the demo machine identity, at DPI (default 96).
bench_prepare() {
    local dpi=${1:-96}
    qtk_xvfb_start
    qtk_prefix_clone "$BENCH_TEMPLATE" "$BENCH_WORK/prefix"
    qtk_use_prefix "$BENCH_WORK/prefix"
    qtk_server_start
    qtk_set_dpi "$dpi"
    # shellcheck source=demo/identity.sh
    source "$BENCH_ROOT/demo/identity.sh"
    qtk_set_identity "$QTK_DEMO_COMPUTER_NAME" "$QTK_DEMO_PRODUCT_NAME"
    qtk_install_tmptk "$BENCH_DEMO_DATA"
}

# bench_probe OUT ARG...: one probe run, its output in OUT. Fails the case (and shows
# why) if the probe could not do what it was asked.
bench_probe() {
    local out=$1 rc=0
    shift
    qtk_wine "$BENCH_PROBE" "$@" >"$out" 2>>"$BENCH_WORK/probe.log" || rc=$?
    if ((rc != 0)); then
        bench_fail "probe $* exited $rc: $(grep '^error' "$out" || tail -n 3 "$out")"
        bench_screenshot "probe-failed"
        return 1
    fi
}

# bench_probe_bg OUT ARG...: the probe in the background, e.g. watching for a message
# box from before the program starts. BENCH_PROBE_PID is Wine's, so it can be awaited.
bench_probe_bg() {
    local out=$1
    shift
    qtk_wine --version >/dev/null
    wine "$BENCH_PROBE" "$@" >"$out" 2>>"$BENCH_WORK/probe.log" </dev/null &
    BENCH_PROBE_PID=$!
    qtk_on_exit qtk_kill_pid "$BENCH_PROBE_PID"
}

# bench_wait_probe_bg DEADLINE_MS: the background probe's exit status, or failure at the
# deadline.
bench_wait_probe_bg() {
    qtk_wait_until "$1" eval "! kill -0 $BENCH_PROBE_PID 2>/dev/null" || return 1
    local rc=0
    wait "$BENCH_PROBE_PID" || rc=$?
    return "$rc"
}

# The whole screen as a PNG in the case's directory, for whoever reads a failure.
bench_screenshot() {
    import -display "$DISPLAY" -window root "$BENCH_WORK/$1.png" >/dev/null 2>&1 || true
}

# bench_field FILE KIND COLUMN: column COLUMN (1-based, the kind is column 1) of the first
# KIND line of a probe output.
bench_field() {
    awk -F'\t' -v kind="$2" -v col="$3" '$1 == kind { print $col; exit }' "$1"
}

# A probe text field back to the text itself (the probe escapes \, tab and line ends).
bench_unescape() { printf '%b' "$1"; }

bench_tmptk() { printf '%s/drive_c/tmptk/%s' "$WINEPREFIX" "$1"; }
