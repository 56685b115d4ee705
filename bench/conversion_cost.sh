#!/usr/bin/env bash
# The cost of the batch's conversion to 16 kHz mono WAV, per minute of audio, for the kinds of recording people
# hold: ffmpeg's CPU seconds (user + system, the best of three runs) for the command transcribe_many.sh runs.
# The recording is the LibriVox clips joined and repeated to TAVRIK_BENCH_CONVERT_MINUTES (default 10).
#
#   bench/conversion_cost.sh
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${TAVRIK_BENCH_CONVERT_MINUTES:-10}
data=/usr/share/pocketsphinx/test/data/librivox
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

sox "$data"/*.wav "$work/clips.wav"
clip_seconds=$(soxi -D "$work/clips.wav")
repeats=$(awk -v m="$minutes" -v c="$clip_seconds" 'BEGIN { print int(m * 60 / c) }')
sox "$work/clips.wav" "$work/speech.wav" repeat "$repeats" trim 0 "$((minutes * 60))"
seconds=$(soxi -D "$work/speech.wav")

encode() { ffmpeg -nostdin -loglevel error "$@"; }
encode -i "$work/speech.wav" -c:a libmp3lame -b:a 128k -ar 44100 -ac 2 "$work/talk.mp3"
encode -i "$work/speech.wav" -ar 44100 -ac 2 -sample_fmt s16 "$work/talk.flac"
encode -i "$work/speech.wav" -c:a aac -b:a 128k -ar 48000 -ac 2 "$work/talk.m4a"
encode -i "$work/speech.wav" -c:a libopus -b:a 64k "$work/talk.opus"
encode -i "$work/speech.wav" -ar 48000 -ac 2 "$work/talk48.wav"
encode -f lavfi -i "color=c=gray:s=1280x720:r=25" -i "$work/speech.wav" -shortest -c:v libx264 -preset ultrafast \
    -crf 35 -c:a aac -b:a 128k -ar 48000 -ac 2 "$work/talk.mp4"

# CPU seconds of one conversion, the best of three.
TIMEFORMAT='%U %S'
cost() {
    local best=""
    for _ in 1 2 3; do
        {
            time ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -map 0:a:0 -map_metadata -1 -fflags +bitexact \
                -ar 16000 -ac 1 -c:a pcm_s16le -f wav -y "$work/out.wav" 2>/dev/null
        } 2>"$work/time"
        best=$(awk -v b="$best" '{ t = $1 + $2; print (b == "" || t < b) ? t : b }' "$work/time")
    done
    printf '%s' "$best"
}

printf '%-34s %10s %9s %12s\n' "recording ($minutes min)" size_mib cpu_s cpu_s_per_min
for file in talk.mp3 talk.flac talk.m4a talk.opus talk48.wav talk.mp4; do
    case $file in
    talk.mp3) kind="MP3 128k 44.1 kHz stereo" ;;
    talk.flac) kind="FLAC 44.1 kHz stereo" ;;
    talk.m4a) kind="AAC (M4A) 128k 48 kHz stereo" ;;
    talk.opus) kind="Opus 64k" ;;
    talk48.wav) kind="WAV 48 kHz stereo" ;;
    talk.mp4) kind="video 720p H.264 + AAC (MP4)" ;;
    esac
    cpu=$(cost "$work/$file")
    printf '%-34s %10.1f %9.2f %12.3f\n' "$kind" "$(awk -v s="$(stat -c %s "$work/$file")" 'BEGIN { print s / 1048576 }')" \
        "$cpu" "$(awk -v c="$cpu" -v s="$seconds" 'BEGIN { print c / (s / 60) }')"
done
