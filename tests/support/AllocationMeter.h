// Measures the memory that code allocates through operator new. Linking AllocationMeter.cpp
// into a test program replaces the global operator new and delete of that program, which
// then keep count of the bytes held at every moment.
#pragma once

#include <cstddef>

// Peak of the bytes held through operator new, above what was held when the meter was
// made, while it lives. Meters do not nest: one at a time.
class TAllocationMeter {
 public:
  TAllocationMeter();
  size_t PeakBytes() const;
  // Bytes held now above the start (0 when less is held than at the start).
  size_t HeldBytes() const;

 private:
  long long FStart;
};
