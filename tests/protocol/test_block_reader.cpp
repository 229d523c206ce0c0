// The block reader over damaged copies of a clean recording: every block that the damage
// did not touch is found, nothing of the damage is taken for a block, and each damaged
// stretch is one region.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <cstring>
#include <set>

#include "UVyrRecordBuilder.h"
#include "protocol/UOmBlockReader.h"

namespace {

// A clean recording: video blocks with payloads of varied sizes, audio blocks between
// them and now and then a block of another command. Every video and audio block carries
// a frame ID of its own, by which the tests recognise it.
struct TCleanRecording {
  std::vector<uint8_t> Bytes;
  struct TBlockAt {
    int64_t Offset, End;
    uint32_t Id;  // 0 for blocks of other commands
  };
  std::vector<TBlockAt> Blocks;
};

TCleanRecording MakeClean(int AVideoBlocks, const std::function<std::vector<uint8_t>(int)>& APayload = nullptr) {
  TVyrRecordBuilder b;
  TCleanRecording r;
  uint32_t id = 1;
  auto mark = [&](size_t AStart, uint32_t AId) {
    r.Blocks.push_back({static_cast<int64_t>(AStart), static_cast<int64_t>(b.Size()), AId});
  };
  for (int i = 0; i < AVideoBlocks; ++i) {
    size_t start = b.Size();
    TVideoBlockSpec v;
    v.VideoType = static_cast<uint8_t>(i % 4);
    v.FrameID = id;
    b.AddVideo(v, APayload ? APayload(i) : PatternBytes(300 + 97 * (i % 13), id));
    mark(start, id++);
    start = b.Size();
    TAudioBlockSpec a;
    a.FrameID = id;
    b.AddAudio(a, PatternBytes(160, id));
    mark(start, id++);
    if (i % 7 == 3) {
      start = b.Size();
      b.AddOther(771, 20, PatternBytes(20, id));
      mark(start, 0);
    }
  }
  r.Bytes = b.Bytes();
  return r;
}

struct TWalk {
  std::vector<uint32_t> Ids;  // frame IDs of the video and audio blocks found, in order
  std::vector<TOmDamage> Damage;
  bool CutLast = false;
};

TWalk Walk(const std::vector<uint8_t>& ABytes) {
  TOmMemorySource source(ABytes.data(), ABytes.size());
  TOmBlockReader reader(source);
  TWalk w;
  TOmBlock block;
  TOmDamage damage;
  int64_t lastEnd = 0;
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;) {
    if (item == TOmReadItem::Damage) {
      EXPECT_EQ(damage.Offset, lastEnd);  // regions and blocks tile the file
      lastEnd = damage.Offset + damage.Length;
      w.Damage.push_back(damage);
      continue;
    }
    EXPECT_EQ(block.Offset, lastEnd);
    lastEnd = block.End;
    if (block.IsVideo()) w.Ids.push_back(block.Video.dwFrameID);
    if (block.IsAudio()) w.Ids.push_back(block.Audio.dwFrameID);
    if (block.Cut) w.CutLast = true;
  }
  EXPECT_EQ(reader.DamagedRegions(), static_cast<int64_t>(w.Damage.size()));
  return w;
}

std::vector<uint32_t> IdsExcept(const TCleanRecording& AClean, const std::set<size_t>& ALost) {
  std::vector<uint32_t> ids;
  for (size_t i = 0; i < AClean.Blocks.size(); ++i)
    if (AClean.Blocks[i].Id != 0 && !ALost.count(i)) ids.push_back(AClean.Blocks[i].Id);
  return ids;
}

void PutU32(std::vector<uint8_t>& ABytes, int64_t AAt, uint32_t AValue) { OmPutU32(ABytes.data() + AAt, AValue); }

}  // namespace

TEST(BlockReader, CleanRecordingsAreReadWhole) {
  const TCleanRecording clean = MakeClean(40);
  TWalk w = Walk(clean.Bytes);
  EXPECT_EQ(w.Ids, IdsExcept(clean, {}));
  EXPECT_TRUE(w.Damage.empty());
  EXPECT_FALSE(w.CutLast);
}

// One damage at the start, in the middle and at the end of a recording. ABlock is the index
// in the clean recording's block list of the block that is hit.
TEST(BlockReader, DamagedHeadsLoseOnlyTheirOwnBlock) {
  const TCleanRecording clean = MakeClean(30);
  const size_t last = clean.Blocks.size() - 1;
  const size_t middle = 20;
  ASSERT_NE(clean.Blocks[middle].Id, 0u);
  struct TCase {
    const char* Name;
    std::function<void(std::vector<uint8_t>&, int64_t)> Damage;
    bool Lost;       // the hit block is lost
    int Regions;     // damaged regions reported
  };
  const TCase cases[] = {
      {"wrong magic", [](std::vector<uint8_t>& b, int64_t at) { PutU32(b, at, 0x12345678); }, false, 0},
      {"one flipped bit in the magic", [](std::vector<uint8_t>& b, int64_t at) { b[at + 2] ^= 0x10; }, false, 0},
      // A video or audio block whose command is changed reads as a block of another command
      // (its head's length covers it): it is stepped over whole.
      {"wrong command", [](std::vector<uint8_t>& b, int64_t at) { OmPutU16(b.data() + at + 6, 0x1234); }, true, 0},
      {"command nobody knows, wrong magic too",
       [](std::vector<uint8_t>& b, int64_t at) {
         OmPutU16(b.data() + at + 6, 0x1234);
         PutU32(b, at, 0);
       },
       true, 1},
      {"unknown codec", [](std::vector<uint8_t>& b, int64_t at) { b[at + 16] = 0x77; }, true, 1},
      {"length 0", [](std::vector<uint8_t>& b, int64_t at) { PutU32(b, at + 28, 0); }, true, 1},
      {"length one byte long",
       [](std::vector<uint8_t>& b, int64_t at) { PutU32(b, at + 28, OmGetU32(b.data() + at + 28) + 1); }, true, 1},
      {"length one byte short",
       [](std::vector<uint8_t>& b, int64_t at) { PutU32(b, at + 28, OmGetU32(b.data() + at + 28) - 1); }, true, 1},
      {"absurd length", [](std::vector<uint8_t>& b, int64_t at) { PutU32(b, at + 28, 0xFFFFFFF0u); }, true, 1},
  };
  for (const TCase& c : cases) {
    for (size_t hit : {size_t{0}, middle, last}) {
      SCOPED_TRACE(std::string(c.Name) + " at block " + std::to_string(hit));
      std::vector<uint8_t> bytes = clean.Bytes;
      c.Damage(bytes, clean.Blocks[hit].Offset);
      TWalk w = Walk(bytes);
      const std::string name = c.Name;
      // A head that says length 0 is read as an empty block, and its payload is the damage
      // (at the end of the file, as at any other place).
      const bool emptyBlock = name == "length 0";
      // The last block one byte long is cut by the end of the file: the file's cut block.
      const bool cutBlock = hit == last && name == "length one byte long";
      const bool lost = c.Lost && !emptyBlock && !cutBlock;
      EXPECT_EQ(w.Ids, IdsExcept(clean, lost ? std::set<size_t>{hit} : std::set<size_t>{}));
      EXPECT_EQ(w.CutLast, cutBlock);
      EXPECT_EQ(static_cast<int>(w.Damage.size()), cutBlock ? 0 : c.Regions);
      if (!w.Damage.empty()) {
        EXPECT_EQ(w.Damage[0].Offset, clean.Blocks[hit].Offset + (emptyBlock ? 40 : 0));
        EXPECT_EQ(w.Damage[0].Offset + w.Damage[0].Length, clean.Blocks[hit].End);
      }
    }
  }
}

TEST(BlockReader, DamageBetweenAndAcrossBlocks) {
  const TCleanRecording clean = MakeClean(30);
  const TCleanRecording::TBlockAt& b10 = clean.Blocks[10];
  const TCleanRecording::TBlockAt& b20 = clean.Blocks[20];
  std::mt19937 random(7);
  auto garbage = [&](size_t n) {
    std::vector<uint8_t> g(n);
    for (uint8_t& x : g) x = static_cast<uint8_t>(random());
    return g;
  };
  auto insert = [](std::vector<uint8_t> AB, int64_t AAt, const std::vector<uint8_t>& AWhat) {
    AB.insert(AB.begin() + AAt, AWhat.begin(), AWhat.end());
    return AB;
  };
  auto zero = [](std::vector<uint8_t> AB, int64_t AFrom, int64_t ATo) {
    std::fill(AB.begin() + AFrom, AB.begin() + ATo, 0);
    return AB;
  };
  auto cut = [](std::vector<uint8_t> AB, int64_t AFrom, int64_t ATo) {
    AB.erase(AB.begin() + AFrom, AB.begin() + ATo);
    return AB;
  };
  // The blocks between two offsets of the clean recording (those a damage touches).
  auto touched = [&](int64_t AFrom, int64_t ATo) {
    std::set<size_t> s;
    for (size_t i = 0; i < clean.Blocks.size(); ++i)
      if (clean.Blocks[i].End > AFrom && clean.Blocks[i].Offset < ATo) s.insert(i);
    return s;
  };
  std::vector<uint8_t> magics;
  for (int i = 0; i < 500; ++i) magics.insert(magics.end(), {0xEA, 0x82, 0xF9, 0x34, 0x01, 0x03});
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::set<size_t> Lost;
    int Regions;
  };
  const TCase cases[] = {
      {"4000 stray bytes between two blocks", insert(clean.Bytes, b10.Offset, garbage(4000)), {}, 1},
      {"stray bytes full of magics", insert(clean.Bytes, b10.Offset, magics), {}, 1},
      {"8 KiB zeroed from a head on", zero(clean.Bytes, b10.Offset, b10.Offset + 8192),
       touched(b10.Offset, b10.Offset + 8192), 1},
      {"20000 bytes cut out from a head on", cut(clean.Bytes, b10.Offset, b10.Offset + 20000),
       touched(b10.Offset, b10.Offset + 20000), 1},
      {"garbage after the recording", insert(clean.Bytes, static_cast<int64_t>(clean.Bytes.size()), garbage(3000)), {}, 1},
      {"garbage before the recording", insert(clean.Bytes, 0, garbage(3000)), {}, 1},
      {"two damages", insert(zero(clean.Bytes, b20.Offset, b20.End), b10.Offset, garbage(100)), {20}, 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TWalk w = Walk(c.Bytes);
    EXPECT_EQ(w.Ids, IdsExcept(clean, c.Lost));
    EXPECT_EQ(static_cast<int>(w.Damage.size()), c.Regions);
  }
}

TEST(BlockReader, FiveDamagesInOneFile) {
  const TCleanRecording clean = MakeClean(60);
  std::vector<uint8_t> bytes = clean.Bytes;
  std::set<size_t> lost;
  // From the end backwards, so the clean offsets stay right.
  auto hit = [&](size_t AIndex) { return clean.Blocks[AIndex].Offset; };
  PutU32(bytes, hit(90) + 28, 0xFFFFFF00u);  // absurd length
  lost.insert(90);
  std::fill(bytes.begin() + hit(70), bytes.begin() + clean.Blocks[72].End, 0);  // three blocks zeroed
  lost.insert({70, 71, 72});
  PutU32(bytes, hit(50) + 28, OmGetU32(bytes.data() + hit(50) + 28) + 1);  // length off by one
  lost.insert(50);
  PutU32(bytes, hit(30), 0);  // magic only: loses nothing
  bytes.insert(bytes.begin() + hit(10), 777, 0x55);  // stray bytes
  TWalk w = Walk(bytes);
  EXPECT_EQ(w.Ids, IdsExcept(clean, lost));
  EXPECT_EQ(w.Damage.size(), 4u);
}

TEST(BlockReader, GarbageIsNoBlock) {
  std::mt19937 random(11);
  std::vector<uint8_t> g(300000);
  for (uint8_t& x : g) x = static_cast<uint8_t>(random());
  // Seeded with magics, some with a video command and a known codec after them.
  // (None near the end: a plausible head whose payload runs past the end is a cut last block.)
  for (size_t at = 1000; at + 2000 < g.size(); at += 1009) {
    const uint8_t fake[] = {0xEA, 0x82, 0xF9, 0x34, 16, 48, 0x01, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0};
    std::copy(std::begin(fake), std::begin(fake) + (at % 2 ? 4 : 20), g.begin() + static_cast<long>(at));
    // The fake video heads say lengths that fit, so that their successors must vouch for them.
    if (at % 2 == 0) OmPutU32(g.data() + at + 28, static_cast<uint32_t>(500 + at % 7));
  }
  TWalk w = Walk(g);
  for (uint32_t id : w.Ids) ADD_FAILURE() << "found block " << id;
  EXPECT_TRUE(w.Ids.empty());
  ASSERT_EQ(w.Damage.size(), 1u);
  EXPECT_EQ(w.Damage[0].Length, static_cast<int64_t>(g.size()));
}

TEST(BlockReader, PayloadsThatHoldHeadsAreNeverTakenForBlocks) {
  // Every payload carries the magic's bytes and a plausible head of its own in its middle;
  // damage around them makes the reader search: the heads inside payloads are never taken
  // for blocks. (A damaged head's own payload is searched: a whole block stored at the very
  // end of such a payload could be taken, and nothing could tell it from a real one.)
  const TCleanRecording clean = MakeClean(20, [](int i) {
    TVyrRecordBuilder fake;
    TVideoBlockSpec v;
    v.FrameID = 9999;
    fake.AddVideo(v, PatternBytes(8, static_cast<uint32_t>(i)));
    std::vector<uint8_t> p = PatternBytes(50, static_cast<uint32_t>(i));
    p.insert(p.end(), fake.Bytes().begin(), fake.Bytes().end());
    const std::vector<uint8_t> tail = PatternBytes(60, static_cast<uint32_t>(i) + 100);
    p.insert(p.end(), tail.begin(), tail.end());
    for (int k = 0; k < 5; ++k) {
      p.insert(p.end(), {0xEA, 0x82, 0xF9, 0x34});
      p.insert(p.end(), tail.begin(), tail.begin() + 7 + k);
    }
    return p;
  });
  std::vector<uint8_t> bytes = clean.Bytes;
  PutU32(bytes, clean.Blocks[16].Offset + 28, 0xFFFFFF00u);
  std::fill(bytes.begin() + clean.Blocks[10].Offset, bytes.begin() + clean.Blocks[10].Offset + 40, 0);
  bytes.insert(bytes.begin() + clean.Blocks[4].Offset, 500, 0x33);
  TWalk w = Walk(bytes);
  EXPECT_EQ(w.Ids, IdsExcept(clean, {10, 16}));
  EXPECT_EQ(std::count(w.Ids.begin(), w.Ids.end(), 9999u), 0);
  EXPECT_EQ(w.Damage.size(), 3u);
}

TEST(BlockReader, CutFiles) {
  const TCleanRecording clean = MakeClean(10);
  const TCleanRecording::TBlockAt& lastVideo = clean.Blocks[clean.Blocks.size() - 2];
  struct TCase {
    const char* Name;
    int64_t Size;
    bool CutBlock;  // the last item is a cut block
    int Regions;
  } const cases[] = {
      {"inside a payload", lastVideo.Offset + 100, true, 0},
      {"inside a sub-head", lastVideo.Offset + 20, false, 0},
      {"inside a head", lastVideo.Offset + 3, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bytes(clean.Bytes.begin(), clean.Bytes.begin() + c.Size);
    TWalk w = Walk(bytes);
    EXPECT_EQ(w.CutLast, c.CutBlock);
    EXPECT_EQ(static_cast<int>(w.Damage.size()), c.Regions);
    const size_t kept = clean.Blocks.size() - 2 + (c.CutBlock ? 1 : 0);
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < kept; ++i)
      if (clean.Blocks[i].Id) ids.push_back(clean.Blocks[i].Id);
    EXPECT_EQ(w.Ids, ids);
  }
  // A payload that runs past the end while an intact block follows is damage, not a cut.
  std::vector<uint8_t> bytes = clean.Bytes;
  PutU32(bytes, clean.Blocks[4].Offset + 28, static_cast<uint32_t>(bytes.size()));
  TWalk w = Walk(bytes);
  EXPECT_FALSE(w.CutLast);
  EXPECT_EQ(w.Ids, IdsExcept(clean, {4}));
  EXPECT_EQ(w.Damage.size(), 1u);
}

// A file that shrinks while it is read ends like a cut file, quietly.
TEST(BlockReader, ASourceThatShrinksEndsThere) {
  const TCleanRecording clean = MakeClean(10);
  class TShrinking final : public TOmByteSource {
   public:
    TShrinking(const std::vector<uint8_t>& ABytes, int64_t AReal) : FBytes(ABytes), FReal(AReal) {}
    int64_t Size() const override { return static_cast<int64_t>(FBytes.size()); }
    size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) override {
      if (AOffset >= FReal) return 0;
      const size_t n = std::min<size_t>(ACount, static_cast<size_t>(FReal - AOffset));
      std::memcpy(ABuffer, FBytes.data() + AOffset, n);
      return n;
    }

   private:
    const std::vector<uint8_t>& FBytes;
    int64_t FReal;
  } source(clean.Bytes, clean.Blocks[8].Offset);
  TOmBlockReader reader(source);
  TOmBlock block;
  TOmDamage damage;
  int blocks = 0;
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;) {
    EXPECT_EQ(item, TOmReadItem::Block);
    ++blocks;
  }
  EXPECT_EQ(blocks, 8);
  EXPECT_EQ(reader.DamagedRegions(), 0);
}
