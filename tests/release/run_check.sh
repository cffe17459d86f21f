#!/usr/bin/env bash
# run-check.cmd as shipped in the zip picks the pair of programs that matches the Windows
# underneath, also from a 32-bit cmd.exe on 64-bit Windows (WOW64 sets
# PROCESSOR_ARCHITECTURE=x86 and the machine's own in PROCESSOR_ARCHITEW6432), refuses a
# processor it has no programs for, and uses the programs beside it when installed. The
# programs are stand-ins that write down their own path, and the kit sits in a folder
# whose name has spaces and parentheses, as a second download's does.
#   run_check.sh (the bench's arguments) --release DIR --version X.Y.Z --stand-in EXE
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../e2e/lib/bench.sh" "$@"
bench_require release version stand-in
release=$(realpath "$(bench_option release)")
version=$(bench_option version)
stand_in=$(realpath "$(bench_option stand-in)")

python3 -c 'import zipfile, sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$release/kit-$version.zip" "$BENCH_WORK/zip"
kit="$BENCH_WORK/downloads/kit (2)"
mkdir -p "$kit/x64" "$kit/x86" "$BENCH_WORK/installed"
cp "$BENCH_WORK/zip/kit-$version/run-check.cmd" "$kit/"
cp "$BENCH_WORK/zip/kit-$version/run-check.cmd" "$BENCH_WORK/installed/"
for dir in "$kit/x64" "$kit/x86" "$BENCH_WORK/installed"; do
    cp "$stand_in" "$dir/tkexamine.exe"
    cp "$stand_in" "$dir/tkcheck.exe"
done

bench_prepare 96
log=$BENCH_WORK/ran.log
export QTK_STAND_IN_LOG
QTK_STAND_IN_LOG=$(qtk_windows_path "$log")

# ran: what the stand-ins wrote, as folder/program relative to the work directory.
ran() {
    [[ -f $log ]] || return 0
    tr -d '\r' <"$log" | sed 's|\\|/|g; s|^[Zz]:||' | sed "s|^$BENCH_WORK/||" | tr '\n' ' '
}

# run_case LABEL ARCH W6432 SCRIPT_DIR EXPECTED: run-check.cmd in SCRIPT_DIR, from a cmd.exe
# that sees these two variables (- for unset); EXPECTED is the folder whose pair must
# run, or "refused".
run_case() {
    local label=$1 arch=$2 w6432=$3 dir=$4 expected=$5 driver=$BENCH_WORK/driver.cmd rc=0 try
    {
        printf '@echo off\r\n'
        printf 'set PROCESSOR_ARCHITECTURE=%s\r\n' "${arch#-}"
        printf 'set PROCESSOR_ARCHITEW6432=%s\r\n' "${w6432#-}"
        printf 'call "%s\\run-check.cmd"\r\n' "$(qtk_windows_path "$dir")"
        printf 'exit /b %%errorlevel%%\r\n'
    } >"$driver"
    # Every path through run-check.cmd prints something or starts a program: a run with
    # neither never started (Wine failed to start cmd under load), and is started once more.
    for try in 1 2; do
        rm -f "$log"
        rc=0
        timeout 60 wine cmd /c "$(qtk_windows_path "$driver")" >"$BENCH_WORK/cmd.out" 2>&1 </dev/null ||
            rc=$?
        [[ -s $BENCH_WORK/cmd.out || -n $(ran) ]] && break
        echo "cmd printed nothing and ran nothing (exit status $rc); once more"
    done
    if [[ $expected == refused ]]; then
        expect "$label: exit status" "$rc" 1
        expect "$label: programs run" "$(ran)" ""
        expect_true "$label: says why" grep -q 'run-check: ' "$BENCH_WORK/cmd.out"
    else
        expect "$label: exit status" "$rc" 0
        # The diagnostic is started, not awaited: it may write a moment after cmd ends.
        # shellcheck disable=SC2016  # evaluated at each poll
        qtk_wait_until 15000 eval '[[ $(ran) == *tkcheck.exe* ]]' || true
        expect "$label: programs run" "$(ran)" "$expected/tkexamine.exe $expected/tkcheck.exe "
    fi
}

downloads="downloads/kit (2)"
run_case "64-bit Windows" AMD64 - "$kit" "$downloads/x64"
run_case "32-bit cmd.exe on 64-bit Windows" x86 AMD64 "$kit" "$downloads/x64"
run_case "32-bit Windows" x86 - "$kit" "$downloads/x86"
run_case "ARM64 Windows" ARM64 - "$kit" "$downloads/x86"
run_case "32-bit cmd.exe on ARM64 Windows" x86 ARM64 "$kit" "$downloads/x86"
run_case "Itanium" IA64 - "$kit" refused
run_case "installed, programs beside the script" x86 - "$BENCH_WORK/installed" installed
rm -rf "$kit/x64"
run_case "kit without its x64 folder" AMD64 - "$kit" refused
finish
