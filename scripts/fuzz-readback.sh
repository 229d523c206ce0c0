#!/usr/bin/env bash
# Reads back with ffprobe the MP4 files that a fuzz target writes (mp4_maker,
# record_worker), for a sample of inputs:
#
#   scripts/fuzz-readback.sh [--max N] [--runner PROGRAM] FOLDER...
#
# FOLDER: inputs of one target, e.g. build-fuzz/corpus/record_worker after a fuzz run, or
# tests/fuzz_seeds/<name> and tests/fuzz_regressions/<name>. The target is named by the
# first folder's name unless --runner gives the program: a libFuzzer target fuzz_<name>
# (runs each input file once) or a regression runner regress_<name> (runs a folder).
# Without --runner: build-fuzz/bin/fuzz_<name>, else build/bin/regress_<name>.
# --max N: at most N inputs, picked at random (default 200; 0 = all).
#
# Every MP4 must parse without a container error (errors about the H.264 pictures are
# allowed: fuzzed pictures may fail to decode, the container may not), and the packets ffprobe
# lists per track must equal the samples the writer reported. Exit 0 when all pass.
set -uo pipefail
cd "$(dirname "$0")/.."

max=200
runner=""
folders=()
while [ $# -gt 0 ]; do
  case "$1" in
    --max) max="$2"; shift 2 ;;
    --runner) runner="$2"; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) folders+=("$1"); shift ;;
  esac
done
if [ ${#folders[@]} -eq 0 ]; then
  echo "usage: $0 [--max N] [--runner PROGRAM] FOLDER..." >&2
  exit 2
fi
if [ -z "$runner" ]; then
  name=$(basename "${folders[0]}")
  if [ -x "build-fuzz/bin/fuzz_$name" ]; then runner="build-fuzz/bin/fuzz_$name"
  elif [ -x "build/bin/regress_$name" ]; then runner="build/bin/regress_$name"
  else echo "fuzz-readback: no program for '$name' (build the fuzz targets or the tests)" >&2; exit 2
  fi
fi
command -v ffprobe >/dev/null || { echo "fuzz-readback: ffprobe not found" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vyr-readback-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/inputs" "$work/kept"

# The sample of inputs, copied under plain names.
mapfile -t all < <(find "${folders[@]}" -maxdepth 1 -type f 2>/dev/null | sort)
if [ "$max" -gt 0 ] && [ ${#all[@]} -gt "$max" ]; then
  mapfile -t all < <(printf '%s\n' "${all[@]}" | shuf -n "$max")
fi
if [ ${#all[@]} -eq 0 ]; then echo "fuzz-readback: no inputs in ${folders[*]}" >&2; exit 2; fi
i=0
for f in "${all[@]}"; do i=$((i + 1)); cp "$f" "$work/inputs/$i"; done

# Run the target over them, keeping every MP4 it writes.
if [[ "$(basename "$runner")" == regress_* ]]; then
  VYR_FUZZ_KEEP_MP4="$work/kept" "$runner" "$work/inputs" >"$work/run.log" 2>&1
else
  VYR_FUZZ_KEEP_MP4="$work/kept" "$runner" -runs=1 "$work"/inputs/* >"$work/run.log" 2>&1
fi
status=$?
if [ $status -ne 0 ]; then
  echo "fuzz-readback: $runner failed (exit $status):"; tail -30 "$work/run.log"; exit 1
fi

checked=0
failed=0
for mp4 in "$work"/kept/*.mp4; do
  [ -e "$mp4" ] || continue
  base=${mp4%.mp4}
  read -r want_video want_audio <"$base.counts"
  listing=$(ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets -of csv=p=0 \
            "$mp4" 2>"$base.err")
  probe_status=$?
  # Errors of the demuxer (tagged "[mov,...") and ffprobe's own about the file (prefixed
  # with its name) are about the container, and so are those of the AAC decoder (the
  # audio is our own); those of the H.264 decoder and its parameter-set parser (tagged
  # "[h264", "[NULL" or not at all) are about fuzzed pictures.
  container_errors=$(grep -E -e '^\[(mov,|aac @)' -e "^$mp4:" "$base.err")
  [ $probe_status -ne 0 ] && container_errors+=$'\n'"ffprobe exit status $probe_status"
  got_video=$(awk -F, '$1=="video"{n+=$2} END{print n+0}' <<<"$listing")
  got_audio=$(awk -F, '$1=="audio"{n+=$2} END{print n+0}' <<<"$listing")
  checked=$((checked + 1))
  if [ -n "$container_errors" ] || [ "$got_video" != "$want_video" ] || [ "$got_audio" != "$want_audio" ]; then
    failed=$((failed + 1))
    keep="${TMPDIR:-/tmp}/vyr-readback-failed-$(basename "$base")-$$"
    mkdir -p "$keep" && cp "$base".* "$keep"/
    echo "FAIL: input kept in $keep: packets video $got_video/$want_video audio $got_audio/$want_audio"
    [ -n "$container_errors" ] && head -5 <<<"$container_errors"
  fi
done
echo "fuzz-readback: $checked MP4 files read back from ${#all[@]} inputs, $failed failed"
if [ "$checked" -eq 0 ]; then echo "fuzz-readback: the target kept no MP4 file" >&2; exit 1; fi
[ "$failed" -eq 0 ]
