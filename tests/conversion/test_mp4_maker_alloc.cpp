// Once a file is under way, writing pictures and audio allocates no memory: every
// allocation through operator new in this program is counted while the writer runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "H264TestUnits.h"
#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "UVyrSampleGen.h"
#include "conversion/UMp4Maker.h"

namespace {
std::atomic<bool> Counting{false};
std::atomic<long> Allocations{0};
}  // namespace

// The replacements pair malloc with free; GCC cannot see that through inlining of
// replaced operators and would warn of a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t ASize) {
  if (Counting.load(std::memory_order_relaxed)) Allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(ASize ? ASize : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t ASize) { return operator new(ASize); }
// The nothrow forms are counted too, and pair with the same free as the others (a runtime
// that replaces them itself, as AddressSanitizer does, would otherwise see a mismatch).
void* operator new(size_t ASize, const std::nothrow_t&) noexcept {
  if (Counting.load(std::memory_order_relaxed)) Allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(ASize ? ASize : 1);
}
void* operator new[](size_t ASize, const std::nothrow_t& ATag) noexcept { return operator new(ASize, ATag); }
void operator delete(void* APointer, const std::nothrow_t&) noexcept { std::free(APointer); }
void operator delete[](void* APointer, const std::nothrow_t&) noexcept { std::free(APointer); }
void operator delete(void* APointer) noexcept { std::free(APointer); }
void operator delete[](void* APointer) noexcept { std::free(APointer); }
void operator delete(void* APointer, size_t) noexcept { operator delete(APointer); }
void operator delete[](void* APointer, size_t) noexcept { operator delete[](APointer); }
#pragma GCC diagnostic pop

TEST(Mp4MakerAllocations, SteadyStateWritingAllocatesNothing) {
  TTempDir dir;
  const std::string sps = MakeSps(TSpsSpec());
  const std::string pps = MakePps();
  // Pictures of several sizes, all below the sample buffer's capacity; an IDR picture
  // with its repeated parameter sets every 25.
  std::vector<std::string> pictures;
  pictures.push_back(JoinAnnexB({sps, pps, MakeSei(), MakeSlice(true, 0, 90000)}));
  for (int i = 0; i < 6; ++i) pictures.push_back(JoinAnnexB({MakeSei(), MakeSlice(false, 0, 5000 + i * 3000)}));
  std::vector<uint8_t> audio = ToneAudioBlock(AUDIO_TYPE_G711A, 0, 320);

  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("alloc.mp4"));
  auto push = [&](int AFrom, int ATo) {
    for (int i = AFrom; i < ATo; ++i) {
      const std::string& p = pictures[i % 25 == 0 ? 0 : 1 + i % 6];
      maker.PushVideoX264Frame(reinterpret_cast<const uint8_t*>(p.data()), static_cast<int32_t>(p.size()), 0);
      maker.PushAudioFrame(audio.data(), static_cast<int32_t>(audio.size()), AUDIO_TYPE_G711A);
    }
  };
  // The track, the encoder and the buffers come into being (this also shows that the
  // count works).
  Counting = true;
  push(0, 100);
  Counting = false;
  EXPECT_GT(Allocations.load(), 0);
  Allocations = 0;
  Counting = true;
  push(100, 2100);
  Counting = false;
  long during = Allocations.load();
  maker.StopWrite();
  EXPECT_EQ(maker.GetVideoSampleCount(), 2100);
  EXPECT_GT(maker.GetAudioSampleCount(), 2000 * 320 / 1024 - 2);
  EXPECT_FALSE(maker.HasWriteError());
  EXPECT_EQ(during, 0);
}
