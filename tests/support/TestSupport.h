// Helpers shared by the tests.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// A fresh temporary folder, removed with everything in it when the object goes.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }

 private:
  std::string FPath;
};

// Switches the debug log on and collects its lines while it lives; restores the log
// level and the standard sink afterwards.
class TLogCapture {
 public:
  TLogCapture();
  ~TLogCapture();
  std::vector<std::string> Lines() const;
  size_t Count(const std::string& ALine) const;
  bool Contains(const std::string& ALine) const { return Count(ALine) > 0; }
  size_t CountStartingWith(const std::string& APrefix) const;
  void Clear();

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FLines;
  int FOldLevel;
};

// Sets an environment variable for the lifetime of the object.
class TScopedEnv {
 public:
  TScopedEnv(const std::string& AName, const std::string& AValue);
  ~TScopedEnv();

 private:
  std::string FName, FOld;
  bool FHadOld;
};

std::string ReadFileBytes(const std::string& AFileName);
bool WriteFileBytes(const std::string& AFileName, const std::string& ABytes);
bool FileExists(const std::string& AFileName);

struct TProcessResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
  long MaxRssKb = 0;  // peak resident memory of the process
};
// Runs a program (argv[0] a path) and collects its output and exit status.
TProcessResult RunProcess(const std::vector<std::string>& AArgs);

// A program started in the background, for tests that signal it while it runs.
class TChildProcess {
 public:
  explicit TChildProcess(const std::vector<std::string>& AArgs);
  ~TChildProcess();  // kills and reaps a child still running
  void Signal(int ASignal);
  TProcessResult Wait();
  int Pid() const { return FPid; }

 private:
  int FPid = -1;
  int FOutFd = -1, FErrFd = -1;
};
