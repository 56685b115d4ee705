# Sourced by the shell tests: failed checks are counted as they happen and reported at the end.
# shellcheck shell=bash
failures=0

# fail MESSAGE...: notes a failed check; the test goes on.
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# finish_checks: exits with status 1 and the count when any check failed; says all passed otherwise.
finish_checks() {
    if ((failures > 0)); then
        echo "$failures checks failed" >&2
        exit 1
    fi
    echo "all checks passed"
}
