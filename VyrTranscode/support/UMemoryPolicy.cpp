#include "support/UMemoryPolicy.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool FixLargeBlockThreshold() {
#if defined(__GLIBC__)
  return mallopt(M_MMAP_THRESHOLD, static_cast<int>(VyrLargeBlockSize)) == 1;
#else
  return false;
#endif
}
