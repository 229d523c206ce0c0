// Command-line options of vyrconvert:
//   vyrconvert [-o DIR] [-f mp4|raw] [--probe] [-v] [-j N] [--skip-existing] [--json]
//              [--timing stamps|rate] [--version] FILE.vyr...
#pragma once

#include <string>
#include <vector>

enum class TOutFormat { Mp4, Raw };
enum class TTimingOption { Stamps, Rate };

struct TCommandLineOptions {
  std::string OutDir;  // with a trailing "/"; the current folder when not given
  TOutFormat Format = TOutFormat::Mp4;
  bool Probe = false;
  bool Verbose = false;
  bool Help = false;
  bool Version = false;
  TTimingOption Timing = TTimingOption::Stamps;
  int Jobs = 0;  // encoders at once; 0: the machine's cores
  bool SkipExisting = false;
  bool Json = false;
  std::vector<std::string> Files;
};

// Parses the arguments (without the program name). False and a message in AError for bad
// usage.
bool ParseCommandLine(const std::vector<std::string>& AArgs, TCommandLineOptions& AOptions,
                      std::string& AError);

const char* UsageText();
// "vyrconvert <version>", the project's version.
std::string VersionText();
