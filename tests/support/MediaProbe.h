// ffprobe and ffmpeg as independent judges of the files we write.
#pragma once

#include <string>
#include <vector>

struct TMediaStream {
  std::string CodecType;  // "video" / "audio"
  std::string CodecName;  // "h264", "aac", ...
  int Width = 0, Height = 0;
  int SampleRate = 0, Channels = 0;
  long long Frames = -1;    // frames counted by decoding (nb_read_frames)
  double Duration = -1;     // stream duration in seconds
};

struct TMediaInfo {
  bool Ok = false;          // ffprobe read the file
  std::string Errors;       // what ffprobe printed at level "warning" and above
  std::vector<TMediaStream> Streams;
  const TMediaStream* Video() const;
  const TMediaStream* Audio() const;
};

// Runs ffprobe with frame counting over a file.
TMediaInfo ProbeMedia(const std::string& AFileName);
// Decodes the whole file with ffmpeg; returns what it reported at level "error" (empty
// when the file decoded cleanly) and sets AOk to ffmpeg's success.
std::string DecodeErrors(const std::string& AFileName, bool* AOk = nullptr);
// Per-frame MD5 of the decoded video, without time stamps (one hash per line).
std::vector<std::string> VideoFrameHashes(const std::string& AFileName, const std::string& AFormat = "");
