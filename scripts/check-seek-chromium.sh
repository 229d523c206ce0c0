#!/usr/bin/env bash
# Plays an MP4 in headless Chromium (Debian's chromium) in a <video> element up to PLAY_TO
# seconds, seeks back to SEEK_TO seconds and plays on to the end, as a viewer does; prints
# what the page saw: the picture size at each moment it changed, every error of the element,
# the decoded, dropped and corrupted picture counts, and "ended" when it reached the end.
# Exit status 0 when the video played to its end without an error, 1 otherwise.
# The page writes its notes to the console; Chromium's log is read until the page says it is
# done (at most 60 s).
#   scripts/check-seek-chromium.sh FILE.mp4 PLAY_TO SEEK_TO
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: $0 FILE.mp4 PLAY_TO SEEK_TO" >&2; exit 2; }
file=$(realpath "$1"); play_to=$2; seek_to=$3
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$file" "$work/video.mp4"
cat > "$work/page.html" <<HTML
<!doctype html><meta charset="utf-8"><title>check</title>
<video id="v" src="video.mp4" muted playsinline></video>
<script>
const v = document.getElementById('v');
let seeked = false, lastSize = '', failed = false;
const note = (t) => console.log('NOTE ' + t);
const size = () => {
  const s = v.videoWidth + 'x' + v.videoHeight;
  if (s !== lastSize) { lastSize = s; note('size ' + s + ' at ' + v.currentTime.toFixed(3)); }
};
const done = () => {
  const q = v.getVideoPlaybackQuality ? v.getVideoPlaybackQuality() : null;
  if (q) note('pictures decoded ' + q.totalVideoFrames + ' dropped ' + q.droppedVideoFrames + ' corrupted ' + q.corruptedVideoFrames);
  note('DONE');
};
v.addEventListener('error', () => { failed = true; note('error ' + (v.error ? v.error.code + ' ' + v.error.message : '')); done(); });
v.addEventListener('timeupdate', () => {
  size();
  if (!seeked && v.currentTime >= $play_to) { seeked = true; note('seek at ' + v.currentTime.toFixed(3)); v.currentTime = $seek_to; }
});
v.addEventListener('seeked', () => { note('seeked at ' + v.currentTime.toFixed(3)); size(); });
v.addEventListener('resize', size);
v.addEventListener('ended', () => { note(failed ? 'ended after an error' : 'ended'); done(); });
v.play().catch((e) => { note('play refused: ' + e); done(); });
</script>
HTML
timeout 60 chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$work/profile" \
  --autoplay-policy=no-user-gesture-required --mute-audio --allow-file-access-from-files \
  --enable-logging=stderr --v=0 "file://$work/page.html" 2>"$work/log" >/dev/null &
pid=$!
for _ in $(seq 1 120); do
  grep -q "NOTE DONE" "$work/log" 2>/dev/null && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.5
done
kill $pid 2>/dev/null; wait $pid 2>/dev/null
grep -o 'NOTE [^"]*' "$work/log" | sed 's/^NOTE //' | grep -vx DONE
grep -q 'NOTE error' "$work/log" && exit 1
grep -q 'NOTE ended"' "$work/log" || exit 1
exit 0
