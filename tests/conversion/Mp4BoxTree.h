// Reads the box structure of an MP4 file for tests, independently of the writer: the
// tree of boxes, a text dump of it, box payloads, and each track's samples as its index
// (stts, stsz, stsc, stco/co64, stss) describes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TMp4Box {
  std::string Type;
  uint64_t Offset = 0;      // of the box header
  uint64_t Size = 0;        // whole box, header included
  uint64_t HeaderSize = 8;  // 16 for a 64-bit size
  std::vector<TMp4Box> Children;
  uint64_t PayloadOffset() const { return Offset + HeaderSize; }
  uint64_t PayloadSize() const { return Size - HeaderSize; }
};

struct TMp4Sample {
  uint64_t Offset = 0;
  uint32_t Size = 0;
  uint32_t Duration = 0;
  bool Sync = false;
};

// Big-endian reads from a byte vector; out-of-range reads throw std::out_of_range.
uint32_t BeU16(const std::vector<uint8_t>& ABytes, size_t AOffset);
uint32_t BeU32(const std::vector<uint8_t>& ABytes, size_t AOffset);
uint64_t BeU64(const std::vector<uint8_t>& ABytes, size_t AOffset);

class TMp4BoxTree {
 public:
  // Parses the file; false (with Error() saying why) when a box does not fit its parent.
  bool Load(const std::string& AFileName);
  const std::string& Error() const { return FError; }
  const std::vector<TMp4Box>& Top() const { return FTop; }

  // One line per box, two blanks of indent per level; with sizes when asked.
  std::string Dump(bool AWithSizes = false) const;
  // A box by path: "moov/trak[1]/mdia/minf/stbl/stsz" (index from 0; [0] may be left out).
  const TMp4Box* Find(const std::string& APath) const;
  // Number of boxes of that type directly under the box at the path ("" for the top).
  size_t Count(const std::string& AParentPath, const std::string& AType) const;

  std::vector<uint8_t> Payload(const TMp4Box& ABox) const;
  std::vector<uint8_t> ReadAt(uint64_t AOffset, size_t ACount) const;
  // The samples of track ATrackIndex (0-based order of the trak boxes).
  std::vector<TMp4Sample> Samples(size_t ATrackIndex) const;

 private:
  bool ParseChildren(uint64_t AStart, uint64_t AEnd, std::vector<TMp4Box>& AOut, int ADepth);
  std::string FFileName;
  uint64_t FFileSize = 0;
  std::vector<TMp4Box> FTop;
  std::string FError;
};
