// bench_video_transcode: frames per second of the video transcoder (decode with the
// decoding library, encode with the encoder library) next to ffmpeg doing the same job.
//
//   bench_video_transcode [--runs N] [--frames N] [--quick]
//
// For 720p Motion JPEG and 1080p H.265 input (made by ffmpeg at start) it reports, from
// runs taken in turn on the same input:
//   ours          TVideoToX264 over every frame, then a drain call
//   ffmpeg -t1    ffmpeg -threads 1 -i INPUT -c:v libx264 -preset veryfast -tune zerolatency
//                 -profile:v baseline -crf 24 -threads 1 (one decoding, one encoding thread)
//   ratio         ours / ffmpeg -t1
//   ffmpeg dflt   the same with ffmpeg's default, multi-threaded decoding (wall clock): the
//                 figure to beat later
//   x264 only     the encoder library alone on the decoded pictures: the limit
//   decode only   the decoding library alone
//   allocs/frame  C++ allocations per frame on the transcoding path
//
// Both single-threaded jobs are timed by the processor time of the one thread (ours) or
// process (ffmpeg) doing the work, which a busy machine disturbs far less than the wall
// clock; "ratio wall" gives the wall-clock ratio beside it. Rates are steady-state:
// ffmpeg's time for a one-frame run on the same input (start-up, opening, first frame) is
// taken off its time, and our first frame (which opens the encoder) is not counted. Each
// figure is the median of the runs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "UFfmpegMedia.h"
#include "conversion/UQorraLib.h"
#include "conversion/UVideoToX264.h"
#include "conversion/UVidrexLIB.h"
#include "protocol/UOmCamProtocol.h"

// ---- Counting C++ allocations --------------------------------------------------------

static std::atomic<long long> GAllocations{0};

void* operator new(size_t ASize) {
  GAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(ASize == 0 ? 1 : ASize)) return p;
  throw std::bad_alloc();
}
void operator delete(void* APtr) noexcept { std::free(APtr); }
void operator delete(void* APtr, size_t) noexcept { std::free(APtr); }

namespace {

// Wall-clock and processor time of a piece of work.
struct TTimes {
  double Wall = 0;
  double Cpu = 0;
  bool Ok = false;
};

class TStopwatch {
 public:
  TStopwatch() : FWall(std::chrono::steady_clock::now()), FCpu(ThreadCpu()) {}
  TTimes Elapsed(bool AOk) const {
    TTimes t;
    t.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - FWall).count();
    t.Cpu = ThreadCpu() - FCpu;
    t.Ok = AOk;
    return t;
  }

 private:
  static double ThreadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  std::chrono::steady_clock::time_point FWall;
  double FCpu;
};

double Median(std::vector<double> AValues) {
  if (AValues.empty()) return 0;
  std::sort(AValues.begin(), AValues.end());
  const size_t n = AValues.size();
  return n % 2 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

struct TScenario {
  const char* Name;
  uint8_t VideoType;
  const char* Format;  // ffmpeg's name of the elementary stream
  int Width, Height, Frames;
};

// Transcodes every frame; times from the second frame on (the first opens the encoder).
TTimes RunOurs(const TFrameList& AFrames, uint8_t AType, long long& AAllocations) {
  TVideoToX264 lTranscoder;
  lTranscoder.SetFPS(25);
  std::vector<uint8_t> lOut;
  size_t lPictures = lTranscoder.TranscodeToX264(
      AFrames[0].data(), static_cast<int32_t>(AFrames[0].size()), AType, lOut);
  const long long lBefore = GAllocations.load();
  TStopwatch lWatch;
  for (size_t i = 1; i < AFrames.size(); ++i) {
    lPictures += lTranscoder.TranscodeToX264(AFrames[i].data(),
                                             static_cast<int32_t>(AFrames[i].size()), AType, lOut);
  }
  AAllocations = GAllocations.load() - lBefore;
  lTranscoder.TranscodeToX264(nullptr, 0, 0, lOut);
  return lWatch.Elapsed(lPictures == AFrames.size());
}

TTimes RunFfmpeg(const std::string& AInput, const char* AFormat, bool ASingleThread,
                 int AFrameLimit = 0) {
  std::vector<std::string> lArgs = {"-nostdin", "-hide_banner", "-loglevel", "error"};
  if (ASingleThread) lArgs.insert(lArgs.end(), {"-threads", "1"});
  lArgs.insert(lArgs.end(), {"-f", AFormat, "-i", AInput, "-c:v", "libx264", "-preset",
                             "veryfast", "-tune", "zerolatency", "-profile:v", "baseline",
                             "-crf", "24", "-threads", "1"});
  if (AFrameLimit > 0) lArgs.insert(lArgs.end(), {"-frames:v", std::to_string(AFrameLimit)});
  lArgs.insert(lArgs.end(), {"-f", "null", "-"});
  TTimes t;
  const auto lStart = std::chrono::steady_clock::now();
  const TToolResult r = RunTool("ffmpeg", lArgs);
  t.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - lStart).count();
  t.Ok = r.ExitCode == 0;
  t.Cpu = r.CpuSeconds;
  if (!t.Ok) std::fprintf(stderr, "ffmpeg failed: %s\n", r.Err.c_str());
  return t;
}

TTimes RunEncoderOnly(const TFrameList& APictures, int AWidth, int AHeight) {
  TQorraPictureEncoder lEncoder;
  std::vector<uint8_t> lOut;
  TStopwatch lWatch;
  if (!lEncoder.Open(AWidth, AHeight, 25, X264_CSP_YV12)) return TTimes();
  size_t lPictures = 0;
  for (const auto& p : APictures) lPictures += lEncoder.Encode(p, lOut) > 0;
  lEncoder.Drain(lOut);
  return lWatch.Elapsed(lPictures == APictures.size());
}

TTimes RunDecodeOnly(const TFrameList& AFrames, uint8_t AType) {
  const int32_t lHandle = OMVEX_PLAY_SDK_Init();
  if (lHandle == 0) return TTimes();
  OMVEX_PLAY_SDK_StartVideo(lHandle, 0, 0, 0, AType);
  std::vector<uint8_t> lOut(TVideoToX264::YUV_BUFFER_SIZE);
  size_t lPictures = 0;
  TStopwatch lWatch;
  for (const auto& f : AFrames) {
    int32_t w = 0, h = 0;
    lPictures += OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, f.data(), static_cast<int32_t>(f.size()),
                                               0, lOut.data(), static_cast<int32_t>(lOut.size()),
                                               &w, &h) > 0;
  }
  const TTimes t = lWatch.Elapsed(lPictures == AFrames.size());
  OMVEX_PLAY_SDK_Destory(lHandle);
  return t;
}

// The pictures ffmpeg decodes from the input, in YV12 order, for the encoder-only runs.
TFrameList DecodedPictures(const TFrameList& AFrames, const char* AFormat, int& AWidth,
                           int& AHeight) {
  TDecodedVideo lVideo;
  std::string lError;
  if (!DecodeStream(JoinFrames(AFrames), AFormat, lVideo, &lError)) {
    std::fprintf(stderr, "%s\n", lError.c_str());
    return {};
  }
  AWidth = lVideo.Width;
  AHeight = lVideo.Height;
  const size_t lLuma = static_cast<size_t>(AWidth) * AHeight;
  for (auto& p : lVideo.Pictures) {
    std::swap_ranges(p.begin() + lLuma, p.begin() + lLuma + lLuma / 4, p.begin() + lLuma + lLuma / 4);
  }
  return lVideo.Pictures;
}

bool WriteStream(const std::string& AFile, const TFrameList& AFrames) {
  const std::vector<uint8_t> lStream = JoinFrames(AFrames);
  std::ofstream out(AFile, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(lStream.data()),
            static_cast<std::streamsize>(lStream.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  int lRuns = 5;
  int lFrameOverride = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      lRuns = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
      lFrameOverride = std::max(2, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--quick")) {
      lRuns = 1;
      lFrameOverride = 20;
    } else {
      std::fprintf(stderr, "usage: bench_video_transcode [--runs N] [--frames N] [--quick]\n");
      return 2;
    }
  }
  const TScenario lScenarios[] = {
      {"720p Motion JPEG", OmVideoType_MJPEG, "mjpeg", 1280, 720, 200},
      {"1080p H.265", OmVideoType_H265, "hevc", 1920, 1080, 120},
  };
  const std::filesystem::path lDir =
      std::filesystem::temp_directory_path() / ("vyrbench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(lDir);
  int lStatus = 0;
  std::printf("%-17s %6s %9s %10s %6s %10s %11s %9s %11s %12s\n", "input", "frames", "ours fps",
              "ffmpeg -t1", "ratio", "ratio wall", "ffmpeg dflt", "x264 only", "decode only",
              "allocs/frame");
  for (const TScenario& s : lScenarios) {
    const int lFrames = lFrameOverride > 0 ? lFrameOverride : s.Frames;
    TFrameList lInput;
    std::string lError;
    if (!MakeCodecFrames(RecorderFramesSpec(s.VideoType, s.Width, s.Height, lFrames), lInput,
                         &lError)) {
      std::fprintf(stderr, "%s: cannot make frames: %s\n", s.Name, lError.c_str());
      lStatus = 1;
      continue;
    }
    const std::string lFile = (lDir / (std::string("input.") + s.Format)).string();
    WriteStream(lFile, lInput);
    int lWidth = 0, lHeight = 0;
    const TFrameList lPictures = DecodedPictures(lInput, s.Format, lWidth, lHeight);

    const double lSteady = lFrames - 1;
    std::vector<double> lOurs, lOursWall, lFfmpeg, lFfmpegWall, lFfmpegDefault, lX264, lDecode;
    long long lAllocations = 0;
    bool lOk = !lPictures.empty();
    // The runs alternate, so that a change in the machine's load hits all of them alike.
    for (int run = 0; run < lRuns; ++run) {
      long long lRunAllocations = 0;
      const TTimes o = RunOurs(lInput, s.VideoType, lRunAllocations);
      const TTimes f = RunFfmpeg(lFile, s.Format, true);
      const TTimes fStart = RunFfmpeg(lFile, s.Format, true, 1);
      const TTimes d = RunFfmpeg(lFile, s.Format, false);
      const TTimes dStart = RunFfmpeg(lFile, s.Format, false, 1);
      const TTimes x = RunEncoderOnly(lPictures, lWidth, lHeight);
      const TTimes v = RunDecodeOnly(lInput, s.VideoType);
      lOk = lOk && o.Ok && f.Ok && fStart.Ok && d.Ok && dStart.Ok && x.Ok && v.Ok;
      lOurs.push_back(lSteady / o.Cpu);
      lOursWall.push_back(lSteady / o.Wall);
      lFfmpeg.push_back(lSteady / std::max(1e-6, f.Cpu - fStart.Cpu));
      lFfmpegWall.push_back(lSteady / std::max(1e-6, f.Wall - fStart.Wall));
      lFfmpegDefault.push_back(lSteady / std::max(1e-6, d.Wall - dStart.Wall));
      lX264.push_back(lFrames / x.Cpu);
      lDecode.push_back(lFrames / v.Cpu);
      lAllocations = std::max(lAllocations, lRunAllocations);
    }
    std::printf("%-17s %6d %9.1f %10.1f %6.3f %10.3f %11.1f %9.1f %11.1f %12.2f%s\n", s.Name,
                lFrames, Median(lOurs), Median(lFfmpeg), Median(lOurs) / Median(lFfmpeg),
                Median(lOursWall) / Median(lFfmpegWall), Median(lFfmpegDefault), Median(lX264),
                Median(lDecode), static_cast<double>(lAllocations) / lSteady,
                lOk ? "" : "  (a run failed)");
    std::fflush(stdout);
    if (!lOk) lStatus = 1;
  }
  std::error_code ec;
  std::filesystem::remove_all(lDir, ec);
  return lStatus;
}
