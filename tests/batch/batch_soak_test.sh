#!/usr/bin/env bash
# scripts/transcribe_many.sh under faults, then resumed until it ends: recordings of several kinds (16 kHz
# WAV, MP3, 44.1 kHz FLAC, broken files, some with turns files) go through a stand-in tool whose words are a
# checksum of the audio it was given, so that a document holding another recording's words shows. The batch
# runs --jobs 4 and is killed (SIGKILL, SIGTERM) at random moments, single tool runs are killed, $TMPDIR is
# missing in one run and disappears in another, a stand-in ssh host is lost mid-run and then back; where this
# user may make a mount namespace, the output folder is a small filesystem that fills and turns read-only
# mid-run. After the last run, with space and
# permissions back: every recording has exactly its own document (equal to a run of the tool on it alone) or,
# for the broken ones only, an error with its reason; nothing temporary is left, no tool run is alive, and the
# summary's counts equal the folder's.
#
#   batch_soak_test.sh [RECORDINGS [KILLS]]
#
# The defaults (16 recordings, 4 kills) are the suite's short form; a long form (500 recordings, 24 kills) is
# run by hand and prints a table of what happened.
# "check && check || fail" is meant: fail when either check does.
# shellcheck disable=SC2015
set -euo pipefail

count=${1:-16} kills=${2:-4}
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/transcribe_many.sh"

# The faults of the disk need mounts: a private mount namespace where this user may make one.
if [[ -z "${SOAK_NAMESPACE:-}" ]]; then
    if unshare -m --propagation private true 2>/dev/null; then
        SOAK_NAMESPACE=private exec unshare -m --propagation private bash "$0" "$@"
    fi
    SOAK_NAMESPACE=none
fi

work=$(mktemp -d)
trap 'umount -l "$work/disk" 2>/dev/null || true; rm -rf -- "$work"' EXIT
# shellcheck source=../shell_checks.sh
source "$(dirname "$0")/../shell_checks.sh"
# shellcheck source=ssh_stand_in.sh
source "$(dirname "$0")/ssh_stand_in.sh"

# The recordings: distinct tones, a few seconds at most; every 8th is broken, every 4th has a turns file.
in="$work/in"
mkdir "$in"
for ((i = 0; i < count; i++)); do
    length=$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.3 + (i % 40) * 0.05 }')
    tone=(synth "$length" sine $((200 + 7 * i)))
    case $((i % 8)) in
    0 | 1 | 2 | 5) sox -n -r 16000 -b 16 -c 1 "$in/r$i.wav" "${tone[@]}" ;;
    3) sox -n -r 16000 -c 1 "$work/mp3.wav" "${tone[@]}" &&
        ffmpeg -nostdin -loglevel error -i "$work/mp3.wav" -c:a libmp3lame -b:a 32k "$in/r$i.mp3" ;;
    4 | 6) sox -n -r 44100 -c 2 "$in/r$i.flac" "${tone[@]}" ;;
    7) printf 'not a recording %d\n' "$i" >"$in/r$i.$([[ $((i % 16)) == 7 ]] && echo wav || echo mp3)" ;;
    esac
    if ((i % 4 == 0)); then
        printf '0 60 P\n' >"$in/r$i.turns"
    fi
done

# The stand-in tool: its one word is the checksum of the audio it reads (and who, with a turns file), after a
# short wait (none when run alone); its document is written whole or it fails, as the tool does.
cat >"$work/tool" <<EOF
#!/usr/bin/env bash
echo \$\$ >>"$work/pids"
audio=\$6
if [[ "\$(head -c 4 -- "\$audio" 2>/dev/null)" != RIFF ]]; then
    echo '{"error":"could not read the audio (it must be 16 kHz mono WAV)"}'
    exit 1
fi
word=\$(cksum <"\$audio")
who=""
[[ " \$* " != *" --turns "* ]] || who=',"who":"P"'
[[ -n "\${SOAK_ALONE:-}" ]] || sleep 0.\$((RANDOM % 4 + 1))
printf '{"words":[{"text":"%s","start":0.000,"end":0.250%s}]}\n' "\${word// /-}" "\$who" ||
    { echo "could not write the words document" >&2; exit 1; }
EOF
chmod +x "$work/tool"
export TAVRIK_ASR="$work/tool"
touch "$work/pids"

# What a run of the stand-in on each recording alone writes, the recording converted as the batch does.
# shellcheck source=scripts/transcribe_many_job.sh
source "${script%/*}/transcribe_many_job.sh"
declare -A expected=()
for path in "$in"/*; do
    file=${path##*/} name=${file%.*}
    [[ "$file" != *.turns ]] || continue
    audio=$path
    if [[ "$file" != *.wav ]]; then
        audio="$work/alone.wav"
        rm -f -- "$audio"
        convert_recording "$path" "$audio" "$file" /dev/null || audio=$path
    fi
    turns=()
    [[ ! -f "$in/$name.turns" ]] || turns=(--turns "$in/$name.turns")
    expected["$name"]=$(SOAK_ALONE=yes "$work/tool" --asr m --aligner m --audio "$audio" --threads 1 \
        "${turns[@]}" || true)
done
: >"$work/pids"

# The output folder, on a small filesystem of its own where mounts are allowed.
disk="$work/disk"
mkdir "$disk"
if [[ "$SOAK_NAMESPACE" == private ]]; then
    # Room for every document and log (a page each) and more, until a filler takes it all.
    mount -t tmpfs -o size=$((2048 + count * 16))k tmpfs "$disk"
else
    echo "the output folder is no filesystem of its own: mount namespaces are refused to this user, so the" \
        "full and read-only disk are not tried" >&2
fi
out="$disk/out"
tmp="$work/tmp"
mkdir "$tmp"

runs=0 killed_batch=0 killed_tool=0 full=0 read_only=0 tmp_missing=0 tmp_gone=0 host_lost=0
declare -A seen_reasons=()

# Starts a run of the batch in the background, with TMPDIR `$1` and the batch's further options, over the
# recordings in $from (all of them when unset).
start() {
    runs=$((runs + 1))
    TMPDIR=$1 bash "$script" "${from:-$in}" "$out" --jobs 4 --model "$work" "${@:2}" >"$work/run.out" \
        2>"$work/run.err" &
    batch=$!
}
# Waits for the run to end; keeps the reasons of its failures, from its summary and the error documents.
finish() {
    local status=0 line
    wait "$batch" || status=$?
    while IFS= read -r line; do
        [[ "$line" != "  "*": "* ]] || seen_reasons["${line#*: }"]=1
    done <"$work/run.out"
    while IFS= read -r line; do
        seen_reasons["$line"]=1
    done < <(sed -n 's/^{"error":"\(.*\)"}$/\1/p' "$out"/*.error.json 2>/dev/null)
    return "$status"
}
# Waits for the run to end; in the long form it is stopped with SIGTERM after a random moment instead, so that
# later rounds still find recordings to work on.
finish_or_stop() {
    if ((count > 16)); then
        pause 15
        kill -TERM "$batch" 2>/dev/null && killed_batch=$((killed_batch + 1))
    fi
    finish || true
}
# Waits a random moment of up to `$1` tenths of a second (more for more recordings), at least a tenth.
pause() { sleep "$(awk -v t=$((RANDOM % ($1 + count / 2) + 1)) 'BEGIN { print t / 10 }')"; }
# True while the tool run `$1` is alive (its number not yet taken by another process).
alive() {
    kill -0 "$1" 2>/dev/null &&
        { [[ ! -r "/proc/$1/cmdline" ]] || grep -qaF "$work/tool" "/proc/$1/cmdline" 2>/dev/null; }
}
# Fails unless every tool run that began is over within a few seconds.
none_alive() {
    local pid tries
    for ((tries = 0; tries < 50; tries++)); do
        while read -r pid; do
            if alive "$pid"; then
                sleep 0.1
                continue 2
            fi
        done <"$work/pids"
        : >"$work/pids"
        return 0
    done
    fail "$1: tool runs still alive: $(while read -r pid; do alive "$pid" && echo "$pid"; done <"$work/pids")"
}

# Lays a read-only view of the folder `$1` over it; tries three times, then says once why it could not.
read_only_view() {
    local stage="$work/stage" tries message
    mkdir -p "$stage"
    for ((tries = 0; tries < 3; tries++)); do
        if message=$({ mount --bind "$1" "$stage" && mount -o remount,bind,ro "$stage" &&
            mount --move "$stage" "$1"; } 2>&1); then
            return 0
        fi
        umount "$stage" 2>/dev/null || true
        sleep 0.2
    done
    if [[ -z "${read_only_refused:-}" ]]; then
        read_only_refused=yes
        echo "a round goes without the read-only output folder: the system refused the mount: $message" >&2
    fi
    return 1
}

# The stand-in host, over an eighth of the recordings (at least 8), whose links are in a folder of their own:
# a run through a host costs several ssh calls a recording. First with a full disk: nothing sent to it
# arrives, which its recording says.
write_ssh_stand_in "$work/ssh" "$work/host" "" "$work/host-down"
mkdir "$work/host" "$work/host-in" "$work/one-in"
for ((i = 0; i < count && (i < 8 || i < count / 8); i++)); do
    ln -s "$in/r$i".* "$work/host-in/"
done
ln -s "$in/r0.wav" "$work/one-in/"
printf '4/stand-in-host\n' >"$work/hosts"
export PARALLEL_SSH="$work/ssh" SHELL=/bin/bash
echo full >"$work/host-down"
from="$work/one-in" start "$tmp" --sshloginfile "$work/hosts"
finish || true
grep -qx '  r0.wav: the recording did not reach the host stand-in-host (its transfer failed)' "$work/run.out" ||
    fail "host with a full disk: $(cat "$work/run.out")"
# Lost mid-run (new connections refused, those in use hanging, then ended): no recording may pass for done
# without its own document, and each failure names the step of the host that failed.
rm -f -- "$work/host-down"
from="$work/host-in" start "$tmp" --sshloginfile "$work/hosts"
pause 10
touch "$work/host-down"
host_lost=$((host_lost + 1))
status=0
finish || status=$?
[[ "$status" == 1 ]] || fail "host lost: status $status"
while IFS= read -r line; do
    case ${line#*: } in
    "the connection to the host stand-in-host was lost while it ran" | "it did not start on a host ("*")" | \
        "its document did not come back from the host stand-in-host (the copy back failed)" | \
        "the recording did not reach the host stand-in-host (its transfer failed)" | \
        "could not read the audio (it must be 16 kHz mono WAV)" | "could not convert the recording: "*) ;;
    *) fail "host lost: $line" ;;
    esac
done < <(grep '^  ' "$work/run.out")
rm -f -- "$work/host-down"
# Back, and the batch stopped again mid-run.
from="$work/host-in" start "$tmp" --sshloginfile "$work/hosts"
pause 10
kill -TERM "$batch" 2>/dev/null || true
killed_batch=$((killed_batch + 1))
finish || true
none_alive "batch over the host killed with SIGTERM"

# A missing $TMPDIR: the recordings that need converting fail and say why.
start "$work/missing"
finish || true
tmp_missing=$((tmp_missing + 1))
grep -q "could not make a scratch folder in $work/missing: .*No such file or directory" "$work/run.out" ||
    fail "missing TMPDIR: $(head -n 5 "$work/run.out")"

# Kills: the batch (SIGKILL, SIGTERM) or a tool run, at random moments, each time run again.
for ((k = 0; k < kills; k++)); do
    last_pid=$(tail -n 1 "$work/pids")
    start "$tmp"
    pause 15
    case $((k % 3)) in
    0 | 1)
        kill "-$([[ $((k % 3)) == 0 ]] && echo KILL || echo TERM)" "$batch" 2>/dev/null || true
        killed_batch=$((killed_batch + 1))
        finish || true
        none_alive "batch killed with SIG$([[ $((k % 3)) == 0 ]] && echo KILL || echo TERM)"
        ;;
    2)
        # The newest tool run that is alive, once there is one.
        for ((tries = 0; tries < 100; tries++)); do
            pid=$(tail -n 1 "$work/pids")
            if [[ -n "$pid" && "$pid" != "$last_pid" ]] && alive "$pid" && kill -KILL "$pid" 2>/dev/null; then
                killed_tool=$((killed_tool + 1))
                break
            fi
            sleep 0.1
        done
        finish_or_stop
        ;;
    esac
    # Faults of the disk in between: full, read-only, $TMPDIR gone.
    if [[ "$SOAK_NAMESPACE" == private && $((k % 4)) == 1 ]]; then
        start "$tmp"
        pause 10
        head -c 1G /dev/zero >"$disk/filler" 2>/dev/null || true
        full=$((full + 1))
        finish || true
        rm -f -- "$disk/filler"
    elif [[ "$SOAK_NAMESPACE" == private && $((k % 4)) == 3 ]]; then
        start "$tmp"
        pause 10
        # A read-only view over the folder, made apart and moved over it, so that no file opened through it
        # can hold back the change to read-only (a remount of the folder itself waits for the files open for
        # writing); the system may still refuse it, and that round goes on without the fault.
        if read_only_view "$out"; then
            read_only=$((read_only + 1))
        fi
        finish || true
        umount -l "$out" 2>/dev/null || true
    elif ((k % 4 == 2)); then
        start "$tmp"
        pause 10
        rm -rf -- "$tmp"
        tmp_gone=$((tmp_gone + 1))
        finish_or_stop
        mkdir "$tmp"
    fi
done

# The last run, with everything back.
start "$tmp"
status=0
finish || status=$?
none_alive "last run"

# Every recording has exactly its own document, or for a broken one its error; nothing else is there.
right=0 errors=0 broken=0
for name in "${!expected[@]}"; do
    doc="$out/$name.json" err="$out/$name.error.json"
    if [[ "${expected[$name]}" == '{"error":'* ]]; then
        broken=$((broken + 1))
        [[ -f "$err" && ! -e "$doc" ]] && grep -q '^{"error":"could not ' "$err" && errors=$((errors + 1)) ||
            fail "$name: broken, and $(cd "$out" && echo "$name".*)"
    elif [[ -f "$doc" && ! -e "$err" && "$(cat "$doc")" == "${expected[$name]}" ]]; then
        right=$((right + 1))
    else
        fail "$name: $(cat "$doc" "$err" 2>&1 | head -c 300), expected ${expected[$name]}"
    fi
done
left=$(find "$out" "$tmp" -mindepth 1 \( -name '.*' -o -name 'transcribe-many*' \) | wc -l)
# What lost connections left on the host: the job folders there are parallel's, and only their host's end
# could remove them.
on_host=$(find "$work/host" -mindepth 3 -maxdepth 3 | wc -l)
((left == 0)) || fail "left behind: $(find "$out" "$tmp" -mindepth 1 \( -name '.*' -o -name 'transcribe-many*' \))"
others=$(find "$out" -maxdepth 1 -type f ! -name '*.json' | wc -l)
((others == 0)) || fail "files that are no documents: $(find "$out" -maxdepth 1 -type f ! -name '*.json')"
documents=$(find "$out" -maxdepth 1 -name '*.json' ! -name '*.error.json' | wc -l)
error_documents=$(find "$out" -maxdepth 1 -name '*.error.json' | wc -l)
done_count=$(sed -n 's/^done *//p' "$work/run.out") skipped=$(sed -n 's/^skipped *\([0-9]*\).*/\1/p' "$work/run.out")
failed=$(sed -n 's/^failed *//p' "$work/run.out")
[[ "$status" == 1 && $((done_count + skipped)) == "$documents" && "$failed" == "$error_documents" ]] ||
    fail "last run: status $status, summary $done_count done + $skipped skipped, $failed failed; folder" \
        "$documents documents, $error_documents errors"

if ((count > 16 || kills > 4)); then
    printf '| recordings | runs | batch kills | tool kills | disk full | read-only | TMPDIR missing | TMPDIR gone |'
    printf ' host lost |\n|---|---|---|---|---|---|---|---|---|\n'
    printf '| %d | %d | %d | %d | %d | %d | %d | %d | %d |\n' "$count" "$runs" "$killed_batch" "$killed_tool" \
        "$full" "$read_only" "$tmp_missing" "$tmp_gone" "$host_lost"
    printf '\ndocuments right %d of %d; errors %d of %d broken; leftovers %d; wrong %d;' "$right" \
        $((count - broken)) "$errors" "$broken" "$left" "$failures"
    printf ' job folders left on the host by lost connections %d\n' "$on_host"
    printf '\nreasons given on the way:\n'
    printf '%s\n' "${!seen_reasons[@]}" | sed -E "s|$work|WORK|g; s/r[0-9]+\./NAME./g; s/[0-9]+\.wav/N.wav/g;
        s/job[.][0-9a-zA-Z]{6}/job.XXXXXX/g; s/[.][0-9a-zA-Z]{6}[.]partial/.XXXXXX.partial/g" |
        sort | uniq -c | sort -rn
fi

finish_checks
