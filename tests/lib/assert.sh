# shellcheck shell=bash
# The assertions of the end-to-end and release tests. A failure does not stop the test:
# it is counted, and printed with the file and line of the test script that asserted,
#
#   FAIL: tests/e2e/cases/layout.sh:21: the window: expected [x], got [y]
#
# and, when the assertion was made inside a helper of a library, where in the library
# too ("in tests/e2e/lib/bench.sh:180"). `finish` ends the test: exit 1 after any failure.
#
#   ASSERT_NAME   the test's name in the closing line (default: the script's name)
#   ASSERT_FILES  where the test's files stay for a look after a failure

ASSERT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
ASSERT_FAILURES=0
ASSERT_NAME=$(basename "$0" .sh)
ASSERT_FILES=

# assert_where: "file:line" of the test script's line that led here; the innermost line
# in a library beside it, when a library helper asserted.
assert_where() {
    local i file here inner="" main=${BASH_SOURCE[-1]}
    for ((i = 1; i < ${#BASH_SOURCE[@]}; i++)); do
        file=${BASH_SOURCE[i]}
        [[ $file == "${BASH_SOURCE[0]}" ]] && continue
        file=$(realpath -m "$file")
        here="${file#"$ASSERT_ROOT"/}:${BASH_LINENO[i - 1]}"
        if [[ ${BASH_SOURCE[i]} == "$main" ]]; then
            echo "$here${inner:+ (in $inner)}"
            return
        fi
        [[ -n $inner ]] || inner=$here
    done
    echo "${inner:-?}"
}

# fail WHAT: one failure, counted.
fail() {
    echo "FAIL: $(assert_where): $*"
    ASSERT_FAILURES=$((ASSERT_FAILURES + 1))
}

# expect WHAT ACTUAL EXPECTED
expect() {
    if [[ $2 == "$3" ]]; then echo "ok: $1 = $3"; else fail "$1: expected [$3], got [$2]"; fi
}

# expect_true WHAT CMD...
expect_true() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

# expect_false WHAT CMD...
expect_false() {
    local what=$1
    shift
    if "$@"; then fail "$what"; else echo "ok: $what"; fi
}

finish() {
    if ((ASSERT_FAILURES > 0)); then
        echo "$ASSERT_NAME: $ASSERT_FAILURES failure(s)${ASSERT_FILES:+; files in $ASSERT_FILES}"
        exit 1
    fi
    echo "$ASSERT_NAME: passed"
}
