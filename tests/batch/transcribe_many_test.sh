#!/usr/bin/env bash
# scripts/transcribe_many.sh on three short recordings: one that cannot be read, one whose name holds spaces
# and quotes and that has a turns file beside it. Run with the real tool on this machine, run again (resume),
# and run through a stand-in for a remote host, which runs what it is given here so that the transfers and
# returns really happen; there the driver runs over the scripted engine, which answers in milliseconds. Then
# the bad inputs: a missing folder, an empty folder and an output folder that cannot be written.
#
#   transcribe_many_test.sh TOOL SCRIPTED_TOOL MODEL_DIR TESTDATA_DIR
# "check && check || fail" is meant: fail when either check does.
# shellcheck disable=SC2015
set -euo pipefail

real_tool=$(realpath "$1") scripted_tool=$(realpath "$2") model=$3 data=$4
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/transcribe_many.sh"

work=$(mktemp -d)
trap 'chmod -R u+w -- "$work"; rm -rf -- "$work"' EXIT
# shellcheck source=../shell_checks.sh
source "$(dirname "$0")/../shell_checks.sh"
# shellcheck source=ssh_stand_in.sh
source "$(dirname "$0")/ssh_stand_in.sh"

# The recordings: about 3 s of speech each, and a file that is no WAV.
in="$work/in put"
mkdir "$in"
quoted="it's \"two\" words"
cp "$data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav" "$in/plain.wav"
cp "$data/librivox/sense_and_sensibility_01_austen_64kb-0930.wav" "$in/$quoted.wav"
printf '0 20 P\n' >"$in/$quoted.turns"
printf 'not a recording\n' >"$in/broken.wav"
printf 'not one either\n' >"$in/notes.txt"

# The tools, through wrappers that note which audio each run was given. "scripted" is the driver over the
# scripted engine, whose answers are chosen by the recording's name: its text is the name, "broken" cannot be
# read. "tool" runs the real tool on plain.wav (a model load takes seconds) and the scripted driver otherwise.
touch "$work/calls"
cat >"$work/scripted" <<EOF
#!/usr/bin/env bash
printf '%s\n' "\$6" >>"$work/calls"
name=\${6##*/}
TAVRIK_SCRIPT="$work/scripts/\${name%.wav}" exec "$scripted_tool" "\$@"
EOF
cat >"$work/tool" <<EOF
#!/usr/bin/env bash
[[ "\${6##*/}" == plain.wav ]] || exec "$work/scripted" "\$@"
printf '%s\n' "\$6" >>"$work/calls"
exec "$real_tool" "\$@"
EOF
chmod +x "$work/tool" "$work/scripted"
export TAVRIK_ASR="$work/tool"
mkdir "$work/scripts"
for name in plain "$quoted"; do
    printf 'audio ok 16000 48000 0.1\nasr_load ok\naligner_load ok\ntranscribe ok en %s\nalign echo\n' "$name" \
        >"$work/scripts/$name"
done
printf 'audio fail\n' >"$work/scripts/broken"

# Runs the script with the arguments given; its status, standard output and error land in $work/run.*.
run() {
    local status=0
    bash "$script" "$@" >"$work/run.out" 2>"$work/run.err" || status=$?
    echo "$status" >"$work/run.status"
}
status() { cat "$work/run.status"; }
says() { grep -qF -- "$1" "$work/run.out" "$work/run.err"; }
calls() { wc -l <"$work/calls"; }

audio_error='{"error":"could not read the audio (it must be 16 kHz mono WAV)"}'

# Checks the documents of the three recordings in `$1`.
check_documents() {
    local out=$1 words who
    grep -qs '^{"words":\[{"text":"' "$out/plain.json" || fail "$out: plain.json is no words document"
    words=$(grep -o '"text":' "$out/$quoted.json" 2>/dev/null | wc -l || true)
    who=$(grep -o '"who":"P"' "$out/$quoted.json" 2>/dev/null | wc -l || true)
    ((words > 1 && who == words)) || fail "$out: the turns file was not used ($who of $words words)"
    [[ "$(cat "$out/broken.error.json" 2>&1)" == "$audio_error" ]] || fail "$out: broken.error.json"
    [[ ! -e "$out/broken.json" && ! -e "$out/plain.error.json" && ! -e "$out/notes.json" ]] ||
        fail "$out: a document that should not be there"
    grep -qs 'progress 1.000 done' "$out/logs/plain.log" || fail "$out: no log of the run"
    [[ -z "$(find "$out" -name '*.partial')" ]] || fail "$out: a temporary document was left"
}

# On this machine, two at a time.
out="$work/out"
run "$in" "$out" --jobs 2 --model "$model"
[[ "$(status)" == 1 ]] || fail "local run: status $(status), expected 1"
check_documents "$out"
grep -qs '^{"words":\[{"text":"He","start":0\.2' "$out/plain.json" || fail "local run: plain.json is not the clip's"
[[ "$(calls)" == 3 ]] || fail "local run: $(calls) tool runs, expected 3"
says "done      2" && says "failed    1" && says "skipped   0" || fail "local run: counts"
says "  broken.wav: could not read the audio (it must be 16 kHz mono WAV)" || fail "local run: failure message"
says "audio     0.002 h (6.3 s)" || fail "local run: hours of audio" # 2.99 s and 3.29 s
says "real-time factor" || fail "local run: real-time factor"

# Again: only the failed recording runs, the documents stay as they were.
cp -p "$out/plain.json" "$work/plain.before" 2>/dev/null || true
run "$in" "$out" --jobs 2 --model "$model"
[[ "$(status)" == 1 ]] || fail "resume: status $(status), expected 1"
[[ "$(calls)" == 4 ]] || fail "resume: $(calls) tool runs in all, expected 4"
says "skipping 2 of 3 recordings" || fail "resume: says nothing of the skipped recordings"
says "done      0" && says "skipped   2" || fail "resume: counts"
cmp -s "$out/plain.json" "$work/plain.before" || fail "resume: plain.json changed"

# Through a stand-in for a remote host: it runs what it is given in a folder of its own, as ssh would in the
# remote home folder. A failure left by an earlier run must go once the recording succeeds.
remote_home="$work/remote home"
mkdir "$remote_home"
write_ssh_stand_in "$work/ssh" "$remote_home" "$work/ssh.log"
printf '2/stand-in-host\n' >"$work/hosts"
out2="$work/out 'two'"
mkdir -p "$out2"
echo '{"error":"from an earlier run"}' >"$out2/plain.error.json"
PARALLEL_SSH="$work/ssh" SHELL=/bin/bash TAVRIK_ASR="$work/scripted" run "$in" "$out2" --model "$model" \
    --sshloginfile "$work/hosts"
[[ "$(status)" == 1 ]] || fail "remote run: status $(status), expected 1"
check_documents "$out2"
[[ "$(cat "$out2/plain.json")" == '{"words":[{"text":"Plain.","start":0.000,"end":0.250}]}' ]] ||
    fail "remote run: plain.json holds $(cat "$out2/plain.json")"
[[ "$(tail -n 3 "$work/calls" | sort | tr '\n' '|')" == "broken/broken.wav|$quoted/$quoted.wav|plain/plain.wav|" ]] ||
    fail "remote run: the tool did not run on sent copies: $(tail -n 3 "$work/calls" | tr '\n' '|')"
grep -q 'rsync --server' "$work/ssh.log" || fail "remote run: nothing went through rsync"
[[ -z "$(find "$remote_home" -type f)" ]] || fail "remote run: files left on the host"
says "done      2" && says "failed    1" || fail "remote run: counts"

# The usage on standard output when asked for; bad inputs: each a clear message, status 2 (0 for nothing to
# do), and nothing written lost.
run --help
[[ "$(status)" == 0 && "$(cat "$work/run.out")" == "usage: transcribe_many IN_DIR OUT_DIR "* && ! -s "$work/run.err" ]] ||
    fail "--help: status $(status), $(cat "$work/run.out" "$work/run.err")"
run "$work/missing" "$work/out3"
[[ "$(status)" == 2 ]] && says "no such folder: $work/missing" || fail "missing folder"
mkdir "$work/empty"
run "$work/empty" "$work/out3"
[[ "$(status)" == 0 ]] && says "no recordings in $work/empty" || fail "empty folder"

read_only="$work/read only"
mkdir "$read_only"
cp "$out/plain.json" "$read_only/plain.json"
chmod a-w "$read_only"
as_user=()
run_script=$script
if ((EUID == 0)); then
    # Root writes anywhere: this check runs as an unprivileged user, who may read the test's folders but
    # perhaps not the checkout (a clone in a private home folder), so it runs a copy of the script from the
    # test's folder, started there.
    mkdir -p "$work/copy/scripts"
    cp "$script" "${script%/*}/transcribe_many_job.sh" "$work/copy/scripts/"
    run_script="$work/copy/scripts/${script##*/}"
    chmod -R a+rX "$work"
    as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --)
fi
status=0
(cd "$work" && "${as_user[@]}" bash "$run_script" "$in" "$read_only" --model "$model") >"$work/run.out" \
    2>"$work/run.err" || status=$?
[[ "$status" == 2 ]] && grep -qF "cannot write to the output folder $read_only" "$work/run.err" ||
    fail "read-only output folder: status $status, $(cat "$work/run.err")"
cmp -s "$out/plain.json" "$read_only/plain.json" || fail "read-only output folder: a document was lost"

finish_checks
