#!/usr/bin/env bash
# Timing benchmark: wall time, real-time factor and peak RSS of the tool at several thread counts on long recordings, next to pocketsphinx_continuous on the same audio.
#
#   bench/timing.sh                               1, 10 and 60 minutes
#   TAVRIK_BENCH_MINUTES="1 10" bench/timing.sh   chosen lengths
#
# Per length, a recording of LibriVox clips and espeak-ng speech with pauses is decoded by
# pocketsphinx_continuous with the same model (the baseline) and by the tool at each thread count of
# TAVRIK_BENCH_THREADS (default: 1, 2, the processor count, and 4 for the peak RSS at four threads), without
# and with a turns file and an extra-words file of every word (TAVRIK_BENCH_FILES, default "no yes"). Each
# tool run is done again step by step at the same thread count, which splits it into recognition, alignment
# and the tool's own work; TAVRIK_BENCH_PHASES=0 leaves that out.
#
# TAVRIK_BENCH_JOBS measurements run at a time (default 1). Parallel jobs distort thread timings: a run with
# --threads above 1 shares the cores with the other jobs, so with --threads above 1 only 1 job is meaningful.
set -euo pipefail
# shellcheck source=build_bench.sh
source "$(dirname "$0")/build_bench.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
value() { # value NAME FIGURES: the figure NAME, or - where there is none
    local v
    v=$(field "$1" "$2" | tr -d %)
    echo "${v:--}"
}

cores=$(nproc)
jobs=${TAVRIK_BENCH_JOBS:-1}
read -ra minutes_list <<<"${TAVRIK_BENCH_MINUTES:-1 10 60}"
read -ra files_list <<<"${TAVRIK_BENCH_FILES:-no yes}"
read -ra threads_list <<<"${TAVRIK_BENCH_THREADS:-1 2 $cores 4}"
mapfile -t threads_list < <(printf '%s\n' "${threads_list[@]}" | sort -nu)
phases=${TAVRIK_BENCH_PHASES:-1}
if ((jobs > 1 && threads_list[-1] > 1)); then
    echo "TAVRIK_BENCH_JOBS=$jobs: the timings at --threads above 1 are distorted by the parallel jobs" >&2
fi

launch() { # launch OUTPUT COMMAND...: runs COMMAND in the background, its stdout into OUTPUT
    local out=$1
    shift
    while (($(jobs -rp | wc -l) >= jobs)); do
        wait -n || true
    done
    "$@" >"$out" &
}

for minutes in "${minutes_list[@]}"; do
    mkdir -p "$work/$minutes"
    "$bench" make "$minutes" "$work/$minutes" >/dev/null
done
# Longest recordings first, so the parallel runs finish close together.
for minutes in $(printf '%s\n' "${minutes_list[@]}" | sort -rn); do
    dir=$work/$minutes
    launch "$dir/base.out" "$bench" measure pocketsphinx_continuous -infile "$dir/audio.wav" -hmm "$model/en-us" \
        -lm "$model/en-us.lm.bin" -dict "$model/cmudict-en-us.dict" -logfn /dev/null
    for files in "${files_list[@]}"; do
        args=()
        phase_files=(- -)
        if [[ $files == yes ]]; then
            args=(--turns "$dir/turns.txt" --extra-words "$dir/extra.txt")
            phase_files=("$dir/turns.txt" "$dir/extra.txt")
        fi
        for threads in "${threads_list[@]}"; do
            launch "$dir/run_${files}_$threads.out" "$bench" measure "$tool" --asr "$model" --aligner "$model" \
                --audio "$dir/audio.wav" --threads "$threads" "${args[@]}"
            if [[ $phases != 0 ]]; then
                launch "$dir/phases_${files}_$threads.out" "$bench" phases "$model" "$model" "$dir/audio.wav" \
                    "${phase_files[@]}" "$threads"
            fi
        done
    done
done
while (($(jobs -rp | wc -l) > 0)); do
    wait -n || true
done

# One line of figures per run ("-" where there are none), then the table.
rows=$work/rows
: >"$rows"
for minutes in "${minutes_list[@]}"; do
    dir=$work/$minutes
    audio_s=$(soxi -D "$dir/audio.wav")
    base=$(<"$dir/base.out")
    [[ $(field status "$base") == 0 ]] || echo "$minutes min: pocketsphinx_continuous exited with $(field status "$base")" >&2
    for files in "${files_list[@]}"; do
        for threads in "${threads_list[@]}"; do
            run=$(<"$dir/run_${files}_$threads.out")
            [[ $(field status "$run") == 0 ]] ||
                echo "$minutes min, files $files, --threads $threads: the tool exited with $(field status "$run")" >&2
            phase=$(cat "$dir/phases_${files}_$threads.out" 2>/dev/null || true)
            [[ $phases == 0 || -n $phase ]] || echo "$minutes min, files $files, --threads $threads: no phases" >&2
            line="$minutes $files $threads $audio_s $(value wall "$run") $(value rss_mib "$run")"
            for name in segments transcribe align own own_share; do
                line+=" $(value "$name" "$phase")"
            done
            echo "$line $(value wall "$base") $(value rss_mib "$base")" >>"$rows"
        done
    done
done
awk '
function f(fmt, x) { return x == "-" || x == "" ? "-" : sprintf(fmt, x) }
function ratio(fmt, a, b) { return a == "-" || a == "" || !(b > 0) ? "-" : sprintf(fmt, a / b) }
BEGIN {
    printf "%-5s %-5s %3s %8s %7s %8s %7s %8s %10s %8s %8s %7s %8s %8s %8s\n", "min", "files", "thr", "wall_s", "rtf",
        "rss_mib", "x_base", "segments", "transcribe", "align", "own", "own_%", "base_s", "base_rtf", "base_mib"
}
{
    printf "%-5s %-5s %3s %8s %7s %8s %7s %8s %10s %8s %8s %7s %8s %8s %8s\n", $1, $2, $3, f("%.1f", $5),
        ratio("%.3f", $5, $4), f("%.1f", $6), ratio("%.2f", $5, $12), $7, f("%.1f", $8), f("%.1f", $9),
        f("%.3f", $10), f("%.4f", $11), f("%.1f", $12), ratio("%.3f", $12, $4), f("%.1f", $13)
}' "$rows"
cat <<NOTE

thr is the tool's --threads ($cores processors here; the tool decodes on at most that many threads). wall_s,
rtf (wall / audio length) and rss_mib (peak) are the tool's own run; x_base is wall_s / base_s. segments,
transcribe, align and own (seconds) split the same run done step by step at the same thread count. base_s,
base_rtf and base_mib are pocketsphinx_continuous on the same audio, measured in the same invocation.
NOTE
