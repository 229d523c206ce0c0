// The probe's walk over any bytes: never reads outside its input, always ends.
#include <cstddef>
#include <cstdint>

#include "conversion/URecordProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TMemoryStream stream(AData, ASize);
  TVyrRecordProbe probe;
  probe.GetVideoInfo(&stream);
  // Every block is at least a head long, so a walk that always advances has a bound.
  if (probe.FBlockCount > ASize / 16 + 1) __builtin_trap();
  if (probe.FFrameRate > MaxProbeFrameRate) __builtin_trap();
  return 0;
}
