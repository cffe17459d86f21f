#!/usr/bin/env bash
# What an examination costs under Wine on a large registry, with and without writing its
# files: `tkexamine --report-only --json` and `tkexamine --json` (which also replaces the
# 38 files in C:\tmptk) timed against two floors started the same way in the same run:
# floor_console (an empty console program) and floor_registry (opens, enumerates and reads
# what the examination reads and asks the zone manager what it asks, judges nothing). The
# registry holds 10 000 zone-map domain keys, each with a sub-key, 2 000 uninstall entries,
# 10 000 Group Policy site-list entries and 20 000 pop-up list entries (own and policy),
# split between the machine and the user; a second prefix holds twice as many, to show how
# the time grows, and a third (x0) none of it, where writing the files weighs most against
# the examination. Peak memory is each process's maximum resident set (GNU time).
# The programs take turns, so that anything slowing the machine hits all. Prints figures,
# among them the normal run against the report-only run (what writing the files costs) and
# each against the registry floor; asserts nothing about time.
#
#   bench/examine_bench.sh [-n RUNS] [-s SCALE] [-w WORKDIR] [-x TKEXAMINE]... [BUILD_DIR]
#
# RUNS: measured runs of each program on each registry (default 9), after one warm-up.
# SCALE: the registry's size as a share of the figures above (default 1).
# -x: another build's tkexamine.exe, measured the same way beside this build's (to compare
#     a change); may be given more than once.
# BUILD_DIR: the windows-x64 build (default build/windows-x64).
set -euo pipefail

usage() { echo "usage: $0 [-n RUNS] [-s SCALE] [-w WORKDIR] [-x TKEXAMINE]... [BUILD_DIR]" >&2; exit 2; }
runs=9
scale=1
work=
others=()
while getopts n:s:w:x: opt; do
    case $opt in
        n) runs=$OPTARG ;;
        s) scale=$OPTARG ;;
        w) work=$OPTARG ;;
        x) others+=("$(realpath "$OPTARG")") ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[[ $runs =~ ^[1-9][0-9]*$ && $scale =~ ^[0-9.]+$ && $# -le 1 ]] || usage

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/windows-x64}")
exes=("$build/companion/win32/tkexamine.exe" "${others[@]}")
console=$build/tests/e2e/floor_console.exe
registry=$build/tests/e2e/floor_registry.exe
for file in "${exes[@]}" "$console" "$registry"; do
    [[ -f $file ]] || { echo "missing $file: build the windows-x64 preset first" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed for peak memory" >&2; exit 2; }

# shellcheck source=tools/wine-env.sh
source "$root/tools/wine-env.sh"
work=$(realpath -m "${work:-$build/bench/examine}")
rm -rf "$work"
qtk_env_init "$work"
cd "$work"
qtk_xvfb_start
qtk_template_ensure "$build/tests/e2e/wine-template"

# make_registry FACTOR OUT: the large registry, FACTOR times the base size, as a .reg file.
make_registry() {
    python3 - "$1" "$scale" >"$2" <<'PY'
import sys
factor, scale = int(sys.argv[1]), float(sys.argv[2])
n = lambda base: max(1, round(base * scale * factor))
out = sys.stdout
out.write("REGEDIT4\r\n\r\n")
roots = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
settings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
domains = n(10000)
for i in range(domains):
    root = roots["HKLM" if i % 2 else "HKCU"]
    key = f"{root}\\{settings}\\ZoneMap\\Domains\\d{i:06d}.example"
    out.write(f'[{key}]\r\n"https"=dword:00000002\r\n\r\n[{key}\\www]\r\n"https"=dword:00000002\r\n\r\n')
uninstall = "Microsoft\\Windows\\CurrentVersion\\Uninstall"
places = [f"HKEY_LOCAL_MACHINE\\Software\\{uninstall}", f"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\{uninstall}",
          f"HKEY_CURRENT_USER\\Software\\{uninstall}", f"HKEY_LOCAL_MACHINE\\Software\\{uninstall}"]
for i in range(n(2000)):
    out.write(f'[{places[i % 4]}\\{{P{i:06d}}}]\r\n"DisplayName"="Product {i} of the bench"\r\n\r\n')
policy = n(10000)
policy_settings = "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
zone_map_key = policy_settings + "\\ZoneMapKey"
for half, hive in enumerate(("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER")):
    # In force as Group Policy writes it: the switch beside the list.
    out.write(f'[{hive}\\{policy_settings}]\r\n"ListBox_Support_ZoneMapKey"=dword:00000001\r\n\r\n')
    out.write(f"[{hive}\\{zone_map_key}]\r\n")
    for i in range(half, policy, 2):
        out.write(f'"https://host{i:06d}.example.org"="2"\r\n')
    out.write("\r\n")
lists = ["HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
         "HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow",
         "HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow"]
entries = n(20000)
shares = [entries // 2, entries // 4, entries - entries // 2 - entries // 4]
for key, count in zip(lists, shares):
    out.write(f"[{key}]\r\n")
    for i in range(count):
        out.write(f'"h{i:06d}.{abs(hash(key)) % 997}.example"=hex:\r\n')
    out.write("\r\n")
sys.stderr.write(f"{domains} domain keys (+ as many sub-keys), {n(2000)} uninstall entries, "
                 f"{policy} policy site-list entries, {entries} pop-up entries\n")
PY
}

prefixes=()
for factor in 0 1 2; do
    prefix=$work/prefix$factor
    qtk_prefix_clone "$build/tests/e2e/wine-template" "$prefix"
    qtk_use_prefix "$prefix"
    qtk_server_start
    prefixes+=("$prefix")
    ((factor > 0)) || continue
    make_registry "$factor" "$work/registry$factor.reg" 2>"$work/registry$factor.txt"
    qtk_wine regedit /S "Z:${work//\//\\}\\registry$factor.reg" >>"$work/wine.log" 2>&1 ||
        qtk_die "importing the registry of factor $factor failed"
done

# measure OUT FACTOR KIND EXE [ARG...]: one run, started as `wine EXE ARG...`; appends its
# wall time in ms and its peak resident set in KiB to OUT.
measure() {
    local out=$1 factor=$2 kind=$3 target=$4 start end status=0
    shift 4
    WINEPREFIX=${prefixes[factor]}
    export WINEPREFIX
    start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$work/rss" wine "$target" "$@" >"$work/$kind$factor.out" \
        2>>"$work/$kind$factor.err" </dev/null || status=$?
    end=$EPOCHREALTIME
    # The examination ends 1 or 2 on this registry; anything else means it did not run
    # (or, for a normal run, did not write its files).
    if ! [[ $status == 0 || ($kind == tkexamine* && $status -le 2) ]]; then
        qtk_die "$kind on factor $factor ended $status: $(tail -n 3 "$work/$kind$factor.err")"
    fi
    printf '%s\t%s\t%s\t%s\n' "$factor" "$kind" \
        "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", (b - a) * 1000 }')" \
        "$(tail -n 1 "$work/rss")" >>"$out"
}

# Kinds: tkexamine<i>-report and tkexamine<i>-write for the i-th tkexamine (0: this build).
kinds=(console registry)
for i in "${!exes[@]}"; do kinds+=("tkexamine$i-report" "tkexamine$i-write"); done

# round OUT: each program once on each registry.
round() {
    local factor i
    for factor in 0 1 2; do
        measure "$1" "$factor" console "$console"
        measure "$1" "$factor" registry "$registry"
        for i in "${!exes[@]}"; do
            measure "$1" "$factor" "tkexamine$i-report" "${exes[i]}" --report-only --json
            measure "$1" "$factor" "tkexamine$i-write" "${exes[i]}" --json
        done
    done
}

times=$work/times.tsv
: >"$times"
round /dev/null
for ((r = 0; r < runs; r++)); do round "$times"; done

# The normal runs must have left a whole set behind: the OS-version file seals it.
for factor in 0 1 2; do
    [[ -f ${prefixes[factor]}/drive_c/tmptk/outwinversion.txt ]] ||
        qtk_die "no outwinversion.txt in C:\\tmptk of factor $factor after the normal runs"
done

# median FACTOR KIND COLUMN
median() {
    awk -F'\t' -v f="$1" -v k="$2" -v c="$3" '$1 == f && $2 == k { print $c }' "$times" | sort -g |
        awk '{ v[NR] = $1 } END { h = 1 + (NR - 1) * 0.5; lo = int(h); printf "%.1f", v[lo] + (h - lo) * (v[lo + (lo < NR)] - v[lo]) }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }

declare -A t m
for factor in 0 1 2; do
    for kind in "${kinds[@]}"; do
        t[$factor$kind]=$(median "$factor" "$kind" 3)
        m[$factor$kind]=$(median "$factor" "$kind" 4)
    done
done
rows=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1], encoding="utf-8"))["checks"]))' \
    "$work/tkexamine0-report1.out")

label() {
    case $1 in
        console) echo "floor_console (empty program)" ;;
        registry) echo "floor_registry (reads, asks zones)" ;;
        tkexamine*-report) local n=${1#tkexamine}; echo "tkexamine${n%-report} --report-only" ;;
        tkexamine*-write) local n=${1#tkexamine}; echo "tkexamine${n%-write} (writes its files)" ;;
    esac
}

echo
echo "Examination of a large registry, started as \`wine PROGRAM\` (Wine $(wine --version), $runs runs, medians)"
echo "registry x0: the template prefix's own"
echo "registry x1: $(cat "$work/registry1.txt")"
echo "registry x2: $(cat "$work/registry2.txt")"
for i in "${!exes[@]}"; do echo "tkexamine$i: ${exes[i]} ($(stat -c %s "${exes[i]}") bytes)"; done
printf '  %-36s %9s %9s %9s %12s %12s\n' "" "x0 ms" "x1 ms" "x2 ms" "x1 peak KiB" "x2 peak KiB"
for kind in "${kinds[@]}"; do
    printf '  %-36s %9s %9s %9s %12s %12s\n' "$(label "$kind")" "${t[0$kind]}" "${t[1$kind]}" \
        "${t[2$kind]}" "${m[1$kind]}" "${m[2$kind]}"
done
for i in "${!exes[@]}"; do
    report=tkexamine$i-report
    write=tkexamine$i-write
    for factor in 0 1 2; do
        echo "tkexamine$i x$factor:" \
            "normal run / report-only = $(ratio "${t[$factor$write]}" "${t[$factor$report]}") (target <= 1.5)," \
            "writing the files $(minus "${t[$factor$write]}" "${t[$factor$report]}") ms;" \
            "report-only / registry floor = $(ratio "${t[$factor$report]}" "${t[${factor}registry]}")," \
            "normal run / registry floor = $(ratio "${t[$factor$write]}" "${t[${factor}registry]}")"
    done
done
for factor in 1 2; do
    own=$(minus "${t[${factor}tkexamine0-report]}" "${t[${factor}console]}")
    floor=$(minus "${t[${factor}registry]}" "${t[${factor}console]}")
    echo "x$factor beyond the empty start: tkexamine0 --report-only $own ms vs registry floor $floor ms" \
        "= $(ratio "$own" "$floor")"
done
echo "growth x2/x1 beyond the empty start (linear = 2.0):" \
    "tkexamine0 $(ratio "$(minus "${t[2tkexamine0-report]}" "${t[2console]}")" "$(minus "${t[1tkexamine0-report]}" "${t[1console]}")")," \
    "registry floor $(ratio "$(minus "${t[2registry]}" "${t[2console]}")" "$(minus "${t[1registry]}" "${t[1console]}")")"
echo "peak memory beyond the empty program: x1 $(minus "${m[1tkexamine0-report]}" "${m[1console]}") KiB," \
    "x2 $(minus "${m[2tkexamine0-report]}" "${m[2console]}") KiB"
echo "rows in the report: $rows; raw times: $times"
