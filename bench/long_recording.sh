#!/usr/bin/env bash
# Long and large recordings through vyrconvert. Not part of the test suite: it writes
# up to 12 GB at a time (removed again) and runs for several minutes.
#
#   bench/long_recording.sh [memory|large|all] [WORKDIR]
#
# memory  1 h, 6 h and 24 h of CIF H.264 and 24 h of 1080p H.264 (the test picture's own
#         low bit rate), 25 fps, G.711 A-law audio: the peak memory of each conversion
#         (the 24 h ones must stay under 64 MB), its output checked for its frame count.
# large   a 1080p recording whose MP4 passes 4.5 GiB: 64-bit offsets (co64, 64-bit mdat
#         size), the last pictures and the last audio where they belong, the last seconds
#         decoding without an error, and the peak memory against a 10-minute run's.
#
# Recordings are made with vyrgen --repeat-seconds (a 4 s stretch encoded once and
# repeated with advancing time stamps); the 1080p one with --grain 5, which brings the
# test picture to about 4 Mbit/s. Exit status 1 when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"
bin=$PWD/build/bin
work=$(mktemp -d "${2:-${TMPDIR:-/var/tmp}}/vyr-long.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fps=25

check() {  # check DESCRIPTION CONDITION-RESULT(0/1)
  if [ "$2" = 1 ]; then echo "  ok   $1"; else echo "  FAIL $1"; failed=1; fi
}
mib() { echo "scale=1; $1 / 1048576" | bc; }
gib() { printf '%.2f' "$(echo "scale=4; $1 / 1073741824" | bc)"; }

# convert REC: runs vyrconvert into $work/out under /usr/bin/time; sets peak_kb and wall.
convert() {
  mkdir -p "$work/out"
  local t0 t1
  t0=$(date +%s.%N)
  peak_kb=$(/usr/bin/time -f %M "$bin/vyrconvert" -o "$work/out" "$1" 2>&1 >/dev/null | tail -1)
  t1=$(date +%s.%N)
  wall=$(printf '%.1f' "$(echo "$t1 - $t0" | bc)")
}

# stream_field MP4 TYPE FIELD: a field of the first stream of TYPE (video/audio), from the
# file's index.
stream_field() {
  ffprobe -v error -select_streams "${2:0:1}:0" -show_entries "stream=$3" -of csv=p=0 "$1"
}

generate() {  # generate FILE RESOLUTION SECONDS [GRAIN]
  "$bin/vyrgen" --out "$1" --video h264 --audio alaw --resolution "$2" --fps $fps \
    --seconds "$3" --repeat-seconds 4 --grain "${4:-0}"
}

memory_growth() {
  echo "== Peak memory by recording length (H.264, 25 fps, G.711 A-law) =="
  local rows=() run
  # hours, resolution code, its name
  for run in "1 1 CIF" "6 1 CIF" "24 1 CIF" "24 4 1080p"; do
    set -- $run
    local hours=$1 res=$2 label="$1 h $3"
    local secs=$((hours * 3600)) rec=$work/long${hours}h.vyr
    generate "$rec" "$res" "$secs"
    local recsize; recsize=$(stat -c %s "$rec")
    convert "$rec"
    local mp4=$work/out/long${hours}h.mp4 mp4size frames dur
    mp4size=$(stat -c %s "$mp4")
    frames=$(stream_field "$mp4" video nb_frames)
    dur=$(stream_field "$mp4" video duration)
    rows+=("$(printf '| %-10s | %8s MB | %8s MB | %9s | %9.1f s | %7s s | %6s MB |' "$label" \
      "$(mib "$recsize")" "$(mib "$mp4size")" "$frames" "$dur" "$wall" "$((peak_kb / 1024))")")
    check "$label: $frames pictures (expected $((secs * fps)))" "$([ "$frames" = $((secs * fps)) ] && echo 1 || echo 0)"
    [ "$hours" = 24 ] && check "$label: peak memory $((peak_kb / 1024)) MB under 64 MB" \
      "$([ "$peak_kb" -lt $((64 * 1024)) ] && echo 1 || echo 0)"
    rm -f "$rec" "$mp4"
  done
  echo "| recording  | size        | MP4         | pictures  | duration    | convert   | peak     |"
  echo "|------------|-------------|-------------|-----------|-------------|-----------|----------|"
  printf '%s\n' "${rows[@]}"
}

# Boxes at the top of an MP4 and what its index uses for chunk offsets.
box_report() {
  python3 - "$1" <<'PY'
import struct, sys
f = open(sys.argv[1], 'rb'); size = f.seek(0, 2); pos = 0; top = []; moov = None
while pos + 8 <= size:
    f.seek(pos); n, t = struct.unpack('>I4s', f.read(8)); head = 8
    if n == 1: n = struct.unpack('>Q', f.read(8))[0]; head = 16
    elif n == 0: n = size - pos
    top.append('%s(%s)' % (t.decode('latin1'), 'large' if head == 16 else 'small'))
    if t == b'moov': f.seek(pos); moov = f.read(n)
    pos += n
co64 = moov.count(b'co64') if moov else 0; stco = moov.count(b'stco') if moov else 0
print(' '.join(top), 'co64=%d stco=%d end=%d' % (co64, stco, pos == size))
PY
}

large_file() {
  echo "== An MP4 past 4.5 GiB (1080p H.264 of about 4 Mbit/s, 25 fps, G.711 A-law) =="
  local grain=5 short=600 rec=$work/short.vyr
  generate "$rec" 4 $short $grain
  convert "$rec"
  local short_peak=$peak_kb short_wall=$wall short_size short_rec
  short_size=$(stat -c %s "$work/out/short.mp4")
  short_rec=$(stat -c %s "$rec")
  rm -f "$rec" "$work/out/short.mp4"
  # Long enough for 4.7 GiB at the short run's bytes per second.
  local secs=$((4700 * 1048576 / (short_size / short))) rec=$work/large.vyr
  secs=$(( (secs + 3) / 4 * 4 ))
  generate "$rec" 4 $secs $grain
  local recsize; recsize=$(stat -c %s "$rec")
  convert "$rec"
  rm -f "$rec"
  local mp4=$work/out/large.mp4 size frames
  size=$(stat -c %s "$mp4")
  frames=$(stream_field "$mp4" video nb_frames)
  echo "| run          | length   | recording  | MP4        | convert  | peak     |"
  echo "|--------------|----------|------------|------------|----------|----------|"
  printf '| %-12s | %6s s | %6s GiB | %6s GiB | %6s s | %5s MB |\n' "10 minutes" $short "$(gib "$short_rec")" \
    "$(gib "$short_size")" "$short_wall" "$((short_peak / 1024))"
  printf '| %-12s | %6s s | %6s GiB | %6s GiB | %6s s | %5s MB |\n' "past 4.5 GiB" $secs \
    "$(gib "$recsize")" "$(gib "$size")" "$wall" "$((peak_kb / 1024))"

  local boxes; boxes=$(box_report "$mp4")
  echo "  boxes: $boxes"
  check "MP4 size $(gib "$size") GiB past 4.5 GiB" "$([ "$size" -gt 4831838208 ] && echo 1 || echo 0)"
  check "64-bit mdat size, co64 in both tracks, no stco" \
    "$([[ $boxes == *"mdat(large)"* && $boxes == *"co64=2 stco=0 end=1"* ]] && echo 1 || echo 0)"
  check "$frames pictures in the index (expected $((secs * fps)))" "$([ "$frames" = $((secs * fps)) ] && echo 1 || echo 0)"

  # The packets of the last 30 seconds: the last picture at (frames - 1) / fps, the last
  # audio frame within one AAC frame (0.128 s) and a little of the end.
  local last_v last_a
  last_v=$(ffprobe -v error -read_intervals "$((secs - 30))%" -select_streams v:0 \
    -show_entries packet=pts_time -of csv=p=0 "$mp4" | sort -g | tail -1)
  last_a=$(ffprobe -v error -read_intervals "$((secs - 30))%" -select_streams a:0 \
    -show_entries packet=pts_time -of csv=p=0 "$mp4" | sort -g | tail -1)
  local want_v; want_v=$(echo "scale=3; ($secs * $fps - 1) / $fps" | bc)
  echo "  last picture at ${last_v} s (expected ${want_v} s), last audio at ${last_a} s (recording ${secs} s)"
  check "last picture where it belongs" \
    "$(echo "d = $last_v - $want_v; d < 0.001 && d > -0.001" | bc)"
  check "last audio within 0.3 s of the end" \
    "$(echo "d = $secs - $last_a; d < 0.3 && d > 0" | bc)"

  # The last 10 seconds, reached by a seek, decode without an error.
  local errs vcount acount
  errs=$(ffmpeg -nostdin -v error -ss $((secs - 10)) -i "$mp4" -map 0:v -f framemd5 "$work/v.md5" \
    -map 0:a -f framemd5 "$work/a.md5" 2>&1 || echo "ffmpeg failed")
  vcount=$(grep -vc '^#' "$work/v.md5" || true)
  acount=$(grep -vc '^#' "$work/a.md5" || true)
  echo "  last 10 s after a seek: $vcount pictures, $acount audio frames decoded"
  check "the last 10 s decode without errors${errs:+: $errs}" "$([ -z "$errs" ] && echo 1 || echo 0)"
  check "about 10 s of pictures and audio decoded" \
    "$([ "$vcount" -ge $((10 * fps - 2)) ] && [ "$acount" -ge 75 ] && echo 1 || echo 0)"
  local growth=$(( (peak_kb - short_peak) / 1024 ))
  check "peak memory flat: $((peak_kb / 1024)) MB against $((short_peak / 1024)) MB for 10 minutes (+$growth MB)" \
    "$([ $growth -lt 16 ] && echo 1 || echo 0)"
  rm -f "$mp4"
}

echo "vyrconvert on $(nproc) cores:$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2), $(free -g | awk '/Mem:/ {print $2}') GiB"
case "$what" in
  memory) memory_growth ;;
  large) large_file ;;
  all) memory_growth; large_file ;;
  *) echo "usage: bench/long_recording.sh [memory|large|all] [WORKDIR]" >&2; exit 2 ;;
esac
exit $failed
