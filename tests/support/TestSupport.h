// Helpers shared by the tests.
#pragma once

#include <mutex>
#include <sys/resource.h>
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

// A user of the programs of their own: APPDATA (with its "Vyr Player" folder), HOME,
// XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR in a fresh temporary folder, for the objects
// of a test and for the programs it starts.
class TPrivateUserEnv {
 public:
  TPrivateUserEnv();
  const TTempDir& Dir() const { return FDir; }
  std::string AppData() const { return FDir.File("appdata"); }
  std::string Home() const { return FDir.File("home"); }
  std::string Runtime() const { return FDir.File("run"); }
  std::string ConfigHome() const { return FDir.File("config"); }
  std::string SettingsFile() const { return AppData() + "/Vyr Player/SysParams.ini"; }
  void WriteSettings(const std::string& AText) const;

 private:
  TTempDir FDir;
  TScopedEnv FAppData, FHome, FConfigHome, FRuntime, FTmp;
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
// Resource limits set in a child process before it starts the program; -1 leaves a limit
// as it is.
struct TProcessLimits {
  long long FileSizeBytes = -1;  // RLIMIT_FSIZE: a write past it fails (or raises SIGXFSZ)
  long long OpenFiles = -1;      // RLIMIT_NOFILE
  long long MemoryBytes = -1;    // RLIMIT_AS
};

// Runs a program (argv[0] a path) and collects its output and exit status.
TProcessResult RunProcess(const std::vector<std::string>& AArgs, const TProcessLimits& ALimits = {});

// A program started in the background, for tests that signal it while it runs.
class TChildProcess {
 public:
  explicit TChildProcess(const std::vector<std::string>& AArgs, const TProcessLimits& ALimits = {});
  ~TChildProcess();  // kills and reaps a child still running
  void Signal(int ASignal);
  TProcessResult Wait();
  // Waits at most ATimeoutMs for the program to end; false (and the program still running)
  // when it did not.
  bool TryWait(int ATimeoutMs, TProcessResult& AResult);
  // Whether the program ends within AMs; it stays to be collected by Wait or TryWait.
  bool Ends(int AMs) const;
  int Pid() const { return FPid; }

 private:
  TProcessResult Collect(int AStatus, const struct rusage& AUsage);
  int FPid = -1;
  int FOutFd = -1, FErrFd = -1;
};

// A small tmpfs on a fresh folder, for tests of a full disk. It is mounted in a mount
// namespace of this test process's own (made on first use), so nothing outside the process
// sees it and nothing is left mounted when the process ends. Needs root: Ok() is false
// otherwise, and Why() tells why.
class TSmallTmpfs {
 public:
  explicit TSmallTmpfs(size_t ABytes);
  ~TSmallTmpfs();
  TSmallTmpfs(const TSmallTmpfs&) = delete;
  TSmallTmpfs& operator=(const TSmallTmpfs&) = delete;
  bool Ok() const { return FMounted; }
  const std::string& Why() const { return FWhy; }
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }
  // Bytes still free on it.
  unsigned long long FreeBytes() const;

 private:
  std::string FPath;
  std::string FWhy;
  bool FMounted = false;
};

// Writes past ABytes fail for this process while the object lives, as on a full disk (the
// signal such a write raises is ignored meanwhile).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t ABytes);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
};

// The resident memory of this process, in KiB; -1 when it cannot be read.
long ResidentKb();

// The names in a folder (without "." and ".."), sorted.
std::vector<std::string> ListFolder(const std::string& ADir);

// The symbols a shared library defines in its dynamic symbol table (what it exports), as
// nm -D --defined-only lists them, sorted. False, with what nm said in AError, when nm
// cannot read the library.
bool DefinedDynamicSymbols(const std::string& ALibrary, std::vector<std::string>& ASymbols, std::string& AError);
