// vyrconvert: converts record files to MP4 or to their raw video stream, or probes them.
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <chrono>
#include <sys/stat.h>
#include <thread>

#include "cli/UCommandLine.h"
#include "cli/UProgressDisplay.h"
#include "conversion/UOutputNames.h"
#include "conversion/URawExport.h"
#include "conversion/URecordProbe.h"
#include "conversion/URecordToMp4Task.h"
#include "support/uFunctionsLib.h"

namespace {

// Set by Ctrl-C: the running conversion closes its partial file properly (an MP4 stops
// after its current block) and no further file starts.
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterrupt(int) { Interrupted.store(true); }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

std::string LowerAscii(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AText;
}

constexpr int DisplayIntervalMs = 100;

std::string FormatSize(int64_t ABytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(ABytes) / (1024 * 1024));
  return buf;
}

// Seconds of video in a recording, from its probe, for the time estimates.
double RecordingSeconds(const std::string& AFileName) {
  std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(AFileName);
  if (!stream) return 0;
  TVyrRecordProbe probe;
  probe.GetVideoInfo(stream.get());
  if (probe.FVideoEncType == 255)
    std::fprintf(stderr, "vyrconvert: %s: warning: the recording holds no video\n", AFileName.c_str());
  return static_cast<double>(probe.FFrameCount) / (probe.FFrameRate ? probe.FFrameRate : 25);
}

// Converts each file in turn, to MP4 or to its raw stream, on a task thread running the
// core's task body, while this thread shows the progress. Exit status 0 when every file
// was converted, 1 when any failed, 130 after an interruption.
int RunConversions(const TCommandLineOptions& AOptions) {
  const bool mp4 = AOptions.Format == TOutFormat::Mp4;
  TDmRecordToMP4 task;
  TProgressDisplay display(stderr);
  int status = 0;
  std::vector<std::string> seenNames, seenFiles;
  for (const std::string& file : AOptions.Files) {
    if (Interrupted.load()) break;
    const std::string shortName = GetVYRFileShortName(file);
    const std::string key = LowerAscii(shortName);
    bool duplicate = false;
    for (size_t i = 0; i < seenNames.size() && !duplicate; ++i) {
      if (seenNames[i] == key) {
        std::fprintf(stderr,
                     "vyrconvert: %s: refused, the file name is the same as that of %s (its output would "
                     "overwrite the other's)\n",
                     file.c_str(), seenFiles[i].c_str());
        duplicate = true;
      }
    }
    if (duplicate) {
      status = 1;
      continue;
    }
    seenNames.push_back(key);
    seenFiles.push_back(file);

    const double mediaSeconds = RecordingSeconds(file);
    const std::string base = MakeOutputFileName(AOptions.OutDir, shortName);
    std::atomic<int> progress{0};
    TConversionOutcome outcome;
    display.Begin(shortName, mediaSeconds);
    std::thread taskThread([&] {
      if (mp4)
        ExecRecordToMp4(task, file, base, progress, Interrupted, &outcome);
      else
        ExecRecordToRawFile(file, base, progress, &outcome, &Interrupted);
    });
    while (progress.load() <= 100) {
      display.Update(progress.load());
      std::this_thread::sleep_for(std::chrono::milliseconds(DisplayIntervalMs));
    }
    taskThread.join();
    display.End();
    const double wall = display.ElapsedSeconds();
    if (outcome.OutFileName.empty()) outcome.OutFileName = base + (mp4 ? ".mp4" : "");
    const char* outName = outcome.OutFileName.c_str();
    switch (outcome.Status) {
      case TConversionStatus::Converted:
        if (mp4) {
          struct stat st {};
          ::stat(outName, &st);
          std::printf("%s -> %s: %lld pictures, %lld audio frames, %.1f s, %s, %s real time\n", file.c_str(),
                      outName, static_cast<long long>(outcome.VideoFrames),
                      static_cast<long long>(outcome.AudioFrames), outcome.Duration,
                      FormatSize(static_cast<int64_t>(st.st_size)).c_str(),
                      TProgressDisplay::FormatSpeed(outcome.Duration, wall).c_str());
        } else {
          std::printf("%s -> %s: %lld video frames, %lld bytes\n", file.c_str(), outName,
                      static_cast<long long>(outcome.VideoFrames), static_cast<long long>(outcome.BytesWritten));
        }
        break;
      case TConversionStatus::Stopped:
        if (mp4) {
          std::printf("%s -> %s: stopped, %lld pictures, %lld audio frames, %.1f s kept\n", file.c_str(), outName,
                      static_cast<long long>(outcome.VideoFrames), static_cast<long long>(outcome.AudioFrames),
                      outcome.Duration);
          break;
        }
        std::fprintf(stderr, "vyrconvert: %s: interrupted; %s holds %lld bytes\n", file.c_str(), outName,
                     static_cast<long long>(outcome.BytesWritten));
        break;
      case TConversionStatus::NothingWritten:
        std::fprintf(stderr, "vyrconvert: %s: %s (%s is empty)\n", file.c_str(),
                     mp4 ? "holds nothing to convert" : "holds no video", outName);
        status = 1;
        break;
      case TConversionStatus::OpenFailed:
        std::fprintf(stderr, "vyrconvert: %s: cannot open the recording\n", file.c_str());
        status = 1;
        break;
      case TConversionStatus::OutputFailed:
        std::fprintf(stderr, "vyrconvert: %s: cannot create the output file %s\n", file.c_str(), outName);
        status = 1;
        break;
      case TConversionStatus::WriteFailed:
        std::fprintf(stderr, "vyrconvert: %s: writing %s failed (disk full or I/O error)\n", file.c_str(),
                     outName);
        status = 1;
        break;
      case TConversionStatus::NotRun:
        std::fprintf(stderr, "vyrconvert: %s: %s\n", file.c_str(), DescribeConversionStatus(outcome.Status));
        status = 1;
        break;
    }
    std::fflush(stdout);
  }
  return Interrupted.load() ? 130 : status;
}

int RunProbe(const TCommandLineOptions& AOptions) {
  int status = 0;
  for (const std::string& file : AOptions.Files) {
    std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(file);
    if (!stream) {
      std::fprintf(stderr, "vyrconvert: %s: cannot open the recording\n", file.c_str());
      status = 1;
      continue;
    }
    TVyrRecordProbe probe;
    probe.GetVideoInfo(stream.get());
    TVyrRecordProbe::CloseVYRRecord(stream);
    std::printf("%s: video=%d resolution=%d %ux%u fps=%u frames=%u seconds=%u audio=%d\n", file.c_str(),
                probe.FVideoEncType, probe.FVideoResolution, probe.FFrameWidth, probe.FFrameHeight,
                probe.FFrameRate, probe.FFrameCount, probe.FSecCount, probe.FAudioEncType);
    std::fflush(stdout);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TCommandLineOptions options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "vyrconvert: %s\n%s", error.c_str(), UsageText());
    return 2;
  }
  if (options.Help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (options.Verbose) SetLogLevelStr("1");
  if (options.Probe) return RunProbe(options);
  InstallInterruptHandler();
  return RunConversions(options);
}
