#!/usr/bin/env bash
# Plays an MP4 in headless Chromium (Debian's chromium) in a <video> element up to PLAY_TO
# seconds, seeks back to SEEK_TO seconds and plays on to the end, as a viewer does; prints
# what the page saw: the picture size at each moment it changed, every error of the element,
# and "ended" when it reached the end. Exit status 0 when the video played to its end without
# an error, 1 otherwise. (On a machine without a display, headless Chromium may load the
# video but not advance its playback at all: try a file made by ffmpeg first.)
#   scripts/check-seek-chromium.sh FILE.mp4 PLAY_TO SEEK_TO
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 FILE.mp4 PLAY_TO SEEK_TO" >&2; exit 2; }
file=$(realpath "$1"); play_to=$2; seek_to=$3
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$file" "$work/video.mp4"
cat > "$work/page.html" <<HTML
<!doctype html><meta charset="utf-8"><title>running</title>
<video id="v" src="video.mp4" muted playsinline></video><pre id="log"></pre>
<script>
const v = document.getElementById('v'), log = [];
let seeked = false, lastSize = '', failed = false;
const note = (t) => { log.push(t); document.getElementById('log').textContent = log.join('\n'); };
const size = () => {
  const s = v.videoWidth + 'x' + v.videoHeight;
  if (s !== lastSize) { lastSize = s; note('size ' + s + ' at ' + v.currentTime.toFixed(3)); }
};
v.addEventListener('error', () => { failed = true; note('error ' + (v.error ? v.error.code + ' ' + v.error.message : '')); document.title = 'done'; });
v.addEventListener('timeupdate', () => {
  size();
  if (!seeked && v.currentTime >= $play_to) { seeked = true; note('seek'); v.currentTime = $seek_to; }
});
v.addEventListener('seeked', () => { note('seeked at ' + v.currentTime.toFixed(3)); size(); });
v.addEventListener('resize', size);
v.addEventListener('ended', () => { note(failed ? 'ended after an error' : 'ended'); document.title = 'done'; });
v.play().catch((e) => { note('play refused: ' + e); document.title = 'done'; });
</script>
HTML
out=$(timeout 120 chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$work/profile" \
  --autoplay-policy=no-user-gesture-required --disable-audio-output --mute-audio --allow-file-access-from-files --timeout=15000 \
  --dump-dom "file://$work/page.html" 2>/dev/null || true)
text=$(printf '%s' "$out" | /usr/bin/python3 -c 'import html, re, sys
m = re.search(r"<pre id=\"log\">(.*?)</pre>", sys.stdin.read(), re.S)
print(html.unescape(m.group(1)) if m else "no page")')
printf '%s\n' "$text"
if printf '%s' "$text" | grep -q '^error' || ! printf '%s' "$text" | grep -qx 'ended'; then exit 1; fi
