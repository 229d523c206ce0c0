// vyrconvert: converts record files to MP4 or to their raw video stream, or probes them.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <chrono>
#include <sys/stat.h>
#include <thread>

#include "cli/UCommandLine.h"
#include "cli/UProgressDisplay.h"
#include "cli/UTerminalText.h"
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

// Names as the terminal shows them: control characters (C0, DEL and C1) escaped, so a
// hostile file name can neither forge lines nor drive the terminal.
std::string Shown(const std::string& AName) { return EscapeControlCharacters(AName); }

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
    std::fprintf(stderr, "vyrconvert: %s: warning: the recording holds no video\n", Shown(AFileName).c_str());
  return static_cast<double>(probe.FFrameCount) / (probe.FFrameRate ? probe.FFrameRate : 25);
}

// Makes the folder APath and every missing folder above it; true when it is a folder then.
bool MakeFolders(const std::string& APath, std::string& AError) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    AError = "it exists and is not a folder";
    return false;
  }
  for (size_t at = 1; at <= APath.size(); ++at) {
    if (at < APath.size() && APath[at] != '/') continue;
    const std::string part = APath.substr(0, at);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      AError = std::strerror(errno);
      return false;
    }
  }
  if (::stat(APath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    AError = "it is not a folder";
    return false;
  }
  return true;
}

// The output file of a recording: the base name and ".mp4", or the raw stream's extension,
// which a heads-only probe tells. Empty when the recording cannot be opened (it fails
// later with its own message).
std::string PlannedOutputName(const std::string& AFile, const std::string& ABase, bool AMp4) {
  if (AMp4) return ABase + ".mp4";
  std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(AFile);
  if (!stream) return std::string();
  TVyrRecordProbe probe;
  probe.GetVideoInfo(stream.get());
  return ABase + GetRawStreamExtension(probe.FVideoEncType);
}

// Prints the result of one file; false when it failed.
bool ReportOutcome(const std::string& AFile, const TConversionOutcome& AOutcome, bool AMp4, double AWall) {
  const std::string file = Shown(AFile);
  const std::string out = Shown(AOutcome.OutFileName);
  const std::string why = AOutcome.Message.empty() ? std::string() : ": " + AOutcome.Message;
  // What the reader had to skip of a damaged recording, at the end of the summary line.
  std::string skipped;
  if (AOutcome.DamagedRegions > 0) {
    skipped = ", damaged data skipped: " + std::to_string(AOutcome.DamagedRegions) +
              (AOutcome.DamagedRegions == 1 ? " region, " : " regions, ") + std::to_string(AOutcome.DamagedBytes) +
              " bytes";
  }
  bool ok = false;
  switch (AOutcome.Status) {
    case TConversionStatus::Converted:
      ok = true;
      if (AMp4) {
        struct stat st {};
        ::stat(AOutcome.OutFileName.c_str(), &st);
        std::printf("%s -> %s: %lld pictures, %lld audio frames, %.1f s, %s, %s real time%s\n", file.c_str(),
                    out.c_str(), static_cast<long long>(AOutcome.VideoFrames),
                    static_cast<long long>(AOutcome.AudioFrames), AOutcome.Duration,
                    FormatSize(static_cast<int64_t>(st.st_size)).c_str(),
                    TProgressDisplay::FormatSpeed(AOutcome.Duration, AWall).c_str(), skipped.c_str());
      } else {
        std::printf("%s -> %s: %lld video frames, %lld bytes%s\n", file.c_str(), out.c_str(),
                    static_cast<long long>(AOutcome.VideoFrames), static_cast<long long>(AOutcome.BytesWritten),
                    skipped.c_str());
      }
      break;
    case TConversionStatus::Stopped: {
      ok = true;
      // A stopped output that did not replace an existing file of its name keeps its work name.
      const std::string kept = Shown(AOutcome.KeptFileName.empty() ? AOutcome.OutFileName : AOutcome.KeptFileName);
      if (AMp4) {
        std::printf("%s -> %s: stopped, %lld pictures, %lld audio frames, %.1f s kept%s\n", file.c_str(),
                    kept.c_str(), static_cast<long long>(AOutcome.VideoFrames),
                    static_cast<long long>(AOutcome.AudioFrames), AOutcome.Duration, skipped.c_str());
        break;
      }
      std::fprintf(stderr, "vyrconvert: %s: interrupted; %s holds %lld bytes\n", file.c_str(), kept.c_str(),
                   static_cast<long long>(AOutcome.BytesWritten));
      break;
    }
    case TConversionStatus::NothingWritten:
      if (AMp4)
        std::fprintf(stderr, "vyrconvert: %s: holds nothing to convert (no file written)\n", file.c_str());
      else
        std::fprintf(stderr, "vyrconvert: %s: holds no video (%s is empty)\n", file.c_str(), out.c_str());
      break;
    case TConversionStatus::OpenFailed:
      std::fprintf(stderr, "vyrconvert: %s: cannot open the recording%s\n", file.c_str(), Shown(why).c_str());
      break;
    case TConversionStatus::OutputFailed:
      std::fprintf(stderr, "vyrconvert: %s: cannot create the output file %s%s\n", file.c_str(), out.c_str(),
                   Shown(why).c_str());
      break;
    case TConversionStatus::WriteFailed:
      std::fprintf(stderr, "vyrconvert: %s: writing %s failed (disk full or I/O error)%s\n", file.c_str(),
                   out.c_str(), Shown(why).c_str());
      break;
    case TConversionStatus::OutOfMemory:
    case TConversionStatus::Failed:
    case TConversionStatus::NotRun:
      std::fprintf(stderr, "vyrconvert: %s: %s%s\n", file.c_str(), DescribeConversionStatus(AOutcome.Status),
                   Shown(why).c_str());
      break;
  }
  if (ok && !AOutcome.Warning.empty())
    std::fprintf(stderr, "vyrconvert: %s: warning: %s\n", file.c_str(), AOutcome.Warning.c_str());
  return ok;
}

// Converts each file in turn, to MP4 or to its raw stream, on a task thread running the
// core's task body, while this thread shows the progress. Exit status 0 when every file
// was converted, 1 when any failed, 130 after an interruption.
int RunConversions(const TCommandLineOptions& AOptions) {
  const bool mp4 = AOptions.Format == TOutFormat::Mp4;
  // A missing output folder is made (with the folders above it); when it cannot be, that is
  // said once, and no file is tried.
  std::string folderError;
  if (!MakeFolders(AOptions.OutDir, folderError)) {
    std::fprintf(stderr, "vyrconvert: cannot create the output folder %s: %s\n", Shown(AOptions.OutDir).c_str(),
                 folderError.c_str());
    return 1;
  }
  TDmRecordToMP4 task;
  TProgressDisplay display(stderr);
  int status = 0;

  // Outputs whose names would be the same on a file system that ignores case would replace
  // each other: the later file is refused before anything is written.
  const size_t count = AOptions.Files.size();
  std::vector<std::string> bases(count), planned(count);
  std::vector<bool> refused(count, false);
  for (size_t i = 0; i < count && !Interrupted.load(); ++i) {
    bases[i] = MakeOutputFileName(AOptions.OutDir, GetVYRFileShortName(AOptions.Files[i]));
    planned[i] = PlannedOutputName(AOptions.Files[i], bases[i], mp4);
    for (size_t j = 0; j < i && !planned[i].empty(); ++j) {
      if (refused[j] || !SameOutputName(planned[i], planned[j])) continue;
      std::fprintf(stderr, "vyrconvert: %s: refused, its output %s has the same name as that of %s (one would replace the other)\n",
                   Shown(AOptions.Files[i]).c_str(), Shown(planned[i]).c_str(), Shown(AOptions.Files[j]).c_str());
      refused[i] = true;
      status = 1;
      break;
    }
  }

  for (size_t i = 0; i < count; ++i) {
    if (Interrupted.load()) break;
    if (refused[i]) continue;
    const std::string& file = AOptions.Files[i];
    const std::string shortName = GetVYRFileShortName(file);
    const double mediaSeconds = RecordingSeconds(file);
    const std::string& base = bases[i];
    std::atomic<int> progress{0};
    TConversionOutcome outcome;
    display.Begin(Shown(shortName), mediaSeconds);
    std::thread taskThread([&] {
      if (mp4)
        ExecRecordToMp4(task, file, base, progress, Interrupted, &outcome,
                        AOptions.Timing == TTimingOption::Rate ? TRecordTiming::Rate : TRecordTiming::Stamps);
      else
        ExecRecordToRawFile(file, base, progress, &outcome, &Interrupted);
    });
    while (progress.load() <= 100) {
      display.Update(progress.load());
      std::this_thread::sleep_for(std::chrono::milliseconds(DisplayIntervalMs));
    }
    taskThread.join();
    display.End();
    if (outcome.OutFileName.empty()) outcome.OutFileName = planned[i].empty() ? base + (mp4 ? ".mp4" : "") : planned[i];
    if (!ReportOutcome(file, outcome, mp4, display.ElapsedSeconds())) status = 1;
    std::fflush(stdout);
  }
  return Interrupted.load() ? 130 : status;
}

// " start=YYYY-MM-DDTHH:MM:SS span=H:MM:SS.mmm": the first stamp as the recorder wrote it
// (no zone), and the last stamp minus the first; empty when the recording has no stamps.
std::string StampsText(const TVyrRecordProbe& AProbe) {
  if (!AProbe.FHasStamps) return std::string();
  const std::time_t first = static_cast<std::time_t>(AProbe.FFirstStampMs / 1000);
  std::tm t {};
  ::gmtime_r(&first, &t);
  char start[32];
  std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%S", &t);
  int64_t span = AProbe.FLastStampMs - AProbe.FFirstStampMs;
  const char* sign = span < 0 ? "-" : "";
  if (span < 0) span = -span;
  char text[96];
  std::snprintf(text, sizeof text, " start=%s span=%s%lld:%02lld:%02lld.%03lld", start, sign,
                static_cast<long long>(span / 3600000), static_cast<long long>(span / 60000 % 60),
                static_cast<long long>(span / 1000 % 60), static_cast<long long>(span % 1000));
  return text;
}

int RunProbe(const TCommandLineOptions& AOptions) {
  int status = 0;
  for (const std::string& file : AOptions.Files) {
    std::string why;
    std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(file, &why);
    if (!stream) {
      std::fprintf(stderr, "vyrconvert: %s: cannot open the recording: %s\n", Shown(file).c_str(),
                   Shown(why).c_str());
      status = 1;
      continue;
    }
    TVyrRecordProbe probe;
    probe.GetVideoInfo(stream.get());
    TVyrRecordProbe::CloseVYRRecord(stream);
    std::printf("%s: video=%d resolution=%d %ux%u fps=%u frames=%u seconds=%u audio=%d%s\n", Shown(file).c_str(),
                probe.FVideoEncType, probe.FVideoResolution, probe.FFrameWidth, probe.FFrameHeight,
                probe.FFrameRate, probe.FFrameCount, probe.FSecCount, probe.FAudioEncType, StampsText(probe).c_str());
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
  if (options.Version) {
    std::printf("%s\n", VersionText().c_str());
    return 0;
  }
  if (options.Verbose) SetLogLevelStr("1");
  // A file-size limit makes a write fail (EFBIG), reported as such, instead of killing us.
  ::signal(SIGXFSZ, SIG_IGN);
  if (options.Probe) return RunProbe(options);
  InstallInterruptHandler();
  return RunConversions(options);
}
