#!/usr/bin/env bash
# Run elevated (every Wine process is: its token says TokenIsElevated), the program starts
# C:\tmptk\rundelay.bat at the close only if nobody but Administrators, SYSTEM and the
# user may change it or the directory. Wine keeps no real access lists on files: it shows
# the Unix mode bits as one, and "writable by others" reads back as Everyone allowed to
# write, which is what each run here sets up. The script must not run, and once the window
# has gone a report says why; OK ends the program.
#   close_untrusted_cleanup.sh ... -- TARGET...   TARGET is dir or script
# shellcheck source=tests/e2e/lib/bench.sh
source "$(dirname "$0")/../lib/bench.sh" "$@"
((${#CASE_ARGS[@]} > 0)) || qtk_die "no target given"

qtk_xvfb_start
for target in "${CASE_ARGS[@]}"; do
    echo "== $target writable by others"
    bench_fresh_prefix "prefix-$target"
    script=$(qtk_tmptk_path rundelay.bat)
    printf '%s\r\n' '@echo off' 'echo started>C:\tmptk\started.txt' >"$script"
    case $target in
        dir) chmod 0777 "$(qtk_tmptk_path '')" ;;
        script) chmod 0666 "$script" ;;
        *) qtk_die "unknown target $target" ;;
    esac

    qtk_start_program "$BENCH_EXE"
    bench_probe "$target.close.tsv" wait-shown 30000 close watch-error 30000 || continue
    qtk_wait_program 15000 || fail "$target: the program did not end after OK"
    bench_wait_cleanup_gone || fail "$target: a console was still running"

    out=$target.close.tsv
    cat "$out"
    expect "$target: reports" "$(grep -c '^msgbox' "$out")" 1
    expect "$target: report caption" "$(bench_field "$out" msgbox 4)" "$BENCH_TITLE"
    text=$(bench_unescape "$(bench_field "$out" msgbox 5)")
    expect_true "$target: the report says the script was not started" \
        grep -qiF 'clean-up script was not started' <<<"$text"
    if [[ $target == dir ]]; then name='C:\tmptk:'; else name='C:\tmptk\rundelay.bat:'; fi
    expect_true "$target: the report names $name and who else may change it" \
        grep -qiF "$name Everyone" <<<"$text"
    expect "$target: main window visible behind the report" "$(bench_field "$out" msgbox 3)" 0
    expect "$target: program ended after OK" "$(bench_field "$out" watch 5)" 1
    expect "$target: the script ran" \
        "$([[ -e $(qtk_tmptk_path started.txt) ]] && echo yes || echo no)" no
done
finish
