#include "ui/UUserRuntimeDir.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Creates the folder when missing and checks that it is a real folder of the user that
// only the user can enter.
bool EnsurePrivateDir(const std::string& ADir) {
  if (::mkdir(ADir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(ADir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
  if ((st.st_mode & 077) != 0) {
    // Ours, but too open (made by hand, or under another umask): close it.
    if (::chmod(ADir.c_str(), 0700) != 0) return false;
  }
  return true;
}

}  // namespace

std::string GetUserRuntimeDir() {
  std::string base;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg) {
    struct stat st {};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) base = std::string(xdg) + "/VyrTranscode";
  }
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string t = (tmp && *tmp) ? tmp : "/tmp";
    base = t + "/VyrTranscode-" + std::to_string(::getuid());
  }
  if (!EnsurePrivateDir(base)) return std::string();
  return base + "/";
}

std::string UserRuntimeFile(const std::string& AName) {
  std::string dir = GetUserRuntimeDir();
  if (dir.empty()) return std::string();
  return dir + AName;
}
