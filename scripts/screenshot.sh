#!/usr/bin/env bash
# Takes the README's screenshots of the desktop program in a real X session: Xvfb with the
# openbox window manager, the program started as a user starts it (files on its command
# line), driven by xdotool, pictures taken by tools/vyrshot.
#   docs/screenshot.png        English: four recordings, one converted, one with damaged
#                              data skipped, one that could not be opened (its tooltip
#                              shown), one converting
#   docs/screenshot-zh.png     Chinese: the question about outputs that exist
#   docs/screenshot-empty.png  English: the empty list's hint
# VYR_BUILD names the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${VYR_BUILD:-build}/bin
for tool in VyrTranscode vyrshot vyrgen vyrmsg; do
  [ -x "$bin/$tool" ] || { echo "screenshot: $bin/$tool is missing: build first (./scripts/build.sh)" >&2; exit 1; }
done
for tool in Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (./scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/vyrshot.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/appdata/Vyr Player" "$work/home" "$work/config" "$work/run" "$work/rec" "$work/Videos" docs
chmod 700 "$work/run"
printf '[RecordBrowerParam]\nLogLevel=0\nDireRecordPath=%s/\n' "$work/Videos" > "$work/appdata/Vyr Player/SysParams.ini"
export APPDATA="$work/appdata" HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export LANG=C.UTF-8

# The recordings: one converts at once, one has a stretch of damaged data, one is a link to
# a file that is gone, one is long enough to be caught converting.
"$bin/vyrgen" --out "$work/rec/cam1_front_door.vyr" --video h264 --audio alaw --resolution 4 --seconds 4
"$bin/vyrgen" --out "$work/rec/cam2_parking_lot.vyr" --video h264 --audio pcm --resolution 2 --seconds 6
size=$(stat -c %s "$work/rec/cam2_parking_lot.vyr")
dd if=/dev/zero of="$work/rec/cam2_parking_lot.vyr" bs=1 seek=$((size / 2)) count=3000 conv=notrunc status=none
ln -s "$work/rec/removed_by_the_recorder.vyr" "$work/rec/cam3_garage.vyr"
"$bin/vyrgen" --out "$work/rec/cam4_lobby.vyr" --video mjpeg --audio ulaw --resolution 2 --seconds 120

# The X session.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Starts the program with the given files, and waits for its window (its id in $wid).
start_program() {
  "$bin/VyrTranscode" "$@" >/dev/null 2>&1 &
  pids+=($!)
  wid=$(xdotool search --sync --onlyvisible --pid "$!" 2>/dev/null | head -1)
  xdotool windowmove "$wid" 60 40
  xdotool windowactivate --sync "$wid"
  sleep 0.5
}
# Clicks at a point of the window (client coordinates).
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
close_program() {
  "$bin/vyrmsg" close >/dev/null || true
  local status
  for _ in $(seq 100); do
    status=0
    "$bin/vyrmsg" query >/dev/null 2>&1 || status=$?
    [ "$status" -eq 3 ] && return 0
    sleep 0.1
  done
}
# Waits until a file exists and holds at least so many bytes (at most a minute).
wait_for_size() {
  for _ in $(seq 600); do
    [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  echo "screenshot: $1 never reached $2 bytes" >&2
  return 1
}

# 1. The empty list.
start_program
"$bin/vyrshot" docs/screenshot-empty.png
close_program

# 2. A run in English: Convert, then wait until the long recording is about half converted.
start_program "$work/rec/cam1_front_door.vyr" "$work/rec/cam2_parking_lot.vyr" \
  "$work/rec/cam3_garage.vyr" "$work/rec/cam4_lobby.vyr"
click "$wid" 537 587   # the convert button
wait_for_size "$work/Videos/cam4_lobby.mp4.part" 1900000
# The tooltip of the row that could not be converted.
xdotool mousemove --window "$wid" 150 83
sleep 1.5
"$bin/vyrshot" docs/screenshot.png
close_program

# 3. Chinese: the outputs of the first run exist, so Convert asks what to do with them.
cat > "$work/appdata/Vyr Player/Language.ini" <<'INI'
[Default]
Language=2
Count=2
[Language]
1=English
2=简体中文
[LangFile]
1=English.ini
2=Chinese.ini
INI
start_program "$work/rec/cam1_front_door.vyr" "$work/rec/cam2_parking_lot.vyr"
click "$wid" 537 587
sleep 1.5
"$bin/vyrshot" docs/screenshot-zh.png
xdotool key Escape   # Cancel
sleep 0.3
close_program

echo "screenshot: docs/screenshot.png docs/screenshot-zh.png docs/screenshot-empty.png"
