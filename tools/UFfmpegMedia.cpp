#include "UFfmpegMedia.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <spawn.h>
#include <sys/resource.h>
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
  const std::string& Path() const { return FPath; }

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

}  // namespace

bool RunTool(const std::vector<std::string>& AArgs, std::string* AErrors, std::string* AOutput,
             double* ACpuSeconds) {
  if (AArgs.empty()) return false;
  TScratchDir lDir;
  if (!lDir.Valid()) return false;
  const std::string lErrFile = lDir.File("stderr");
  const std::string lOutFile = lDir.File("stdout");
  posix_spawn_file_actions_t lActions;
  posix_spawn_file_actions_init(&lActions);
  posix_spawn_file_actions_addopen(&lActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&lActions, STDOUT_FILENO,
                                   AOutput ? lOutFile.c_str() : "/dev/null",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&lActions, STDERR_FILENO, lErrFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> lArgv;
  for (const std::string& a : AArgs) lArgv.push_back(const_cast<char*>(a.c_str()));
  lArgv.push_back(nullptr);
  pid_t lPid = 0;
  const int lSpawn = posix_spawnp(&lPid, lArgv[0], &lActions, nullptr, lArgv.data(), environ);
  posix_spawn_file_actions_destroy(&lActions);
  if (lSpawn != 0) {
    if (AErrors) *AErrors = "cannot start " + AArgs[0];
    return false;
  }
  int lStatus = 0;
  struct rusage lUsage {};
  while (::wait4(lPid, &lStatus, 0, &lUsage) < 0 && errno == EINTR) {
  }
  if (ACpuSeconds) {
    *ACpuSeconds = static_cast<double>(lUsage.ru_utime.tv_sec + lUsage.ru_stime.tv_sec) +
                   static_cast<double>(lUsage.ru_utime.tv_usec + lUsage.ru_stime.tv_usec) / 1e6;
  }
  if (AErrors) *AErrors = ReadText(lErrFile);
  if (AOutput) *AOutput = ReadText(lOutFile);
  return WIFEXITED(lStatus) && WEXITSTATUS(lStatus) == 0;
}

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
  std::vector<std::string> lArgs = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                    "-f", "lavfi", "-i", lSource,
                                    "-frames:v", std::to_string(ASpec.Frames),
                                    "-pix_fmt", ASpec.Encoder == "mjpeg" ? "yuvj420p" : "yuv420p",
                                    "-c:v", ASpec.Encoder};
  lArgs.insert(lArgs.end(), ASpec.Options.begin(), ASpec.Options.end());
  // The image muxer writes each compressed frame to a file of its own.
  lArgs.insert(lArgs.end(), {"-f", "image2", lDir.File("f%06d.bin")});
  std::string lErrors;
  if (!RunTool(lArgs, &lErrors)) {
    SetError(AError, "ffmpeg failed: " + lErrors);
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

bool DecodeStream(const std::vector<uint8_t>& AStream, const std::string& AFormat,
                  TDecodedVideo& AVideo, std::string* AError, const std::string& APixelFormat) {
  AVideo = TDecodedVideo();
  TScratchDir lDir;
  if (!lDir.Valid() || !WriteWhole(lDir.File("in.bin"), AStream)) {
    SetError(AError, "cannot write the stream to a temporary file");
    return false;
  }
  std::string lErrors, lOutput;
  if (!RunTool({"ffprobe", "-v", "error", "-f", AFormat, "-select_streams", "v:0",
                "-show_entries", "stream=width,height", "-of", "csv=p=0", lDir.File("in.bin")},
               &lErrors, &lOutput) ||
      std::sscanf(lOutput.c_str(), "%d,%d", &AVideo.Width, &AVideo.Height) != 2 ||
      AVideo.Width <= 0 || AVideo.Height <= 0) {
    SetError(AError, "ffprobe failed: " + lErrors + lOutput);
    return false;
  }
  // -xerror makes any decoding error fail the run: the stream must decode cleanly.
  if (!RunTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-xerror",
                "-f", AFormat, "-i", lDir.File("in.bin"), "-f", "rawvideo", "-pix_fmt",
                APixelFormat, lDir.File("out.yuv")},
               &lErrors) ||
      !lErrors.empty()) {
    SetError(AError, "ffmpeg failed to decode: " + lErrors);
    return false;
  }
  std::vector<uint8_t> lRaw;
  ReadWhole(lDir.File("out.yuv"), lRaw);
  const size_t lPicture = static_cast<size_t>(AVideo.Width) * AVideo.Height * 3 / 2;
  if (lRaw.size() % lPicture != 0) {
    SetError(AError, "decoded bytes are not whole pictures");
    return false;
  }
  for (size_t off = 0; off < lRaw.size(); off += lPicture) {
    AVideo.Pictures.emplace_back(lRaw.begin() + static_cast<ptrdiff_t>(off),
                                 lRaw.begin() + static_cast<ptrdiff_t>(off + lPicture));
  }
  return true;
}
