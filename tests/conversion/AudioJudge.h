// ffmpeg and ffprobe as independent judges of the audio units: decoding G.711 code bytes
// and raw AAC frames with FFmpeg's own decoders, and measuring how close a decoded signal
// is to what went in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The full path of a program found on PATH; empty when there is none.
std::string FindProgram(const std::string& AName);

// Decodes G.711 code bytes with ffmpeg's "alaw" or "mulaw" decoder into 16-bit samples.
// False and a message in AError when ffmpeg fails.
bool FfmpegDecodeG711(const std::vector<uint8_t>& ACodes, bool AALaw, std::vector<int16_t>& ASamples,
                      std::string& AError);

// Wraps raw AAC frames (back to back, with their sizes) in ADTS headers built from the
// 2-byte AudioSpecificConfig, so a stand-alone decoder can read them.
std::vector<uint8_t> MakeAdtsStream(const std::vector<uint8_t>& ASpecificInfo, const std::vector<uint8_t>& AFrames,
                                    const std::vector<int32_t>& ASizes);

struct TDecodedAudio {
  int SampleRate = 0;
  int Channels = 0;
  std::vector<int16_t> Samples;
};
// Decodes an ADTS stream with ffmpeg's AAC decoder; ffprobe tells its rate and channels.
bool FfmpegDecodeAdts(const std::vector<uint8_t>& AAdts, TDecodedAudio& AAudio, std::string& AError);

// Signal-to-noise ratio in dB of ADecoded[AOffset + i] against AInput[i] for i in
// [AFrom, ATo); +inf for an exact match.
double SignalToNoiseDb(const std::vector<int16_t>& AInput, const std::vector<int16_t>& ADecoded, size_t AOffset,
                       size_t AFrom, size_t ATo);
