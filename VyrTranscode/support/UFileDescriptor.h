// The owner of a file descriptor: closes it when it goes.
#pragma once

#include <unistd.h>

class TFd {
 public:
  explicit TFd(int AFd = -1) : FFd(AFd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(TFd&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  TFd& operator=(TFd&&) = delete;
  int Get() const { return FFd; }
  // Gives the descriptor up to the caller, who closes it from now on.
  int Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }
  explicit operator bool() const { return FFd >= 0; }

 private:
  int FFd;
};
