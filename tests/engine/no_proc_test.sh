#!/usr/bin/env bash
# The tool where /proc is not mounted (a minimal container, a chroot, a build sandbox): the model texts it
# hands the decoder library (the hesitation model, the voice transforms) must reach it another way, so that
# the document and standard error are the same as with /proc, and nothing is left in $TMPDIR. Where no
# private temporary file can be made either, the run still gives its words, and says once why adaptation
# and the hesitation model are off.
# Runs in a private mount namespace; skipped (status 77) where this user may not make one.
#
#   no_proc_test.sh TOOL MODEL_DIR TESTDATA_DIR
# "check && check || fail" is meant: fail when either check does.
# shellcheck disable=SC2015
set -euo pipefail

tool=$1 model=$2 clip="$3/librivox/sense_and_sensibility_01_austen_64kb-0880.wav"
if ! unshare -m --propagation private true 2>/dev/null; then
    echo "skipped: this user may not make a mount namespace, so /proc cannot be taken away"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
# shellcheck source=../shell_checks.sh
source "$(dirname "$0")/../shell_checks.sh"
# A turns file has the clip adapted to, though its one voice speaks too little to be without one.
printf '0 60 A\n' >"$work/turns.txt"
run=("$tool" --asr "$model" --aligner "$model" --audio "$clip" --turns "$work/turns.txt")

"${run[@]}" >"$work/with.json" 2>"$work/with.err" || fail "with /proc: status $?"
grep -q '^{"words":\[{"text":' "$work/with.json" || fail "with /proc: $(cat "$work/with.json")"

# Without /proc, $TMPDIR writable: the same words and the same messages, and nothing left behind.
mkdir "$work/tmp"
status=0
TMPDIR="$work/tmp" unshare -m --propagation private bash -c 'umount -l /proc && [[ ! -e /proc/self ]] && exec "$@"' \
    - "${run[@]}" >"$work/without.json" 2>"$work/without.err" || status=$?
[[ "$status" == 0 ]] && cmp -s "$work/with.json" "$work/without.json" ||
    fail "without /proc: status $status, $(head -c 300 "$work/without.json")"
cmp -s "$work/with.err" "$work/without.err" || fail "without /proc: $(diff "$work/with.err" "$work/without.err")"
[[ -z "$(ls -A "$work/tmp")" ]] || fail "without /proc: left in TMPDIR: $(ls -A "$work/tmp")"

# Nowhere to write either ($TMPDIR missing, /tmp read-only): the words still come, and the reason is named.
status=0
TMPDIR="$work/missing" unshare -m --propagation private bash -c \
    'umount -l /proc && mount -t tmpfs -o ro tmpfs /tmp && exec "$@"' - "${run[@]}" >"$work/nowhere.json" \
    2>"$work/nowhere.err" || status=$?
[[ "$status" == 0 ]] && grep -q '^{"words":\[{"text":' "$work/nowhere.json" ||
    fail "nowhere to write: status $status, $(head -c 300 "$work/nowhere.json")"
cause="/proc/self/fd cannot be opened, and cannot make a folder in /tmp: Read-only file system"
[[ "$(grep -c "^adaptation off: the transform cannot be handed to the decoder library: $cause$" "$work/nowhere.err")" == 1 &&
    "$(grep -c "^hesitations off: the hesitation model cannot be handed to the decoder library: $cause$" \
        "$work/nowhere.err")" == 1 ]] || fail "nowhere to write: $(grep -v '^progress' "$work/nowhere.err")"

finish_checks
