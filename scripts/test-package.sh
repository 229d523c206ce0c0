#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh), has lintian judge it, installs it with
# apt-get and checks the installed system: the validators on the installed desktop files,
# the file type and its default program, the manual pages, the bash completion, the
# installed vyrconvert converting recordings (ffprobe and ffmpeg judge the MP4s), and the
# installed desktop program started offscreen with a file, a second start handing it
# another, both rows seen in its debug log and the language file and style sheet read from
# /usr/share/vyrtranscode/. The package is always removed again.
#
#   scripts/test-package.sh [BUILD_DIR]     (as root, or with sudo; BUILD_DIR default build)
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
app_id=org.vyrtranscode.VyrTranscode
mime_type=application/x-vyr-recording

# shellcheck source=../tests/packaging/checks.sh
source tests/packaging/checks.sh
ok() { echo "ok: $*"; }

if [ "$(dpkg-query -W -f='${Status}' vyrtranscode 2>/dev/null)" = "install ok installed" ]; then
  echo "test-package: vyrtranscode is installed already; this test installs and removes it, so remove it first" >&2
  exit 1
fi

deb=$(./scripts/package.sh "$build") || { echo "test-package: building the package failed" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
samples="$(cd "$build" && pwd)/samples"
echo "test-package: $deb"

tmp=$(mktemp -d)
chmod 755 "$tmp"
installed=0
desktop_pid="" tracer_pid=""
cleanup() {
  if [ -n "$desktop_pid" ]; then kill "$desktop_pid" 2>/dev/null; fi
  if [ -n "$tracer_pid" ]; then wait "$tracer_pid" 2>/dev/null; fi
  if [ $installed -eq 1 ]; then $SUDO dpkg -r vyrtranscode >/dev/null; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---- the package itself ----------------------------------------------------------------
[ "$(basename "$deb")" = "vyrtranscode_${version}_$(dpkg --print-architecture).deb" ] &&
  ok "file name $(basename "$deb")" || fail "the package is named $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for d in qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk libc6 libqt6widgets6 libx264- libavcodec; do
  [[ ", $depends" == *", $d"* ]] && ok "depends on $d" || fail "the package does not depend on $d"
done
# The private libraries are the package's own: no dependency on a package that holds them.
[[ $depends != *QorraEncoder* && $depends != *Vidrex* ]] || fail "the package depends on its own libraries"

echo "test-package: lintian"
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" 2>&1 | tee "$tmp/lintian.log"
lintian_rc=${PIPESTATUS[0]}
[ "$lintian_rc" -eq 0 ] && ok "lintian reports no errors" || fail "lintian reports errors (exit status $lintian_rc)"

# ---- install ---------------------------------------------------------------------------
cp "$deb" "$tmp/"
chmod 644 "$tmp/$(basename "$deb")"
if $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$tmp/$(basename "$deb")" >"$tmp/apt.log" 2>&1; then
  installed=1
  ok "apt-get install"
else
  cat "$tmp/apt.log" >&2
  fail "apt-get install"
  exit 1
fi

# ---- desktop files, as installed ------------------------------------------------------
quiet_check "desktop-file-validate (installed)" desktop-file-validate /usr/share/applications/$app_id.desktop
quiet_check "appstreamcli validate (installed)" appstreamcli validate --no-net --strict /usr/share/metainfo/$app_id.metainfo.xml
# png_size FILE: width and height from the PNG's header.
png_size() { od -An -tu1 -j16 -N8 "$1" 2>/dev/null | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }
for size in 16 22 24 32 48 64 128 256; do
  f=/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  [ "$(png_size "$f")" = "${size}x${size}" ] || fail "icon $f is missing or not ${size}x${size}"
done
[ -f /usr/share/icons/hicolor/scalable/apps/$app_id.svg ] && ok "icons" || fail "no scalable icon"

# The system's file type database (updated by dpkg's trigger) and the program for it.
mkdir -p "$tmp/files" "$tmp/xdg-home"
cp "$samples/cam1_h264_alaw.vyr" "$tmp/files/CAM1.VYR"
cp "$samples/cam1_h264_alaw.vyr" "$tmp/files/recording"
for f in CAM1.VYR recording; do
  got=$(XDG_DATA_HOME="$tmp/xdg-home" xdg-mime query filetype "$tmp/files/$f" 2>&1)
  [ "$got" = "$mime_type" ] && ok "xdg-mime: $f is $mime_type" || fail "xdg-mime: $f is '$got'"
done
got=$(XDG_DATA_HOME="$tmp/xdg-home" XDG_CONFIG_HOME="$tmp/xdg-home" xdg-mime query default $mime_type 2>&1)
[ "$got" = "$app_id.desktop" ] && ok "recordings open with $got" || fail "recordings open with '$got'"

# ---- manual pages and completion --------------------------------------------------------
for page in vyrconvert VyrTranscode vyrtranscode; do
  [ -n "$(man -w "$page" 2>/dev/null)" ] || fail "man finds no page $page"
  quiet_check "man --warnings $page" env MANWIDTH=80 man --warnings -E UTF-8 "$page"
done
got=$(bash -c 'source /usr/share/bash-completion/bash_completion && _completion_loader vyrconvert; complete -p vyrconvert' 2>&1)
[ "$got" = "complete -F _vyrconvert vyrconvert" ] && ok "bash completion is loaded for vyrconvert" || fail "completion: '$got'"

# ---- the installed converter -----------------------------------------------------------
[ "$(/usr/bin/vyrconvert --version)" = "vyrconvert $version" ] && ok "vyrconvert --version" || fail "vyrconvert --version"
# H.264 taken as recorded, and Motion JPEG through both private libraries.
for sample in cam1_h264_alaw cam3_mjpeg_pcm; do
  if ! (cd "$tmp" && /usr/bin/vyrconvert -o "$tmp/converted" "$samples/$sample.vyr" >"$tmp/convert.log" 2>&1); then
    cat "$tmp/convert.log" >&2
    fail "/usr/bin/vyrconvert $sample.vyr"
    continue
  fi
  mp4="$tmp/converted/$sample.mp4"
  codecs=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mp4" | LC_ALL=C sort | paste -sd' ' -)
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$mp4")
  ffmpeg -nostdin -v error -i "$mp4" -f null - 2>"$tmp/decode.log"
  if [ "$codecs" = "aac h264" ] && [ "${frames:-0}" -gt 0 ] && [ ! -s "$tmp/decode.log" ]; then
    ok "/usr/bin/vyrconvert $sample.vyr: $codecs, $frames pictures, decoded cleanly"
  else
    cat "$tmp/decode.log" >&2
    fail "$sample.mp4: streams '$codecs', $frames pictures"
  fi
done

# ---- the installed desktop program -------------------------------------------------------
# Its own runtime and settings folders; the debug log on through "LogLevel".
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/home"
unset APPDATA
mkdir -p -m 700 "$tmp/run"
mkdir -p "$tmp/config/Vyr Player" "$tmp/home" "$tmp/rec" "$tmp/desktop-out"
printf '[RecordBrowerParam]\nLogLevel=1\nDireRecordPath=%s/\n' "$tmp/desktop-out" >"$tmp/config/Vyr Player/SysParams.ini"
cp "$samples/cam1_h264_alaw.vyr" "$tmp/rec/first.vyr"
cp "$samples/cam2_h264_ulaw.vyr" "$tmp/rec/second.vyr"

# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local until=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $until ] || return 1
    sleep 0.2
  done
}
log_count() { grep -c -x -F "$1" "$tmp/desktop.log"; }
log_has() { [ "$(log_count "$1")" -ge 1 ]; }

[ "$(timeout 20 /usr/bin/VyrTranscode --version 2>/dev/null)" = "VyrTranscode $version" ] &&
  ok "VyrTranscode --version" || fail "VyrTranscode --version"

# The first instance with a file, under strace to see which data files it reads.
strace -f -qq -e trace=openat -o "$tmp/strace-first.log" \
  /usr/bin/VyrTranscode "$tmp/rec/first.vyr" >/dev/null 2>"$tmp/desktop.log" &
tracer_pid=$!
wait_for 30 test -s "$tmp/strace-first.log"
desktop_pid=$(awk 'NR == 1 { print $1 }' "$tmp/strace-first.log")
if wait_for 30 test -S "$tmp/run/VyrTranscode/TFmVyrToMp4"; then
  ok "the desktop program runs offscreen"
else
  cat "$tmp/desktop.log" >&2
  fail "the desktop program did not come up"
fi

# A second start, by the lower-case name, under strace too: it hands its file over and
# ends.
strace -f -qq -e trace=openat -o "$tmp/strace-second.log" \
  timeout 30 /usr/bin/vyrtranscode "$tmp/rec/second.vyr" >"$tmp/second.log" 2>&1
second_rc=$?
[ $second_rc -eq 0 ] && ok "a second start ends with status 0" || { cat "$tmp/second.log" >&2; fail "a second start ended with status $second_rc"; }

for f in "$tmp/rec/first.vyr" "$tmp/rec/second.vyr"; do
  if wait_for 30 log_has "Add file to list: $f"; then
    ok "a row for $(basename "$f")"
  else
    fail "no row for $(basename "$f") in the debug log"
  fi
done
sleep 1  # a late duplicate would show now
for f in "$tmp/rec/first.vyr" "$tmp/rec/second.vyr"; do
  n=$(log_count "Add file to list: $f")
  [ "$n" = 1 ] || fail "$(basename "$f") was added $n times"
done
n=$(grep -c '^Add file to list: ' "$tmp/desktop.log")
[ "$n" = 2 ] && ok "one log line per added file" || fail "$n files were added, not 2"

# The data files come from the installed share folder.
opened() { grep -q "\"$2\", O_RDONLY[^)]*) = [0-9]" "$1"; }
for check in "strace-first.log /usr/share/vyrtranscode/Language/English.ini" \
  "strace-first.log /usr/share/vyrtranscode/Styles/Sky.qss" \
  "strace-second.log /usr/share/vyrtranscode/Language/English.ini"; do
  set -- $check
  opened "$tmp/$1" "$2" && ok "${1%%.log}: reads $2" ||
    fail "${1%%.log}: did not read $2: $(grep -E 'Language|Styles' "$tmp/$1")"
done

if ! kill -0 "$desktop_pid" 2>/dev/null; then
  cat "$tmp/desktop.log" >&2
  fail "the desktop program ended by itself"
fi
kill "$desktop_pid" 2>/dev/null
wait "$tracer_pid" 2>/dev/null
desktop_pid="" tracer_pid=""

# ---- removal ---------------------------------------------------------------------------------
if $SUDO dpkg -r vyrtranscode >"$tmp/remove.log" 2>&1; then
  installed=0
  left=$(ls -d /usr/bin/vyrconvert /usr/bin/VyrTranscode /usr/bin/vyrtranscode /usr/lib/*/vyrtranscode \
    /usr/share/vyrtranscode /usr/share/applications/$app_id.desktop 2>/dev/null)
  [ -z "$left" ] && ok "dpkg -r removes everything" || fail "left after dpkg -r: $left"
else
  cat "$tmp/remove.log" >&2
  fail "dpkg -r"
fi

if [ "$failures" -ne 0 ]; then
  echo "test-package: $failures check(s) failed" >&2
  exit 1
fi
echo "test-package: all checks passed"
