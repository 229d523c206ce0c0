// Compressed video frames and decoded pictures made by the ffmpeg and ffprobe programs
// (found on PATH): input frames for the transcoder's tests and benchmarks, and an
// independent decoder that judges the H.264 we produce.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using TFrameList = std::vector<std::vector<uint8_t>>;

struct TCodecFramesSpec {
  // ffmpeg encoder name: "mjpeg", "mpeg4", "libx265", "libx264", ...
  std::string Encoder = "mjpeg";
  int Width = 320;
  int Height = 240;
  int Frames = 10;
  int Rate = 25;
  // A lavfi video source ("testsrc2", "smptebars", "mandelbrot", ...) or a whole lavfi
  // graph when it contains '='; its size and rate are set from the fields above unless the
  // graph sets them.
  std::string Source = "testsrc2";
  // Further output options, placed after "-c:v ENCODER".
  std::vector<std::string> Options;
};

// The options that make frames as a recorder's stream holds them for a record video
// encoding type (0 MPEG-4, 1 H.264, 2 Motion JPEG, 3 H.265): no frame reordering, the
// parameter sets in the stream. Empty Encoder when the type is unknown.
TCodecFramesSpec RecorderFramesSpec(uint8_t AVideoType, int AWidth, int AHeight, int AFrames);

// Encodes ASpec.Frames frames and returns each compressed frame on its own, in order.
// False (with the reason in AError) when ffmpeg fails or gives a different count.
bool MakeCodecFrames(const TCodecFramesSpec& ASpec, TFrameList& AFrames,
                     std::string* AError = nullptr);

// Writes the frames one after another: the codec's elementary stream.
std::vector<uint8_t> JoinFrames(const TFrameList& AFrames);

// Pictures decoded by ffmpeg as planar 4:2:0 (I420: luma, Cb, Cr).
struct TDecodedVideo {
  int Width = 0;
  int Height = 0;
  TFrameList Pictures;
};

// Decodes an elementary stream of the ffmpeg format AFormat ("h264", "hevc", "mjpeg",
// "m4v") with ffmpeg, into pictures of APixelFormat (a planar 4:2:0 format of 8 bits:
// "yuv420p", or "yuvj420p" to keep a full-range source as it is). False (with the reason
// in AError) when ffmpeg or ffprobe fails or reports an error while decoding.
bool DecodeStream(const std::vector<uint8_t>& AStream, const std::string& AFormat,
                  TDecodedVideo& AVideo, std::string* AError = nullptr,
                  const std::string& APixelFormat = "yuv420p");

// Runs a program found on PATH; true when it exits with 0. Its standard error goes to
// AErrors and its standard output to AOutput when given (else it is discarded);
// ACpuSeconds receives the processor time (user + system) it took.
bool RunTool(const std::vector<std::string>& AArgs, std::string* AErrors = nullptr,
             std::string* AOutput = nullptr, double* ACpuSeconds = nullptr);
