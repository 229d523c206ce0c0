#!/usr/bin/env bash
# Soak: short generated recordings of mixed codecs, audio types and sizes converted to
# MP4 in ONE queue run of the desktop program's window (offscreen), which samples its own
# resident memory and open file handles after each file (build/bin/soak_queue). Every
# MP4 is then checked with ffprobe. Not part of the test suite.
#
#   bench/soak_queue.sh [COUNT]        (default 200 recordings of 3 s)
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-200}"
bin=$PWD/build/bin
work=$(mktemp -d "${TMPDIR:-/var/tmp}/vyr-soak.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/rec" "$work/out" "$work/appdata" "$work/home" "$work/run"
chmod 700 "$work/run"

videos=(h264 mjpeg mpeg4 h265)
audios=(alaw ulaw pcm none)
for ((i = 0; i < count; i++)); do
  # Every codec at both sizes within the first 8 files, every audio type within 32.
  v=${videos[i % 4]} res=$(((i / 4) % 2)) a=${audios[(i / 8) % 4]}
  "$bin/vyrgen" --out "$work/rec/$(printf 'soak%03d_%s_%s.vyr' "$i" "$v" "$a")" --video "$v" --audio "$a" \
    --resolution "$res" --fps 10 --seconds 3 --start-ms $(((i * 37) % 1000)) 2>/dev/null
done
echo "$count recordings made ($(du -sh "$work/rec" | cut -f1)); converting them in one queue run"

status=0
APPDATA="$work/appdata" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work" \
  QT_QPA_PLATFORM=offscreen "$bin/soak_queue" "$work/out" "$work/rec"/*.vyr || status=$?

# Every output is a playable MP4 with 30 pictures (and audio where the recording had it).
bad=0
for rec in "$work/rec"/*.vyr; do
  name=$(basename "$rec" .vyr) mp4="$work/out/$(basename "$rec" .vyr).mp4"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$mp4" 2>&1 || true)
  audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 "$mp4" 2>&1 || true)
  want_audio=aac; [[ $name == *_none ]] && want_audio=
  if [ "$frames" != 30 ] || [ "$audio" != "$want_audio" ]; then
    echo "  bad output $mp4: pictures '$frames', audio '$audio'"
    bad=$((bad + 1))
  fi
done
echo "outputs checked by ffprobe: $((count - bad)) of $count good"
[ $bad -eq 0 ] || status=1
exit $status
