# shellcheck shell=bash
# Shared by the end-to-end bench and the demo: a private Wine prefix on a private Xvfb
# display, and the clean-up of everything started on the way. Source it, then call
# qtk_env_init before anything else.
#
# Rules kept here so that no caller has to remember them:
# - wine is only ever run through qtk_wine, which refuses to run without a WINEPREFIX of
#   ours: a bare `wine` silently creates ~/.wine.
# - every process started is recorded and ended on exit, whether the caller succeeded,
#   failed or was interrupted.

QTK_TEMPLATE_STAMP=.qtk-template

# Loma is the only installed face with both Latin and Thai glyphs that Wine's Tahoma can
# borrow; the window's Thai caption shows as boxes without it.
QTK_THAI_FONT_LINK='Loma.ttf,Loma'

qtk_log() { printf '[%(%H:%M:%S)T] %s\n' -1 "$*" >&2; }
qtk_die() { qtk_log "FATAL: $*"; exit 1; }

# qtk_env_init WORKDIR: the directory every log and scratch file of this run goes to.
qtk_env_init() {
    QTK_WORK=$1
    mkdir -p "$QTK_WORK" || qtk_die "cannot create $QTK_WORK"
    QTK_WORK=$(cd "$QTK_WORK" && pwd)
    # No Mono or Gecko install prompts, and no start-menu entries or file associations
    # written into the user's home for our throw-away prefixes.
    export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
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

# qtk_use_prefix DIR: every later wine call runs in DIR.
qtk_use_prefix() {
    mkdir -p "$(dirname "$1")"
    WINEPREFIX=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    export WINEPREFIX
}

qtk_wine() {
    [[ -n ${WINEPREFIX:-} && $WINEPREFIX != "$HOME/.wine" ]] ||
        qtk_die "refusing to run wine without a private WINEPREFIX"
    wine "$@"
}

qtk_wineserver() {
    [[ -n ${WINEPREFIX:-} && $WINEPREFIX != "$HOME/.wine" ]] ||
        qtk_die "refusing to run wineserver without a private WINEPREFIX"
    wineserver "$@"
}

# qtk_reg_set KEY NAME TYPE DATA
qtk_reg_set() {
    qtk_wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >>"$QTK_WORK/wine.log" 2>&1 ||
        qtk_die "reg add $1 $2 failed"
}

# qtk_reg_delete KEY NAME: a value already absent is no error.
qtk_reg_delete() {
    qtk_wine reg delete "$1" /v "$2" /f >>"$QTK_WORK/wine.log" 2>&1 || true
}

# qtk_reg_get KEY NAME: prints the data as `reg query` shows it.
qtk_reg_get() {
    qtk_wine reg query "$1" /v "$2" 2>>"$QTK_WORK/wine.log" | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print; found = 1 }
                          END { exit !found }'
}

# qtk_set_dpi DPI: processes started afterwards lay themselves out at DPI.
qtk_set_dpi() {
    qtk_reg_set 'HKCU\Control Panel\Desktop' LogPixels REG_DWORD "$1"
}

# qtk_server_start: one persistent wineserver for the current prefix, so that the program,
# the probe and every `reg` call share it. Volatile registry keys (the active computer
# name) live only as long as this server.
qtk_server_start() {
    local prefix=$WINEPREFIX
    # Not forever: if this shell is killed outright (a test timeout) the server must still
    # go away by itself, a minute after its last process.
    qtk_wineserver -p60 >>"$QTK_WORK/wine.log" 2>&1 || qtk_die "wineserver -p60 failed"
    qtk_on_exit qtk_server_stop_prefix "$prefix"
    # The first wine process brings up the prefix's services; pay for it here, not inside
    # a measured or time-limited step.
    qtk_wine wineboot >>"$QTK_WORK/wine.log" 2>&1 || qtk_die "wineboot failed in $prefix"
}

qtk_server_stop_prefix() {
    WINEPREFIX=$1 wineserver -k >/dev/null 2>&1
    WINEPREFIX=$1 timeout 15 wineserver -w >/dev/null 2>&1 || true
    qtk_kill_prefix_leftovers "$1"
}

# qtk_prefix_pids PREFIX: the processes running in PREFIX, one pid a line. One grep over
# every process's environment (NUL-separated, whole entries only), read to the end before
# the caller acts on any: the grep itself carries our WINEPREFIX.
qtk_prefix_pids() {
    local environ pid found
    mapfile -t found < <(grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null)
    for environ in "${found[@]}"; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [[ $pid == "$$" ]] || echo "$pid"
    done
}

# qtk_prefix_runs PROGRAM: whether a process of the current prefix runs PROGRAM (a Windows
# file name such as cmd.exe), e.g. the clean-up script's interpreter.
qtk_prefix_runs() {
    local pid
    for pid in $(qtk_prefix_pids "$WINEPREFIX"); do
        # The process may be gone by now; that is no error.
        tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qiF "$1" && return 0
    done
    return 1
}

# A process that was still starting when its server went (the clean-up script's cmd.exe,
# launched at the close) can outlive it, orphaned. Ours are those running in our prefix.
qtk_kill_prefix_leftovers() {
    local pid
    for pid in $(qtk_prefix_pids "$1"); do
        kill -9 "$pid" 2>/dev/null || true
    done
}

qtk_server_stop() { qtk_server_stop_prefix "$WINEPREFIX"; }

# qtk_template_ensure DIR: a prepared prefix at DIR, built once and reused while Wine's
# version stays the same. Concurrent callers wait for the one that builds it.
qtk_template_ensure() {
    local tpl=$1 stamp want
    want="$(wine --version 2>/dev/null) managed=N font=$QTK_THAI_FONT_LINK marlett"
    mkdir -p "$(dirname "$tpl")"
    exec {lockfd}>"$tpl.lock"
    flock -w 300 "$lockfd" || qtk_die "timed out waiting for the template lock $tpl.lock"
    stamp=$(cat "$tpl/$QTK_TEMPLATE_STAMP" 2>/dev/null || true)
    if [[ $stamp != "$want" ]]; then
        qtk_log "building the Wine template prefix in $tpl (about 15 s)"
        (qtk_template_build "$tpl.new" && printf '%s\n' "$want" >"$tpl.new/$QTK_TEMPLATE_STAMP") ||
            { rm -rf "$tpl.new"; exec {lockfd}>&-; qtk_die "template prefix build failed"; }
        rm -rf "$tpl"
        mv "$tpl.new" "$tpl"
    fi
    exec {lockfd}>&-
}

# Runs in a subshell: its own prefix and server, stopped before it returns.
qtk_template_build() {
    local dir=$1 links
    rm -rf "$dir"
    qtk_use_prefix "$dir"
    [[ -n ${DISPLAY:-} ]] || qtk_die "qtk_template_build needs a display"
    qtk_wine wineboot -i >>"$QTK_WORK/wine.log" 2>&1 || return 1
    # Without a window manager Wine waits 2 s for each destroyed top-level window unless
    # it manages none of them itself.
    qtk_reg_set 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N
    links=$(qtk_reg_get 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        Tahoma || true)
    qtk_reg_set 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        Tahoma REG_MULTI_SZ "$QTK_THAI_FONT_LINK${links:+\\0$links}"
    # Wine draws the title-bar buttons with its Marlett font, which this Wine finds only in
    # the prefix's own font folder; without it they show as the letters "0 1 r".
    if [[ -f /usr/share/wine/fonts/marlett.ttf ]]; then
        cp /usr/share/wine/fonts/marlett.ttf "$dir/drive_c/windows/Fonts/" || return 1
    fi
    # The registry reaches its files only when the server exits.
    qtk_wineserver -k >/dev/null 2>&1
    timeout 60 wineserver -w || return 1
    [[ -f $dir/system.reg && -f $dir/user.reg ]]
}

# qtk_prefix_clone TEMPLATE DEST: a prefix of its own in about a tenth of a second. The big
# C:\windows tree is shared by hard links and must never be written through; everything
# a run may change (registry, user profile, C:\tmptk) is a real copy.
qtk_prefix_clone() {
    local tpl=$1 dest=$2 entry
    [[ -f $tpl/$QTK_TEMPLATE_STAMP ]] || qtk_die "no template prefix at $tpl"
    rm -rf "$dest"
    mkdir -p "$dest/drive_c/windows"
    for entry in "$tpl"/* "$tpl"/.[!.]*; do
        [[ -e $entry || -L $entry ]] || continue
        [[ $(basename "$entry") == drive_c ]] || cp -a "$entry" "$dest/"
    done
    for entry in "$tpl"/drive_c/*; do
        [[ $(basename "$entry") == windows ]] || cp -a "$entry" "$dest/drive_c/"
    done
    for entry in "$tpl"/drive_c/windows/*; do
        if [[ -d $entry && ! -L $entry ]]; then
            cp -al "$entry" "$dest/drive_c/windows/"
        else
            cp -a "$entry" "$dest/drive_c/windows/"
        fi
    done
    rm -f "$dest/$QTK_TEMPLATE_STAMP"
}

# qtk_install_tmptk SRC_DIR: C:\tmptk of the current prefix becomes a copy of SRC_DIR.
qtk_install_tmptk() {
    local dest="$WINEPREFIX/drive_c/tmptk"
    rm -rf "$dest"
    cp -r "$1" "$dest"
}

# qtk_set_identity COMPUTER PRODUCT [CSD]: the registry values the window shows. A missing
# CSD deletes the value. Needs the persistent server: the computer name key is volatile.
qtk_set_identity() {
    qtk_reg_set 'HKLM\SYSTEM\CurrentControlSet\Control\ComputerName\ActiveComputerName' \
        ComputerName REG_SZ "$1"
    qtk_reg_set 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' ProductName REG_SZ "$2"
    if [[ $# -ge 3 ]]; then
        qtk_reg_set 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' CSDVersion REG_SZ "$3"
    else
        qtk_reg_delete 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' CSDVersion
    fi
}

# qtk_start_program EXE: starts EXE in the background; QTK_PROGRAM_PID is the Wine
# process, which is the Windows process itself, so its exit status is the program's.
qtk_start_program() {
    qtk_wine --version >/dev/null
    # Not through a function: $! must be wine itself, which becomes the Windows process.
    wine "$1" >>"$QTK_WORK/program.log" 2>&1 </dev/null &
    QTK_PROGRAM_PID=$!
    qtk_on_exit qtk_kill_pid "$QTK_PROGRAM_PID"
}

# qtk_wait_program DEADLINE_MS: waits for the program to end; sets QTK_PROGRAM_STATUS.
# shellcheck disable=SC2034  # read by the callers
qtk_wait_program() {
    qtk_wait_until "$1" eval "! kill -0 $QTK_PROGRAM_PID 2>/dev/null" || return 1
    QTK_PROGRAM_STATUS=0
    wait "$QTK_PROGRAM_PID" || QTK_PROGRAM_STATUS=$?
}

# A path under C:\ as Windows sees it, for a file of the current prefix.
qtk_tmptk_path() { printf '%s/drive_c/tmptk/%s' "$WINEPREFIX" "$1"; }
