# shellcheck shell=bash source-path=SCRIPTDIR/../../..
# shellcheck disable=SC2034  # the BENCH_* settings are for the case scripts
# What every end-to-end case shares. A case script starts with
#
#   source "$(dirname "$0")/../lib/bench.sh" "$@"
#
# and is called with named arguments, then its own ones:
#
#   CASE.sh --tkcheck EXE --probe PROBE --template DIR --work ROOT --name NAME
#           [--OPTION VALUE]... [--] [ARG...]
#
# Options the bench does not know are kept for the case and its libraries (bench_option);
# the rest is left in CASE_ARGS. The case's files (logs, probe output, screenshots, its
# prefix) stay in ROOT/NAME for a look after a failure. Assertions and `finish` come from
# tests/lib/assert.sh.

set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_ROOT=$(cd "$BENCH_DIR/../.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$BENCH_ROOT/tools/wine-env.sh"
# shellcheck source=tests/lib/assert.sh
source "$BENCH_ROOT/tests/lib/assert.sh"

declare -A BENCH_OPTIONS=()
while (($# > 0)) && [[ $1 == --* ]]; do
    [[ $1 == -- ]] && { shift; break; }
    (($# >= 2)) || qtk_die "$1 needs a value"
    BENCH_OPTIONS[${1#--}]=$2
    shift 2
done
CASE_ARGS=("$@")

# bench_require NAME...: the case stops here unless every --NAME was given.
bench_require() {
    local name
    for name in "$@"; do
        [[ -n ${BENCH_OPTIONS[$name]+set} ]] ||
            qtk_die "$(basename "$0") needs --$name (given: ${!BENCH_OPTIONS[*]})"
    done
}

# bench_option NAME: the value of --NAME (bench_require it first).
bench_option() { printf '%s\n' "${BENCH_OPTIONS[$1]}"; }

bench_require tkcheck probe template work name
BENCH_EXE=$(realpath "$(bench_option tkcheck)")
BENCH_PROBE=$(realpath "$(bench_option probe)")
BENCH_TEMPLATE=$(realpath -m "$(bench_option template)")
BENCH_CASE=$(bench_option name)
[[ -n $BENCH_CASE && $BENCH_CASE != */* ]] || qtk_die "not a case name: [$BENCH_CASE]"
BENCH_WORK=$(realpath -m "$(bench_option work)/$BENCH_CASE")

BENCH_DEMO_DATA=$BENCH_ROOT/demo/tmptk
BENCH_TITLE='QUORIN Token Key Check'
# shellcheck disable=SC2034  # read by finish
ASSERT_NAME=$BENCH_CASE ASSERT_FILES=$BENCH_WORK

rm -rf "$BENCH_WORK"
qtk_env_init "$BENCH_WORK"
cd "$BENCH_WORK"

# bench_prepare [DPI]: a display, a fresh prefix with its persistent server, the demo data
# in C:\tmptk and the demo machine identity, at DPI (default 96).
bench_prepare() {
    qtk_xvfb_start
    bench_fresh_prefix prefix "${1:-96}"
}

# bench_fresh_prefix NAME [DPI]: as bench_prepare, on the display already running, in a new
# prefix WORK/NAME that nothing has touched (the one used before is stopped first).
bench_fresh_prefix() {
    qtk_demo_prefix "$BENCH_TEMPLATE" "$BENCH_WORK/$1" "${2:-96}" "$BENCH_DEMO_DATA"
    BENCH_DPI=${2:-96}
    bench_want_reset
}

# bench_probe OUT ARG...: one probe run, its output in OUT. Fails the case (and shows
# why) if the probe could not do what it was asked.
bench_probe() {
    local out=$1 rc=0 try
    shift
    for try in 1 2; do
        rc=0
        qtk_wine "$BENCH_PROBE" "$@" >"$out" 2>>"$BENCH_WORK/probe.log" || rc=$?
        # Every command prints once it has acted, so a probe that failed without a line
        # never ran: Wine failed to start it (see qtk_desktop_start). It is started once
        # more.
        if ((rc == 0 || try == 2)) || [[ -s $out ]]; then break; fi
        qtk_log "the probe did not start (exit status $rc); once more"
    done
    if ((rc != 0)); then
        fail "probe $* exited $rc: $(grep '^error' "$out" || tail -n 3 "$out")"
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

# bench_put FILE BYTES: C:\tmptk\FILE holds exactly BYTES, written in printf's %b notation
# (\r, \n, \t, \xHH), so that line ends and byte-order marks are spelled out in the case.
bench_put() {
    printf '%b' "$2" >"$(qtk_tmptk_path "$1")"
}

# What the window must show, label by label: the demo's expectations with the overrides
# of the current run on top. bench_want_reset drops the overrides.
bench_want_reset() {
    BENCH_WANTS=()
}

# bench_want LABEL CAPTION COLOUR: after this run LABEL reads CAPTION in COLOUR (green, red,
# default, highlight, or blank for a label with no text at all).
bench_want() {
    BENCH_WANTS+=("$1"$'\t'"$2"$'\t'"$3")
}

# bench_load_scenario FILE: a table of marker rows (label, marker file, bytes, caption,
# colour; see scenarios/) written to C:\tmptk and wanted on the window.
bench_load_scenario() {
    local label marker bytes caption colour rows=0
    # Fields are re-separated by a character that is not blank, so that `read` keeps empty
    # ones instead of merging runs of tabs.
    while IFS=$'\x1f' read -r label marker bytes caption colour; do
        bench_put "$marker" "$bytes"
        bench_want "$label" "$caption" "$colour"
        rows=$((rows + 1))
    done < <(awk -F'\t' '!/^#/ && NF { $1 = $1; print }' OFS=$'\x1f' "$1")
    ((rows > 0)) || qtk_die "no rows in scenario $1"
}

# The expectations file check_layout.awk reads: the demo's, overridden by bench_want.
bench_write_wants() {
    local out=$1
    {
        printf '%s\n' "${BENCH_WANTS[@]}"
        echo "--"
        cat "$BENCH_DIR/expected_demo.tsv"
    } | awk -F'\t' -v OFS='\t' '
        $0 == "--" { demo = 1; next }
        !demo { if (NF) { want[$1] = $0; order[n++] = $1 } next }
        /^#/ || $1 == "name" { print; next }
        $1 in want { print want[$1]; done[$1] = 1; next }
        { print }
        END { for (i = 0; i < n; i++) if (!done[order[i]]) print want[order[i]] }' >"$out"
}

# bench_check_window PROBE_OUT WHAT: the whole window as the probe saw it (dump and colors)
# against the layout and the wanted status labels.
bench_check_window() {
    local out=$1 what=$2 wants
    wants="${out%.tsv}.wanted.tsv"
    bench_write_wants "$wants"
    if awk -f "$BENCH_DIR/lib/check_layout.awk" -v dpi="${BENCH_DPI:-96}" \
        "$BENCH_DIR/expected_layout.tsv" "$wants" "$out"; then
        echo "ok: $what: the window as wanted"
    else
        fail "$what: the window differs (see above; wanted: $wants)"
    fi
}

# bench_run_window NAME [PROBE_COMMAND...]: one whole run on the current prefix: start,
# (do the probe commands given, e.g. answer a message box,) wait for the window, read and
# photograph it (NAME.tsv, NAME.png), close it, wait for the end, check it.
bench_run_window() {
    local name=$1
    shift
    qtk_start_program "$BENCH_EXE"
    if bench_probe "$name.tsv" "$@" wait-shown 30000 dump colors; then
        bench_screenshot "$name"
        bench_probe "$name.close.tsv" wait-shown 30000 close wait-gone 30000 || true
        bench_check_window "$name.tsv" "$name"
        qtk_wait_program 15000 || fail "$name: the program did not end after the close"
        bench_wait_cleanup_gone || fail "$name: the clean-up script never ended"
    fi
    # A run that went wrong may have left the program waiting on a box: later runs on this
    # server must not find it.
    qtk_kill_pid "$QTK_PROGRAM_PID"
}

# The clean-up script started at a close runs in a console of its own: whatever comes
# next on this prefix (another run, a look at C:\tmptk) waits until it and its console
# have gone, instead of hoping they have.
bench_wait_cleanup_gone() {
    qtk_wait_until 30000 eval '! qtk_prefix_runs cmd.exe && ! qtk_prefix_runs conhost.exe'
}

# bench_check_fit PROBE_OUT WHAT: every label with a caption (dump) was measured (fit) in
# a font recognised on the screen, and its caption fits: no line wider than the label,
# no more lines than the label has room for.
bench_check_fit() {
    local out=$1 what=$2 labels measured
    labels=$(awk -F'\t' '$1 == "control" && $5 == "Static" && $17 != "" && $17 != " "' "$out" | wc -l)
    measured=$(awk -F'\t' '$1 == "fit"' "$out" | wc -l)
    expect "$what: labels measured for fit" "$measured" "$labels"
    local clipped
    clipped=$(awk -F'\t' '$1 == "fit" && $13 != "yes" {
        printf "  %s [%s] in %s %s: %s px on %s line(s) of %s px, label %sx%s\n", $2, $14, $3, $4, $8, $9, $10, $11, $12 }' "$out")
    if [[ -z $clipped ]]; then
        echo "ok: $what: every caption fits its label"
    else
        fail "$what: captions that do not fit their labels (or whose font is not recognised):"
        printf '%s\n' "$clipped"
    fi
}

# bench_frame_texts PROBE_OUT FRAME_CAPTION: the text of every control inside the frame.
bench_frame_texts() {
    awk -F'\t' -v frame="$2" '
        $1 == "control" && $17 == frame { id = $2 }
        $1 == "control" { parent[NR] = $3; text[NR] = $17 }
        END { for (i = 1; i <= NR; i++) if ((i in parent) && parent[i] == id && id != "") print text[i] }' "$1"
}

# The files the program touches in C:\tmptk, seen from the kernel with inotify: what it
# opens, in order, and anything it creates, changes, renames or deletes.
#
#   bench_watch_start NAME   before the program starts; the log is WORK/NAME.inotify
#   bench_watch_stop         after it has ended; every event so far is in the log
#   bench_watch_opened       the files opened, in order, one per line (directories left out)
#   bench_watch_writes       every event that changes something, one per line
#   bench_watch_overlaps     files opened while another one was still open
bench_watch_start() {
    BENCH_WATCH_DIR=$WINEPREFIX/drive_c/tmptk
    BENCH_WATCH_LOG=$BENCH_WORK/$1.inotify
    # Events are read in the order they happened, across every watch of one inotifywait:
    # once an event in this extra directory is in the log, so is everything before it.
    BENCH_WATCH_FENCE=$(mktemp -d "$BENCH_WORK/$1.fence.XXXXXX")
    : >"$BENCH_WATCH_LOG"
    inotifywait -m --format $'%w\t%e\t%f' -o "$BENCH_WATCH_LOG" \
        -e open,access,close_write,close_nowrite,modify,attrib,create,delete,moved_from,moved_to,delete_self,move_self \
        "$BENCH_WATCH_DIR" "$BENCH_WATCH_FENCE" 2>"$BENCH_WATCH_LOG.err" &
    BENCH_WATCH_PID=$!
    qtk_on_exit qtk_kill_pid "$BENCH_WATCH_PID"
    qtk_wait_until 10000 grep -q 'Watches established' "$BENCH_WATCH_LOG.err" ||
        qtk_die "inotifywait did not start: $(cat "$BENCH_WATCH_LOG.err")"
}

bench_watch_stop() {
    touch "$BENCH_WATCH_FENCE/end"
    qtk_wait_until 10000 grep -qF "$BENCH_WATCH_FENCE/"$'\tCREATE\tend' "$BENCH_WATCH_LOG" ||
        fail "inotifywait lost events (no fence in its log)"
    qtk_kill_pid "$BENCH_WATCH_PID"
}

bench_watch_opened() {
    awk -F'\t' -v dir="$BENCH_WATCH_DIR/" \
        '$1 == dir && $2 ~ /(^|,)OPEN(,|$)/ && $2 !~ /ISDIR/ { print $3 }' "$BENCH_WATCH_LOG"
}

bench_watch_writes() {
    awk -F'\t' -v dir="$BENCH_WATCH_DIR/" \
        '$1 == dir && $2 ~ /MODIFY|ATTRIB|CLOSE_WRITE|CREATE|DELETE|MOVED|MOVE_SELF/' "$BENCH_WATCH_LOG"
}

bench_watch_overlaps() {
    awk -F'\t' -v dir="$BENCH_WATCH_DIR/" '
        $1 != dir || $2 ~ /ISDIR/ { next }
        $2 ~ /(^|,)OPEN(,|$)/ { for (f in open) if (open[f] > 0) print $3 " opened while " f " was open"; open[$3]++ }
        $2 ~ /(^|,)CLOSE(,|$)/ { open[$3]-- }' "$BENCH_WATCH_LOG"
}

# The order in which a whole run reads its inputs, written out by hand.
bench_read_order() { grep -v '^#' "$BENCH_DIR/expected_read_order.txt"; }

