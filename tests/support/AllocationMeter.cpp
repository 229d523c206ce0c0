#include "AllocationMeter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> Held{0};
std::atomic<long long> Peak{0};

void* Take(size_t ASize) noexcept {
  void* p = std::malloc(ASize ? ASize : 1);
  if (p) {
    const long long now = Held.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                          static_cast<long long>(malloc_usable_size(p));
    long long peak = Peak.load();
    while (now > peak && !Peak.compare_exchange_weak(peak, now)) {
    }
  }
  return p;
}

void Give(void* APointer) noexcept {
  if (!APointer) return;
  Held.fetch_sub(static_cast<long long>(malloc_usable_size(APointer)));
  std::free(APointer);
}
}  // namespace

TAllocationMeter::TAllocationMeter() : FStart(Held.load()) { Peak.store(FStart); }

size_t TAllocationMeter::PeakBytes() const {
  const long long d = Peak.load() - FStart;
  return d > 0 ? static_cast<size_t>(d) : 0;
}

size_t TAllocationMeter::HeldBytes() const {
  const long long d = Held.load() - FStart;
  return d > 0 ? static_cast<size_t>(d) : 0;
}

// The replacements pair malloc with free; GCC cannot see that through inlining of
// replaced operators and would warn of a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t ASize) {
  void* p = Take(ASize);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t ASize) { return operator new(ASize); }
void* operator new(size_t ASize, const std::nothrow_t&) noexcept { return Take(ASize); }
void* operator new[](size_t ASize, const std::nothrow_t&) noexcept { return Take(ASize); }
void operator delete(void* APointer) noexcept { Give(APointer); }
void operator delete[](void* APointer) noexcept { Give(APointer); }
void operator delete(void* APointer, const std::nothrow_t&) noexcept { Give(APointer); }
void operator delete[](void* APointer, const std::nothrow_t&) noexcept { Give(APointer); }
void operator delete(void* APointer, size_t) noexcept { Give(APointer); }
void operator delete[](void* APointer, size_t) noexcept { Give(APointer); }
#pragma GCC diagnostic pop
