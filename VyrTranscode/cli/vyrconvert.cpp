// vyrconvert: converts record files to MP4 or to their raw video stream, or probes them.
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/UCommandLine.h"
#include "conversion/UOutputNames.h"
#include "conversion/URawExport.h"
#include "conversion/URecordProbe.h"
#include "support/uFunctionsLib.h"

namespace {

// Set by Ctrl-C: the running export closes its partial file and no further file starts.
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

// Raw export of each file in turn. Exit status 0 when every file was converted, 1 when
// any failed, 130 after an interruption.
int RunRawExport(const TCommandLineOptions& AOptions) {
  InstallInterruptHandler();
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

    std::atomic<int> progress{0};
    TConversionOutcome outcome;
    ExecRecordToRawFile(file, MakeOutputFileName(AOptions.OutDir, shortName), progress, &outcome, &Interrupted);
    const char* outName = outcome.OutFileName.c_str();
    switch (outcome.Status) {
      case TConversionStatus::Converted:
        std::printf("%s -> %s: %lld video frames, %lld bytes\n", file.c_str(), outName,
                    static_cast<long long>(outcome.VideoFrames), static_cast<long long>(outcome.BytesWritten));
        break;
      case TConversionStatus::Stopped:
        std::fprintf(stderr, "vyrconvert: %s: interrupted; %s holds %lld bytes\n", file.c_str(), outName,
                     static_cast<long long>(outcome.BytesWritten));
        break;
      case TConversionStatus::NothingWritten:
        std::fprintf(stderr, "vyrconvert: %s: holds no video (%s is empty)\n", file.c_str(), outName);
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
  if (options.Format == TOutFormat::Raw) return RunRawExport(options);
  std::fprintf(stderr, "vyrconvert: conversion is not available in this build yet; use --probe\n");
  return 1;
}
