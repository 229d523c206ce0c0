// The single-instance lock "FmVyrToMp4": an exclusive lock on a lock file of that name in
// the user's runtime folder. The system drops the lock when the process ends, however it
// ends, so a killed instance never blocks the next start.
#pragma once

#include <string>

enum class TLockStatus {
  Acquired,       // this process holds the lock
  HeldByAnother,  // another process holds it: another instance runs
  Unavailable,    // no runtime folder, or the lock file cannot be opened (see Problem())
};

class TInstanceLock {
 public:
  explicit TInstanceLock(std::string AName);
  ~TInstanceLock();  // releases the lock
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  TLockStatus Acquire();
  // True when this process now holds the lock.
  bool TryAcquire() { return Acquire() == TLockStatus::Acquired; }
  bool Held() const { return FFd >= 0; }
  // Why the last Acquire() answered Unavailable, in one line.
  const std::string& Problem() const { return FProblem; }

 private:
  std::string FName;
  std::string FProblem;
  int FFd = -1;
};
