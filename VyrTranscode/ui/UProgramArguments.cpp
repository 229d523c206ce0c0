#include "ui/UProgramArguments.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#ifndef VYR_VERSION
#error "VYR_VERSION must name the program's version"
#endif

namespace {

// The toolkit's own options that take a value, and those that do not.
const char* const ToolkitOptionsWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                               "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-style",
                                               "-stylesheet", "-display", "-geometry", "-session"};
const char* const ToolkitFlags[] = {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"};

bool IsToolkitOptionWithValue(const std::string& AArg) {
  for (const char* o : ToolkitOptionsWithValue)
    if (AArg == o) return true;
  return false;
}

// "-style=fusion" and the flags.
bool IsToolkitOptionAlone(const std::string& AArg) {
  for (const char* o : ToolkitFlags)
    if (AArg == o) return true;
  for (const char* o : ToolkitOptionsWithValue) {
    const size_t n = std::strlen(o);
    if (AArg.size() > n && AArg.compare(0, n, o) == 0 && AArg[n] == '=') return true;
  }
  return false;
}

}  // namespace

std::string CurrentFolder() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return std::string(buf.c_str());
    if (errno != ERANGE || buf.size() >= (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

TProgramArguments ParseProgramArguments(int argc, const char* const* argv, const std::string& ACurrentDir) {
  TProgramArguments r;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnd = true;
      } else if (arg == "--help" || arg == "-h") {
        r.Action = TProgramAction::Help;
        return r;
      } else if (arg == "--version") {
        r.Action = TProgramAction::Version;
        return r;
      } else if (IsToolkitOptionWithValue(arg)) {
        if (i + 1 >= argc) {
          r.Action = TProgramAction::Error;
          r.Error = "option " + arg + " needs a value";
          return r;
        }
        ++i;
      } else if (!IsToolkitOptionAlone(arg)) {
        r.Action = TProgramAction::Error;
        r.Error = "unknown option " + arg;
        return r;
      }
      continue;
    }
    if (arg.empty()) continue;
    if (arg[0] == '/') {
      r.Files.push_back(arg);
    } else if (ACurrentDir.empty()) {
      r.Action = TProgramAction::Error;
      r.Error = "cannot tell the current folder, so " + arg + " cannot be found; give the full path";
      return r;
    } else {
      r.Files.push_back(ACurrentDir + (ACurrentDir.back() == '/' ? "" : "/") + arg);
    }
  }
  return r;
}

std::string ProgramUsage() {
  return "Usage: VyrTranscode [--help] [--version] [--] [FILE.vyr...]\n"
         "Converts VYR recordings to MP4 files or to their raw video streams.\n"
         "\n"
         "The files given are added to the list of the program's window. When the program\n"
         "runs already, they are added to its window, which comes forward, and this start\n"
         "ends; while that window converts, they are added once its run has ended.\n"
         "\n"
         "  -h, --help     show this help and end\n"
         "      --version  show the version and end\n"
         "      --         take every argument after it as a file name\n";
}

std::string ProgramVersionText() { return std::string("VyrTranscode ") + VYR_VERSION; }
