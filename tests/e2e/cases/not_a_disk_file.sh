#!/usr/bin/env bash
# A file the run reads that is no disk file, but a pipe that never ends or a device: the
# run must end with the error report naming it, not spin or wait for ever. Under Wine a
# Unix FIFO at the path opens as a pipe, and a link to /dev/zero as a character device.
#   not_a_disk_file.sh ... -- FILE:KIND...   KIND is fifo (fed blanks without end while
#                                             anyone reads) or zero (a link to /dev/zero)
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
((${#CASE_ARGS[@]} > 0)) || qtk_die "no FILE:KIND given"

qtk_xvfb_start
for target in "${CASE_ARGS[@]}"; do
    file=${target%%:*}
    kind=${target#*:}
    name=${file%.txt}-$kind
    echo "== $file as $kind"
    bench_fresh_prefix "prefix-$name"
    path=$(qtk_tmptk_path "$file")
    rm -f "$path"
    case $kind in
        fifo)
            mkfifo "$path"
            # The writer's open waits for a reader; from then on it feeds blanks, which a
            # reader skipping leading blanks, or reading to a line end, never gets past.
            (tr '\0' ' ' </dev/zero >"$path") 2>/dev/null &
            qtk_on_exit qtk_kill_pid "$!"
            ;;
        zero) ln -s /dev/zero "$path" ;;
        *) qtk_die "unknown kind $kind" ;;
    esac

    bench_probe_bg "$name.watch.tsv" watch-error 45000
    qtk_wait_until 30000 grep -q '^#msgbox' "$name.watch.tsv" || fail "the probe did not start"
    qtk_start_program "$BENCH_EXE"
    bench_wait_probe_bg 60000 ||
        fail "the probe failed or outran its time: $(grep '^error' "$name.watch.tsv" || true)"
    qtk_wait_program 20000 || fail "$file as $kind: the program did not end (it hangs)"
    qtk_kill_pid "$QTK_PROGRAM_PID"

    out=$name.watch.tsv
    cat "$out"
    expect "$file as $kind: error reports" "$(grep -c '^msgbox' "$out")" 1
    text=$(bench_unescape "$(bench_field "$out" msgbox 5)")
    expect_true "$file as $kind: the report names C:\\tmptk\\$file" \
        grep -qiF "C:\\tmptk\\$file" <<<"$text"
    expect "$file as $kind: main window ever visible" "$(bench_field "$out" watch 3)" 0
    expect "$file as $kind: program ended after OK" "$(bench_field "$out" watch 5)" 1
    expect_true "$file as $kind: exit status is non-zero (${QTK_PROGRAM_STATUS:-none})" \
        test "${QTK_PROGRAM_STATUS:-0}" -ne 0
done
finish
