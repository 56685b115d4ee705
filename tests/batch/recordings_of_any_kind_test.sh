#!/usr/bin/env bash
# scripts/transcribe_many.sh on the recordings people hold: one spoken sentence as an MP3, a 44.1 kHz stereo
# FLAC with a turns file, and the Opus sound of a video, all read back by the real tool; a 16 kHz WAV that
# must go to the tool as it is, and a file no decoder reads. Then the same folder without ffmpeg on the PATH,
# and through a stand-in for a remote host, where the conversion happens on the host's side.
#
#   recordings_of_any_kind_test.sh TOOL SCRIPTED_TOOL MODEL_DIR
# "check && check || fail" is meant: fail when either check does.
# shellcheck disable=SC2015
set -euo pipefail

real_tool=$(realpath "$1") scripted_tool=$(realpath "$2") model=$3
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/transcribe_many.sh"

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
# shellcheck source=../shell_checks.sh
source "$(dirname "$0")/../shell_checks.sh"
# shellcheck source=ssh_stand_in.sh
source "$(dirname "$0")/ssh_stand_in.sh"

# The recordings, made from one espeak-ng sentence.
sentence="so how are you getting on with the new garden"
in="$work/in"
mkdir "$in"
espeak-ng -v en-us -s 150 -w "$work/spoken.wav" "$sentence"
sox "$work/spoken.wav" "$work/padded.wav" pad 0.3 0.3
ffmpeg -nostdin -loglevel error -i "$work/padded.wav" -c:a libmp3lame -b:a 64k "$in/talk.mp3"
sox "$work/padded.wav" -r 44100 -c 2 "$in/song.flac"
printf '0 20 P\n' >"$in/song.turns"
ffmpeg -nostdin -loglevel error -f lavfi -i color=c=black:s=64x48:r=5 -i "$work/padded.wav" -shortest \
    -c:v mpeg4 -c:a libopus "$in/clip.mkv"
sox "$work/padded.wav" -r 16000 -b 16 "$in/plain.wav"
printf 'not a recording\n' >"$in/broken.m4a"

# The tools, through wrappers that note the audio each run was given and its sample rate. The real tool runs
# on the converted recordings; plain.wav, whose document only shows that it went through unconverted, gets
# the driver over the scripted engine, which answers in milliseconds.
cat >"$work/scripts" <<'EOF'
audio ok 16000 48000 0.1
asr_load ok
aligner_load ok
transcribe ok en hello
align echo
EOF
cat >"$work/scripted" <<EOF
#!/usr/bin/env bash
printf '%s %s\n' "\$6" "\$(soxi -r "\$6" 2>/dev/null)" >>"$work/calls"
TAVRIK_SCRIPT="$work/scripts" exec "$scripted_tool" "\$@"
EOF
cat >"$work/tool" <<EOF
#!/usr/bin/env bash
[[ "\$6" != */plain.wav ]] || exec "$work/scripted" "\$@"
printf '%s %s\n' "\$6" "\$(soxi -r "\$6" 2>/dev/null)" >>"$work/calls"
exec "$real_tool" "\$@"
EOF
chmod +x "$work/tool" "$work/scripted"

# Runs the script with the arguments given; its status, standard output and error land in $work/run.*.
run() {
    local status=0
    : >"$work/calls"
    bash "$script" "$@" >"$work/run.out" 2>"$work/run.err" || status=$?
    echo "$status" >"$work/run.status"
}
status() { cat "$work/run.status"; }
says() { grep -qF -- "$1" "$work/run.out" "$work/run.err"; }

# On this machine, keeping the converted recordings.
out="$work/out"
TAVRIK_ASR="$work/tool" run "$in" "$out" --jobs 2 --model "$model" --keep-wav "$work/kept"
[[ "$(status)" == 1 ]] || fail "local run: status $(status), expected 1"
says "done      4" && says "failed    1" || fail "local run: counts: $(cat "$work/run.out")"
says "  broken.m4a: could not convert the recording: ffmpeg could not read it: moov atom not found" ||
    fail "local run: the failure of broken.m4a: $(cat "$work/run.out")"
for name in talk song clip; do
    heard=$(grep -o '"text":"[A-Za-z]*[.?]*"' "$out/$name.json" 2>/dev/null | sed 's/"text":"\([A-Za-z]*\).*"/\1/' |
        tr 'A-Z' 'a-z' | sort -u || true)
    found=0
    for word in $sentence; do
        grep -qx "$word" <<<"$heard" && found=$((found + 1))
    done
    ((found >= 6)) || fail "local run: $name.json holds $found of the sentence's 10 words: ${heard//$'\n'/ }"
    [[ "$(soxi -r "$work/kept/$name.wav" 2>&1) $(soxi -c "$work/kept/$name.wav" 2>&1) $(soxi -b "$work/kept/$name.wav" 2>&1)" == "16000 1 16" ]] ||
        fail "local run: kept $name.wav is not 16 kHz mono 16-bit"
done
words=$(grep -o '"text":' "$out/song.json" 2>/dev/null | wc -l || true)
who=$(grep -o '"who":"P"' "$out/song.json" 2>/dev/null | wc -l || true)
((words > 1 && who == words)) || fail "local run: song.turns was not used ($who of $words words)"
[[ "$(cat "$out/plain.json" 2>&1)" == '{"words":[{"text":"Hello.","start":0.000,"end":0.250}]}' ]] ||
    fail "local run: plain.json holds $(cat "$out/plain.json" 2>&1)"
grep -qx "$in/plain.wav 16000" "$work/calls" || fail "local run: plain.wav did not go to the tool as it is"
[[ ! -e "$work/kept/plain.wav" && -z "$(find "$work/kept" -name '.*')" ]] || fail "local run: kept more than the converted"
[[ "$(grep -c ' 16000$' "$work/calls")" == 4 ]] || fail "local run: the tool was given $(cat "$work/calls")"
while read -r audio _; do
    [[ "$audio" == "$in/plain.wav" || ! -e "$audio" ]] || fail "local run: $audio outlived the run"
done <"$work/calls"
grep -qs 'moov atom not found' "$out/logs/broken.log" || fail "local run: ffmpeg's messages are not in the log"

# Without ffmpeg: each recording that needs it fails, saying what to install, and the WAV still runs.
mkdir "$work/bin"
for dir in /usr/local/bin /usr/bin /bin; do
    for command in "$dir"/*; do
        name=${command##*/}
        [[ "$name" == ffmpeg || "$name" == ffprobe || -e "$work/bin/$name" ]] || ln -s "$command" "$work/bin/$name"
    done
done
PATH="$work/bin" TAVRIK_ASR="$work/scripted" run "$in" "$work/out2" --model "$model"
[[ "$(status)" == 1 ]] || fail "without ffmpeg: status $(status), expected 1"
says "done      1" && says "failed    4" || fail "without ffmpeg: counts: $(cat "$work/run.out")"
says "  talk.mp3: could not convert the recording: ffmpeg is needed to convert it to 16 kHz mono WAV: install the Debian package ffmpeg" ||
    fail "without ffmpeg: the failure of talk.mp3: $(cat "$work/run.out")"
says "4 recordings need converting to 16 kHz mono WAV, and ffmpeg is missing" || fail "without ffmpeg: no warning"
[[ -f "$work/out2/plain.json" ]] || fail "without ffmpeg: the WAV did not run"

# Through a stand-in for a remote host: it runs what it is given in a folder of its own, as ssh would in the
# remote home folder. The recordings are converted there, and a kept WAV comes back.
remote_home="$work/remote home"
mkdir "$remote_home"
write_ssh_stand_in "$work/ssh" "$remote_home"
rm "$in/broken.m4a"
PARALLEL_SSH="$work/ssh" SHELL=/bin/bash TAVRIK_ASR="$work/scripted" run "$in" "$work/out3" --model "$model" \
    --sshlogin 2/stand-in-host --keep-wav "$work/kept3"
[[ "$(status)" == 0 ]] && says "done      4" || fail "remote run: status $(status): $(cat "$work/run.out" "$work/run.err")"
[[ "$(grep -c ' 16000$' "$work/calls")" == 4 ]] || fail "remote run: the tool was given $(cat "$work/calls")"
grep -qx "plain/plain.wav 16000" "$work/calls" || fail "remote run: plain.wav was not given as it is"
for name in talk song clip; do
    [[ "$(soxi -r "$work/kept3/$name.wav" 2>&1)" == 16000 ]] || fail "remote run: $name.wav did not come back"
    [[ -f "$work/out3/$name.json" ]] || fail "remote run: no $name.json"
done
while read -r audio _; do
    [[ "$audio" == plain/plain.wav || ! -e "$audio" ]] || fail "remote run: $audio outlived the run"
done <"$work/calls"
[[ -z "$(find "$remote_home" -type f)" ]] || fail "remote run: files left on the host"

finish_checks
