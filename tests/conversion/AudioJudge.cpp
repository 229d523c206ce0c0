#include "AudioJudge.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <unistd.h>

#include "TestSupport.h"

namespace {

std::string ToBytes(const std::vector<uint8_t>& AData) { return std::string(AData.begin(), AData.end()); }

std::vector<int16_t> ToSamples(const std::string& ABytes) {
  std::vector<int16_t> s(ABytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(ABytes[2 * i]) |
                                                      (static_cast<uint8_t>(ABytes[2 * i + 1]) << 8)));
  return s;
}

}  // namespace

std::string FindProgram(const std::string& AName) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    std::string full = (dir.empty() ? "." : dir) + "/" + AName;
    if (::access(full.c_str(), X_OK) == 0) return full;
  }
  return std::string();
}

bool FfmpegDecodeG711(const std::vector<uint8_t>& ACodes, bool AALaw, std::vector<int16_t>& ASamples,
                      std::string& AError) {
  std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    AError = "ffmpeg not found";
    return false;
  }
  TTempDir dir;
  std::string in = dir.File("codes.g711"), out = dir.File("pcm.raw");
  WriteFileBytes(in, ToBytes(ACodes));
  TProcessResult r = RunProcess({ffmpeg, "-nostdin", "-v", "error", "-f", AALaw ? "alaw" : "mulaw", "-ar", "8000",
                                 "-ac", "1", "-i", in, "-f", "s16le", "-c:a", "pcm_s16le", out});
  if (r.ExitCode != 0) {
    AError = r.Err;
    return false;
  }
  ASamples = ToSamples(ReadFileBytes(out));
  return true;
}

std::vector<uint8_t> MakeAdtsStream(const std::vector<uint8_t>& ASpecificInfo, const std::vector<uint8_t>& AFrames,
                                    const std::vector<int32_t>& ASizes) {
  std::vector<uint8_t> out;
  if (ASpecificInfo.size() < 2) return out;
  const unsigned objectType = ASpecificInfo[0] >> 3;
  const unsigned rateIndex = ((ASpecificInfo[0] & 7u) << 1) | (ASpecificInfo[1] >> 7);
  const unsigned channels = (ASpecificInfo[1] >> 3) & 0xFu;
  size_t offset = 0;
  for (int32_t size : ASizes) {
    const unsigned length = 7 + static_cast<unsigned>(size);
    // Sync word, MPEG-4, no CRC; profile, rate, channels; frame length; buffer fullness.
    const uint8_t head[7] = {
        0xFF,
        0xF1,
        static_cast<uint8_t>(((objectType - 1) << 6) | (rateIndex << 2) | (channels >> 2)),
        static_cast<uint8_t>(((channels & 3u) << 6) | (length >> 11)),
        static_cast<uint8_t>((length >> 3) & 0xFFu),
        static_cast<uint8_t>(((length & 7u) << 5) | 0x1Fu),
        0xFC,
    };
    out.insert(out.end(), head, head + 7);
    out.insert(out.end(), AFrames.begin() + static_cast<ptrdiff_t>(offset),
               AFrames.begin() + static_cast<ptrdiff_t>(offset + static_cast<size_t>(size)));
    offset += static_cast<size_t>(size);
  }
  return out;
}

bool FfmpegDecodeAdts(const std::vector<uint8_t>& AAdts, TDecodedAudio& AAudio, std::string& AError) {
  std::string ffmpeg = FindProgram("ffmpeg"), ffprobe = FindProgram("ffprobe");
  if (ffmpeg.empty() || ffprobe.empty()) {
    AError = "ffmpeg or ffprobe not found";
    return false;
  }
  TTempDir dir;
  std::string in = dir.File("audio.aac"), out = dir.File("pcm.raw");
  WriteFileBytes(in, ToBytes(AAdts));
  TProcessResult probe = RunProcess({ffprobe, "-v", "error", "-select_streams", "a:0", "-show_entries",
                                     "stream=codec_name,profile,sample_rate,channels", "-of",
                                     "default=noprint_wrappers=1", in});
  if (probe.ExitCode != 0) {
    AError = probe.Err;
    return false;
  }
  std::stringstream lines(probe.Out);
  std::string line;
  bool isAacLc = false;
  while (std::getline(lines, line)) {
    if (line.rfind("sample_rate=", 0) == 0) AAudio.SampleRate = std::atoi(line.c_str() + 12);
    if (line.rfind("channels=", 0) == 0) AAudio.Channels = std::atoi(line.c_str() + 9);
    if (line == "profile=LC") isAacLc = true;
  }
  if (!isAacLc) {
    AError = "not AAC LC: " + probe.Out;
    return false;
  }
  TProcessResult r = RunProcess({ffmpeg, "-nostdin", "-v", "error", "-i", in, "-f", "s16le", "-c:a", "pcm_s16le", out});
  if (r.ExitCode != 0 || !r.Err.empty()) {
    AError = "ffmpeg: " + r.Err;
    return false;
  }
  AAudio.Samples = ToSamples(ReadFileBytes(out));
  return true;
}

double SignalToNoiseDb(const std::vector<int16_t>& AInput, const std::vector<int16_t>& ADecoded, size_t AOffset,
                       size_t AFrom, size_t ATo) {
  double signal = 0, noise = 0;
  for (size_t i = AFrom; i < ATo && i < AInput.size(); ++i) {
    double x = AInput[i];
    double y = AOffset + i < ADecoded.size() ? ADecoded[AOffset + i] : 0.0;
    signal += x * x;
    noise += (x - y) * (x - y);
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}
