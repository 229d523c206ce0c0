// ffprobe and ffmpeg as judges now live in tools/UFfmpegMedia.h; this name stays for the
// tests that still include it.
#include "UFfmpegMedia.h"
