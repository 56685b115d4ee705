# One recording of a batch, as transcribe_many.sh runs it through GNU parallel: the functions below are read by
# that script and travel to every host in parallel's environment, so they may use only their arguments and
# commands every host has (bash, coreutils, and ffmpeg where a recording needs converting).
# shellcheck shell=bash

# The body of a JSON string for `$1`: backslashes and quotes escaped, line breaks as "; ", other control
# characters dropped.
json_text() {
    local text=${1//\\/\\\\}
    text=${text//\"/\\\"}
    text=${text//$'\n'/; }
    printf '%s' "${text//[$'\001'-$'\037']/}"
}

# Converts the recording `$1` to a 16 kHz mono 16-bit WAV at `$2` with ffmpeg (the first sound stream of a
# video or of a file with several). On failure prints why on standard output, naming the recording `$3`, and
# appends ffmpeg's messages to the log `$4`.
convert_recording() {
    local from=$1 to=$2 shown=$3 log=$4 errors
    if ! command -v ffmpeg >/dev/null 2>&1; then
        printf 'ffmpeg is needed to convert it to 16 kHz mono WAV: install the Debian package ffmpeg'
        return 1
    fi
    if errors=$(ffmpeg -nostdin -hide_banner -loglevel error -i "$from" -map 0:a:0 -map_metadata -1 \
        -fflags +bitexact -ar 16000 -ac 1 -c:a pcm_s16le -f wav -y "$to" 2>&1); then
        return 0
    fi
    printf '%s\n' "$errors" >>"$log"
    local reason=${errors%%$'\n'*}
    # A demuxer's message starts with its name and an address: "[mov,mp4,m4a @ 0x55d0c8e0] moov atom not found".
    if [[ "$reason" =~ ^\[[^]]*\ @\ 0x[0-9a-f]+\]\ (.*)$ ]]; then
        reason=${BASH_REMATCH[1]}
    fi
    if [[ "$reason" == *"matches no streams"* ]]; then
        reason="it holds no sound"
    fi
    printf 'ffmpeg could not read it: %s' "${reason//"$from"/"$shown"}"
    return 1
}

# One recording: runs the tool on IN/FILE (converted first into a temporary folder when CONVERT is "yes"),
# given NAME.turns, NAME.extra and NAME.transcript.json (else NAME.transcript.txt) when they exist, then
# renames its standard output to OUT/NAME.json on success or OUT/NAME.error.json on failure. A converted WAV is kept as KEEP/NAME.wav when KEEP is not "".
transcribe_one() {
    local tool=$1 model=$2 in=$3 out=$4 name=$5 file=$6 convert=$7 keep=$8
    local partial="$out/.$name.json.partial" log="$out/logs/$name.log" audio="$in/$file" status=0 scratch=""
    mkdir -p "$out/logs"
    : >"$log"
    if [[ "$convert" == yes ]]; then
        scratch=$(mktemp -d)
        # Removed however the job ends; a stopped job's shell ends through the EXIT trap too.
        trap 'rm -rf -- "$scratch"' EXIT
        trap 'exit 1' INT TERM HUP
        audio="$scratch/audio.wav"
        local reason
        if ! reason=$(convert_recording "$in/$file" "$audio" "$file" "$log"); then
            printf '{"error":"could not convert the recording: %s"}\n' "$(json_text "$reason")" >"$partial"
            mv -f -- "$partial" "$out/$name.error.json"
            rm -rf -- "$scratch"
            return 1
        fi
        if [[ -n "$keep" ]]; then
            cp -- "$audio" "$keep/.$name.wav.partial" && mv -f -- "$keep/.$name.wav.partial" "$keep/$name.wav"
        fi
    fi
    local args=(--asr "$model" --aligner "$model" --audio "$audio" --threads 1)
    if [[ -f "$in/$name.turns" ]]; then
        args+=(--turns "$in/$name.turns")
    fi
    if [[ -f "$in/$name.extra" ]]; then
        args+=(--extra-words "$in/$name.extra")
    fi
    if [[ -f "$in/$name.transcript.json" ]]; then
        args+=(--transcript "$in/$name.transcript.json")
    elif [[ -f "$in/$name.transcript.txt" ]]; then
        args+=(--transcript "$in/$name.transcript.txt")
    fi
    "$tool" "${args[@]}" >"$partial" 2>>"$log" || status=$?
    if [[ -n "$scratch" ]]; then
        rm -rf -- "$scratch"
    fi
    if ((status == 0)); then
        mv -f -- "$partial" "$out/$name.json"
        rm -f -- "$out/$name.error.json"
        return 0
    fi
    # A tool that was killed or could not start wrote no error object of its own.
    if ! grep -q '^{"error":' "$partial"; then
        printf '{"error":"tavrik-asr ended with status %d"}\n' "$status" >"$partial"
    fi
    mv -f -- "$partial" "$out/$name.error.json"
    return 1
}

# The job parallel runs for FILE: on this machine with the folders' own paths; on another host inside the
# working folder parallel made there, where the recording's folder NAME was sent and whence NAME.json,
# NAME.error.json, logs/NAME.log and a kept NAME.wav come back.
transcribe_job() {
    local tool=$1 model=$2 in=$3 out=$4 keep=$5 file=$6 convert=$7
    local name=${file%.*}
    if [[ "${PARALLEL_SSHLOGIN:-:}" == ":" ]]; then
        transcribe_one "$tool" "$model" "$in" "$out" "$name" "$file" "$convert" "$keep"
    else
        transcribe_one "$tool" "$model" "$name" . "$name" "$file" "$convert" "${keep:+.}"
    fi
}
