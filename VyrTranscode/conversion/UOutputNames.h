// Names of the output files: the window's queue and vyrconvert derive them the same way.
#pragma once

#include <string>

// The file name part of a path: the text after the last "/", the whole text when there is
// none.
std::string GetVYRFileShortName(const std::string& AFullName);

// The output base name of a record file: AOutDir followed by sVYRFileName without its last
// four characters (the ".vyr" extension). The result is always inside AOutDir: a "/" is
// added to a folder without one, and only the file name part of sVYRFileName is used. An empty AOutDir stands for the folder
// "VyrRecord" in the user's home folder. The caller appends ".mp4" or the raw stream's
// extension. Characters are counted as UTF-8 characters, so a name is never cut inside
// one.
std::string MakeOutputFileName(const std::string& AOutDir, const std::string& sVYRFileName);

// The folder that an empty output folder stands for: $HOME/VyrRecord/.
std::string DefaultOutputDir();

// Longest file name, in bytes, that the file systems we write to take.
constexpr size_t MaxFileNameBytes = 255;

// The file name of the work file of an output, given the output's file name (without its
// folder): AFinalName + ".part". When that passes MaxFileNameBytes, AFinalName cut to 200
// bytes (never inside a UTF-8 character), "~", 8 hex digits of a hash of the whole of
// AFinalName and ".part": still one fixed name per output.
std::string MakeWorkFileName(const std::string& AFinalName);

// Whether two output names are the same for a file system that ignores case: equal when
// ASCII letters are compared without case. Outputs with such names would replace each
// other.
bool SameOutputName(const std::string& A, const std::string& B);
