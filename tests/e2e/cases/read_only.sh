#!/usr/bin/env bash
# A whole run, shown and closed, only reads: the kernel's record of C:\tmptk (inotify)
# shows the OS-version file first, then the 36 marker files in the order of the check
# tables, each opened once and closed before the next, and nothing created, changed,
# renamed or deleted there; the registry keys it reads from, and the user's software key,
# are the same afterwards.
#
# The clean-up script launched at the close is its own process; here it does nothing, so
# its reading of itself after the close is the only other thing in the record.
#
# Registry noise: Wine itself writes some keys the first time any program opens a window
# on a server (HKCU\Software\Wine\Temporary System Parameters, user32's volatile copy of
# the display settings). That noise is measured here, not assumed: the floor program
# (an empty window, nothing else) runs first on the same server, and only keys it changed
# are tolerated in the program's run; on Wine 8 the program's run then changes nothing.
#   read_only.sh ... --floor FLOOR_EXE
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
bench_require floor
floor=$(realpath "$(bench_option floor)")
mapfile -t order < <(bench_read_order)

registry_keys=('HKLM\Software' 'HKLM\System\CurrentControlSet\Control\ComputerName'
    'HKCU\Software')

# export_registry NAME: the keys above as NAME.regs, one line per key and per value, each
# value line prefixed with its key, so that a difference says where it is.
export_registry() {
    local key i=0
    : >"$1.regs"
    for key in "${registry_keys[@]}"; do
        qtk_wine reg export "$key" "$1.$i.reg" /y >>"$BENCH_WORK/wine.log" 2>&1 ||
            qtk_die "reg export $key failed"
        iconv -f UTF-16LE -t UTF-8 "$1.$i.reg" | tr -d '\r' |
            awk '/\\$/ { sub(/\\$/, ""); held = held $0; next }
                 { $0 = held $0; held = "" }
                 /^\[/ { key = $0; print key; next }
                 NF && key != "" { print key "\t" $0 }' >>"$1.regs"
        i=$((i + 1))
    done
}

# changed_lines A B: lines in one export and not the other, marked < or >.
changed_lines() {
    diff "$1.regs" "$2.regs" | grep '^[<>]' || true
}

bench_prepare 96
bench_put rundelay.bat '@exit /b 0\r\n'

export_registry before
floor_path=$(qtk_windows_path "$floor")
bench_probe floor.tsv --exe "$(basename "$floor")" --class QtkFloor \
    launch "$floor_path" 30000 close wait-exit 10000 || true
export_registry floor
changed_lines before floor >noise.txt
echo "Wine's own registry changes on a first window (tolerated): $(wc -l <noise.txt) lines"
sed 's/^/  /' noise.txt

bench_watch_start run
qtk_start_program "$BENCH_EXE"
bench_probe run.tsv wait-shown 30000 close wait-gone 10000 || true
qtk_wait_program 15000 || fail "the program did not end after the close"
# The clean-up script reads itself through cmd.exe; let it finish before the record ends.
qtk_wait_until 10000 eval '! qtk_prefix_runs cmd.exe' || fail "the clean-up script never ended"
bench_watch_stop

mapfile -t opened < <(bench_watch_opened)
reads=()
cleanup_at=()
for i in "${!opened[@]}"; do
    if [[ ${opened[i]} == rundelay.bat ]]; then cleanup_at+=("$i"); else reads+=("${opened[i]}"); fi
done
expect "files read, in order, each once" "${reads[*]}" "${order[*]}"
expect_true "the clean-up script was started (it is opened at the close)" \
    test "${#cleanup_at[@]}" -gt 0
expect_true "the clean-up script is opened only after every read" \
    test "${cleanup_at[0]:-0}" -ge "${#order[@]}"
expect "files opened while another was open" "$(bench_watch_overlaps | tee overlaps.txt | wc -l)" 0
bench_watch_writes >writes.txt
expect "created, changed, renamed or deleted in C:\\tmptk" "$(wc -l <writes.txt)" 0
cat writes.txt

export_registry after
# Only keys the floor changed too are Wine's; anything else is the program's.
awk -F'\t' 'FNR == NR { sub(/^[<>] /, ""); noisy[$1] = 1; next }
            { line = $0; sub(/^[<>] /, ""); if (!($1 in noisy)) print line }' \
    noise.txt <(changed_lines floor after) >program_changes.txt
expect "registry lines the program changed" "$(wc -l <program_changes.txt)" 0
cat program_changes.txt
finish
