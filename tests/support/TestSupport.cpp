#include "TestSupport.h"

#include <csignal>
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

TChildProcess::TChildProcess(const std::vector<std::string>& AArgs) {
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

TProcessResult TChildProcess::Wait() {
  TProcessResult r;
  if (FPid <= 0) return r;
  int status = 0;
  struct rusage usage {};
  ::wait4(FPid, &status, 0, &usage);
  FPid = -1;
  r.MaxRssKb = usage.ru_maxrss;
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(FOutFd, 0, SEEK_SET);
  ::lseek(FErrFd, 0, SEEK_SET);
  r.Out = DrainFd(FOutFd);
  r.Err = DrainFd(FErrFd);
  return r;
}

TProcessResult RunProcess(const std::vector<std::string>& AArgs) {
  return TChildProcess(AArgs).Wait();
}
