#include "support/uFunctionsLib.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Only whether the level is above 0 matters. Written once at start-up, read by every
// thread that logs.
std::atomic<int> RunLogLevel{0};

TDebugSink& DebugSink() {
  static TDebugSink sink;
  return sink;
}

void WriteDebugLine(const std::string& sDebugStr) {
  const TDebugSink& sink = DebugSink();
  if (sink) {
    sink(sDebugStr);
    return;
  }
  std::string line;
  line.reserve(sDebugStr.size() + 1);
  line.append(sDebugStr);
  line.push_back('\n');
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

void PrintDebugString(const std::string& sDebugStr) {
  if (RunLogLevel.load(std::memory_order_relaxed) > 0) WriteDebugLine(sDebugStr);
}

void OutputDebugStr(const std::string& sDebugStr) { PrintDebugString(sDebugStr); }

void SetLogLevelStr(const std::string& ALevel) {
  // The whole text must be a 32-bit integer (an optional sign and digits).
  const char* s = ALevel.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  bool ok = !ALevel.empty() && end == s + ALevel.size() && errno == 0 &&
            !std::isspace(static_cast<unsigned char>(s[0])) && v >= INT32_MIN &&
            v <= INT32_MAX;
  RunLogLevel.store(ok ? static_cast<int>(v) : 0, std::memory_order_relaxed);
}

int GetRunLogLevel() { return RunLogLevel.load(std::memory_order_relaxed); }

std::string FormatStr(const char* AFormat, ...) {
  char small[512];
  va_list args;
  va_start(args, AFormat);
  int n = std::vsnprintf(small, sizeof(small), AFormat, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, AFormat);
  std::vsnprintf(&big[0], big.size(), AFormat, args);
  va_end(args);
  big.resize(static_cast<size_t>(n));
  return big;
}

void SetDebugSink(TDebugSink ASink) { DebugSink() = std::move(ASink); }

// ---- Paths -----------------------------------------------------------------------

namespace {
std::string EnvOrEmpty(const char* AName) {
  const char* v = std::getenv(AName);
  return v ? std::string(v) : std::string();
}
}  // namespace

std::string GetHomeDir() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid())) {
    if (pw->pw_dir) return pw->pw_dir;
  }
  return "/";
}

std::string GetAppDataPath() {
  std::string v = EnvOrEmpty("APPDATA");
  if (!v.empty()) return v;
  v = EnvOrEmpty("XDG_CONFIG_HOME");
  if (!v.empty()) return v;
  return GetHomeDir() + "/.config";
}

std::string GetInstallDir() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

namespace {

bool IsFolder(const std::string& APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder above AFolder (which ends with "/"), by its text: the executable's folder
// comes from /proc/self/exe, which holds no links, so the text's parent is the real one.
std::string ParentFolder(const std::string& AFolder) {
  const std::string trimmed = AFolder.substr(0, AFolder.size() - 1);
  const size_t slash = trimmed.rfind('/');
  const std::string last = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (trimmed.empty()) return "/";
  if (last == "." || last == "..") return AFolder + "../";
  return slash == std::string::npos ? "./" : trimmed.substr(0, slash + 1);
}

}  // namespace

std::string GetDataDir(const std::string& AFolder) { return GetDataDir(GetInstallDir(), AFolder); }

std::string GetDataDir(const std::string& AExeDir, const std::string& AFolder) {
  std::string exeDir = AExeDir.empty() ? std::string("./") : AExeDir;
  if (exeDir.back() != '/') exeDir += '/';
  if (IsFolder(exeDir + AFolder)) return exeDir;
  const std::string shared = ParentFolder(exeDir) + "share/vyrtranscode/";
  if (IsFolder(shared + AFolder)) return shared;
  return exeDir;
}

bool CheckIsVyr(const std::string& sRecordPath) {
  std::string tail =
      sRecordPath.size() > 3 ? sRecordPath.substr(sRecordPath.size() - 3) : sRecordPath;
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == "vyr";
}

// ---- Disks -----------------------------------------------------------------------

namespace {

// /proc/self/mounts escapes blanks and a few other characters as \ooo.
std::string UnescapeMountField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() &&
        std::isdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isdigit(static_cast<unsigned char>(s[i + 3]))) {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<TMountEntry> ReadProcMounts() {
  std::ifstream in("/proc/self/mounts");
  if (!in) throw std::runtime_error("cannot read the mount table");
  std::vector<TMountEntry> result;
  std::string device, mountPoint, fsType, rest;
  while (in >> device >> mountPoint >> fsType) {
    std::getline(in, rest);
    result.push_back({UnescapeMountField(device), UnescapeMountField(mountPoint), fsType});
  }
  return result;
}

bool IsBlockDeviceMount(const TMountEntry& AEntry) {
  if (AEntry.Device.compare(0, 5, "/dev/") != 0) return false;
  struct stat st {};
  return ::stat(AEntry.Device.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

bool IsWritableFolder(const std::string& APath) { return ::access(APath.c_str(), W_OK) == 0; }

uint64_t FreeBytesOf(const std::string& APath) {
  struct statvfs sv {};
  if (::statvfs(APath.c_str(), &sv) != 0) throw std::runtime_error("statvfs failed");
  return static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
}

bool IsUnderBoot(const std::string& AMountPoint) {
  return AMountPoint == "/boot" || AMountPoint.compare(0, 6, "/boot/") == 0;
}

}  // namespace

const TDiskSystem& DefaultDiskSystem() {
  static const TDiskSystem sys{ReadProcMounts, IsBlockDeviceMount, IsWritableFolder, FreeBytesOf};
  return sys;
}

std::vector<std::string> GetDisk(const TDiskSystem& ASystem) {
  std::vector<std::string> result;
  for (const TMountEntry& e : ASystem.ReadMounts()) {
    if (!ASystem.IsLocalBlockDevice(e)) continue;
    bool seen = false;
    for (const std::string& m : result) seen = seen || m == e.MountPoint;
    if (!seen) result.push_back(e.MountPoint);
  }
  return result;
}

std::string GetIdeDisk(const TDiskSystem& ASystem) {
  try {
    std::string choice;
    uint64_t choiceMb = 0;
    for (const std::string& mountPoint : GetDisk(ASystem)) {
      if (mountPoint == "/" || IsUnderBoot(mountPoint)) continue;
      if (!ASystem.IsWritable(mountPoint)) continue;
      uint64_t bytes = ASystem.FreeBytes(mountPoint);
      uint64_t mb = (bytes + 512 * 1024) / (1024 * 1024);
      if (choice.empty() || mb > choiceMb) {
        choice = mountPoint;
        choiceMb = mb;
      }
    }
    if (choice.empty()) return choice;
    if (choice.back() != '/') choice.push_back('/');
    return choice;
  } catch (...) {
    throw std::runtime_error("Get system disk list failed.");
  }
}
