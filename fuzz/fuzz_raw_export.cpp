// The raw export's walk over any bytes, writing to /dev/null: never reads outside its
// input, always ends, never copies more than the input holds.
#include <cstddef>
#include <cstdint>

#include "conversion/URawExport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TMemoryStream stream(AData, ASize);
  std::unique_ptr<TFileWriter> out = TFileWriter::Create("/dev/null");
  if (!out) return 0;
  WalkRecordToRaw(stream, *out);
  if (out->Position() > static_cast<int64_t>(ASize)) __builtin_trap();
  return 0;
}
