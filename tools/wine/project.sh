# shellcheck shell=bash
# This project's own use of a prefix: the demo workstation (its identity and marker files)
# every bench, benchmark and demo starts from, paths as the programs in a prefix name
# them, and starting and awaiting one of our programs. Sourced through tools/wine-env.sh.

QTK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# qtk_tmptk_path FILE: C:\tmptk\FILE of the current prefix as a Linux path.
qtk_tmptk_path() { printf '%s/drive_c/tmptk/%s' "$WINEPREFIX" "$1"; }

# qtk_windows_path FILE: a Linux file as the programs in any prefix name it (Z: is /).
qtk_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# qtk_install_tmptk SRC_DIR: C:\tmptk of the current prefix becomes a copy of SRC_DIR.
qtk_install_tmptk() {
    local dest
    dest=$(qtk_tmptk_path '')
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

# qtk_demo_prefix TEMPLATE DEST [DPI] [MARKERS]: the demo workstation in a prefix of its
# own at DEST, copied from TEMPLATE and in use, its persistent server running, at DPI
# (default 96), with the demo identity and the marker files of MARKERS (default the
# shipped demo/tmptk; "-" for none) in C:\tmptk. The server of the prefix in use before,
# if any, is stopped first, so that a caller looping over runs gives each one a prefix
# nothing has touched.
qtk_demo_prefix() {
    local template=$1 dest=$2 dpi=${3:-96} markers=${4:-$QTK_ROOT/demo/tmptk}
    [[ -n ${WINEPREFIX:-} ]] && qtk_server_stop
    qtk_prefix_clone "$template" "$dest"
    qtk_use_prefix "$dest"
    qtk_server_start
    qtk_set_dpi "$dpi"
    # shellcheck source=demo/identity.sh
    source "$QTK_ROOT/demo/identity.sh"
    qtk_set_identity "$QTK_DEMO_COMPUTER_NAME" "$QTK_DEMO_PRODUCT_NAME"
    if [[ $markers != - ]]; then
        qtk_install_tmptk "$markers"
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
