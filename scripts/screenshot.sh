#!/usr/bin/env bash
# Takes docs/screenshot.png: the desktop program under Xvfb with three sample recordings
# listed, the first converted and the second converting.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
[ -x "$bin/vyrshot" ] || { echo "screenshot: build first (./scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/vyrdemo.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/appdata/Vyr Player" "$work/home" "$work/run" "$work/Videos" docs
chmod 700 "$work/run"
printf '[RecordBrowerParam]\nLogLevel=0\nDireRecordPath=%s/\n' "$work/Videos" \
  > "$work/appdata/Vyr Player/SysParams.ini"
# Long enough that the second file is caught half converted.
"$bin/vyrgen" --out "$work/cam1_front_door.vyr" --video h264 --audio alaw --resolution 4 --seconds 4
"$bin/vyrgen" --out "$work/cam2_parking_lot.vyr" --video mjpeg --audio pcm --resolution 2 --seconds 20
"$bin/vyrgen" --out "$work/cam3_lobby.vyr" --video h265 --audio ulaw --resolution 1 --seconds 6

APPDATA="$work/appdata" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$bin/vyrshot" docs/screenshot.png \
  "$work/cam1_front_door.vyr" "$work/cam2_parking_lot.vyr" "$work/cam3_lobby.vyr"
echo "screenshot: docs/screenshot.png"
