#!/usr/bin/env bash
# Each manual page, and each program's table under the README's "## Options", lists exactly the options its
# program accepts. The accepted options are read from the code that compares arguments with option names:
# `strcmp(arg, "--x")` in cli/, `arg == "--x"` in formats/converter_options.cpp, the `case` patterns of
# scripts/transcribe_many.sh. A page lists the option names that open an item (.TP) of its OPTIONS section; the
# README lists those in the first cell of each table row under the program's "### NAME" heading.
#
#   manual_options_test.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
failures=0

# The options the page `$1` lists, one a line, sorted.
page_listed() {
    awk '/^\.SH / { in_options = ($2 == "OPTIONS") } in_options && after_tp { print } { after_tp = ($0 == ".TP") }' "$1" |
        sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u
}

# The options the README's Options table lists for the program `$1`, one a line, sorted.
readme_listed() {
    awk -v program="$1" '/^## / { in_options = ($0 == "## Options") } /^### / { mine = in_options && $2 == program }
        mine && /^\| `--/ { split($0, cells, "|"); print cells[2] }' "$source_dir/README.md" |
        grep -o -- '--[a-z][a-z-]*' | sort -u || true
}

# Fails the test when `$3` (the options listed in `$2`) differs from `$4` (those program `$1` accepts).
same_options() {
    local program=$1 where=$2 listed=$3 accepted=$4
    if [[ "$accepted" != "$listed" ]]; then
        echo "FAIL: $program: options accepted but not in $where:" \
            "$(comm -23 <(echo "$accepted") <(echo "$listed") | tr '\n' ' ')" \
            "/ listed but not accepted: $(comm -13 <(echo "$accepted") <(echo "$listed") | tr '\n' ' ')" >&2
        failures=$((failures + 1))
    fi
}

# Compares the options of `$1` read from the code (standard input) with those its page and the README list.
compare() {
    local program=$1 accepted
    accepted=$(sort -u)
    if [[ -z "$accepted" ]]; then
        echo "FAIL: $program: no options found in its code" >&2
        failures=$((failures + 1))
        return
    fi
    same_options "$program" "docs/man/$program.1" "$(page_listed "$source_dir/docs/man/$program.1")" "$accepted"
    same_options "$program" "the README's Options table" "$(readme_listed "$program")" "$accepted"
}

compare tavrik-asr < <(cat "$source_dir"/cli/*.cpp | grep -o 'strcmp([a-z0-9_\[]*\]*, "--[a-z-]*")' | grep -o -- '--[a-z-]*')
compare tavrik-words < <(grep -o 'arg == "--[a-z-]*"' "$source_dir/formats/converter_options.cpp" | grep -o -- '--[a-z-]*')
compare transcribe-many < <(grep -E '^\s+-[-a-z]+( \| -[-a-z]+)*\)' "$source_dir/scripts/transcribe_many.sh" |
    grep -o -- '--[a-z-]*')

if ((failures > 0)); then
    exit 1
fi
echo "all checks passed"
