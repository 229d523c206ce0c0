#include "MediaProbe.h"

#include <cstdlib>
#include <sstream>

#include "TestSupport.h"

const TMediaStream* TMediaInfo::Video() const {
  for (const TMediaStream& s : Streams)
    if (s.CodecType == "video") return &s;
  return nullptr;
}

const TMediaStream* TMediaInfo::Audio() const {
  for (const TMediaStream& s : Streams)
    if (s.CodecType == "audio") return &s;
  return nullptr;
}

TMediaInfo ProbeMedia(const std::string& AFileName) {
  TMediaInfo info;
  TProcessResult r = RunProcess({"/usr/bin/ffprobe", "-v", "warning", "-count_frames", "-show_entries",
                                 "stream=codec_type,codec_name,width,height,sample_rate,channels,nb_read_frames,"
                                 "duration",
                                 "-of", "default=noprint_wrappers=0", AFileName});
  info.Ok = r.ExitCode == 0;
  info.Errors = r.Err;
  std::istringstream in(r.Out);
  std::string line;
  TMediaStream* cur = nullptr;
  while (std::getline(in, line)) {
    if (line == "[STREAM]") {
      info.Streams.emplace_back();
      cur = &info.Streams.back();
      continue;
    }
    size_t eq = line.find('=');
    if (!cur || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value == "N/A") continue;
    if (key == "codec_type") cur->CodecType = value;
    else if (key == "codec_name") cur->CodecName = value;
    else if (key == "width") cur->Width = std::atoi(value.c_str());
    else if (key == "height") cur->Height = std::atoi(value.c_str());
    else if (key == "sample_rate") cur->SampleRate = std::atoi(value.c_str());
    else if (key == "channels") cur->Channels = std::atoi(value.c_str());
    else if (key == "nb_read_frames") cur->Frames = std::atoll(value.c_str());
    else if (key == "duration") cur->Duration = std::atof(value.c_str());
  }
  return info;
}

std::string DecodeErrors(const std::string& AFileName, bool* AOk) {
  TProcessResult r = RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i", AFileName, "-f", "null", "-"});
  if (AOk) *AOk = r.ExitCode == 0;
  return r.Err;
}

std::vector<std::string> VideoFrameHashes(const std::string& AFileName, const std::string& AFormat) {
  std::vector<std::string> args = {"/usr/bin/ffmpeg", "-v", "error", "-nostdin"};
  if (!AFormat.empty()) {
    args.push_back("-f");
    args.push_back(AFormat);
  }
  for (const std::string& a : {std::string("-i"), AFileName, std::string("-map"), std::string("0:v:0"),
                               std::string("-f"), std::string("framemd5"), std::string("-")})
    args.push_back(a);
  TProcessResult r = RunProcess(args);
  std::vector<std::string> hashes;
  std::istringstream in(r.Out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t last = line.rfind(',');
    if (last != std::string::npos) hashes.push_back(line.substr(last + 1));
  }
  return hashes;
}
