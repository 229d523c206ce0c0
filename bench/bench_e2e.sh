#!/usr/bin/env bash
# End-to-end benchmark: vyrconvert against the equivalent ffmpeg pipeline on the same
# content, alternating runs, reporting wall time, the ratio (ours / ffmpeg; below 1 means
# faster) and our peak memory; then what timing by the recording's stamps costs against
# the constant rate, on the same recordings.
#   bench/bench_e2e.sh [SECONDS] [RUNS] [timing]   (default 60 s of recording, 3 runs each;
#                                                   "timing": the timing comparison only)
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"; runs="${2:-3}"; only="${3:-}"
bin=build/bin
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

. bench/common.sh

bench() {  # name video resolution x264-threads-note
  local name=$1 video=$2 res=$3
  local rec=$work/$name.vyr
  $bin/vyrgen --out "$rec" --video "$video" --audio alaw --resolution "$res" --fps 25 --seconds "$secs"
  $bin/vyrconvert -f raw -o "$work" "$rec" >/dev/null
  extract_audio "$rec" "$work/$name.alaw"
  local es; es=$(ls "$work/$name".H264 "$work/$name".MJPG "$work/$name".H265 2>/dev/null | head -1 || true)
  local ours=() theirs=() theirs_mt=()
  for ((i = 0; i < runs; i++)); do
    t0=$(now); $bin/vyrconvert -o "$work/out" "$rec" >/dev/null; t1=$(now); ours+=("$(echo "$t1 - $t0" | bc)")
    if [ "$video" = h264 ]; then
      t0=$(now); ffmpeg -v error -y -f h264 -i "$es" -f alaw -ar 8000 -i "$work/$name.alaw" -c:v copy -c:a aac "$work/ff.mp4"; t1=$(now)
    else
      local fmt=mjpeg; [ "$video" = h265 ] && fmt=hevc
      t0=$(now); ffmpeg -v error -y -threads 1 -f $fmt -i "$es" -f alaw -ar 8000 -i "$work/$name.alaw" -c:v libx264 \
        -preset veryfast -tune zerolatency -profile:v baseline -crf 24 -threads 1 -c:a aac "$work/ff.mp4"; t1=$(now)
      # ffmpeg with its defaults: the same encoder set-up, every thread setting left to it.
      t2=$(now); ffmpeg -v error -y -f $fmt -i "$es" -f alaw -ar 8000 -i "$work/$name.alaw" -c:v libx264 \
        -preset veryfast -tune zerolatency -profile:v baseline -crf 24 -c:a aac "$work/ff.mp4"; t3=$(now)
      theirs_mt+=("$(echo "$t3 - $t2" | bc)")
    fi
    theirs+=("$(echo "$t1 - $t0" | bc)")
  done
  mkdir -p "$work/out"
  local peak; peak=$(peak_kb $bin/vyrconvert -o "$work/out" "$rec")
  local best_o best_t best_m="-"
  best_o=$(printf '%s\n' "${ours[@]}" | sort -n | head -1)
  best_t=$(printf '%s\n' "${theirs[@]}" | sort -n | head -1)
  [ ${#theirs_mt[@]} -gt 0 ] && best_m=$(printf '%.2f s' "$(printf '%s\n' "${theirs_mt[@]}" | sort -n | head -1)")
  local ratio_m="-"
  [ "$best_m" != "-" ] && ratio_m=$(printf '%.2f' "$(echo "$best_o / ${best_m% s}" | bc -l)")
  printf '| %-22s | %8.2f s | %8.2f s | %5.2f | %9s | %5s | %6d MB |\n' "$name" "$best_o" "$best_t" \
    "$(echo "$best_o / $best_t" | bc -l)" "$best_m" "$ratio_m" "$((peak / 1024))"
}

# --timing stamps against --timing rate on one recording, alternating runs.
timing_cost() {  # name video resolution
  local name=$1 rec=$work/$1.vyr rate=() stamps=()
  [ -f "$rec" ] || $bin/vyrgen --out "$rec" --video "$2" --audio alaw --resolution "$3" --fps 25 --seconds "$secs"
  for ((i = 0; i < runs; i++)); do
    t0=$(now); $bin/vyrconvert --timing rate -o "$work/out" "$rec" >/dev/null; t1=$(now); rate+=("$(echo "$t1 - $t0" | bc)")
    t0=$(now); $bin/vyrconvert --timing stamps -o "$work/out" "$rec" >/dev/null; t1=$(now); stamps+=("$(echo "$t1 - $t0" | bc)")
  done
  local best_r best_s
  best_r=$(printf '%s\n' "${rate[@]}" | sort -n | head -1)
  best_s=$(printf '%s\n' "${stamps[@]}" | sort -n | head -1)
  printf '| %-22s | %8.3f s | %8.3f s | %5.3f |\n' "$name" "$best_r" "$best_s" "$(echo "$best_s / $best_r" | bc -l)"
}

mkdir -p "$work/out"
echo "Recording length ${secs} s, best of ${runs} alternating runs, $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
if [ "$only" != timing ]; then
  echo "| recording              | vyrconvert | ffmpeg 1 thread | ratio | ffmpeg defaults | ratio | our peak |"
  echo "|------------------------|------------|-----------------|-------|-----------------|-------|----------|"
  bench h264-1080p-alaw h264 4
  bench mjpeg-720p-alaw mjpeg 3
  bench h265-1080p-alaw h265 4
  echo
fi
echo "| recording              | --timing rate | --timing stamps | stamps / rate |"
echo "|------------------------|---------------|-----------------|---------------|"
timing_cost h264-1080p-alaw h264 4
timing_cost mjpeg-720p-alaw mjpeg 3
