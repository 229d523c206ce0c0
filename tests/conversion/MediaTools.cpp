#include "MediaTools.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

std::vector<std::string> Lines(const std::string& AText) {
  std::vector<std::string> lines;
  std::istringstream in(AText);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string FindProgram(const std::string& AName) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + AName;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

}  // namespace

TProcessResult RunTool(const std::string& AName, const std::vector<std::string>& AArgs) {
  std::vector<std::string> argv{FindProgram(AName)};
  if (argv[0].empty()) {
    TProcessResult r;
    r.Err = AName + " not found on PATH";
    return r;
  }
  argv.insert(argv.end(), AArgs.begin(), AArgs.end());
  return RunProcess(argv);
}

std::string EncodeTestH264(const std::string& ADir, const std::string& AName, const TH264TestStream& AStream) {
  std::string out = ADir + "/" + AName;
  std::string params = "scenecut=0:bframes=0";
  if (!AStream.X264Params.empty()) params += ":" + AStream.X264Params;
  std::string source = AStream.Source + "=size=" + std::to_string(AStream.Width) + "x" +
                       std::to_string(AStream.Height) + ":rate=" + std::to_string(AStream.Fps);
  TProcessResult r = RunTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", source, "-frames:v",
                                        std::to_string(AStream.Frames), "-pix_fmt", "yuv420p", "-c:v", "libx264",
                                        "-preset", AStream.Preset, "-g", std::to_string(AStream.Gop),
                                        "-keyint_min", std::to_string(AStream.Gop), "-x264-params", params,
                                        "-f", "h264", out});
  if (r.ExitCode != 0) return "";
  return ReadFileBytes(out);
}

std::vector<std::string> EncodeTestAacFrames(const std::string& ADir, double ASeconds) {
  std::string out = ADir + "/tone.aac";
  TProcessResult r = RunTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=440:sample_rate=8000:duration=" + std::to_string(ASeconds),
                                        "-ac", "1", "-c:a", "aac", "-f", "adts", out});
  std::vector<std::string> frames;
  if (r.ExitCode != 0) return frames;
  std::string adts = ReadFileBytes(out);
  size_t pos = 0;
  while (pos + 7 <= adts.size()) {
    const auto* h = reinterpret_cast<const unsigned char*>(adts.data() + pos);
    if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) break;
    size_t headerLen = (h[1] & 1) ? 7 : 9;  // protection_absent
    size_t frameLen = ((h[3] & 3u) << 11) | (size_t{h[4]} << 3) | (h[5] >> 5);
    if (frameLen < headerLen || pos + frameLen > adts.size()) break;
    frames.push_back(adts.substr(pos + headerLen, frameLen - headerLen));
    pos += frameLen;
  }
  return frames;
}

TDecodeResult DecodeVideoHashes(const std::string& AFileName) {
  TDecodeResult result;
  TProcessResult r = RunTool("ffmpeg", {"-nostdin", "-v", "warning", "-i", AFileName, "-map", "0:v:0",
                                        "-autoscale", "0", "-f", "framemd5", "-"});
  result.Errors = r.Err;
  result.Ok = r.ExitCode == 0 && r.Err.empty();
  for (const std::string& line : Lines(r.Out)) {
    if (line[0] == '#') continue;
    size_t comma = line.rfind(',');
    if (comma == std::string::npos) continue;
    size_t start = line.find_first_not_of(' ', comma + 1);
    result.Hashes.push_back(line.substr(start));
  }
  return result;
}

TDecodedSamples DecodeAudioSamples(const std::string& AFileName) {
  TDecodedSamples result;
  TProcessResult r = RunTool("ffmpeg", {"-nostdin", "-v", "warning", "-i", AFileName, "-map", "0:a:0", "-f", "s16le",
                                        "-acodec", "pcm_s16le", "-"});
  result.Errors = r.Err;
  result.Ok = r.ExitCode == 0 && r.Err.empty();
  result.Samples.resize(r.Out.size() / 2);
  for (size_t i = 0; i < result.Samples.size(); ++i) {
    result.Samples[i] = static_cast<int16_t>(static_cast<uint8_t>(r.Out[2 * i]) |
                                             (static_cast<uint8_t>(r.Out[2 * i + 1]) << 8));
  }
  return result;
}

std::map<std::string, std::string> ProbeStream(const std::string& AFileName, const std::string& AStream,
                                               const std::string& AEntries, bool ACountFrames) {
  std::vector<std::string> args{"-v", "error", "-select_streams", AStream, "-show_entries",
                                "stream=" + AEntries, "-of", "default=noprint_wrappers=1"};
  if (ACountFrames) args.insert(args.begin(), "-count_frames");
  args.push_back(AFileName);
  std::map<std::string, std::string> values;
  for (const std::string& line : Lines(RunTool("ffprobe", args).Out)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

std::vector<std::string> ProbeFrameSizes(const std::string& AFileName) {
  std::vector<std::string> sizes;
  TProcessResult r = RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                         "frame=width,height", "-of", "csv=p=0", AFileName});
  for (const std::string& line : Lines(r.Out)) {
    // "width,height" and, for some pictures, empty fields of side data after them.
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    size_t end = line.find(',', comma + 1);
    sizes.push_back(line.substr(0, comma) + "x" + line.substr(comma + 1, end == std::string::npos ? end : end - comma - 1));
  }
  return sizes;
}

std::vector<std::string> ProbePacketFlags(const std::string& AFileName, const std::string& AStream) {
  TProcessResult r = RunTool("ffprobe", {"-v", "error", "-select_streams", AStream, "-show_entries",
                                         "packet=flags", "-of", "csv=p=0", AFileName});
  return Lines(r.Out);
}

std::string ProbeWarnings(const std::string& AFileName) {
  TProcessResult r = RunTool("ffprobe", {"-v", "warning", "-show_packets", "-show_streams", AFileName});
  if (r.ExitCode != 0 && r.Err.empty()) return "ffprobe failed with status " + std::to_string(r.ExitCode);
  return r.Err;
}
