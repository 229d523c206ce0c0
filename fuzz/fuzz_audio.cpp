// Record audio blocks of any size and type through the G.711 decoder and the AAC encoder.
#include <cstddef>
#include <cstdint>

#include "conversion/UAudioToAAC.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TAACMaker maker;
  if (!maker.StartAACEncode()) return 0;
  TAACFrameList frames;
  size_t at = 0;
  // Each block: one type byte, one size byte (x 16), then that many bytes.
  while (at + 2 <= ASize) {
    uint8_t type = AData[at];
    size_t size = static_cast<size_t>(AData[at + 1]) * 16;
    at += 2;
    if (size > ASize - at) size = ASize - at;
    maker.EncodeAudio(AData + at, static_cast<int32_t>(size), type, frames);
    at += size;
  }
  maker.FlushAudio(frames);
  maker.CloseAACEncode();
  return 0;
}
