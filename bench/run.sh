#!/usr/bin/env bash
# All benchmarks (figures, never pass/fail): timing against pocketsphinx_continuous, word errors per source, fillers and micro-benchmarks, then one summary table.
#
#   bench/run.sh                                        every part, at 1, 10 and 60 minutes
#   TAVRIK_BENCH_PARTS="wer fillers" bench/run.sh       chosen parts
#   TAVRIK_BENCH_MINUTES="1 10" bench/run.sh            chosen lengths for the timing part
#
# Parts (TAVRIK_BENCH_PARTS, default "timing wer fillers micro"), each printing its own table:
#   timing   bench/timing.sh: the tool at --threads 1, 2, the processor count and 4 against
#            pocketsphinx_continuous on the same recordings (TAVRIK_BENCH_MINUTES, _THREADS, _FILES, _PHASES).
#   wer      bench/recognition/run.sh: word error rates of the tool (at --threads TAVRIK_BENCH_WER_THREADS,
#            default 1) and of pocketsphinx_continuous per source (SOURCES limits them).
#   fillers  bench/recognition/fillers.sh: fillers in the festival conversations, found, restored, wrong.
#   micro    the micro-benchmarks of the tool's own steps.
# wer and fillers share one corpus: CORPUS_DIR, or one made by bench/recognition/make_corpus.sh (a minute).
# Measurements run one process at a time. TAVRIK_BENCH_JOBS runs more timing measurements at a time, but
# parallel jobs distort thread timings: with --threads above 1 only TAVRIK_BENCH_JOBS=1 is meaningful.
# TAVRIK_BENCH_BUILD_DIR and TAVRIK_BENCH_TOOL as in build_bench.sh.
set -euo pipefail
# shellcheck source=build_bench.sh
source "$(dirname "$0")/build_bench.sh"

parts=" ${TAVRIK_BENCH_PARTS:-timing wer fillers micro} "
for part in $parts; do
    [[ $part == @(timing|wer|fillers|micro) ]] || { echo "unknown part $part (timing wer fillers micro)" >&2; exit 2; }
done
has() { [[ $parts == *" $1 "* ]]; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build_path=$(realpath -- "$build")
tool_path=$(realpath -- "$tool")
failed=()
run_part() { # run_part NAME COMMAND...: runs a part, its output also into $work/NAME.txt
    local name=$1
    shift
    echo "== $name"
    if ! "$@" | tee "$work/$name.txt"; then
        echo "the $name part failed" >&2
        failed+=("$name")
    fi
    echo
}

if has timing; then
    run_part timing bench/timing.sh
fi
if has wer || has fillers; then
    corpus=${CORPUS_DIR:-$work/corpus}
    if [[ -z ${CORPUS_DIR:-} ]]; then
        RECOGNITION_BENCH=$build_path/bench/recognition/recognition_bench bench/recognition/make_corpus.sh "$corpus"
    fi
    recognition=(env CORPUS_DIR="$corpus" BUILD_DIR="$build_path" TOOL="$tool_path")
    if has wer; then
        run_part wer "${recognition[@]}" THREADS="${TAVRIK_BENCH_WER_THREADS:-1}" bench/recognition/run.sh
    fi
    if has fillers; then
        run_part fillers "${recognition[@]}" THREADS="${TAVRIK_BENCH_WER_THREADS:-1}" bench/recognition/fillers.sh
    fi
fi
if has micro && [[ -x $build/bench/tavrik_micro_bench ]]; then
    run_part micro "$build/bench/tavrik_micro_bench" --benchmark_min_time=0.2
fi

bench/summary.sh "$work"
if ((${#failed[@]})); then
    echo "failed parts: ${failed[*]}" >&2
    exit 1
fi
