// The single-instance lock "FmVyrToMp4": an exclusive lock on a lock file of that name in
// the user's runtime folder. The system drops the lock when the process ends, however it
// ends, so a killed instance never blocks the next start.
#pragma once

#include <string>

class TInstanceLock {
 public:
  explicit TInstanceLock(std::string AName);
  ~TInstanceLock();  // releases the lock
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when this process now holds the lock; false when another process holds it or the
  // lock file cannot be made (treated as "another instance runs").
  bool TryAcquire();
  bool Held() const { return FFd >= 0; }

 private:
  std::string FName;
  int FFd = -1;
};
