# shellcheck shell=bash
# The run itself: its work directory, the clean-up of everything started on the way
# (whether the caller succeeded, failed or was interrupted), waiting, and a private Xvfb
# display. Sourced through tools/wine-env.sh.

qtk_log() { printf '[%(%H:%M:%S)T] %s\n' -1 "$*" >&2; }
# qtk_die WHY: the run stops here; the line says where it was stopped from.
qtk_die() {
    local line _ file
    read -r line _ file < <(caller 0)
    qtk_log "FATAL: ${file:-?}:${line:-?}: $*"
    exit 1
}

# qtk_env_init WORKDIR: the directory every log and scratch file of this run goes to.
qtk_env_init() {
    QTK_WORK=$1
    mkdir -p "$QTK_WORK" || qtk_die "cannot create $QTK_WORK"
    QTK_WORK=$(cd "$QTK_WORK" && pwd)
    # No Mono or Gecko install prompts, and no start-menu entries or file associations
    # written into the user's home for our throw-away prefixes.
    export WINEARCH=win64 WINEDEBUG=-all,err+all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset WINEPREFIX WINESERVER
    QTK_CLEANUPS=()
    trap qtk_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# qtk_on_exit CMD...: run CMD at exit, last registered first.
qtk_on_exit() {
    QTK_CLEANUPS+=("$(printf '%q ' "$@")")
}

qtk_cleanup() {
    local rc=$? i
    trap - EXIT
    for ((i = ${#QTK_CLEANUPS[@]} - 1; i >= 0; i--)); do
        eval "${QTK_CLEANUPS[i]}" >/dev/null 2>&1 || true
    done
    QTK_CLEANUPS=()
    exit "$rc"
}

# qtk_wait_until DEADLINE_MS CMD...: poll CMD every 50 ms until it succeeds; fails at the
# deadline. The only way this bench waits for anything.
qtk_wait_until() {
    local deadline=$(($(qtk_now_ms) + $1))
    shift
    until "$@"; do
        (($(qtk_now_ms) < deadline)) || return 1
        sleep 0.05
    done
}

qtk_now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

qtk_kill_pid() {
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    qtk_wait_until 3000 eval "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
}

# qtk_xvfb_start: a display of our own, 24-bit so that colours read back exactly, and big
# enough for the window at 144 DPI. Sets DISPLAY and QTK_XVFB_PID.
qtk_xvfb_start() {
    local screen=1280x1024x24 numfile="$QTK_WORK/xvfb.display"
    : >"$numfile"
    # -displayfd makes Xvfb pick a free display itself: two benches never collide.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$numfile" >"$QTK_WORK/xvfb.log" 2>&1 &
    QTK_XVFB_PID=$!
    qtk_on_exit qtk_kill_pid "$QTK_XVFB_PID"
    qtk_wait_until 10000 grep -q '^[0-9]' "$numfile" ||
        qtk_die "Xvfb did not start: $(tail -n 5 "$QTK_WORK/xvfb.log")"
    DISPLAY=":$(head -n 1 "$numfile")"
    export DISPLAY
}

# Whether $DISPLAY names an X server that answers.
qtk_display_reachable() {
    [[ -n ${DISPLAY:-} ]] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        timeout 5 xdpyinfo >/dev/null 2>&1
        return
    fi
    # Without the X utilities: a local display is reachable if its socket is there.
    local n=${DISPLAY#*:}
    n=${n%%.*}
    [[ -z ${DISPLAY%%:*} && -S /tmp/.X11-unix/X$n ]]
}
