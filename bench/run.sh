#!/usr/bin/env bash
# Whole-run benchmark. Builds in Release, makes recordings of 1, 10 and 60 minutes (LibriVox clips and
# espeak-ng speech with pauses) and, with and without a turns file and an extra-words file of every word,
# prints per length: the tool's wall time, real-time factor and peak RSS, the split of a run into model
# loading, recognition, alignment and the tool's own work, and the same audio decoded by
# pocketsphinx_continuous with the same model as the baseline. Then the micro-benchmarks.
#
#   bench/run.sh                      all lengths
#   TAVRIK_BENCH_MINUTES="1 10" bench/run.sh
#   TAVRIK_BENCH_JOBS=2 bench/run.sh  two measurements at a time (on a machine with two idle cores)
set -euo pipefail
source "$(dirname "$0")/build_bench.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# The measurements are independent runs of one process each; TAVRIK_BENCH_JOBS of them run at a time
# (default 1). Every run is single-threaded, so with no more jobs than idle cores the figures hold.
jobs=${TAVRIK_BENCH_JOBS:-1}
minutes_list=${TAVRIK_BENCH_MINUTES:-1 10 60}
launch() { # launch OUTPUT COMMAND...: runs COMMAND in the background, its stdout into OUTPUT
    local out=$1
    shift
    while (($(jobs -rp | wc -l) >= jobs)); do
        wait -n
    done
    "$@" >"$out" &
}

for minutes in $minutes_list; do
    mkdir -p "$work/$minutes"
    "$bench" make "$minutes" "$work/$minutes" >/dev/null
done
# Longest recordings first, so the parallel runs finish close together.
for minutes in $(tr ' ' '\n' <<<"$minutes_list" | sort -rn); do
    dir=$work/$minutes
    launch "$dir/base.out" "$bench" measure pocketsphinx_continuous -infile "$dir/audio.wav" -hmm "$model/en-us" \
        -lm "$model/en-us.lm.bin" -dict "$model/cmudict-en-us.dict" -logfn /dev/null
    for files in no yes; do
        args=()
        phase_files=(- -)
        if [[ $files == yes ]]; then
            args=(--turns "$dir/turns.txt" --extra-words "$dir/extra.txt")
            phase_files=("$dir/turns.txt" "$dir/extra.txt")
        fi
        launch "$dir/run_$files.out" "$bench" measure "$tool" --asr "$model" --aligner "$model" \
            --audio "$dir/audio.wav" "${args[@]}"
        launch "$dir/phases_$files.out" "$bench" phases "$model" "$model" "$dir/audio.wav" "${phase_files[@]}"
    done
done
wait

printf '%-5s %-6s %8s %7s %8s %9s %10s %8s %8s %9s %9s %9s\n' \
    min files wall_s rtf rss_mib segments transcribe align own own_% base_s base_rtf
for minutes in $minutes_list; do
    dir=$work/$minutes
    base=$(<"$dir/base.out")
    for files in no yes; do
        run=$(<"$dir/run_$files.out")
        phases=$(<"$dir/phases_$files.out")
        audio_s=$(field audio_s "$phases")
        wall=$(field wall "$run")
        base_wall=$(field wall "$base")
        printf '%-5s %-6s %8.1f %7.3f %8.1f %9s %10.1f %8.1f %8.3f %9.4f %9.1f %9.3f\n' \
            "$minutes" "$files" "$wall" "$(awk "BEGIN{print $wall / $audio_s}")" "$(field rss_mib "$run")" \
            "$(field segments "$phases")" "$(field transcribe "$phases")" "$(field align "$phases")" \
            "$(field own "$phases")" "$(field own_share "$phases" | tr -d %)" "$base_wall" \
            "$(awk "BEGIN{print $base_wall / $audio_s}")"
    done
done
echo
echo "columns: wall_s, rtf (wall / audio length) and rss_mib are the tool's own run; transcribe, align and own"
echo "(seconds) split the same run done step by step; base_s is pocketsphinx_continuous on the same audio."

if [[ -x build-bench/bench/tavrik_micro_bench ]]; then
    echo
    build-bench/bench/tavrik_micro_bench --benchmark_min_time=0.2
fi
