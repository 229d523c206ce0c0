#include "conversion/UEncoderBudget.h"

#include <algorithm>
#include <chrono>
#include <thread>

TEncoderBudget::TEncoderBudget(int ACapacity) : FCapacity(std::max(1, ACapacity)) {}

int TEncoderBudget::Capacity() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCapacity;
}

void TEncoderBudget::SetCapacity(int ACapacity) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCapacity = std::max(1, ACapacity);
  }
  FFreed.notify_all();
}

void TEncoderBudget::Release() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FInUse > 0) --FInUse;
  }
  FFreed.notify_one();
}

int MachineCores() { return std::max(1u, std::thread::hardware_concurrency()); }

TEncoderBudget& SharedEncoderBudget() {
  static TEncoderBudget budget(MachineCores());
  return budget;
}
