#include "ui/UInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "ui/UUserRuntimeDir.h"

TInstanceLock::TInstanceLock(std::string AName) : FName(std::move(AName)) {}

TInstanceLock::~TInstanceLock() {
  if (FFd >= 0) ::close(FFd);  // closing drops the lock
}

bool TInstanceLock::TryAcquire() {
  if (FFd >= 0) return true;
  std::string file = UserRuntimeFile(FName);
  if (file.empty()) return false;
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  FFd = fd;
  return true;
}
