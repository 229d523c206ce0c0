#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing VyrTranscode needs.
# Idempotent and non-interactive; runs `apt-get update` once per call, and only when
# something is missing.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake pkg-config ninja-build
  # H.264 encoding (QorraEncoder), decoding and AAC encoding (Vidrex, the AAC binding)
  libx264-dev libavcodec-dev libavutil-dev libswscale-dev
  # desktop program
  qt6-base-dev fonts-noto-cjk
  # Qt's own dialogs and buttons in the languages the program ships (qtbase_zh_CN.qm)
  qt6-translations-l10n
  # screenshots of the desktop program in a real X session (scripts/screenshot.sh)
  openbox xdotool
  # tests and benchmarks: GoogleTest, Google Benchmark, independent judges of our output
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg xvfb xauth
  # players that judge seeking across sample descriptions: ffmpeg's libraries, GStreamer, mpv
  libavformat-dev gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  gstreamer1.0-tools python3-gst-1.0 python3-gi mpv
  # the README's recipe for large archives
  parallel
  # benchmark scripts
  bc time
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # the Debian package (scripts/package.sh) and its checks: lintian, the validators of the
  # desktop entry, AppStream metadata and file type, the icon's PNGs, manual pages, bash
  # completion, and the installed program's run (scripts/test-package.sh, tests/packaging/)
  dpkg-dev lintian desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl
  librsvg2-bin man-db bash-completion strace qt6-qpa-plugins
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
