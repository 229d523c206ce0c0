// The desktop program's command line:
//   VyrTranscode [--help] [--version] [--] [FILE...]
// The files are added to the list as if they were dropped on the window (or handed to the
// instance that runs already). A relative name is made absolute against the current
// folder; names are otherwise kept byte for byte as given. Options of the GUI toolkit
// (-platform NAME, -style NAME, -display NAME, ...) are left for the toolkit.
#pragma once

#include <string>
#include <vector>

enum class TProgramAction {
  Run,      // start (or hand the files over)
  Help,     // print ProgramUsage() and end with 0
  Version,  // print ProgramVersionText() and end with 0
  Error,    // print Error and a hint to --help on standard error, end with 2
};

struct TProgramArguments {
  TProgramAction Action = TProgramAction::Run;
  std::vector<std::string> Files;
  std::string Error;
};

// ACurrentDir: the current folder, for relative names; empty when it cannot be told (a
// relative name is then an error).
TProgramArguments ParseProgramArguments(int argc, const char* const* argv, const std::string& ACurrentDir);
// The current folder, empty when it cannot be told.
std::string CurrentFolder();

std::string ProgramUsage();
// "VyrTranscode 1.0.0".
std::string ProgramVersionText();
