#include "cli/UCommandLine.h"

#include <cstdlib>

#ifndef VYR_VERSION
#error "VYR_VERSION must name the project's version"
#endif

std::string VersionText() { return std::string("vyrconvert ") + VYR_VERSION; }

const char* UsageText() {
  return "usage: vyrconvert [-o DIR] [-f mp4|raw] [--probe] [-v] [-j N] [--skip-existing] [--json]\n"
         "                  [--timing stamps|rate] [--version] FILE.vyr...\n"
         "  -o DIR      output folder (default: the current folder)\n"
         "  -f mp4|raw  MP4 with H.264 video and AAC audio (default), or the raw video stream\n"
         "  --probe     print what each recording holds and convert nothing\n"
         "  -v          write the debug log to standard error\n"
         "  -j N        at most N encoders at once, for the segments of one recording and for\n"
         "              recordings converted side by side (default: the number of cores;\n"
         "              -j 1 converts one file after another, picture after picture)\n"
         "  --skip-existing\n"
         "              skip a recording whose output exists and is complete\n"
         "  --json      one JSON object per file instead of the summary line\n"
         "  --version   print the version and exit\n"
         "  --timing stamps|rate\n"
         "              time the MP4's pictures and audio by the recording's time stamps\n"
         "              (default), or give every picture one frame of the measured rate\n";
}

bool ParseCommandLine(const std::vector<std::string>& AArgs, TCommandLineOptions& AOptions,
                      std::string& AError) {
  AOptions = TCommandLineOptions();
  bool outDirGiven = false, onlyFiles = false;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string& a = AArgs[i];
    if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
      AOptions.Files.push_back(a);
    } else if (a == "--") {
      onlyFiles = true;
    } else if (a == "-h" || a == "--help") {
      AOptions.Help = true;
    } else if (a == "--version") {
      AOptions.Version = true;
    } else if (a == "-v" || a == "--verbose") {
      AOptions.Verbose = true;
    } else if (a == "--probe") {
      AOptions.Probe = true;
    } else if (a == "--skip-existing") {
      AOptions.SkipExisting = true;
    } else if (a == "--json") {
      AOptions.Json = true;
    } else if (a == "-j" || (a.size() > 2 && a.compare(0, 2, "-j") == 0 && a[2] >= '0' && a[2] <= '9')) {
      std::string v;
      if (a == "-j") {
        if (i + 1 >= AArgs.size()) {
          AError = "option -j needs a number";
          return false;
        }
        v = AArgs[++i];
      } else {
        v = a.substr(2);
      }
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > 1024) {
        AError = "option -j needs a number from 1 to 1024";
        return false;
      }
      AOptions.Jobs = static_cast<int>(n);
    } else if (a == "--timing") {
      if (i + 1 >= AArgs.size()) {
        AError = "option --timing needs a value";
        return false;
      }
      const std::string& v = AArgs[++i];
      if (v == "stamps") {
        AOptions.Timing = TTimingOption::Stamps;
      } else if (v == "rate") {
        AOptions.Timing = TTimingOption::Rate;
      } else {
        AError = "unknown timing '" + v + "' (use stamps or rate)";
        return false;
      }
    } else if (a == "-o" || a == "-f") {
      if (i + 1 >= AArgs.size()) {
        AError = "option " + a + " needs a value";
        return false;
      }
      const std::string& v = AArgs[++i];
      if (a == "-o") {
        if (v.empty()) {
          AError = "option -o needs a folder";
          return false;
        }
        AOptions.OutDir = v;
        outDirGiven = true;
      } else if (v == "mp4") {
        AOptions.Format = TOutFormat::Mp4;
      } else if (v == "raw") {
        AOptions.Format = TOutFormat::Raw;
      } else {
        AError = "unknown output format '" + v + "' (use mp4 or raw)";
        return false;
      }
    } else {
      AError = "unknown option " + a;
      return false;
    }
  }
  if (!outDirGiven) AOptions.OutDir = "./";
  if (AOptions.OutDir.back() != '/') AOptions.OutDir.push_back('/');
  if (AOptions.Files.empty() && !AOptions.Help && !AOptions.Version) {
    AError = "no recording given";
    return false;
  }
  return true;
}
