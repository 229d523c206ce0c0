// ffmpeg and ffprobe for the tests: making H.264 and AAC test streams, and judging
// written files independently of our code (decoding, frame hashes, stream facts).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

// Runs ffmpeg or ffprobe (found on PATH) with the arguments.
TProcessResult RunTool(const std::string& AName, const std::vector<std::string>& AArgs);

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

struct TDecodeResult {
  bool Ok = false;                  // ffmpeg ran and reported nothing at level warning or above
  std::string Errors;               // what it reported
  std::vector<std::string> Hashes;  // one MD5 per decoded picture, time stamps left out
};
// Decodes the first video stream of a file (an MP4 file or a raw .h264 stream) to
// framemd5, each picture at its own size.
TDecodeResult DecodeVideoHashes(const std::string& AFileName);

// Decodes the first audio stream of a file to 16-bit samples, as a player would (with
// the file's edit list honoured). Ok as in TDecodeResult.
struct TDecodedSamples {
  bool Ok = false;
  std::string Errors;
  std::vector<int16_t> Samples;
};
TDecodedSamples DecodeAudioSamples(const std::string& AFileName);

// ffprobe facts of one stream ("v:0", "a:0") as key → value ("duration", "nb_read_frames").
std::map<std::string, std::string> ProbeStream(const std::string& AFileName, const std::string& AStream,
                                               const std::string& AEntries, bool ACountFrames = false);
// Per decoded picture of the first video stream: "WxH".
std::vector<std::string> ProbeFrameSizes(const std::string& AFileName);
// Per packet of a stream: its flags ("K__", "___").
std::vector<std::string> ProbePacketFlags(const std::string& AFileName, const std::string& AStream);
// What ffprobe reports at level warning or above while reading every packet of the file.
std::string ProbeWarnings(const std::string& AFileName);
