#!/usr/bin/env bash
# Several encoders at once (vyrconvert -j), on this machine:
#  1. one H.265 1080p recording of 20 s at about 8 Mbit/s at -j 1 and -j 2: time, peak
#     memory, and the scaling to 8,
#     16 and 64 cores that the measured serial part allows (Amdahl);
#  2. a batch of 8 short H.265 recordings at -j 1 and -j 2;
#  3. a batch of 200 one-second H.264 recordings in one vyrconvert call against 200 ffmpeg
#     calls doing the same copy (video copied, audio to AAC).
# Best of RUNS alternating runs each.
#   bench/bench_parallel.sh [RUNS]     (from a build in ./build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
bin=build/bin
work=$(mktemp -d /tmp/vyr-bench-parallel-XXXXXX); trap 'rm -rf "$work"' EXIT
. bench/common.sh
# A table of two times of one batch and their ratio.
comparison() {  # TITLE NAME-A NAME-B TIME-A TIME-B RATIO
  printf '\n| %s | %s | %s | ratio |\n|---|---|---|---|\n' "$1" "$2" "$3"
  printf '| batch | %.2f s | %.2f s | %.2f |\n' "$4" "$5" "$6"
}
echo "$(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"

# 1. One long transcode.
$bin/vyrgen --out "$work/one.vyr" --video h265 --audio alaw --resolution 4 --seconds 20 --grain 2 >/dev/null
j1=(); j2=()
for ((i = 0; i < runs; i++)); do
  t0=$(now); $bin/vyrconvert -j 1 -o "$work/o1" "$work/one.vyr" >/dev/null; t1=$(now); j1+=("$(echo "$t1 - $t0" | bc)")
  t0=$(now); $bin/vyrconvert -j 2 -o "$work/o2" "$work/one.vyr" >/dev/null; t1=$(now); j2+=("$(echo "$t1 - $t0" | bc)")
done
t1=$(best "${j1[@]}"); t2=$(best "${j2[@]}")
m1=$(peak_kb $bin/vyrconvert -j 1 -o "$work/o1" "$work/one.vyr"); m2=$(peak_kb $bin/vyrconvert -j 2 -o "$work/o2" "$work/one.vyr")
serial=$(echo "2 * $t2 / $t1 - 1" | bc -l)
if [ "$(echo "$serial < 0" | bc)" = 1 ]; then serial=0; fi
echo
echo "| H.265 1080p, 20 s, 8 Mbit/s | -j 1 | -j 2 | ratio | peak -j 1 | peak -j 2 |"
echo "|---|---|---|---|---|---|"
printf '| time | %.2f s | %.2f s | %.2f | %d MB | %d MB |\n' "$t1" "$t2" "$(echo "$t2 / $t1" | bc -l)" $((m1 / 1024)) $((m2 / 1024))
echo
printf 'Serial part from -j 1 / -j 2 (Amdahl): %.3f\n' "$serial"
echo "| cores | expected time | speed-up |"
echo "|---|---|---|"
for n in 1 2 8 16 64; do
  tn=$(echo "$t1 * ($serial + (1 - $serial) / $n)" | bc -l)
  printf '| %d | %.2f s | %.1fx |\n' "$n" "$tn" "$(echo "$t1 / $tn" | bc -l)"
done

# 2. A batch of short transcodes.
mkdir -p "$work/batch"
for i in $(seq 1 8); do
  $bin/vyrgen --out "$work/batch/cam$i.vyr" --video h265 --audio alaw --resolution 3 --seconds 3 >/dev/null
done
b1=(); b2=()
for ((i = 0; i < runs; i++)); do
  t0=$(now); $bin/vyrconvert -j 1 -o "$work/b1" "$work"/batch/*.vyr >/dev/null; t1=$(now); b1+=("$(echo "$t1 - $t0" | bc)")
  t0=$(now); $bin/vyrconvert -j 2 -o "$work/b2" "$work"/batch/*.vyr >/dev/null; t1=$(now); b2+=("$(echo "$t1 - $t0" | bc)")
done
x1=$(best "${b1[@]}"); x2=$(best "${b2[@]}")
comparison "8 H.265 720p recordings of 3 s" "-j 1" "-j 2" "$x1" "$x2" "$(echo "$x2 / $x1" | bc -l)"

# 3. Many short copies.
mkdir -p "$work/many" "$work/es" "$work/m" "$work/f"
$bin/vyrgen --out "$work/template.vyr" --video h264 --audio alaw --resolution 1 --seconds 1 >/dev/null
for i in $(seq -w 1 200); do cp "$work/template.vyr" "$work/many/c$i.vyr"; done
$bin/vyrconvert -f raw -o "$work/es" "$work/template.vyr" >/dev/null
extract_audio "$work/template.vyr" "$work/es/template.alaw"
ours=(); theirs=()
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/m"; mkdir -p "$work/m"
  t0=$(now); $bin/vyrconvert -o "$work/m" "$work"/many/*.vyr >/dev/null; t1=$(now); ours+=("$(echo "$t1 - $t0" | bc)")
  t0=$(now)
  for k in $(seq -w 1 200); do
    ffmpeg -v error -y -f h264 -i "$work/es/template.H264" -f alaw -ar 8000 -i "$work/es/template.alaw" \
      -c:v copy -c:a aac "$work/f/c$k.mp4"
  done
  t1=$(now); theirs+=("$(echo "$t1 - $t0" | bc)")
done
o=$(best "${ours[@]}"); f=$(best "${theirs[@]}")
comparison "200 H.264 CIF recordings of 1 s" "vyrconvert (one call)" "ffmpeg (200 calls)" "$o" "$f" "$(echo "$o / $f" | bc -l)"
