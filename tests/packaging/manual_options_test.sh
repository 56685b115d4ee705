#!/usr/bin/env bash
# Each manual page lists exactly the options its program accepts. The accepted options are read from the
# code that compares arguments with option names: `strcmp(arg, "--x")` in cli/, `arg == "--x"` in
# formats/converter_options.cpp, the `case` patterns of scripts/transcribe_many.sh. The listed ones are the
# option names that open an item (.TP) of the page's OPTIONS section.
#
#   manual_options_test.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
failures=0

# The options the page `$1` lists, one a line, sorted.
listed() {
    awk '/^\.SH / { in_options = ($2 == "OPTIONS") } in_options && after_tp { print } { after_tp = ($0 == ".TP") }' "$1" |
        sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u
}

# Compares the options of `$1` read from the code (standard input) with those its page lists.
compare() {
    local program=$1 accepted documented
    accepted=$(sort -u)
    documented=$(listed "$source_dir/docs/man/$program.1")
    if [[ -z "$accepted" ]]; then
        echo "FAIL: $program: no options found in its code" >&2
        failures=$((failures + 1))
    elif [[ "$accepted" != "$documented" ]]; then
        echo "FAIL: $program: options accepted but not in docs/man/$program.1:" \
            "$(comm -23 <(echo "$accepted") <(echo "$documented") | tr '\n' ' ')" \
            "/ listed but not accepted: $(comm -13 <(echo "$accepted") <(echo "$documented") | tr '\n' ' ')" >&2
        failures=$((failures + 1))
    fi
}

compare tavrik-asr < <(cat "$source_dir"/cli/*.cpp | grep -o 'strcmp([a-z0-9_\[]*\]*, "--[a-z-]*")' | grep -o -- '--[a-z-]*')
compare tavrik-words < <(grep -o 'arg == "--[a-z-]*"' "$source_dir/formats/converter_options.cpp" | grep -o -- '--[a-z-]*')
compare transcribe-many < <(grep -E '^\s+-[-a-z]+( \| -[-a-z]+)*\)' "$source_dir/scripts/transcribe_many.sh" |
    grep -o -- '--[a-z-]*')

if ((failures > 0)); then
    exit 1
fi
echo "all checks passed"
