// How many video encoders may run at once in this process: a counting semaphore shared by
// the transcoders of every conversion, so that the segments of one recording and several
// recordings converted side by side never run more encoders than allowed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class TEncoderBudget {
 public:
  explicit TEncoderBudget(int ACapacity);
  // The most encoders at once (at least 1).
  int Capacity() const;
  // Changes the capacity; encoders already running finish their turn.
  void SetCapacity(int ACapacity);
  // Waits for a free encoder; false (and nothing taken) once AStop() is true (it is asked
  // again at least every 50 ms).
  template <typename TStop>
  bool Acquire(TStop AStop);
  void Release();

 private:
  mutable std::mutex FLock;
  std::condition_variable FFreed;
  int FCapacity;
  int FInUse = 0;
};

// The budget of this process: as many encoders as the machine has cores until set.
TEncoderBudget& SharedEncoderBudget();
// The number of cores of the machine (at least 1).
int MachineCores();

template <typename TStop>
bool TEncoderBudget::Acquire(TStop AStop) {
  std::unique_lock<std::mutex> lock(FLock);
  while (FInUse >= FCapacity) {
    if (AStop()) return false;
    FFreed.wait_for(lock, std::chrono::milliseconds(50));
  }
  if (AStop()) return false;
  ++FInUse;
  return true;
}
