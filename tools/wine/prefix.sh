# shellcheck shell=bash
# Wine prefixes: running wine in one of ours only, the registry, the prefix's persistent
# server and its processes, and the prepared template prefix that every run copies.
# Sourced through tools/wine-env.sh.
#
# wine is only ever run through qtk_wine, which refuses to run without a WINEPREFIX of
# ours: a bare `wine` silently creates ~/.wine.

QTK_TEMPLATE_STAMP=.qtk-template

# Loma is the only installed face with both Latin and Thai glyphs that Wine's Tahoma can
# borrow; the window's Thai caption shows as boxes without it.
QTK_THAI_FONT_LINK='Loma.ttf,Loma'

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
    local rc=0 try
    # Twice at most: a second failure is not Wine failing to start the process (see
    # qtk_desktop_start) but the write itself.
    for try in 1 2; do
        rc=0
        qtk_wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >>"$QTK_WORK/wine.log" 2>&1 || rc=$?
        ((rc == 0)) && return 0
        qtk_log "reg add $1 $2 failed (exit status $rc, try $try)"
    done
    qtk_die "reg add $1 $2 failed (see $QTK_WORK/wine.log)"
}

# qtk_reg_delete KEY NAME: a value already absent is no error.
qtk_reg_delete() {
    qtk_wine reg delete "$1" /v "$2" /f >>"$QTK_WORK/wine.log" 2>&1 || true
}

# qtk_reg_query ARG...: `reg query ARG...`'s output, without carriage returns. A query whose
# process Wine failed to start under load (it prints nothing and fails) is tried again, so
# that an empty answer is never taken for an empty key; a key that is not there fails.
qtk_reg_query() {
    local out rc try
    for try in 1 2 3; do
        rc=0
        out=$(qtk_wine reg query "$@" 2>>"$QTK_WORK/wine.log") || rc=$?
        if ((rc == 0)) || [[ -n $out ]]; then
            printf '%s\n' "${out//$'\r'/}"
            return "$rc"
        fi
        qtk_log "reg query $1 printed nothing (exit status $rc, try $try)"
    done
    return "$rc"
}

# qtk_reg_get KEY NAME: prints the data as `reg query` shows it.
qtk_reg_get() {
    local out
    out=$(qtk_reg_query "$1" /v "$2") || true
    printf '%s\n' "$out" |
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
    # a measured or time-limited step. Set-up, not the program under test: a start that
    # Wine itself failed under load (c0000018, below) is tried again.
    local try
    for try in 1 2 3; do
        qtk_wine wineboot >>"$QTK_WORK/wine.log" 2>&1 && break
        ((try < 3)) || qtk_die "wineboot failed in $prefix"
        qtk_log "wineboot failed in $prefix (try $try), see $QTK_WORK/wine.log; once more"
    done
    qtk_desktop_start
}

# Under load this Wine now and then fails to start a process at all ("failed to map the
# shared user data: c0000018" in its err output). When the process that fails is the
# desktop's explorer.exe, started by the first program that opens a window, that program
# cannot make any window and a case fails for Wine's sake. So the desktop is brought up
# here, by a process that only asks for the desktop window, and seen running; a start
# that failed is tried again.
qtk_desktop_start() {
    local try
    for try in 1 2 3; do
        qtk_wine rundll32.exe user32.dll,GetDesktopWindow >>"$QTK_WORK/wine.log" 2>&1 || true
        if qtk_wait_until 10000 qtk_prefix_runs explorer.exe; then
            return 0
        fi
        qtk_log "the desktop did not start (try $try), see $QTK_WORK/wine.log"
    done
    qtk_die "the desktop process never started in $WINEPREFIX"
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
    qtk_prefix_own_server_dir "$dest"
}

# The Wine here (Debian 12's 8.0) keeps the name of the directory its servers live in
# (/tmp/wine-XXXXXX)
# in the prefix's file "wineserver", and within it tells the servers of its prefixes
# apart by the prefix directory's inode. Every copy of the template would share the
# template's directory, and a new prefix that reuses the inode of a deleted one whose
# server still runs (a case killed at its timeout leaves a persistent server for a
# minute) would talk to that server, with another prefix's registry. So each copy gets
# a directory of its own, removed at exit.
qtk_prefix_own_server_dir() {
    local dest=$1 dir
    [[ -f $dest/wineserver ]] || return 0
    dir=$(mktemp -d /tmp/wine-XXXXXX) || qtk_die "cannot make a server directory for $dest"
    chmod 700 "$dir"
    qtk_on_exit rm -rf "$dir"
    rm -f "$dest/wineserver"
    printf '%s' "${dir#/tmp/}" >"$dest/wineserver"
    chmod 400 "$dest/wineserver"
}
