// Annex B video of any bytes, cut into pushes at points the input chooses, through the
// MP4 writer's unit scan and access-unit assembly into a throwaway file (kept for a
// read-back when asked).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzMp4Keep.h"
#include "FuzzPrivateFolder.h"
#include "conversion/UMp4Maker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 1) return 0;
  const size_t piece = 1 + AData[0] % 64 * 16;  // push sizes from 1 to 1009 bytes
  const bool keep = !FuzzKeepFolder().empty();
  static const std::string scratch = (FuzzPrivateFolder() / "current.mp4").string();
  const std::string out = keep ? FuzzKeepFolder() + "/current.mp4" : scratch;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, out);
  for (size_t at = 1; at < ASize; at += piece) {
    size_t n = ASize - at < piece ? ASize - at : piece;
    maker.PushVideoX264Frame(AData + at, static_cast<int32_t>(n), 0);
  }
  maker.StopWrite();
  if (keep) KeepFuzzMp4(out, maker.GetVideoSampleCount(), maker.GetAudioSampleCount(), AData, ASize);
  std::remove(out.c_str());
  return 0;
}
