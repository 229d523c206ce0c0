#include "UFfmpegMedia.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <sstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "protocol/UOmCamProtocol.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A private temporary folder, removed with its contents.
class TScratchDir {
 public:
  TScratchDir() {
    std::string lTemplate = (fs::temp_directory_path() / "vyrmedia-XXXXXX").string();
    if (::mkdtemp(&lTemplate[0])) FPath = lTemplate;
  }
  ~TScratchDir() {
    std::error_code ec;
    if (!FPath.empty()) fs::remove_all(FPath, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  bool Valid() const { return !FPath.empty(); }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }

 private:
  std::string FPath;
};

bool ReadWhole(const std::string& AFile, std::vector<uint8_t>& ABytes) {
  std::ifstream in(AFile, std::ios::binary);
  if (!in) return false;
  ABytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteWhole(const std::string& AFile, const std::vector<uint8_t>& ABytes) {
  std::ofstream out(AFile, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ABytes.data()),
            static_cast<std::streamsize>(ABytes.size()));
  return static_cast<bool>(out);
}

std::string ReadText(const std::string& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SetError(std::string* AError, const std::string& AText) {
  if (AError) *AError = AText;
}

// The non-empty lines of a program's output, without a carriage return at their end.
std::vector<std::string> Lines(const std::string& AText) {
  std::vector<std::string> lLines;
  std::istringstream in(AText);
  std::string lLine;
  while (std::getline(in, lLine)) {
    if (!lLine.empty() && lLine.back() == '\r') lLine.pop_back();
    if (!lLine.empty()) lLines.push_back(lLine);
  }
  return lLines;
}

// Little-endian 16-bit samples.
std::vector<int16_t> ToSamples(const std::string& ABytes) {
  std::vector<int16_t> s(ABytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(ABytes[2 * i]) |
                                                      (static_cast<uint8_t>(ABytes[2 * i + 1]) << 8)));
  return s;
}

// "-f FORMAT", or nothing when ffmpeg is to recognise the input itself.
std::vector<std::string> InputFormat(const std::string& AFormat) {
  if (AFormat.empty()) return {};
  return {"-f", AFormat};
}

// Bytes of one picture of a planar 8-bit format: luma alone, or luma and two chroma
// planes of half the width and height (rounded up).
size_t PictureBytes(const std::string& APixelFormat, int AWidth, int AHeight) {
  const size_t lLuma = static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight);
  if (APixelFormat == "gray") return lLuma;
  return lLuma + 2 * (static_cast<size_t>(AWidth + 1) / 2) * (static_cast<size_t>(AHeight + 1) / 2);
}

}  // namespace

// ---- Running the programs ----

std::string FindProgram(const std::string& AName) {
  static std::mutex lLock;
  static std::map<std::string, std::string> lFound;
  std::lock_guard<std::mutex> lGuard(lLock);
  auto it = lFound.find(AName);
  if (it != lFound.end()) return it->second;
  std::string lPath;
  const char* lDirs = std::getenv("PATH");
  std::istringstream lList(lDirs ? lDirs : "/usr/bin:/bin");
  std::string lDir;
  while (lPath.empty() && std::getline(lList, lDir, ':')) {
    const std::string lCandidate = (lDir.empty() ? "." : lDir) + "/" + AName;
    struct stat st {};
    if (::stat(lCandidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(lCandidate.c_str(), X_OK) == 0)
      lPath = lCandidate;
  }
  lFound.emplace(AName, lPath);
  return lPath;
}

TToolResult RunTool(const std::string& AName, const std::vector<std::string>& AArgs) {
  TToolResult lResult;
  const std::string lProgram = FindProgram(AName);
  if (lProgram.empty()) {
    lResult.Err = AName + " not found on PATH";
    return lResult;
  }
  TScratchDir lDir;
  if (!lDir.Valid()) {
    lResult.Err = "cannot make a temporary folder for " + AName;
    return lResult;
  }
  // The output goes to files: a pipe would need draining while the program runs.
  const std::string lOutFile = lDir.File("stdout");
  const std::string lErrFile = lDir.File("stderr");
  posix_spawn_file_actions_t lActions;
  posix_spawn_file_actions_init(&lActions);
  posix_spawn_file_actions_addopen(&lActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&lActions, STDOUT_FILENO, lOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&lActions, STDERR_FILENO, lErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> lArgv{const_cast<char*>(lProgram.c_str())};
  for (const std::string& a : AArgs) lArgv.push_back(const_cast<char*>(a.c_str()));
  lArgv.push_back(nullptr);
  pid_t lPid = 0;
  const int lSpawn = posix_spawn(&lPid, lProgram.c_str(), &lActions, nullptr, lArgv.data(), environ);
  posix_spawn_file_actions_destroy(&lActions);
  if (lSpawn != 0) {
    lResult.Err = "cannot start " + lProgram;
    return lResult;
  }
  int lStatus = 0;
  struct rusage lUsage {};
  while (::wait4(lPid, &lStatus, 0, &lUsage) < 0 && errno == EINTR) {
  }
  lResult.CpuSeconds = static_cast<double>(lUsage.ru_utime.tv_sec + lUsage.ru_stime.tv_sec) +
                       static_cast<double>(lUsage.ru_utime.tv_usec + lUsage.ru_stime.tv_usec) / 1e6;
  if (WIFEXITED(lStatus)) lResult.ExitCode = WEXITSTATUS(lStatus);
  else if (WIFSIGNALED(lStatus)) lResult.ExitCode = 128 + WTERMSIG(lStatus);
  lResult.Out = ReadText(lOutFile);
  lResult.Err = ReadText(lErrFile);
  return lResult;
}

// ---- Test media made by ffmpeg ----

TCodecFramesSpec RecorderFramesSpec(uint8_t AVideoType, int AWidth, int AHeight, int AFrames) {
  TCodecFramesSpec lSpec;
  lSpec.Width = AWidth;
  lSpec.Height = AHeight;
  lSpec.Frames = AFrames;
  switch (AVideoType) {
    case OmVideoType_MPEG4:
      lSpec.Encoder = "mpeg4";
      lSpec.Options = {"-q:v", "2", "-bf", "0", "-g", "50"};
      break;
    case OmVideoType_H264:
      lSpec.Encoder = "libx264";
      lSpec.Options = {"-preset", "ultrafast", "-tune", "zerolatency", "-profile:v", "baseline",
                       "-g", "50", "-x264-params", "log=-1"};
      break;
    case OmVideoType_MJPEG:
      lSpec.Encoder = "mjpeg";
      lSpec.Options = {"-q:v", "2"};
      break;
    case OmVideoType_H265:
      lSpec.Encoder = "libx265";
      lSpec.Options = {"-preset", "ultrafast", "-tune", "zerolatency", "-g", "50",
                       "-x265-params", "log-level=error:repeat-headers=1"};
      break;
    default:
      lSpec.Encoder.clear();
      break;
  }
  return lSpec;
}

bool MakeCodecFrames(const TCodecFramesSpec& ASpec, TFrameList& AFrames, std::string* AError) {
  AFrames.clear();
  if (ASpec.Encoder.empty() || ASpec.Frames <= 0) {
    SetError(AError, "no encoder or no frames asked for");
    return false;
  }
  TScratchDir lDir;
  if (!lDir.Valid()) {
    SetError(AError, "cannot make a temporary folder");
    return false;
  }
  std::string lSource = ASpec.Source;
  if (lSource.find('=') == std::string::npos) {
    lSource += "=size=" + std::to_string(ASpec.Width) + "x" + std::to_string(ASpec.Height) +
               ":rate=" + std::to_string(ASpec.Rate);
  }
  std::vector<std::string> lArgs = {"-nostdin", "-hide_banner", "-loglevel", "error",
                                    "-f", "lavfi", "-i", lSource,
                                    "-frames:v", std::to_string(ASpec.Frames),
                                    "-pix_fmt", ASpec.Encoder == "mjpeg" ? "yuvj420p" : "yuv420p",
                                    "-c:v", ASpec.Encoder};
  lArgs.insert(lArgs.end(), ASpec.Options.begin(), ASpec.Options.end());
  // The image muxer writes each compressed frame to a file of its own.
  lArgs.insert(lArgs.end(), {"-f", "image2", lDir.File("f%06d.bin")});
  const TToolResult r = RunTool("ffmpeg", lArgs);
  if (r.ExitCode != 0) {
    SetError(AError, "ffmpeg failed: " + r.Err);
    return false;
  }
  for (int i = 1; i <= ASpec.Frames; ++i) {
    char lName[32];
    std::snprintf(lName, sizeof lName, "f%06d.bin", i);
    std::vector<uint8_t> lFrame;
    if (!ReadWhole(lDir.File(lName), lFrame) || lFrame.empty()) {
      SetError(AError, "ffmpeg made " + std::to_string(i - 1) + " frames, not " +
                           std::to_string(ASpec.Frames));
      AFrames.clear();
      return false;
    }
    AFrames.push_back(std::move(lFrame));
  }
  return true;
}

std::vector<uint8_t> JoinFrames(const TFrameList& AFrames) {
  std::vector<uint8_t> lStream;
  for (const auto& f : AFrames) lStream.insert(lStream.end(), f.begin(), f.end());
  return lStream;
}

std::string EncodeTestH264(const std::string& ADir, const std::string& AName, const TH264TestStream& AStream) {
  const std::string lOut = ADir + "/" + AName;
  std::string lParams = "scenecut=0:bframes=0";
  if (!AStream.X264Params.empty()) lParams += ":" + AStream.X264Params;
  const std::string lSource = AStream.Source + "=size=" + std::to_string(AStream.Width) + "x" +
                              std::to_string(AStream.Height) + ":rate=" + std::to_string(AStream.Fps);
  const TToolResult r = RunTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", lSource, "-frames:v",
                                           std::to_string(AStream.Frames), "-pix_fmt", "yuv420p", "-c:v", "libx264",
                                           "-preset", AStream.Preset, "-g", std::to_string(AStream.Gop),
                                           "-keyint_min", std::to_string(AStream.Gop), "-x264-params", lParams,
                                           "-f", "h264", lOut});
  if (r.ExitCode != 0) return "";
  return ReadText(lOut);
}

std::vector<std::string> EncodeTestAacFrames(const std::string& ADir, double ASeconds) {
  const std::string lOut = ADir + "/tone.aac";
  const TToolResult r =
      RunTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                         "sine=frequency=440:sample_rate=8000:duration=" + std::to_string(ASeconds), "-ac", "1",
                         "-c:a", "aac", "-f", "adts", lOut});
  std::vector<std::string> lFrames;
  if (r.ExitCode != 0) return lFrames;
  const std::string lAdts = ReadText(lOut);
  size_t lPos = 0;
  while (lPos + 7 <= lAdts.size()) {
    const auto* h = reinterpret_cast<const unsigned char*>(lAdts.data() + lPos);
    if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) break;
    const size_t lHeaderLen = (h[1] & 1) ? 7 : 9;  // protection_absent
    const size_t lFrameLen = ((h[3] & 3u) << 11) | (size_t{h[4]} << 3) | (h[5] >> 5);
    if (lFrameLen < lHeaderLen || lPos + lFrameLen > lAdts.size()) break;
    lFrames.push_back(lAdts.substr(lPos + lHeaderLen, lFrameLen - lHeaderLen));
    lPos += lFrameLen;
  }
  return lFrames;
}

std::vector<uint8_t> MakeAdtsStream(const std::vector<uint8_t>& ASpecificInfo, const std::vector<uint8_t>& AFrames,
                                    const std::vector<int32_t>& ASizes) {
  std::vector<uint8_t> lOut;
  if (ASpecificInfo.size() < 2) return lOut;
  const unsigned lObjectType = ASpecificInfo[0] >> 3;
  const unsigned lRateIndex = ((ASpecificInfo[0] & 7u) << 1) | (ASpecificInfo[1] >> 7);
  const unsigned lChannels = (ASpecificInfo[1] >> 3) & 0xFu;
  size_t lOffset = 0;
  for (int32_t lSize : ASizes) {
    const unsigned lLength = 7 + static_cast<unsigned>(lSize);
    // Sync word, MPEG-4, no CRC; profile, rate, channels; frame length; buffer fullness.
    const uint8_t lHead[7] = {
        0xFF,
        0xF1,
        static_cast<uint8_t>(((lObjectType - 1) << 6) | (lRateIndex << 2) | (lChannels >> 2)),
        static_cast<uint8_t>(((lChannels & 3u) << 6) | (lLength >> 11)),
        static_cast<uint8_t>((lLength >> 3) & 0xFFu),
        static_cast<uint8_t>(((lLength & 7u) << 5) | 0x1Fu),
        0xFC,
    };
    lOut.insert(lOut.end(), lHead, lHead + 7);
    lOut.insert(lOut.end(), AFrames.begin() + static_cast<ptrdiff_t>(lOffset),
                AFrames.begin() + static_cast<ptrdiff_t>(lOffset + static_cast<size_t>(lSize)));
    lOffset += static_cast<size_t>(lSize);
  }
  return lOut;
}

// ---- Stream facts and packets (ffprobe) ----

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
  TMediaInfo lInfo;
  const TToolResult r = RunTool("ffprobe", {"-v", "warning", "-count_frames", "-show_entries",
                                            "stream=codec_type,codec_name,width,height,sample_rate,channels,"
                                            "nb_read_frames,duration",
                                            "-of", "default=noprint_wrappers=0", AFileName});
  lInfo.Ok = r.ExitCode == 0;
  lInfo.Errors = r.Err;
  TMediaStream* lCur = nullptr;
  for (const std::string& lLine : Lines(r.Out)) {
    if (lLine == "[STREAM]") {
      lInfo.Streams.emplace_back();
      lCur = &lInfo.Streams.back();
      continue;
    }
    const size_t lEq = lLine.find('=');
    if (!lCur || lEq == std::string::npos) continue;
    const std::string lKey = lLine.substr(0, lEq), lValue = lLine.substr(lEq + 1);
    if (lValue == "N/A") continue;
    if (lKey == "codec_type") lCur->CodecType = lValue;
    else if (lKey == "codec_name") lCur->CodecName = lValue;
    else if (lKey == "width") lCur->Width = std::atoi(lValue.c_str());
    else if (lKey == "height") lCur->Height = std::atoi(lValue.c_str());
    else if (lKey == "sample_rate") lCur->SampleRate = std::atoi(lValue.c_str());
    else if (lKey == "channels") lCur->Channels = std::atoi(lValue.c_str());
    else if (lKey == "nb_read_frames") lCur->Frames = std::atoll(lValue.c_str());
    else if (lKey == "duration") lCur->Duration = std::atof(lValue.c_str());
  }
  return lInfo;
}

std::map<std::string, std::string> ProbeStream(const std::string& AFileName, const std::string& AStream,
                                               const std::string& AEntries, bool ACountFrames,
                                               std::string* AErrors) {
  std::vector<std::string> lArgs{"-v", "error", "-select_streams", AStream, "-show_entries",
                                 "stream=" + AEntries, "-of", "default=noprint_wrappers=1"};
  if (ACountFrames) lArgs.insert(lArgs.begin(), "-count_frames");
  lArgs.push_back(AFileName);
  const TToolResult r = RunTool("ffprobe", lArgs);
  if (AErrors) *AErrors = r.Err;
  std::map<std::string, std::string> lValues;
  for (const std::string& lLine : Lines(r.Out)) {
    const size_t lEq = lLine.find('=');
    if (lEq != std::string::npos) lValues[lLine.substr(0, lEq)] = lLine.substr(lEq + 1);
  }
  return lValues;
}

std::vector<std::string> ProbePackets(const std::string& AFileName, const std::string& AStream,
                                      const std::string& AEntries) {
  return Lines(RunTool("ffprobe", {"-v", "error", "-select_streams", AStream, "-show_entries", "packet=" + AEntries,
                                   "-of", "csv=p=0", AFileName})
                   .Out);
}

std::vector<std::string> ProbeFrames(const std::string& AFileName, const std::string& AEntries) {
  return Lines(RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=" + AEntries,
                                   "-of", "csv=p=0", AFileName})
                   .Out);
}

std::vector<std::string> ProbeFrameSizes(const std::string& AFileName) {
  std::vector<std::string> lSizes;
  for (const std::string& lLine : ProbeFrames(AFileName, "width,height")) {
    // "width,height" and, for some pictures, empty fields of side data after them.
    const size_t lComma = lLine.find(',');
    if (lComma == std::string::npos) continue;
    const size_t lEnd = lLine.find(',', lComma + 1);
    lSizes.push_back(lLine.substr(0, lComma) + "x" +
                     lLine.substr(lComma + 1, lEnd == std::string::npos ? lEnd : lEnd - lComma - 1));
  }
  return lSizes;
}

std::string ProbeWarnings(const std::string& AFileName) {
  const TToolResult r = RunTool("ffprobe", {"-v", "warning", "-show_packets", "-show_streams", AFileName});
  if (r.ExitCode != 0 && r.Err.empty()) return "ffprobe failed with status " + std::to_string(r.ExitCode);
  return r.Err;
}

// ---- Decoding (ffmpeg) ----

std::string DecodeErrors(const std::string& AFileName, bool* AOk) {
  const TToolResult r = RunTool("ffmpeg", {"-v", "error", "-nostdin", "-i", AFileName, "-f", "null", "-"});
  if (AOk) *AOk = r.ExitCode == 0;
  return r.Err;
}

TFrameHashes VideoFrameHashes(const std::string& AFileName, const std::string& AFormat) {
  std::vector<std::string> lArgs{"-nostdin", "-v", "warning"};
  const std::vector<std::string> lFormat = InputFormat(AFormat);
  lArgs.insert(lArgs.end(), lFormat.begin(), lFormat.end());
  // Every picture as the decoder gives it out (no frame-rate conversion), its time in the
  // stream's own time base, and its own size (no scaling to the first picture's size).
  lArgs.insert(lArgs.end(), {"-i", AFileName, "-map", "0:v:0", "-fps_mode", "passthrough", "-enc_time_base", "-1",
                             "-autoscale", "0", "-f", "framemd5", "-"});
  const TToolResult r = RunTool("ffmpeg", lArgs);
  TFrameHashes lResult;
  lResult.Errors = r.Err;
  lResult.Ok = r.ExitCode == 0 && r.Err.empty();
  for (const std::string& lLine : Lines(r.Out)) {
    if (lLine[0] == '#') continue;
    // stream, dts, pts, duration, size, hash
    long long lStream = 0, lDts = 0, lPts = 0;
    const size_t lComma = lLine.rfind(',');
    if (lComma == std::string::npos ||
        std::sscanf(lLine.c_str(), "%lld, %lld, %lld", &lStream, &lDts, &lPts) != 3)
      continue;
    const size_t lStart = lLine.find_first_not_of(' ', lComma + 1);
    lResult.Hashes.push_back(lStart == std::string::npos ? std::string() : lLine.substr(lStart));
    lResult.Times.push_back(lPts);
  }
  return lResult;
}

bool DecodePictures(const std::string& AFileName, const std::string& AFormat, TDecodedVideo& AVideo,
                    std::string* AError, const std::string& APixelFormat) {
  AVideo = TDecodedVideo();
  const std::vector<std::string> lFormat = InputFormat(AFormat);
  std::vector<std::string> lArgs{"-v", "error"};
  lArgs.insert(lArgs.end(), lFormat.begin(), lFormat.end());
  lArgs.insert(lArgs.end(), {"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0",
                             AFileName});
  const TToolResult lProbe = RunTool("ffprobe", lArgs);
  if (lProbe.ExitCode != 0 || std::sscanf(lProbe.Out.c_str(), "%d,%d", &AVideo.Width, &AVideo.Height) != 2 ||
      AVideo.Width <= 0 || AVideo.Height <= 0) {
    SetError(AError, "ffprobe failed: " + lProbe.Err + lProbe.Out);
    return false;
  }
  lArgs = {"-nostdin", "-hide_banner", "-loglevel", "error"};
  lArgs.insert(lArgs.end(), lFormat.begin(), lFormat.end());
  lArgs.insert(lArgs.end(), {"-i", AFileName, "-map", "0:v:0", "-fps_mode", "passthrough", "-f", "rawvideo",
                             "-pix_fmt", APixelFormat, "-"});
  const TToolResult r = RunTool("ffmpeg", lArgs);
  const size_t lPicture = PictureBytes(APixelFormat, AVideo.Width, AVideo.Height);
  for (size_t lAt = 0; lAt + lPicture <= r.Out.size(); lAt += lPicture) {
    AVideo.Pictures.emplace_back(r.Out.begin() + static_cast<ptrdiff_t>(lAt),
                                 r.Out.begin() + static_cast<ptrdiff_t>(lAt + lPicture));
  }
  if (r.ExitCode != 0 || !r.Err.empty()) {
    SetError(AError, "ffmpeg failed to decode: " + r.Err);
    return false;
  }
  if (r.Out.size() % lPicture != 0) {
    SetError(AError, "decoded bytes are not whole pictures");
    return false;
  }
  return true;
}

bool DecodeStream(const std::vector<uint8_t>& AStream, const std::string& AFormat, TDecodedVideo& AVideo,
                  std::string* AError, const std::string& APixelFormat) {
  AVideo = TDecodedVideo();
  TScratchDir lDir;
  if (!lDir.Valid() || !WriteWhole(lDir.File("in.bin"), AStream)) {
    SetError(AError, "cannot write the stream to a temporary file");
    return false;
  }
  return DecodePictures(lDir.File("in.bin"), AFormat, AVideo, AError, APixelFormat);
}

TDecodedSamples DecodeAudioSamples(const std::string& AFileName, bool ARawStream,
                                   const std::vector<std::string>& AInputOptions) {
  std::vector<std::string> lArgs{"-nostdin", "-v", ARawStream ? "error" : "warning"};
  lArgs.insert(lArgs.end(), AInputOptions.begin(), AInputOptions.end());
  lArgs.insert(lArgs.end(), {"-i", AFileName, "-map", "0:a:0", "-f", "s16le", "-acodec", "pcm_s16le", "-"});
  const TToolResult r = RunTool("ffmpeg", lArgs);
  TDecodedSamples lResult;
  lResult.Errors = r.Err;
  lResult.Ok = r.ExitCode == 0 && r.Err.empty();
  lResult.Samples = ToSamples(r.Out);
  return lResult;
}

bool FfmpegDecodeG711(const std::vector<uint8_t>& ACodes, bool AALaw, std::vector<int16_t>& ASamples,
                      std::string& AError) {
  TScratchDir lDir;
  const std::string lIn = lDir.File("codes.g711");
  if (!lDir.Valid() || !WriteWhole(lIn, ACodes)) {
    AError = "cannot write the codes to a temporary file";
    return false;
  }
  TDecodedSamples lDecoded =
      DecodeAudioSamples(lIn, true, {"-f", AALaw ? "alaw" : "mulaw", "-ar", "8000", "-ac", "1"});
  if (!lDecoded.Ok) {
    AError = "ffmpeg: " + lDecoded.Errors;
    return false;
  }
  ASamples = std::move(lDecoded.Samples);
  return true;
}

bool FfmpegDecodeAdts(const std::vector<uint8_t>& AAdts, TDecodedAudio& AAudio, std::string& AError) {
  TScratchDir lDir;
  const std::string lIn = lDir.File("audio.aac");
  if (!lDir.Valid() || !WriteWhole(lIn, AAdts)) {
    AError = "cannot write the stream to a temporary file";
    return false;
  }
  std::string lProbeErrors;
  std::map<std::string, std::string> lFacts =
      ProbeStream(lIn, "a:0", "codec_name,profile,sample_rate,channels", false, &lProbeErrors);
  if (lFacts.empty()) {
    AError = "ffprobe: " + lProbeErrors;
    return false;
  }
  AAudio.SampleRate = std::atoi(lFacts["sample_rate"].c_str());
  AAudio.Channels = std::atoi(lFacts["channels"].c_str());
  if (lFacts["profile"] != "LC") {
    AError = "not AAC LC: " + lFacts["codec_name"] + " profile " + lFacts["profile"];
    return false;
  }
  TDecodedSamples lDecoded = DecodeAudioSamples(lIn, true);
  if (!lDecoded.Ok) {
    AError = "ffmpeg: " + lDecoded.Errors;
    return false;
  }
  AAudio.Samples = std::move(lDecoded.Samples);
  return true;
}

double SignalToNoiseDb(const std::vector<int16_t>& AInput, const std::vector<int16_t>& ADecoded, size_t AOffset,
                       size_t AFrom, size_t ATo) {
  double lSignal = 0, lNoise = 0;
  for (size_t i = AFrom; i < ATo && i < AInput.size(); ++i) {
    const double x = AInput[i];
    const double y = AOffset + i < ADecoded.size() ? ADecoded[AOffset + i] : 0.0;
    lSignal += x * x;
    lNoise += (x - y) * (x - y);
  }
  if (lNoise == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(lSignal / lNoise);
}
