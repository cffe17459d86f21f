#!/usr/bin/env bash
# How long a user waits for the window: from the start of the process to the window on the
# screen, fully painted, with the program waiting for input. Measured under Wine on a
# private Xvfb display, in one prepared prefix with the demo data, against a floor measured
# in the same run: floor_controls.exe, which opens a window of the same size holding the
# board's 73 frames and labels and does nothing else. The ratio to it is the figure: the
# program's own work on top of what any window with these controls costs. A second floor,
# floor_window.exe (the empty window alone), shows the window system's share in the table.
# The three take turns, so that anything slowing the machine down meanwhile hits all.
# Prints figures; asserts nothing about time.
#
#   bench/launch_bench.sh [-n RUNS] [-w WORKDIR] [-R] [BUILD_DIR]
#
# -R: every marker carries a reason after its first field, as the companion writes them,
# so the run includes the board's tooltip control (the demo's markers have none).
# RUNS: measured launches of each (default 15), after one unmeasured warm-up of each.
# BUILD_DIR: the windows-x64 build (default build/windows-x64). Its Wine template prefix is
# built first if it is not there yet.
# WORKDIR: where the prefix, the logs and the raw times go (default BUILD_DIR/bench/launch).
set -euo pipefail

usage() { echo "usage: $0 [-n RUNS] [-w WORKDIR] [-R] [BUILD_DIR]" >&2; exit 2; }
runs=15
work=
reasons=0
while getopts n:w:R opt; do
    case $opt in
        n) runs=$OPTARG ;;
        w) work=$OPTARG ;;
        R) reasons=1 ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[[ $runs =~ ^[1-9][0-9]*$ && $# -le 1 ]] || usage

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/windows-x64}")
exe=$build/app/win32/tkcheck.exe
floor=$build/tests/e2e/floor_window.exe
controls=$build/tests/e2e/floor_controls.exe
probe=$build/tests/e2e/tkprobe.exe
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
for file in "$exe" "$floor" "$controls" "$probe"; do
    [[ -f $file ]] || { echo "missing $file: build the windows-x64 preset first" >&2; exit 2; }
done

# shellcheck source=tools/wine-env.sh
source "$root/tools/wine-env.sh"
work=$(realpath -m "${work:-$build/bench/launch}")
rm -rf "$work"
qtk_env_init "$work"
cd "$work"

qtk_xvfb_start
qtk_template_ensure "$build/tests/e2e/wine-template"
qtk_demo_prefix "$build/tests/e2e/wine-template" "$work/prefix" 96
# The program starts the clean-up script at every close; one that does nothing ends
# quickly, and the next launch waits for it all the same.
printf '@exit /b 0\r\n' >"$(qtk_tmptk_path rundelay.bat)"
if ((reasons == 1)); then
    for marker in "$(qtk_tmptk_path '')"*.txt; do
        [[ $marker == */outwinversion.txt ]] && continue
        sed -i '1s/\r\?$/,mapped by HKCU ZoneMap\\Domains (Trusted sites zone)\r/' "$marker"
    done
fi

# measure KIND EXE CLASS OUT: one launch, shown, closed and ended; appends the times.
measure() {
    local kind=$1 target=$2 class=$3 out=$4 result
    result=$work/$kind.last
    qtk_wine "$probe" --exe "$(basename "$target")" --class "$class" \
        launch "$(qtk_windows_path "$target")" 30000 close wait-exit 15000 \
        >"$result" 2>>"$work/probe.log" ||
        qtk_die "$kind run failed: $(grep '^error' "$result" || tail -n 3 "$result")"
    awk -F'\t' -v kind="$kind" '$1 == "launched" { print kind "\t" $3 "\t" $4 }' "$result" >>"$out"
    # The clean-up script's cmd.exe must not share the processor with the next launch.
    qtk_wait_until 10000 eval '! qtk_prefix_runs cmd.exe' || qtk_die "the clean-up script never ended"
}

times=$work/times.tsv
: >"$times"
measure program "$exe" QtkForm2 /dev/null
measure floor "$floor" QtkFloor /dev/null
measure controls "$controls" QtkFloor /dev/null
for ((i = 0; i < runs; i++)); do
    measure program "$exe" QtkForm2 "$times"
    measure floor "$floor" QtkFloor "$times"
    measure controls "$controls" QtkFloor "$times"
done

# summary KIND COLUMN: median p25 p75 min max, in ms, of one kind's times.
summary() {
    awk -F'\t' -v kind="$1" -v col="$2" '$1 == kind { print $col }' "$times" | sort -g |
        awk '{ v[NR] = $1 }
             function q(p,   h, lo) { h = 1 + (NR - 1) * p; lo = int(h); return v[lo] + (h - lo) * (v[lo + (lo < NR)] - v[lo]) }
             END { printf "%.1f\t%.1f\t%.1f\t%.1f\t%.1f\n", q(0.5), q(0.25), q(0.75), v[1], v[NR] }'
}

program_idle=$(summary program 3)
floor_idle=$(summary floor 3)
program_visible=$(summary program 2)
floor_visible=$(summary floor 2)
controls_idle=$(summary controls 3)
controls_visible=$(summary controls 2)
ratio=$(awk -v p="${program_idle%%$'\t'*}" -v f="${controls_idle%%$'\t'*}" 'BEGIN { printf "%.3f", p / f }')

row() { IFS=$'\t' read -r med p25 p75 lo hi <<<"$2"; printf '  %-28s %8s %8s %8s %8s %8s\n' "$1" "$med" "$p25" "$p75" "$lo" "$hi"; }
echo
echo "Launch to a fully painted window, idle and waiting for input (Wine $(wine --version), Xvfb, 96 DPI)"
((reasons == 0)) || echo "every marker carries a reason: the board has its tooltip control"
echo "$runs measured runs of each, alternating, after one warm-up of each; times in ms"
printf '  %-28s %8s %8s %8s %8s %8s\n' "" median p25 p75 min max
row "tkcheck.exe" "$program_idle"
row "floor_window.exe" "$floor_idle"
row "floor_controls.exe" "$controls_idle"
echo "first visible (before idle):"
row "tkcheck.exe" "$program_visible"
row "floor_window.exe" "$floor_visible"
row "floor_controls.exe" "$controls_visible"
echo "median ratio tkcheck.exe/floor_controls.exe: $ratio"
echo "tkcheck.exe: $(stat -c %s "$exe") bytes"
echo "imported DLLs: $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | paste -sd ' ')"
echo "floor_window.exe: $(stat -c %s "$floor") bytes"
echo "raw times: $times"
