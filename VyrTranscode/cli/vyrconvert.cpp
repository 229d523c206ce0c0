// vyrconvert: converts record files to MP4 or to their raw video stream, or probes them.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

#include "cli/UCommandLine.h"
#include "cli/UJsonLine.h"
#include "cli/UProgressDisplay.h"
#include "cli/UTerminalText.h"
#include "conversion/UEncoderBudget.h"
#include "conversion/UFrameRate.h"
#include "conversion/UMp4ConversionState.h"
#include "conversion/UOutputNames.h"
#include "conversion/URawExport.h"
#include "conversion/URecordProbe.h"
#include "conversion/URecordToMp4Task.h"
#include "support/UMemoryPolicy.h"
#include "support/UText.h"
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
  return static_cast<double>(probe.FFrameCount) / NominalFrameRate(probe.FFrameRate);
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
    default:
      std::fprintf(stderr, "vyrconvert: %s: %s%s\n", file.c_str(),
                   DescribeConversionStatus(AOutcome.Status, !AMp4, out).c_str(), Shown(why).c_str());
      break;
  }
  if (ok && !AOutcome.Warning.empty())
    std::fprintf(stderr, "vyrconvert: %s: warning: %s\n", file.c_str(), AOutcome.Warning.c_str());
  // An MP4 of sound alone is a success, but rarely what was wanted.
  if (AMp4 && AOutcome.Status == TConversionStatus::Converted && AOutcome.VideoFrames == 0)
    std::fprintf(stderr, "vyrconvert: %s: warning: the recording holds no video\n", file.c_str());
  return ok;
}

// One file of the batch: what is to be made of it, and what was.
struct TJob {
  std::string File;
  std::string Base;     // output base name
  std::string Planned;  // output file name (empty when the recording cannot be opened)
  std::string Refusal;  // why it is refused before anything is written (a name clash)
  bool Skipped = false; // --skip-existing found its output complete
  std::atomic<int> Progress{0};
  TConversionOutcome Outcome;
  double Seconds = 0;   // wall time of its conversion
  bool Done = false;    // under the batch's lock
};

// The summary as JSON (--json): one object per file.
std::string JsonSummary(const TJob& AJob, bool AMp4) {
  const TConversionOutcome& o = AJob.Outcome;
  std::string status, reason;
  if (!AJob.Refusal.empty()) {
    status = "failed";
    reason = AJob.Refusal;
  } else if (AJob.Skipped) {
    status = "skipped";
    reason = "the output exists and is complete";
  } else if (o.Status == TConversionStatus::Converted) {
    status = o.Warning.empty() && o.DamagedRegions == 0 ? "converted" : "warning";
    reason = o.Warning;
    if (o.DamagedRegions > 0) {
      if (!reason.empty()) reason += "; ";
      reason += "damaged data skipped";
    }
  } else if (o.Status == TConversionStatus::Stopped) {
    status = "stopped";
    reason = "stopped";
  } else {
    status = "failed";
    reason = DescribeConversionStatus(o.Status, !AMp4);
    if (!o.Message.empty()) reason += ": " + o.Message;
  }
  const std::string output =
      !o.KeptFileName.empty() ? o.KeptFileName : !AJob.Planned.empty() ? AJob.Planned : o.OutFileName;
  struct stat st {};
  const int64_t bytes = !output.empty() && ::stat(output.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  TJsonObject json;
  json.Add("input", AJob.File).Add("output", output).Add("status", status).Add("reason", reason);
  json.Add("pictures", o.VideoFrames).Add("audio_frames", o.AudioFrames).Add("duration_s", o.Duration, 3);
  json.Add("bytes", bytes).Add("damaged_regions", o.DamagedRegions).Add("damaged_bytes", o.DamagedBytes);
  json.Add("seconds", AJob.Seconds, 3);
  if (!IsUtf8(AJob.File)) json.Add("input_hex", HexBytes(AJob.File));
  return json.Text();
}

// Converts the files, to MP4 or to their raw streams, up to -j at a time, each on a task
// thread running the core's task body, while this thread shows the progress and prints the
// results in input order. Exit status 0 when every file was converted (or skipped), 1 when
// any failed, 130 after an interruption.
int RunConversions(const TCommandLineOptions& AOptions) {
  const bool mp4 = AOptions.Format == TOutFormat::Mp4;
  const int jobs = AOptions.Jobs > 0 ? AOptions.Jobs : MachineCores();
  SharedEncoderBudget().SetCapacity(jobs);
  // A missing output folder is made (with the folders above it); when it cannot be, that is
  // said once, and no file is tried.
  std::string folderError;
  if (!MakeFolders(AOptions.OutDir, folderError)) {
    std::fprintf(stderr, "vyrconvert: cannot create the output folder %s: %s\n", Shown(AOptions.OutDir).c_str(),
                 folderError.c_str());
    return 1;
  }

  // Outputs whose names would be the same on a file system that ignores case would replace
  // each other: the later file is refused before anything is written.
  const size_t count = AOptions.Files.size();
  std::vector<std::unique_ptr<TJob>> batch;
  for (size_t i = 0; i < count && !Interrupted.load(); ++i) {
    auto job = std::make_unique<TJob>();
    job->File = AOptions.Files[i];
    job->Base = MakeOutputFileName(AOptions.OutDir, GetVYRFileShortName(job->File));
    job->Planned = PlannedOutputName(job->File, job->Base, mp4);
    for (size_t j = 0; j < i && !job->Planned.empty(); ++j) {
      if (!batch[j]->Refusal.empty() || !SameOutputName(job->Planned, batch[j]->Planned)) continue;
      job->Refusal = "its output " + job->Planned + " has the same name as that of " + batch[j]->File +
                     " (one would replace the other)";
      if (!AOptions.Json)
        std::fprintf(stderr, "vyrconvert: %s: refused, %s\n", Shown(job->File).c_str(), Shown(job->Refusal).c_str());
      break;
    }
    // A final name holds a complete output only; an MP4 also says whether it was stopped.
    if (AOptions.SkipExisting && job->Refusal.empty() && !job->Planned.empty()) {
      struct stat st {};
      if (::lstat(job->Planned.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        job->Skipped = !mp4 || ReadMp4ConversionState(job->Planned) == TMp4ConversionState::Finished;
    }
    batch.push_back(std::move(job));
  }

  std::mutex lock;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  auto work = [&] {
    TDmRecordToMP4 task;
    task.SetTranscoders(jobs);
    for (size_t i; (i = next.fetch_add(1)) < batch.size();) {
      TJob& job = *batch[i];
      if (!Interrupted.load() && job.Refusal.empty() && !job.Skipped) {
        const auto start = std::chrono::steady_clock::now();
        if (mp4)
          ExecRecordToMp4(task, job.File, job.Base, job.Progress, Interrupted, &job.Outcome,
                          AOptions.Timing == TTimingOption::Rate ? TRecordTiming::Rate : TRecordTiming::Stamps);
        else
          ExecRecordToRawFile(job.File, job.Base, job.Progress, &job.Outcome, &Interrupted);
        job.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      } else if (job.Outcome.Status == TConversionStatus::NotRun && Interrupted.load()) {
        job.Outcome.Status = TConversionStatus::Stopped;
      }
      {
        std::lock_guard<std::mutex> guard(lock);
        job.Done = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  const size_t workerCount = std::min<size_t>(static_cast<size_t>(jobs), batch.size());
  for (size_t w = 0; w < workerCount; ++w) workers.emplace_back(work);

  // Results in input order; the progress shown is that of the first file not yet reported.
  TProgressDisplay display(stderr);
  int status = 0;
  size_t reported = 0, shown = SIZE_MAX;
  while (reported < batch.size()) {
    {
      std::unique_lock<std::mutex> guard(lock);
      changed.wait_for(guard, std::chrono::milliseconds(DisplayIntervalMs), [&] { return batch[reported]->Done; });
    }
    while (reported < batch.size()) {
      TJob& job = *batch[reported];
      {
        std::lock_guard<std::mutex> guard(lock);
        if (!job.Done) break;
      }
      if (shown == reported) display.End();
      if (job.Outcome.OutFileName.empty()) job.Outcome.OutFileName = job.Planned.empty() ? job.Base + (mp4 ? ".mp4" : "") : job.Planned;
      bool ok = true;
      if (AOptions.Json) {
        std::printf("%s\n", JsonSummary(job, mp4).c_str());
        ok = job.Skipped || job.Outcome.Succeeded();
      } else if (!job.Refusal.empty()) {
        ok = false;
      } else if (job.Skipped) {
        std::printf("%s -> %s: skipped, the output exists and is complete\n", Shown(job.File).c_str(),
                    Shown(job.Planned).c_str());
      } else if (!(Interrupted.load() && job.Outcome.Status == TConversionStatus::NotRun)) {
        ok = ReportOutcome(job.File, job.Outcome, mp4, job.Seconds);
      }
      if (!ok) status = 1;
      std::fflush(stdout);
      ++reported;
    }
    if (reported < batch.size() && !AOptions.Json) {
      TJob& job = *batch[reported];
      if (shown != reported && job.Refusal.empty() && !job.Skipped && job.Progress.load() > 0) {
        display.Begin(Shown(GetVYRFileShortName(job.File)), RecordingSeconds(job.File));
        shown = reported;
      }
      if (shown == reported) display.Update(std::min(job.Progress.load(), 100));
    }
  }
  for (std::thread& t : workers) t.join();
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
  // Encoders opened and closed segment after segment on several threads would otherwise
  // leave each thread's pool holding tens of megabytes that no segment needs any more.
  FixLargeBlockThreshold();
  InstallInterruptHandler();
  return RunConversions(options);
}
