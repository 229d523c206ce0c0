#!/usr/bin/python3
"""Plays an MP4 through GStreamer (qtdemux ! h264parse ! avdec_h264) up to PLAY_TO
seconds, seeks back to SEEK_TO seconds and decodes on to the end, as a player does when its
user plays past a point and jumps back. A negative SEEK_TO plays the file through without a
seek.

Prints one line per decoded picture, "PTS_SECONDS WIDTHxHEIGHT", in the order they came, a
line "seek" where the seek happened, and on standard error every error the pipeline or the
decoder reported. Exit status: 0 when nothing was reported, 1 otherwise, 2 for bad usage.

    scripts/check-seek-gst.py FILE PLAY_TO SEEK_TO
"""
import os
import sys
import tempfile

# The decoder's own complaints ("error while decoding MB", "concealing ... errors") reach
# GStreamer's log only; ask for them and read them from standard error afterwards.
os.environ.setdefault("GST_DEBUG", "libav:2")
os.environ["GST_DEBUG_NO_COLOR"] = "1"

import gi  # noqa: E402

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    path, play_to, seek_to = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
    # GStreamer's log goes to a file of its own while the pipeline runs.
    sys.stderr.flush()
    log = tempfile.TemporaryFile()
    saved_stderr = os.dup(2)
    os.dup2(log.fileno(), 2)
    try:
        problems = play(path, play_to, seek_to)
    finally:
        sys.stderr.flush()
        os.dup2(saved_stderr, 2)
        os.close(saved_stderr)
    log.seek(0)
    lines = log.read().decode("utf-8", "replace").splitlines()
    complaints = [line for line in lines if " ERROR " in line or " WARN " in line]
    for line in lines:
        print(line, file=sys.stderr)
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems or complaints else 0


def play(path, play_to, seek_to):
    """Runs the pipeline; returns the problems the bus or the seek reported."""
    Gst.init(None)
    pipeline = Gst.parse_launch(
        "filesrc name=src ! qtdemux ! h264parse ! avdec_h264 ! appsink name=sink sync=false max-buffers=4"
    )
    pipeline.get_by_name("src").set_property("location", path)
    sink = pipeline.get_by_name("sink")
    bus = pipeline.get_bus()
    problems = []
    pipeline.set_state(Gst.State.PLAYING)
    seeked = False
    while True:
        msg = bus.pop_filtered(Gst.MessageType.ERROR | Gst.MessageType.WARNING)
        while msg:
            err, dbg = msg.parse_error() if msg.type == Gst.MessageType.ERROR else msg.parse_warning()
            problems.append(f"{msg.src.get_name()}: {err.message}")
            msg = bus.pop_filtered(Gst.MessageType.ERROR | Gst.MessageType.WARNING)
        sample = sink.emit("try-pull-sample", 5 * Gst.SECOND)
        if sample is None:
            break  # the end (or a stall, reported below by the missing pictures)
        buf = sample.get_buffer()
        s = sample.get_caps().get_structure(0)
        pts = buf.pts / Gst.SECOND
        print(f"{pts:.3f} {s.get_value('width')}x{s.get_value('height')}", flush=True)
        if seek_to >= 0 and not seeked and pts >= play_to:
            seeked = True
            ok = pipeline.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE,
                                      int(seek_to * Gst.SECOND))
            print("seek", flush=True)
            if not ok:
                problems.append("the seek was refused")
    pipeline.set_state(Gst.State.NULL)
    if seek_to >= 0 and not seeked:
        problems.append(f"the stream ended before {play_to} s")
    return problems


if __name__ == "__main__":
    sys.exit(main())
