// The ffmpeg and ffprobe programs for tests, benchmarks and tools: making compressed test
// media (video frames, H.264 and AAC streams), and judging what we write independently of
// our own code (stream facts, packets, decoded pictures and their hashes, decoded audio).
// Both programs are found on PATH and run by RunTool; nothing else starts them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// ---- Running the programs ----

// The full path of a program found on PATH; empty when there is none. PATH is searched
// once per name.
std::string FindProgram(const std::string& AName);

struct TToolResult {
  int ExitCode = -1;        // 128 + the signal when a signal ended it; -1 when it did not start
  std::string Out;          // standard output
  std::string Err;          // standard error, or why the program did not start
  double CpuSeconds = 0;    // processor time it took (user + system)
};

// Runs ffmpeg, ffprobe or another program found on PATH with the arguments, its standard
// input empty.
TToolResult RunTool(const std::string& AName, const std::vector<std::string>& AArgs);

// ---- Test media made by ffmpeg ----

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

struct TH264TestStream {
  int Width = 176;
  int Height = 144;
  int Frames = 30;
  int Fps = 25;
  int Gop = 10;             // an IDR picture every Gop pictures
  std::string X264Params;   // extra libx264 options, "slices=4:aud=1"
  std::string Source = "testsrc2";
  std::string Preset = "veryfast";
};

// Encodes the stream with libx264 into an Annex B file in ADir; returns its bytes
// (empty on failure). No B pictures, parameter sets before every IDR picture.
std::string EncodeTestH264(const std::string& ADir, const std::string& AName, const TH264TestStream& AStream);

// AAC-LC frames of a tone at 8000 Hz mono, ADTS headers removed.
std::vector<std::string> EncodeTestAacFrames(const std::string& ADir, double ASeconds);

// Wraps raw AAC frames (back to back, with their sizes) in ADTS headers built from the
// 2-byte AudioSpecificConfig, so a stand-alone decoder can read them.
std::vector<uint8_t> MakeAdtsStream(const std::vector<uint8_t>& ASpecificInfo, const std::vector<uint8_t>& AFrames,
                                    const std::vector<int32_t>& ASizes);

// ---- Stream facts and packets (ffprobe) ----

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

// Every stream of a file, its frames counted by decoding.
TMediaInfo ProbeMedia(const std::string& AFileName);

// ffprobe facts of one stream ("v:0", "a:0") as key → value ("duration", "nb_read_frames");
// empty when there is no such stream. AErrors receives what ffprobe reported.
std::map<std::string, std::string> ProbeStream(const std::string& AFileName, const std::string& AStream,
                                               const std::string& AEntries, bool ACountFrames = false,
                                               std::string* AErrors = nullptr);

// Per packet of a stream, in file order: the entries asked for ("flags", "pts",
// "pts_time"), separated by commas ("K__", "0.040000").
std::vector<std::string> ProbePackets(const std::string& AFileName, const std::string& AStream,
                                      const std::string& AEntries);

// Per decoded picture of the first video stream: the entries asked for
// ("pts_time,width,height"), separated by commas.
std::vector<std::string> ProbeFrames(const std::string& AFileName, const std::string& AEntries);
// Per decoded picture of the first video stream: "WxH".
std::vector<std::string> ProbeFrameSizes(const std::string& AFileName);

// What ffprobe reports at level warning or above while reading every packet of the file.
std::string ProbeWarnings(const std::string& AFileName);

// ---- Decoding (ffmpeg) ----

// Decodes the whole file (every stream); returns what ffmpeg reported at level "error"
// (empty when the file decoded cleanly) and sets AOk to ffmpeg's success.
std::string DecodeErrors(const std::string& AFileName, bool* AOk = nullptr);

struct TFrameHashes {
  bool Ok = false;                  // ffmpeg ran and reported nothing at level warning or above
  std::string Errors;               // what it reported
  std::vector<std::string> Hashes;  // one MD5 per decoded picture, in the order they come out
  std::vector<long long> Times;     // each picture's presentation time, in the stream's time base
};
// Decodes the first video stream of a file (an MP4 file, or an elementary stream of the
// ffmpeg format AFormat: "h264", "hevc", ...) to framemd5: every picture the decoder gives
// out, each at its own size.
TFrameHashes VideoFrameHashes(const std::string& AFileName, const std::string& AFormat = "");

// Pictures decoded by ffmpeg, in a planar format of 8 bits: 4:2:0 (I420: luma, Cb, Cr)
// or luma alone ("gray").
struct TDecodedVideo {
  int Width = 0;
  int Height = 0;
  TFrameList Pictures;
};

// Decodes the first video stream of a file (of the ffmpeg format AFormat, or any ffmpeg
// recognises when empty) into every picture the decoder gives out, in APixelFormat
// ("yuv420p", "yuvj420p" to keep a full-range source as it is, or "gray"), at the size
// ffprobe gives the stream. False (with the reason in AError) when ffmpeg or ffprobe fails
// or reports an error while decoding; the pictures decoded are kept all the same.
bool DecodePictures(const std::string& AFileName, const std::string& AFormat, TDecodedVideo& AVideo,
                    std::string* AError = nullptr, const std::string& APixelFormat = "yuv420p");
// The same for an elementary stream in memory ("h264", "hevc", "mjpeg", "m4v").
bool DecodeStream(const std::vector<uint8_t>& AStream, const std::string& AFormat,
                  TDecodedVideo& AVideo, std::string* AError = nullptr,
                  const std::string& APixelFormat = "yuv420p");

struct TDecodedSamples {
  bool Ok = false;                // ffmpeg ran and reported nothing (see DecodeAudioSamples)
  std::string Errors;             // what it reported
  std::vector<int16_t> Samples;
};
// Decodes the first audio stream of a file to 16-bit samples, as a player would (with
// the file's edit list honoured). AInputOptions, placed before "-i", say what a stream
// without a container holds ({"-f", "alaw", "-ar", "8000", "-ac", "1"}). Ok when ffmpeg
// succeeded and reported nothing at level warning or above; for ARawStream only errors
// count, since ffmpeg warns that it can merely estimate the duration of such a stream.
TDecodedSamples DecodeAudioSamples(const std::string& AFileName, bool ARawStream = false,
                                   const std::vector<std::string>& AInputOptions = {});

// Decodes G.711 code bytes with ffmpeg's "alaw" or "mulaw" decoder into 16-bit samples.
// False and a message in AError when ffmpeg fails.
bool FfmpegDecodeG711(const std::vector<uint8_t>& ACodes, bool AALaw, std::vector<int16_t>& ASamples,
                      std::string& AError);

struct TDecodedAudio {
  int SampleRate = 0;
  int Channels = 0;
  std::vector<int16_t> Samples;
};
// Decodes an ADTS stream of AAC LC with ffmpeg's AAC decoder; ffprobe tells its rate and
// channels.
bool FfmpegDecodeAdts(const std::vector<uint8_t>& AAdts, TDecodedAudio& AAudio, std::string& AError);

// Signal-to-noise ratio in dB of ADecoded[AOffset + i] against AInput[i] for i in
// [AFrom, ATo); +inf for an exact match.
double SignalToNoiseDb(const std::vector<int16_t>& AInput, const std::vector<int16_t>& ADecoded, size_t AOffset,
                       size_t AFrom, size_t ATo);
