# Sourced by run.sh and fillers.sh: builds the helper (and the tool unless TOOL is set) in a Release tree, makes the corpus unless CORPUS_DIR names one, and sets helper, tool, model, corpus and work.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
targets=(recognition_bench)
[[ -n ${TOOL:-} ]] || targets+=(tavrik-asr)
# shellcheck source=../build_targets.sh
source "$root/bench/build_targets.sh"
build_bench_targets "${targets[@]}"
helper=$bench_build/bench/recognition/recognition_bench
tool=${TOOL:-$bench_build/cli/tavrik-asr}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -n ${CORPUS_DIR:-} ]]; then
    corpus=$CORPUS_DIR
else
    corpus=$work/corpus
    RECOGNITION_BENCH=$helper "$here/make_corpus.sh" "$corpus"
fi
[[ -s $corpus/sources.tsv ]] || { echo "$corpus/sources.tsv is missing: make the corpus with make_corpus.sh" >&2; exit 1; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
