#include "ui/UInstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/UUserRuntimeDir.h"

TInstanceLock::TInstanceLock(std::string AName) : FName(std::move(AName)) {}

TInstanceLock::~TInstanceLock() {
  if (FFd >= 0) ::close(FFd);  // closing drops the lock
}

TLockStatus TInstanceLock::Acquire() {
  if (FFd >= 0) return TLockStatus::Acquired;
  FProblem.clear();
  std::string problem;
  const std::string dir = GetUserRuntimeDir(&problem);
  if (dir.empty()) {
    FProblem = "no private runtime folder: " + problem;
    return TLockStatus::Unavailable;
  }
  const std::string file = dir + FName;
  // Never through a link, and never a FIFO or device that would block or act on open.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    char buf[128];
    FProblem = file + ": " + ::strerror_r(errno, buf, sizeof(buf));
    return TLockStatus::Unavailable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    FProblem = file + ": is not a regular file";
    return TLockStatus::Unavailable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return TLockStatus::HeldByAnother;
    char buf[128];
    FProblem = file + ": cannot be locked (" + ::strerror_r(err, buf, sizeof(buf)) + ")";
    return TLockStatus::Unavailable;
  }
  FFd = fd;
  return TLockStatus::Acquired;
}
