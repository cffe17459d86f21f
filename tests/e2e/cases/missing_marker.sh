#!/usr/bin/env bash
# A marker file the sequence needs is missing: the run ends with exactly one error report,
# naming the file's full path and the system's error number, the window is never shown,
# and no file after it is ever opened. The kernel's own record of C:\tmptk (inotify)
# shows what was opened: exactly the files before the missing one in the run's order,
# each once, one at a time.
#   missing_marker.sh ... -- MARKER...   (each marker removed on a prefix of its own)
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
((${#CASE_ARGS[@]} > 0)) || qtk_die "no marker file given"
mapfile -t order < <(bench_read_order)

qtk_xvfb_start
for marker in "${CASE_ARGS[@]}"; do
    name=${marker%.txt}
    echo "== $marker missing"
    # What must be read before the run stops: everything up to the missing file.
    before=()
    for file in "${order[@]}"; do
        [[ $file == "$marker" ]] && break
        before+=("$file")
    done
    ((${#before[@]} < ${#order[@]})) || qtk_die "$marker is not a file the run reads"

    bench_fresh_prefix "prefix-$name"
    rm "$(qtk_tmptk_path "$marker")"
    bench_watch_start "$name"
    # Watching starts before the program does, so a window shown even briefly is seen.
    # The probe ends when the program does; its deadline and ours are only safety nets,
    # generous enough for a machine under load.
    bench_probe_bg "$name.watch.tsv" watch-error 60000
    qtk_wait_until 30000 grep -q '^#msgbox' "$name.watch.tsv" || fail "the probe did not start"
    qtk_start_program "$BENCH_EXE"
    bench_wait_probe_bg 75000 ||
        fail "the probe failed or outran its time: $(grep '^error' "$name.watch.tsv" || true)"
    qtk_wait_program 30000 || fail "$marker: the program did not end after OK"
    bench_watch_stop

    out=$name.watch.tsv
    cat "$out"
    expect "$marker: error reports" "$(grep -c '^msgbox' "$out")" 1
    expect "$marker: report caption" "$(bench_field "$out" msgbox 4)" "$BENCH_TITLE"
    text=$(bench_unescape "$(bench_field "$out" msgbox 5)")
    first_line=${text%%$'\n'*}
    expect_true "$marker: the report's first line gives error number 2: [${first_line%$'\r'}]" \
        grep -qE '(^|[^0-9])2([^0-9]|$)' <<<"$first_line"
    expect_true "$marker: the report names C:\\tmptk\\$marker" \
        grep -qiF "C:\\tmptk\\$marker" <<<"$text"
    expect "$marker: report dismissed with OK" "$(bench_field "$out" msgbox 6)" ok
    expect "$marker: main window visible behind the report" "$(bench_field "$out" msgbox 3)" 0
    expect "$marker: main window ever visible" "$(bench_field "$out" watch 3)" 0
    expect "$marker: program ended after OK" "$(bench_field "$out" watch 5)" 1
    expect_true "$marker: exit status is non-zero (${QTK_PROGRAM_STATUS:-none})" \
        test "${QTK_PROGRAM_STATUS:-0}" -ne 0

    # Whether the clean-up script also runs after an error report is the program's own
    # choice; its opening is not a read of the check sequence.
    mapfile -t opened < <(bench_watch_opened | grep -vx 'rundelay.bat' || true)
    expect "$marker: files opened, in order" "${opened[*]}" "${before[*]}"
    expect "$marker: files opened while another was open" "$(bench_watch_overlaps | wc -l)" 0
    expect "$marker: changes in C:\\tmptk" "$(bench_watch_writes | wc -l)" 0
done
finish
