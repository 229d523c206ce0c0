// The desktop program's allocator policy: once a task thread freed a block of many
// megabytes, the large buffers later tasks free must not stay resident, or a long queue
// run keeps growing from file to file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"
#include "support/UMemoryPolicy.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VYR_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VYR_OWN_ALLOCATOR 1
#endif
#endif

// Tasks as conversions run them on threads of their own: a 16 MB block (a codec's
// set-up) freed, then 24 MB of 2 MB buffers in use while the task also does small
// things (here: reads a file), all freed before the thread ends.
TEST(MemoryPolicy, LargeBuffersOfFinishedTasksDoNotStayResident) {
#ifdef VYR_OWN_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
#endif
  ASSERT_TRUE(FixLargeBlockThreshold());
  const long before = ResidentKb();
  ASSERT_GT(before, 0);
  long most = 0;
  for (int task = 0; task < 3; ++task) {
    std::thread([] {
      {
        std::unique_ptr<char[]> setup(new char[16u << 20]);
        std::memset(setup.get(), 1, 16u << 20);
      }
      std::vector<char*> buffers;
      for (int i = 0; i < 12; ++i) {
        buffers.push_back(static_cast<char*>(std::malloc(2u << 20)));
        ASSERT_NE(buffers.back(), nullptr);
        std::memset(buffers.back(), i, 2u << 20);
      }
      EXPECT_GT(ResidentKb(), 0);
      for (char* b : buffers) std::free(b);
    }).join();
    most = std::max(most, ResidentKb());
  }
  EXPECT_LT(most - before, 8 * 1024) << "before " << before << " KB, largest after a task " << most << " KB";
}
