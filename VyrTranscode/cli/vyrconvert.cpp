// vyrconvert: converts record files to MP4 or to their raw video stream, or probes them.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/UCommandLine.h"
#include "conversion/URecordProbe.h"
#include "support/uFunctionsLib.h"

namespace {

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
  std::fprintf(stderr, "vyrconvert: conversion is not available in this build yet; use --probe\n");
  return 1;
}
