// The raw export's walk over any bytes, writing to a throwaway file: never reads outside
// its input, always ends, never copies more than the input holds.
#include <cstddef>
#include <cstdint>

#include "FuzzPrivateFolder.h"
#include "conversion/URawExport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TMemoryStream stream(AData, ASize);
  static const std::string name = (FuzzPrivateFolder() / "raw.out").string();
  std::unique_ptr<TFileWriter> out = TFileWriter::Create(name);
  if (!out) __builtin_trap();
  WalkRecordToRaw(stream, *out);
  if (out->Position() > static_cast<int64_t>(ASize)) __builtin_trap();
  out->Close(TOutputCloseMode::Discard);
  return 0;
}
