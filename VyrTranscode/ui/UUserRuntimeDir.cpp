#include "ui/UUserRuntimeDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// The longest path a local socket address holds, without its terminating 0.
constexpr size_t SOCKET_PATH_MAX = sizeof(sockaddr_un{}.sun_path) - 1;

std::string ErrorText(int AErr) {
  char buf[128];
  return ::strerror_r(AErr, buf, sizeof(buf));  // the GNU form answers the text
}

// True when "<ADir>/<name>" fits a local socket address for every name the program uses.
bool FitsSocketPath(const std::string& ADir) {
  return ADir.size() + 1 + VYR_RUNTIME_NAME_MAX <= SOCKET_PATH_MAX;
}

std::string WithoutTrailingSlashes(std::string APath) {
  while (!APath.empty() && APath.back() == '/') APath.pop_back();
  return APath;
}

// Creates the folder when missing and checks that it is a real folder (not a link) of the
// user that only the user can enter. AWhy tells what is wrong otherwise.
bool EnsurePrivateDir(const std::string& ADir, std::string& AWhy) {
  if (::mkdir(ADir.c_str(), 0700) != 0 && errno != EEXIST) {
    AWhy = ADir + ": cannot be created (" + ErrorText(errno) + ")";
    return false;
  }
  struct stat st {};
  if (::lstat(ADir.c_str(), &st) != 0) {
    AWhy = ADir + ": " + ErrorText(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    AWhy = ADir + ": is a link";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    AWhy = ADir + ": is not a folder";
    return false;
  }
  if (st.st_uid != ::getuid()) {
    AWhy = ADir + ": belongs to another user";
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(ADir.c_str(), 0700) != 0) {
    // Ours, but too open (made by hand, or under another umask) and it cannot be closed.
    AWhy = ADir + ": others can enter it (" + ErrorText(errno) + ")";
    return false;
  }
  return true;
}

// "$XDG_RUNTIME_DIR/VyrTranscode". The base folder must be the user's and nobody else may
// write to it, or another user could swap the program's folder in it.
bool RuntimeCandidate(std::string& ADir, std::string& AWhy) {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (!xdg || !*xdg) {
    AWhy = "XDG_RUNTIME_DIR is not set";
    return false;
  }
  const std::string base = WithoutTrailingSlashes(xdg);
  if (xdg[0] != '/') {
    AWhy = "XDG_RUNTIME_DIR (" + std::string(xdg) + ") is not an absolute path";
    return false;
  }
  struct stat st {};
  if (::stat(base.empty() ? "/" : base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    AWhy = "XDG_RUNTIME_DIR (" + std::string(xdg) + ") is not a folder";
    return false;
  }
  if (st.st_uid != ::getuid() || (st.st_mode & 022) != 0) {
    AWhy = "XDG_RUNTIME_DIR (" + std::string(xdg) + ") is not a private folder of the user";
    return false;
  }
  ADir = base + "/VyrTranscode";
  if (!FitsSocketPath(ADir)) {
    AWhy = ADir + ": too long for a socket path";
    return false;
  }
  return EnsurePrivateDir(ADir, AWhy);
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

// "$HOME/.cache/VyrTranscode/run".
bool HomeCandidate(std::string& ADir, std::string& AWhy) {
  const std::string home = HomeDir();
  if (home.empty()) {
    AWhy = "no home folder";
    return false;
  }
  const std::string cache = WithoutTrailingSlashes(home) + "/.cache";
  const std::string app = cache + "/VyrTranscode";
  ADir = app + "/run";
  if (!FitsSocketPath(ADir)) {
    AWhy = ADir + ": too long for a socket path";
    return false;
  }
  // The cache folder itself may be a link (to another disk, say); the program's own two
  // levels may not.
  if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
    AWhy = cache + ": cannot be created (" + ErrorText(errno) + ")";
    return false;
  }
  return EnsurePrivateDir(app, AWhy) && EnsurePrivateDir(ADir, AWhy);
}

}  // namespace

std::string GetUserRuntimeDir(std::string* AProblem) {
  std::string dir, whyRuntime, whyHome;
  if (RuntimeCandidate(dir, whyRuntime)) return dir + "/";
  if (HomeCandidate(dir, whyHome)) return dir + "/";
  if (AProblem) *AProblem = whyRuntime + "; " + whyHome;
  return std::string();
}

std::string UserRuntimeFile(const std::string& AName) {
  if (AName.empty() || AName.size() > VYR_RUNTIME_NAME_MAX) return std::string();
  std::string dir = GetUserRuntimeDir();
  if (dir.empty()) return std::string();
  return dir + AName;
}
