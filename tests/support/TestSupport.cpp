#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/uFunctionsLib.h"

TTempDir::TTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vyrtest-XXXXXX").string();
  if (!::mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Restore permissions that a test may have taken away, so everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(FPath, ec);
}

TLogCapture::TLogCapture() : FOldLevel(GetRunLogLevel()) {
  SetDebugSink([this](const std::string& ALine) {
    std::lock_guard<std::mutex> g(FLock);
    FLines.push_back(ALine);
  });
  SetLogLevelStr("1");
}

TLogCapture::~TLogCapture() {
  SetDebugSink(nullptr);
  SetLogLevelStr(std::to_string(FOldLevel));
}

std::vector<std::string> TLogCapture::Lines() const {
  std::lock_guard<std::mutex> g(FLock);
  return FLines;
}

size_t TLogCapture::Count(const std::string& ALine) const {
  std::lock_guard<std::mutex> g(FLock);
  size_t n = 0;
  for (const std::string& l : FLines) n += l == ALine;
  return n;
}

size_t TLogCapture::CountStartingWith(const std::string& APrefix) const {
  std::lock_guard<std::mutex> g(FLock);
  size_t n = 0;
  for (const std::string& l : FLines) n += l.compare(0, APrefix.size(), APrefix) == 0;
  return n;
}

void TLogCapture::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  FLines.clear();
}

TScopedEnv::TScopedEnv(const std::string& AName, const std::string& AValue) : FName(AName) {
  const char* old = std::getenv(AName.c_str());
  FHadOld = old != nullptr;
  if (old) FOld = old;
  ::setenv(AName.c_str(), AValue.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
  if (FHadOld) ::setenv(FName.c_str(), FOld.c_str(), 1);
  else ::unsetenv(FName.c_str());
}

TPrivateUserEnv::TPrivateUserEnv()
    : FAppData("APPDATA", AppData()),
      FHome("HOME", Home()),
      // Where the desktop program keeps its own settings: never the user's real folder.
      FConfigHome("XDG_CONFIG_HOME", ConfigHome()),
      FRuntime("XDG_RUNTIME_DIR", Runtime()),
      FTmp("TMPDIR", FDir.Path()) {
  ::mkdir(AppData().c_str(), 0700);
  ::mkdir((AppData() + "/Vyr Player").c_str(), 0700);
  ::mkdir(Home().c_str(), 0700);
  ::mkdir(Runtime().c_str(), 0700);
}

void TPrivateUserEnv::WriteSettings(const std::string& AText) const { WriteFileBytes(SettingsFile(), AText); }

std::string ReadFileBytes(const std::string& AFileName) {
  std::ifstream in(AFileName, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFileBytes(const std::string& AFileName, const std::string& ABytes) {
  std::ofstream out(AFileName, std::ios::binary | std::ios::trunc);
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::string& AFileName) {
  struct stat st {};
  return ::stat(AFileName.c_str(), &st) == 0;
}

namespace {
std::string DrainFd(int AFd) {
  std::string s;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(AFd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}
}  // namespace

namespace {
void ApplyLimit(int AResource, long long AValue) {
  if (AValue < 0) return;
  struct rlimit lim {};
  lim.rlim_cur = static_cast<rlim_t>(AValue);
  lim.rlim_max = static_cast<rlim_t>(AValue);
  ::setrlimit(AResource, &lim);
}
}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& AArgs, const TProcessLimits& ALimits) {
  char outTmpl[] = "/tmp/vyrout-XXXXXX";
  char errTmpl[] = "/tmp/vyrerr-XXXXXX";
  FOutFd = ::mkstemp(outTmpl);
  FErrFd = ::mkstemp(errTmpl);
  ::unlink(outTmpl);
  ::unlink(errTmpl);
  FPid = ::fork();
  if (FPid == 0) {
    ::dup2(FOutFd, STDOUT_FILENO);
    ::dup2(FErrFd, STDERR_FILENO);
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, STDIN_FILENO);
    ApplyLimit(RLIMIT_FSIZE, ALimits.FileSizeBytes);
    ApplyLimit(RLIMIT_NOFILE, ALimits.OpenFiles);
    ApplyLimit(RLIMIT_AS, ALimits.MemoryBytes);
    std::vector<char*> argv;
    for (const std::string& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

TChildProcess::~TChildProcess() {
  if (FPid > 0) {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  if (FOutFd >= 0) ::close(FOutFd);
  if (FErrFd >= 0) ::close(FErrFd);
}

void TChildProcess::Signal(int ASignal) {
  if (FPid > 0) ::kill(FPid, ASignal);
}

bool TChildProcess::TryWait(int ATimeoutMs, TProcessResult& AResult) {
  if (FPid <= 0) return false;
  for (int waited = 0;; waited += 10) {
    int status = 0;
    struct rusage usage {};
    if (::wait4(FPid, &status, WNOHANG, &usage) == FPid) {
      FPid = -1;
      AResult = Collect(status, usage);
      return true;
    }
    if (waited >= ATimeoutMs) return false;
    ::usleep(10000);
  }
}

TProcessResult TChildProcess::Wait() {
  TProcessResult r;
  if (FPid <= 0) return r;
  int status = 0;
  struct rusage usage {};
  ::wait4(FPid, &status, 0, &usage);
  FPid = -1;
  return Collect(status, usage);
}

TProcessResult TChildProcess::Collect(int AStatus, const struct rusage& AUsage) {
  TProcessResult r;
  const int status = AStatus;
  const struct rusage& usage = AUsage;
  r.MaxRssKb = usage.ru_maxrss;
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(FOutFd, 0, SEEK_SET);
  ::lseek(FErrFd, 0, SEEK_SET);
  r.Out = DrainFd(FOutFd);
  r.Err = DrainFd(FErrFd);
  return r;
}

TProcessResult RunProcess(const std::vector<std::string>& AArgs, const TProcessLimits& ALimits) {
  return TChildProcess(AArgs, ALimits).Wait();
}

namespace {
// Moves this process (its calling thread and everything it starts later) into a mount
// namespace of its own, once.
bool EnterPrivateMountNamespace(std::string& AWhy) {
  static int state = 0;  // 0 not tried, 1 done, -1 failed
  static std::string why;
  if (state == 0) {
    if (::geteuid() != 0) {
      why = "needs root to mount a tmpfs";
      state = -1;
    } else if (::unshare(CLONE_NEWNS) != 0) {
      why = std::string("unshare: ") + std::strerror(errno);
      state = -1;
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why = std::string("private mounts: ") + std::strerror(errno);
      state = -1;
    } else {
      state = 1;
    }
  }
  AWhy = why;
  return state == 1;
}
}  // namespace

TSmallTmpfs::TSmallTmpfs(size_t ABytes) {
  char tmpl[] = "/tmp/vyrtmpfs-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    FWhy = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  FPath = tmpl;
  if (!EnterPrivateMountNamespace(FWhy)) return;
  const std::string options = "size=" + std::to_string(ABytes) + ",mode=0755";
  if (::mount("tmpfs", FPath.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    FWhy = std::string("mount: ") + std::strerror(errno);
    return;
  }
  FMounted = true;
}

TSmallTmpfs::~TSmallTmpfs() {
  if (FMounted) ::umount2(FPath.c_str(), MNT_DETACH);
  if (!FPath.empty()) ::rmdir(FPath.c_str());
}

unsigned long long TSmallTmpfs::FreeBytes() const {
  struct statvfs st {};
  if (::statvfs(FPath.c_str(), &st) != 0) return 0;
  return static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
}

std::vector<std::string> ListFolder(const std::string& ADir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(ADir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool DefinedDynamicSymbols(const std::string& ALibrary, std::vector<std::string>& ASymbols, std::string& AError) {
  ASymbols.clear();
  const TProcessResult r = RunProcess({"/usr/bin/nm", "-D", "--defined-only", ALibrary});
  if (r.ExitCode != 0) {
    AError = "nm: " + r.Err;
    return false;
  }
  // One line per symbol: address, kind, name.
  std::istringstream in(r.Out);
  std::string address, kind, name;
  while (in >> address >> kind >> name) ASymbols.push_back(name);
  std::sort(ASymbols.begin(), ASymbols.end());
  return true;
}

bool TChildProcess::Ends(int AMs) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == FPid)
      return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TFileSizeLimit::TFileSizeLimit(rlim_t ABytes) {
  ::getrlimit(RLIMIT_FSIZE, &FOld);
  FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = FOld;
  limit.rlim_cur = ABytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &FOld);
  std::signal(SIGXFSZ, FOldHandler);
}

long ResidentKb() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  const bool ok = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
  std::fclose(f);
  return ok ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}
