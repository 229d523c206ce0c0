// The conversion worker's whole walk over any bytes, as a conversion runs it: the probe
// first (a file it rejects is not converted), then the conversion into an MP4 file in a
// private folder that is removed after every input. H.264 video is copied; video of the
// other codecs goes through the transcoder (decoder and encoder libraries).
//
// Checked for every input: the outcome agrees with what was written (a created file
// that holds samples is "converted", one without is "nothing written"; a run that nobody
// stopped never ends otherwise), a file with samples is under its final name, one without
// is not kept, no ".part" is left, and no single allocation is larger than twice the input plus the fixed room of the
// largest picture the transcoder takes (watched where a sanitizer runtime offers malloc
// hooks: the fuzz build and the sanitizer builds of the regression runner).
#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzMp4Keep.h"
#include "FuzzPrivateFolder.h"
#include "conversion/UDmRecordToMP4.h"
#include "conversion/URecordProbe.h"
#include "conversion/UVideoToX264.h"
#include "protocol/UOmBlockReader.h"

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*)) __attribute__((weak));

namespace {

// Room that a conversion may take in one allocation whatever its input: the decode
// buffer and the decoder's and encoder's pictures of the largest size it takes.
constexpr size_t FixedRoom = 4 * TVideoToX264::YUV_BUFFER_SIZE;

std::atomic<size_t> gAllocLimit{0};  // 0: not watching

void WatchMalloc(const volatile void*, size_t ASize) {
  const size_t limit = gAllocLimit.load(std::memory_order_relaxed);
  if (limit != 0 && ASize > limit) __builtin_trap();
}
void WatchFree(const volatile void*) {}

// Transcoded pictures are costly; past this many blocks of other codecs the input is cut,
// so that one input stays well under a second.
constexpr int MaxTranscodedBlocks = 24;

// The length of the input's prefix that holds at most MaxTranscodedBlocks video blocks
// of codecs other than H.264, as the conversion's own block reader finds them.
size_t BoundedLength(const uint8_t* AData, size_t ASize) {
  TOmMemorySource source(AData, ASize);
  TOmBlockReader reader(source);
  TOmBlock block;
  TOmDamage damage;
  int transcoded = 0;
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;) {
    if (item == TOmReadItem::Block && block.IsVideo() && block.Video.byVideoType != OmVideoType_H264 &&
        ++transcoded > MaxTranscodedBlocks) {
      return static_cast<size_t>(block.Offset);
    }
  }
  return ASize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static const bool hooked = [] {
    if (__sanitizer_install_malloc_and_free_hooks) __sanitizer_install_malloc_and_free_hooks(WatchMalloc, WatchFree);
    return true;
  }();
  (void)hooked;

  const size_t size = BoundedLength(AData, ASize);
  TMemoryStream stream(AData, size);
  TVyrRecordProbe probe;
  if (!probe.GetVideoInfo(&stream)) return 0;

  const std::filesystem::path run = FuzzPrivateFolder() / "run";
  std::error_code ec;
  std::filesystem::create_directory(run, ec);
  const std::string out = (run / "out.mp4").string();

  gAllocLimit.store(FixedRoom + 2 * size, std::memory_order_relaxed);
  std::atomic<int32_t> progress{-1};
  const TConversionOutcome outcome =
      ConvertRecordStreamToMp4(stream, static_cast<int32_t>(probe.FFrameWidth), static_cast<int32_t>(probe.FFrameHeight),
                               static_cast<int32_t>(probe.FFrameRate), out, nullptr, &progress);
  gAllocLimit.store(0, std::memory_order_relaxed);

  const int64_t samples = outcome.VideoFrames + outcome.AudioFrames;
  if (outcome.VideoFrames < 0 || outcome.AudioFrames < 0) __builtin_trap();
  if (outcome.Status == TConversionStatus::Converted && samples == 0) __builtin_trap();
  if (outcome.Status == TConversionStatus::NothingWritten && samples != 0) __builtin_trap();
  if (outcome.Status != TConversionStatus::Converted && outcome.Status != TConversionStatus::NothingWritten)
    __builtin_trap();
  if (progress.load() < 0 || progress.load() > 100) __builtin_trap();
  // A file that holds something is under its final name; one that would hold nothing is not
  // kept; no work file stays behind.
  struct stat st;
  if ((stat(out.c_str(), &st) == 0) != (samples > 0)) __builtin_trap();
  if (stat((out + ".part").c_str(), &st) == 0) __builtin_trap();

  KeepFuzzMp4(out, outcome.VideoFrames, outcome.AudioFrames, AData, size);
  std::filesystem::remove_all(run, ec);
  return 0;
}
