// Support functions shared by every part of the program: the debug log and its switch,
// the per-user and installation folders, the choice of a data disk for the default
// output folder and the test that tells a record file by its name.
//
// This unit links no GUI toolkit; opening a folder in the desktop's file manager lives on
// the GUI side. All text is UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Debug log -------------------------------------------------------------------

// Writes one debug-log entry when the log level is above 0, and drops it otherwise. The
// text goes unchanged to standard error, followed by a newline, in one write, so lines
// from several threads never interleave.
void PrintDebugString(const std::string& sDebugStr);
// The same as PrintDebugString; the audio units call it under this name.
void OutputDebugStr(const std::string& sDebugStr);
// Sets the log level from text: a 32-bit integer switches the log on when above 0;
// anything that is not an integer switches it off.
void SetLogLevelStr(const std::string& ALevel);
int GetRunLogLevel();

// printf-style composition of a log line ("VideoToX264: open encoder[%d, %d], result: %d").
std::string FormatStr(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));

// Replaces the output channel of the log (tests capture the lines this way). An empty
// function restores standard error. Set it while no other thread logs.
using TDebugSink = std::function<void(const std::string&)>;
void SetDebugSink(TDebugSink ASink);

// ---- Paths -----------------------------------------------------------------------

// The per-user application data folder: $APPDATA when set and not empty, else
// $XDG_CONFIG_HOME, else $HOME/.config. No separator is added.
std::string GetAppDataPath();
// The folder of the running executable, with a trailing "/".
std::string GetInstallDir();
// The folder that holds the shipped data folder AFolder ("Language", "Styles"), with a
// trailing "/": the executable's folder when AFolder is a folder there (the build
// folder's layout), else ../share/vyrtranscode/ from it (the installed layout:
// /usr/bin/VyrTranscode finds /usr/share/vyrtranscode/Language/) when AFolder is a folder
// there. When neither holds it, the executable's folder, so what is missing is named
// where it was looked for first. Each data folder is looked up on its own.
std::string GetDataDir(const std::string& AFolder);
// The same for a given executable folder (with or without a trailing "/").
std::string GetDataDir(const std::string& AExeDir, const std::string& AFolder);
// The user's home folder ($HOME, else the password database), without a trailing "/".
std::string GetHomeDir();

// True when the last three characters of the path, in lower case, are "vyr".
bool CheckIsVyr(const std::string& sRecordPath);

// ---- Disks -----------------------------------------------------------------------

struct TMountEntry {
  std::string Device;
  std::string MountPoint;
  std::string FsType;
};

// The system services that the disk choice uses; tests replace them.
struct TDiskSystem {
  // The mount table, in order. Throws std::runtime_error when it cannot be read.
  std::function<std::vector<TMountEntry>()> ReadMounts;
  // Whether a mount entry is a local file system backed by a block device.
  std::function<bool(const TMountEntry&)> IsLocalBlockDevice;
  // Whether the current user may write to the folder.
  std::function<bool(const std::string&)> IsWritable;
  // Free bytes available to the user; throws std::runtime_error on failure.
  std::function<uint64_t(const std::string&)> FreeBytes;
};
const TDiskSystem& DefaultDiskSystem();

// The mount points of local file systems backed by a block device, in mount-table order
// (each once).
std::vector<std::string> GetDisk(const TDiskSystem& ASystem = DefaultDiskSystem());
// Among GetDisk's mount points, those the user can write to, never "/" nor anything
// under /boot: the one with the most free space (in whole megabytes, rounded; of equals
// the earliest), with a trailing "/". Empty text when none qualifies. Any error throws
// std::runtime_error("Get system disk list failed.").
std::string GetIdeDisk(const TDiskSystem& ASystem = DefaultDiskSystem());
