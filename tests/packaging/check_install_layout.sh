#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands where: exactly the
# expected files, the programs' run path to their private libraries, and the installed
# vyrconvert converting a recording with libraries of the installed tree only (ffprobe
# judges the MP4).
#
#   check_install_layout.sh BUILD_DIR SAMPLE.vyr VERSION GUI(ON|OFF) PRIVATE_LIBDIR
#
# SAMPLE should be a recording whose video is transcoded, so that both private libraries
# do their work.
set -euo pipefail
build="$1" sample="$2" version="$3" gui="$4" libdir="$5"
app_id=org.vyrtranscode.VyrTranscode
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/usr" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
cd "$tmp/usr"

# ---- exactly these files and links ---------------------------------------------------
expected=(
  bin/vyrconvert
  "$libdir/libQorraEncoder.so.1"
  "$libdir/libQorraEncoder.so.1.0.0.2"
  "$libdir/libVidrex.so.1"
  "$libdir/libVidrex.so.1.0.0"
  share/bash-completion/completions/vyrconvert
  share/doc/vyrtranscode/changelog.gz
  share/doc/vyrtranscode/copyright
  share/man/man1/vyrconvert.1.gz
)
if [ "$gui" = ON ]; then
  expected+=(
    bin/VyrTranscode
    bin/vyrtranscode
    share/applications/$app_id.desktop
    share/icons/hicolor/scalable/apps/$app_id.svg
    share/man/man1/VyrTranscode.1.gz
    share/man/man1/vyrtranscode.1.gz
    share/metainfo/$app_id.metainfo.xml
    share/mime/packages/vyrtranscode.xml
    share/vyrtranscode/Language/Chinese.ini
    share/vyrtranscode/Language/English.ini
    share/vyrtranscode/Styles/Sky.qss
  )
  for size in 16 22 24 32 48 64 128 256; do
    expected+=(share/icons/hicolor/${size}x${size}/apps/$app_id.png)
  done
fi
diff -u <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) <(find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort) ||
  fail "the installed files differ from the expected ones (- expected, + installed)"

# ---- links, modes, run paths ---------------------------------------------------------
if [ "$gui" = ON ]; then
  [ "$(readlink bin/vyrtranscode)" = VyrTranscode ] || fail "bin/vyrtranscode is not a link to VyrTranscode"
  [ "$(readlink share/man/man1/vyrtranscode.1.gz)" = VyrTranscode.1.gz ] || fail "vyrtranscode.1.gz is not a link to VyrTranscode.1.gz"
  programs=(bin/vyrconvert bin/VyrTranscode)
else
  programs=(bin/vyrconvert)
fi
for lib in "$libdir/libQorraEncoder.so.1.0.0.2" "$libdir/libVidrex.so.1.0.0"; do
  [ "$(stat -c %a "$lib")" = 644 ] || fail "$lib has mode $(stat -c %a "$lib"), not 644"
  dynamic=$(readelf -d "$lib")
  if grep -E -q 'RPATH|RUNPATH' <<<"$dynamic"; then fail "$lib has a run path"; fi
done
for p in "${programs[@]}"; do
  [ -x "$p" ] || fail "$p is not executable"
  runpath=$(readelf -d "$p" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = "\$ORIGIN/../$libdir" ] || fail "$p has the run path '$runpath'"
  # Both libraries come from the installed tree, not from the build folder.
  libs=$(env -u LD_LIBRARY_PATH ldd "$p")
  for lib in libQorraEncoder.so.1 libVidrex.so.1; do
    grep -q -F "$lib => $tmp/usr/bin/../$libdir/$lib " <<<"$libs" ||
      fail "$p does not find $lib in $libdir: $(grep -F "$lib" <<<"$libs")"
  done
done

# ---- the installed converter at work -------------------------------------------------
[ "$(env -u LD_LIBRARY_PATH bin/vyrconvert --version)" = "vyrconvert $version" ] || fail "vyrconvert --version"
env -u LD_LIBRARY_PATH bin/vyrconvert -o "$tmp/out" "$sample" >"$tmp/convert.log" 2>&1 ||
  { cat "$tmp/convert.log"; fail "the installed vyrconvert failed"; }
mp4="$tmp/out/$(basename "${sample%????}").mp4"
codecs=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mp4" | LC_ALL=C sort | tr '\n' ' ')
[ "$codecs" = "aac h264 " ] || fail "ffprobe sees the streams '$codecs' in $mp4"
ffmpeg -nostdin -v error -i "$mp4" -f null - 2>"$tmp/decode.log"
[ ! -s "$tmp/decode.log" ] || { cat "$tmp/decode.log"; fail "ffmpeg could not decode $mp4 cleanly"; }
echo "install layout: ${#expected[@]} files, run paths and the installed vyrconvert are right"
