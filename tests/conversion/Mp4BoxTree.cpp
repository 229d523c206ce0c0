#include "Mp4BoxTree.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

bool IsContainer(const std::string& AType) {
  return AType == "moov" || AType == "trak" || AType == "edts" || AType == "mdia" || AType == "minf" ||
         AType == "dinf" || AType == "stbl" || AType == "udta";
}

// Bytes before the child boxes of boxes that have both fields and children.
uint64_t ChildrenSkip(const std::string& AType) {
  if (AType == "stsd" || AType == "dref") return 8;  // version, flags, entry count
  if (AType == "avc1") return 78;                   // visual sample entry
  if (AType == "mp4a") return 28;                   // audio sample entry
  return 0;
}

void DumpBoxes(const std::vector<TMp4Box>& ABoxes, int ADepth, bool ASizes, std::ostringstream& AOut) {
  for (const TMp4Box& b : ABoxes) {
    AOut << std::string(static_cast<size_t>(ADepth) * 2, ' ') << b.Type;
    if (ASizes) AOut << " " << b.Size;
    AOut << "\n";
    DumpBoxes(b.Children, ADepth + 1, ASizes, AOut);
  }
}

void Need(const std::vector<uint8_t>& ABytes, size_t AOffset, size_t ACount) {
  if (AOffset + ACount > ABytes.size()) throw std::out_of_range("read past the end of a box");
}

}  // namespace

uint32_t BeU16(const std::vector<uint8_t>& ABytes, size_t AOffset) {
  Need(ABytes, AOffset, 2);
  return (uint32_t{ABytes[AOffset]} << 8) | ABytes[AOffset + 1];
}

uint32_t BeU32(const std::vector<uint8_t>& ABytes, size_t AOffset) {
  Need(ABytes, AOffset, 4);
  return (uint32_t{ABytes[AOffset]} << 24) | (uint32_t{ABytes[AOffset + 1]} << 16) |
         (uint32_t{ABytes[AOffset + 2]} << 8) | ABytes[AOffset + 3];
}

uint64_t BeU64(const std::vector<uint8_t>& ABytes, size_t AOffset) {
  return (uint64_t{BeU32(ABytes, AOffset)} << 32) | BeU32(ABytes, AOffset + 4);
}

std::vector<uint8_t> TMp4BoxTree::ReadAt(uint64_t AOffset, size_t ACount) const {
  std::ifstream in(FFileName, std::ios::binary);
  std::vector<uint8_t> bytes(ACount);
  in.seekg(static_cast<std::streamoff>(AOffset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(ACount));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

bool TMp4BoxTree::ParseChildren(uint64_t AStart, uint64_t AEnd, std::vector<TMp4Box>& AOut, int ADepth) {
  if (ADepth > 16) {
    FError = "boxes nested too deep";
    return false;
  }
  uint64_t pos = AStart;
  while (pos < AEnd) {
    if (AEnd - pos < 8) {
      FError = "a box header does not fit at " + std::to_string(pos);
      return false;
    }
    std::vector<uint8_t> head = ReadAt(pos, 16);
    TMp4Box box;
    box.Offset = pos;
    box.Type.assign(head.begin() + 4, head.begin() + 8);
    uint64_t size = BeU32(head, 0);
    if (size == 1) {
      box.HeaderSize = 16;
      size = BeU64(head, 8);
    } else if (size == 0) {
      size = AEnd - pos;  // to the end of the file
    }
    if (size < box.HeaderSize || size > AEnd - pos) {
      FError = "box " + box.Type + " at " + std::to_string(pos) + " does not fit its parent";
      return false;
    }
    box.Size = size;
    uint64_t skip = ChildrenSkip(box.Type);
    if (IsContainer(box.Type) || skip > 0) {
      uint64_t first = box.PayloadOffset() + skip;
      if (first > pos + size) {
        FError = "box " + box.Type + " too small for its fields";
        return false;
      }
      if (!ParseChildren(first, pos + size, box.Children, ADepth + 1)) return false;
    }
    AOut.push_back(std::move(box));
    pos += size;
  }
  return true;
}

bool TMp4BoxTree::Load(const std::string& AFileName) {
  FFileName = AFileName;
  FTop.clear();
  FError.clear();
  std::ifstream in(AFileName, std::ios::binary | std::ios::ate);
  if (!in) {
    FError = "cannot open " + AFileName;
    return false;
  }
  FFileSize = static_cast<uint64_t>(in.tellg());
  return ParseChildren(0, FFileSize, FTop, 0);
}

std::string TMp4BoxTree::Dump(bool AWithSizes) const {
  std::ostringstream out;
  DumpBoxes(FTop, 0, AWithSizes, out);
  return out.str();
}

const TMp4Box* TMp4BoxTree::Find(const std::string& APath) const {
  const std::vector<TMp4Box>* level = &FTop;
  const TMp4Box* found = nullptr;
  std::istringstream parts(APath);
  std::string part;
  while (std::getline(parts, part, '/')) {
    size_t index = 0;
    size_t bracket = part.find('[');
    std::string type = part.substr(0, bracket);
    if (bracket != std::string::npos) index = std::stoul(part.substr(bracket + 1));
    found = nullptr;
    for (const TMp4Box& b : *level) {
      if (b.Type != type) continue;
      if (index == 0) {
        found = &b;
        break;
      }
      --index;
    }
    if (!found) return nullptr;
    level = &found->Children;
  }
  return found;
}

size_t TMp4BoxTree::Count(const std::string& AParentPath, const std::string& AType) const {
  const std::vector<TMp4Box>* level = &FTop;
  if (!AParentPath.empty()) {
    const TMp4Box* parent = Find(AParentPath);
    if (!parent) return 0;
    level = &parent->Children;
  }
  size_t n = 0;
  for (const TMp4Box& b : *level) n += b.Type == AType;
  return n;
}

std::vector<uint8_t> TMp4BoxTree::Payload(const TMp4Box& ABox) const {
  return ReadAt(ABox.PayloadOffset(), static_cast<size_t>(ABox.PayloadSize()));
}

std::vector<TMp4Sample> TMp4BoxTree::Samples(size_t ATrackIndex) const {
  std::string stbl = "moov/trak[" + std::to_string(ATrackIndex) + "]/mdia/minf/stbl/";
  const TMp4Box* stsz = Find(stbl + "stsz");
  const TMp4Box* stts = Find(stbl + "stts");
  const TMp4Box* stsc = Find(stbl + "stsc");
  const TMp4Box* stco = Find(stbl + "stco");
  const TMp4Box* co64 = Find(stbl + "co64");
  const TMp4Box* stss = Find(stbl + "stss");
  if (!stsz || !stts || !stsc || (!stco && !co64)) throw std::runtime_error("sample tables missing");

  std::vector<uint8_t> b = Payload(*stsz);
  uint32_t fixedSize = BeU32(b, 4);
  uint32_t count = BeU32(b, 8);
  std::vector<TMp4Sample> samples(count);
  for (uint32_t i = 0; i < count; ++i) samples[i].Size = fixedSize ? fixedSize : BeU32(b, 12 + 4 * size_t{i});

  b = Payload(*stts);
  size_t n = 0;
  for (uint32_t e = 0, entries = BeU32(b, 4); e < entries; ++e) {
    uint32_t runCount = BeU32(b, 8 + 8 * size_t{e});
    uint32_t delta = BeU32(b, 12 + 8 * size_t{e});
    for (uint32_t k = 0; k < runCount && n < count; ++k) samples[n++].Duration = delta;
  }
  if (n != count) throw std::runtime_error("stts does not cover every sample");

  std::vector<uint64_t> chunks;
  if (co64) {
    b = Payload(*co64);
    for (uint32_t i = 0, c = BeU32(b, 4); i < c; ++i) chunks.push_back(BeU64(b, 8 + 8 * size_t{i}));
  } else {
    b = Payload(*stco);
    for (uint32_t i = 0, c = BeU32(b, 4); i < c; ++i) chunks.push_back(BeU32(b, 8 + 4 * size_t{i}));
  }
  b = Payload(*stsc);
  uint32_t entries = BeU32(b, 4);
  n = 0;
  for (uint32_t e = 0; e < entries; ++e) {
    uint32_t first = BeU32(b, 8 + 12 * size_t{e});
    uint32_t perChunk = BeU32(b, 12 + 12 * size_t{e});
    uint32_t last = e + 1 < entries ? BeU32(b, 8 + 12 * size_t{e + 1}) - 1 : static_cast<uint32_t>(chunks.size());
    for (uint32_t c = first; c <= last; ++c) {
      if (c == 0 || c > chunks.size()) throw std::runtime_error("stsc names a missing chunk");
      uint64_t offset = chunks[c - 1];
      for (uint32_t k = 0; k < perChunk; ++k) {
        if (n >= count) throw std::runtime_error("stsc holds more samples than stsz");
        samples[n].Offset = offset;
        offset += samples[n].Size;
        ++n;
      }
    }
  }
  if (n != count) throw std::runtime_error("stsc does not cover every sample");

  if (stss) {
    b = Payload(*stss);
    for (uint32_t i = 0, c = BeU32(b, 4); i < c; ++i) {
      uint32_t s = BeU32(b, 8 + 4 * size_t{i});
      if (s == 0 || s > count) throw std::runtime_error("stss names a missing sample");
      samples[s - 1].Sync = true;
    }
  } else {
    for (TMp4Sample& s : samples) s.Sync = true;
  }
  return samples;
}
