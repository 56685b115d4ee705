#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (into build-fuzz) and runs each one for a fixed time on a copy of
# its starting inputs from fuzz/corpus/<name>/, so that the repository is never written to. Targets run side
# by side, one to a processor (TAVRIK_JOBS sets how many at once, and the build's job count).
#
#   scripts/fuzz.sh [seconds-per-target] [target...]     default: 30 s, every target
#
# Fails when any target finds a crash, a hang (an input over 10 s), a sanitizer report, a leak or a broken
# invariant; the input that caused it is kept in build-fuzz/findings/ and can be replayed with
#   build-fuzz/fuzz/<target> build-fuzz/findings/<file>
# Prints the number of executions of each target from libFuzzer's final statistics.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift $(( $# > 0 ? 1 : 0 ))
all_targets=(input_files_fuzz json_escape_fuzz command_line_fuzz transcript_words_fuzz filler_restore_fuzz
             segment_plan_fuzz audio_file_fuzz model_files_fuzz words_document_fuzz
             transcript_reader_fuzz)
targets=("$@")
if ((${#targets[@]} == 0)); then
    targets=("${all_targets[@]}")
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_FUZZ=ON \
    -DTAVRIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${TAVRIK_JOBS:-$(nproc)}" --target "${targets[@]}" >/dev/null

findings="$build/findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One target to a processor: each runs alone on one thread for its time, so the whole run takes the time of
# one target per processor, not of all of them in a row.
run_target() {
    local target=$1 name=${1%_fuzz} status=0
    mkdir -p "$work/$name"
    cp fuzz/corpus/"$name"/* "$work/$name"/
    "$build/fuzz/$target" "$work/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$findings/$name-" >"$work/$name.log" 2>&1 || status=$?
    echo "$status" >"$work/$name.status"
}
at_once=${TAVRIK_JOBS:-$(nproc)}
running=0
for target in "${targets[@]}"; do
    if ((running >= at_once)); then
        wait -n
        running=$((running - 1))
    fi
    run_target "$target" &
    running=$((running + 1))
done
wait

failed=()
summary=()
for target in "${targets[@]}"; do
    name=${target%_fuzz}
    log="$work/$name.log"
    status=$(cat "$work/$name.status")
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if ((status != 0)); then
        failed+=("$target")
        summary+=("$(printf '%-22s %12s executions  FINDING (status %d)' "$target" "${executions:-?}" "$status")")
        echo "---- $target: last lines of its log" >&2
        tail -n 40 "$log" >&2
    else
        summary+=("$(printf '%-22s %12s executions  ok' "$target" "${executions:-?}")")
    fi
done

printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
    echo "fuzzing found problems in: ${failed[*]} (inputs in $findings)" >&2
    exit 1
fi
