#!/usr/bin/env bash
# The block reader over a clean recording of about 1 GB and over 1 GB of garbage, each
# against `cat FILE > /dev/null` on the same file in the same run, with the file in the page
# cache. Prints the medians of RUNS runs and the ratios (reader time / cat time).
#   bench/block_reader.sh [RUNS]       (from a build in ./build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
bin=build/bin
work=$(mktemp -d /tmp/vyr-bench-reader-XXXXXX)
trap 'rm -rf "$work"' EXIT

# About 1 GB of 1080p H.264 with audio (a stretch encoded once and repeated), and garbage.
"$bin/vyrgen" --out "$work/clean.vyr" --video h264 --audio alaw --resolution 4 --seconds 430 \
  --repeat-seconds 4 --grain 8 >/dev/null
head -c 1073741824 /dev/urandom > "$work/garbage.vyr"

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_cat() {
  local t0 t1
  t0=$(date +%s.%N); cat "$1" > /dev/null; t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}

for f in clean garbage; do
  file="$work/$f.vyr"
  cat "$file" > /dev/null  # into the page cache
  cats=(); reads=()
  for _ in $(seq "$runs"); do
    cats+=("$(time_cat "$file")")
    out=$("$bin/bench_block_reader" "$file")
    reads+=("${out%% *}")
  done
  c=$(printf '%s\n' "${cats[@]}" | median)
  r=$(printf '%s\n' "${reads[@]}" | median)
  size=$(stat -c %s "$file")
  printf '%-8s %6.0f MB  cat %.3f s  reader %.3f s  ratio %.2f  (blocks, regions, bytes skipped: %s)\n' \
    "$f" "$(echo "$size / 1000000" | bc)" "$c" "$r" "$(echo "$r / $c" | bc -l)" "${out#* }"
done
