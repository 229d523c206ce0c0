#!/usr/bin/env bash
# The README's recipe for a large archive, on this machine: GNU parallel runs two jobs of
# `vyrconvert -j 1 --skip-existing --json` over a folder of recordings into one output folder;
# a second run must skip every file.
#   scripts/test-parallel-recipe.sh BIN_DIR
set -euo pipefail
bin=$(realpath "$1")
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/archive/cam1" "$work/archive/cam2" "$work/out"
for i in 1 2 3; do
  "$bin/vyrgen" --out "$work/archive/cam1/day$i.vyr" --video h264 --audio alaw --resolution 0 --seconds 2 >/dev/null
  "$bin/vyrgen" --out "$work/archive/cam2/night$i.vyr" --video mjpeg --audio none --resolution 0 --fps 5 --seconds 2 >/dev/null
done

recipe() {  # the command of the README, with this machine's paths
  find "$work/archive" -name '*.vyr' -print0 |
    parallel --will-cite -0 -j 2 "$bin/vyrconvert" -j 1 --skip-existing --json -o "$work/out" {}
}

recipe > "$work/first.jsonl"
[ "$(wc -l < "$work/first.jsonl")" -eq 6 ] || { echo "first run: $(cat "$work/first.jsonl")"; exit 1; }
if grep -v '"status":"converted"' "$work/first.jsonl"; then echo "first run: not every file converted"; exit 1; fi
[ "$(ls "$work/out" | grep -c '\.mp4$')" -eq 6 ] || { ls -la "$work/out"; exit 1; }
recipe > "$work/second.jsonl"
[ "$(wc -l < "$work/second.jsonl")" -eq 6 ] || { echo "second run: $(cat "$work/second.jsonl")"; exit 1; }
if grep -v '"status":"skipped"' "$work/second.jsonl"; then echo "second run: a file was not skipped"; exit 1; fi
echo "recipe: 6 converted by two jobs, then 6 skipped"
