# Helpers of the benchmark scripts (sourced, not run).

now() { date +%s.%N; }
# The smallest of the numbers given.
best() { printf '%s\n' "$@" | sort -g | head -1; }
# Peak resident memory of a command, in KiB.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

# Audio payloads of a recording as one raw G.711 / PCM stream, for ffmpeg's input.
extract_audio() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read(); p = 0; out = bytearray()
while p + 16 <= len(d):
    cmd, ln = struct.unpack_from('<H', d, p + 6)[0], struct.unpack_from('<H', d, p + 14)[0]; p += 16
    if cmd in (769, 770):
        fl = struct.unpack_from('<I', d, p + 12)[0]; p += 24
        if cmd == 770: out += d[p:p + fl]
        p += fl
    else:
        p += ln
open(sys.argv[2], 'wb').write(out)
PY
}
