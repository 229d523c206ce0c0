#include "conversion/UMp4ConversionState.h"

#include <cstring>

#include "conversion/UMp4Boxes.h"
#include "conversion/UStreams.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Finds the child box AType among the boxes between AFrom and ATo; its payload's offset and
// size. False when there is none (or a box head is broken).
bool FindBox(TStream& AFile, int64_t AFrom, int64_t ATo, const char* AType, int64_t& APayload, int64_t& ASize) {
  int64_t at = AFrom;
  while (at + 8 <= ATo) {
    uint8_t head[16];
    if (AFile.ReadAt(at, head, 8) != 8) return false;
    uint64_t size = Be32(head);
    int64_t headSize = 8;
    if (size == 1) {
      if (AFile.ReadAt(at + 8, head + 8, 8) != 8) return false;
      size = (uint64_t{Be32(head + 8)} << 32) | Be32(head + 12);
      headSize = 16;
    } else if (size == 0) {
      size = static_cast<uint64_t>(ATo - at);  // to the end
    }
    if (size < static_cast<uint64_t>(headSize) || size > static_cast<uint64_t>(ATo - at)) return false;
    if (std::memcmp(head + 4, AType, 4) == 0) {
      APayload = at + headSize;
      ASize = static_cast<int64_t>(size) - headSize;
      return true;
    }
    at += static_cast<int64_t>(size);
  }
  return false;
}

}  // namespace

TMp4ConversionState ReadMp4ConversionState(const std::string& AFileName) {
  std::unique_ptr<TFileStream> file = TFileStream::OpenRead(AFileName);
  if (!file) return TMp4ConversionState::Unknown;
  int64_t moov = 0, moovSize = 0, udta = 0, udtaSize = 0, item = 0, itemSize = 0;
  if (!FindBox(*file, 0, file->Size(), "moov", moov, moovSize) ||
      !FindBox(*file, moov, moov + moovSize, "udta", udta, udtaSize) ||
      !FindBox(*file, udta, udta + udtaSize, ConversionStateBox, item, itemSize) || itemSize > 64) {
    return TMp4ConversionState::Unknown;
  }
  std::string state(static_cast<size_t>(itemSize), '\0');
  if (file->ReadAt(item, &state[0], state.size()) != state.size()) return TMp4ConversionState::Unknown;
  if (state == "finished") return TMp4ConversionState::Finished;
  if (state == "stopped") return TMp4ConversionState::Stopped;
  return TMp4ConversionState::Unknown;
}
