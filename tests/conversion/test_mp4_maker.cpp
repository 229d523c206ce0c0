// TMP4Maker on hand-made NAL units: finding units, gathering access units into samples,
// parameter sets, the video track's set-up, its log lines, and its failures.
#include <gtest/gtest.h>

#include <random>

#include "H264TestUnits.h"
#include "Mp4BoxTree.h"
#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "conversion/UMp4Maker.h"

namespace {

std::string Hex(const std::string& AText) {
  std::string bytes;
  for (size_t i = 0; i + 1 < AText.size(); i += 3) bytes.push_back(static_cast<char>(std::stoi(AText.substr(i, 2), nullptr, 16)));
  return bytes;
}

void Push(TMP4Maker& AMaker, const std::string& ABytes) {
  AMaker.PushVideoX264Frame(reinterpret_cast<const uint8_t*>(ABytes.data()), static_cast<int32_t>(ABytes.size()), 0);
}

// The NAL units of each video sample of a written file, and whether it is a sync sample.
struct TSampleUnits {
  std::vector<std::string> Units;
  bool Sync = false;
};

std::vector<TSampleUnits> ReadVideoSamples(const std::string& AFileName) {
  TMp4BoxTree tree;
  EXPECT_TRUE(tree.Load(AFileName)) << tree.Error();
  std::vector<TSampleUnits> result;
  if (!tree.Find("moov/trak")) return result;
  for (const TMp4Sample& s : tree.Samples(0)) {
    std::vector<uint8_t> bytes = tree.ReadAt(s.Offset, s.Size);
    TSampleUnits units;
    units.Sync = s.Sync;
    for (size_t pos = 0; pos + 4 <= bytes.size();) {
      size_t n = BeU32(bytes, pos);
      EXPECT_LE(pos + 4 + n, bytes.size());
      units.Units.emplace_back(bytes.begin() + static_cast<long>(pos + 4),
                               bytes.begin() + static_cast<long>(std::min(bytes.size(), pos + 4 + n)));
      pos += 4 + n;
    }
    result.push_back(units);
  }
  return result;
}

uint32_t VideoSampleDuration(const std::string& AFileName) {
  TMp4BoxTree tree;
  EXPECT_TRUE(tree.Load(AFileName));
  const TMp4Box* stts = tree.Find("moov/trak/mdia/minf/stbl/stts");
  if (!stts) return 0;
  return BeU32(tree.Payload(*stts), 12);
}

const std::string SpsA = MakeSps(TSpsSpec());
const std::string SpsB = MakeSps([] {
  TSpsSpec s;
  s.WidthMbs = 20;
  s.HeightMbs = 15;
  return s;
}());
const std::string Pps = MakePps();
const std::string Sei = MakeSei();
const std::string Aud = MakeAud();
const std::string Idr = MakeSlice(true, 0, 30, 0x11);
const std::string P1 = MakeSlice(false, 0, 20, 0x21);
const std::string P2 = MakeSlice(false, 0, 20, 0x22);
const std::string P3 = MakeSlice(false, 0, 20, 0x23);
const std::string Idr0 = MakeSlice(true, 0, 10, 0x31);
const std::string Idr1 = MakeSlice(true, 20, 10, 0x32);
const std::string Idr2 = MakeSlice(true, 40, 10, 0x33);
const std::string Idr3 = MakeSlice(true, 60, 10, 0x34);
const std::string Pa0 = MakeSlice(false, 0, 10, 0x41);
const std::string Pa1 = MakeSlice(false, 20, 10, 0x42);
const std::string Pa2 = MakeSlice(false, 40, 10, 0x43);
const std::string Pa3 = MakeSlice(false, 60, 10, 0x44);
const std::string Filler = std::string("\x0C\xFF\xFF\x80", 4);
const std::string EndOfSeq = std::string("\x0A", 1);

}  // namespace

TEST(Mp4MakerNalu, CheckNaluFindsUnitsAsTheRecorderSendsThem) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Found;
    int Type, Size, Start, End;  // Start: offset of the header byte
  } const cases[] = {
      {"4-byte start code, next one's zero left out", Hex("00 00 00 01 67 AA BB CC 00 00 00 01 68 DD"), true, 7, 4, 4, 8},
      {"3-byte start codes", Hex("00 00 01 68 DD 00 00 01 65"), true, 8, 2, 3, 5},
      {"last unit runs to the end", Hex("00 00 01 65 F1 F2"), true, 5, 3, 3, 6},
      {"junk before the first start code", Hex("12 34 00 00 01 41 9A"), true, 1, 2, 5, 7},
      {"only the last zero before a start code is dropped", Hex("00 00 01 65 AA 00 00 00 00 01 41"), true, 5, 3, 3, 6},
      {"header byte as the last byte", Hex("00 00 01 65"), true, 5, 1, 3, 4},
      {"empty unit runs to the end", Hex("00 00 01 00 00 01 65"), true, 0, 4, 3, 3},
      {"start code without a header byte", Hex("00 00 01"), false, 0, 0, 0, 3},
      {"start code in the last three bytes", Hex("AA BB 00 00 01"), false, 0, 0, 0, 5},
      {"no start code", Hex("65 88 84 00 01 00 00 02"), false, 0, 0, 0, 8},
      {"too short", Hex("00 01"), false, 0, 0, 0, 2},
  };
  for (const TCase& c : cases) {
    // Each buffer is a copy of its own exact size, so an overread shows under a sanitizer.
    std::vector<uint8_t> buf(c.Bytes.begin(), c.Bytes.end());
    TEncNaluUnit unit;
    int32_t end = -1;
    bool found = TMP4Maker::CheckNalu(buf.data(), static_cast<int32_t>(buf.size()), unit, end);
    ASSERT_EQ(found, c.Found) << c.Name;
    EXPECT_EQ(end, c.End) << c.Name;
    if (!found) {
      EXPECT_EQ(unit.pData, nullptr) << c.Name;
      continue;
    }
    EXPECT_EQ(unit.byType, c.Type) << c.Name;
    EXPECT_EQ(unit.iDataSize, c.Size) << c.Name;
    EXPECT_EQ(unit.pData, buf.data() + c.Start) << c.Name;
  }
  TEncNaluUnit unit;
  int32_t end = 0;
  EXPECT_FALSE(TMP4Maker::CheckNalu(nullptr, 10, unit, end));
}

TEST(Mp4MakerNalu, ArbitraryBytesNeverLeadOutsideTheBuffer) {
  // Bytes biased towards start codes and the unit types that matter, pushed in pieces
  // of every size; each piece is a buffer of its own size.
  TTempDir dir;
  std::mt19937 rng(4711);
  const uint8_t alphabet[] = {0, 0, 0, 1, 1, 3, 0x65, 0x41, 0x67, 0x68, 0x06, 0x09, 0x80, 0xFF};
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("fuzz.mp4"));
  int64_t units = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> buf(rng() % 64);
    for (uint8_t& b : buf) b = (rng() % 3) ? alphabet[rng() % sizeof alphabet] : static_cast<uint8_t>(rng());
    if (round % 50 == 0) {
      std::string sps = SpsA;
      buf.insert(buf.end(), {0, 0, 1});
      buf.insert(buf.end(), sps.begin(), sps.end());
    }
    // The units CheckNalu finds, walked as PushVideoX264Frame walks them.
    for (int32_t done = 0, end = 0; done < static_cast<int32_t>(buf.size()); done += end) {
      TEncNaluUnit unit;
      if (!TMP4Maker::CheckNalu(buf.data() + done, static_cast<int32_t>(buf.size()) - done, unit, end)) break;
      ASSERT_GE(unit.pData, buf.data() + done);
      ASSERT_LE(unit.pData + unit.iDataSize, buf.data() + buf.size());
      ASSERT_GT(end, 0);
      ++units;
    }
    maker.PushVideoX264Frame(buf.empty() ? nullptr : buf.data(), static_cast<int32_t>(buf.size()), 0);
  }
  EXPECT_EQ(maker.GetPushCount(), units);
  maker.StopWrite();
  EXPECT_FALSE(maker.HasWriteError());
  TMp4BoxTree tree;
  EXPECT_TRUE(tree.Load(dir.File("fuzz.mp4"))) << tree.Error();
}

TEST(Mp4MakerVideo, ThreeUnitsOfTheSpecExample) {
  TTempDir dir;
  TLogCapture log;
  TMP4Maker maker;
  maker.StartWrite(704, 576, 25, dir.File("a.mp4"));
  ASSERT_TRUE(maker.HasFile());
  Push(maker, std::string("\0\0\0\1", 4) + SpsA + std::string("\0\0\0\1", 4) + Pps + std::string("\0\0\1", 3) + Idr);
  EXPECT_EQ(maker.GetPushCount(), 3);
  maker.StopWrite();
  EXPECT_EQ(maker.GetVideoSampleCount(), 1);
  std::vector<TSampleUnits> samples = ReadVideoSamples(dir.File("a.mp4"));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].Units, std::vector<std::string>{Idr});
  EXPECT_TRUE(samples[0].Sync);
  // The log lines, exactly.
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].substr(0, 40), "Start Mp4Create: <704, 576>, fps=25, Han");
  EXPECT_EQ(lines[1], "Add Video Track: fps=25, ID= 1");
  EXPECT_EQ(lines[2], "Write SPS, size=" + std::to_string(SpsA.size()));
  EXPECT_EQ(lines[3], "Write PPS: size=" + std::to_string(Pps.size()));
  std::string handle = lines[0].substr(lines[0].find("Handle=") + 7);
  EXPECT_NE(handle, "0");
  EXPECT_EQ(lines[4], "StopWrite: " + handle);
  // The decoder configuration holds both parameter sets.
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("a.mp4")));
  std::vector<uint8_t> avcC = tree.Payload(*tree.Find("moov/trak/mdia/minf/stbl/stsd/avc1/avcC"));
  std::string config(avcC.begin(), avcC.end());
  EXPECT_NE(config.find(SpsA), std::string::npos);
  EXPECT_NE(config.find(Pps), std::string::npos);
}

TEST(Mp4MakerVideo, OneSamplePerAccessUnit) {
  struct TExpected {
    std::vector<std::string> Units;
    bool Sync;
  };
  struct TCase {
    const char* Name;
    std::vector<std::vector<std::string>> Pushes;  // the NAL units of each push
    std::vector<TExpected> Samples;
    int64_t Dropped;
  };
  const TCase cases[] = {
      {"SEI and slice of one picture", {{SpsA, Pps, Sei, Idr}, {Sei, P1}, {Sei, P2}},
       {{{Sei, Idr}, true}, {{Sei, P1}, false}, {{Sei, P2}, false}}, 0},
      {"four slices per picture", {{SpsA, Pps, Idr0, Idr1, Idr2, Idr3}, {Pa0, Pa1, Pa2, Pa3}},
       {{{Idr0, Idr1, Idr2, Idr3}, true}, {{Pa0, Pa1, Pa2, Pa3}, false}}, 0},
      {"slices of a picture in several pushes", {{SpsA, Pps, Idr0}, {Idr1, Idr2}, {Idr3}, {Pa0, Pa1}, {Pa2, Pa3}},
       {{{Idr0, Idr1, Idr2, Idr3}, true}, {{Pa0, Pa1, Pa2, Pa3}, false}}, 0},
      {"several pictures in one push", {{SpsA, Pps, Idr, P1, P2, Sei, P3}},
       {{{Idr}, true}, {{P1}, false}, {{P2}, false}, {{Sei, P3}, false}}, 0},
      {"delimiter per picture", {{Aud, SpsA, Pps, Sei, Idr}, {Aud, P1}, {Aud, Sei, P2}},
       {{{Sei, Idr}, true}, {{P1}, false}, {{Sei, P2}, false}}, 0},
      {"repeated parameter sets are dropped", {{SpsA, Pps, Idr, P1}, {SpsA, Pps, Idr, P2}},
       {{{Idr}, true}, {{P1}, false}, {{Idr}, true}, {{P2}, false}}, 0},
      {"other unit types are dropped and end nothing", {{SpsA, Pps, Idr0, Filler, Idr1, EndOfSeq}, {P1}},
       {{{Idr0, Idr1}, true}, {{P1}, false}}, 0},
      {"pictures before the first SPS are dropped and counted", {{P1, P2}, {Sei, P3, Pps}, {SpsA, Pps, Idr}},
       {{{Idr}, true}}, 3},
      {"an SEI after a slice opens the next picture", {{SpsA, Pps, Idr0, Sei, Idr1}},
       {{{Idr0}, true}, {{Sei, Idr1}, true}}, 0},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    TMP4Maker maker;
    maker.StartWrite(176, 144, 25, dir.File("v.mp4"));
    int32_t units = 0;
    for (const std::vector<std::string>& push : c.Pushes) {
      Push(maker, JoinAnnexB(push));
      units += static_cast<int32_t>(push.size());
    }
    EXPECT_EQ(maker.GetPushCount(), units) << c.Name;
    EXPECT_EQ(maker.GetDroppedPictureCount(), c.Dropped) << c.Name;
    maker.StopWrite();
    EXPECT_EQ(maker.GetVideoSampleCount(), static_cast<int64_t>(c.Samples.size())) << c.Name;
    std::vector<TSampleUnits> samples = ReadVideoSamples(dir.File("v.mp4"));
    ASSERT_EQ(samples.size(), c.Samples.size()) << c.Name;
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(samples[i].Units, c.Samples[i].Units) << c.Name << ", sample " << i;
      EXPECT_EQ(samples[i].Sync, c.Samples[i].Sync) << c.Name << ", sample " << i;
    }
  }
}

TEST(Mp4MakerVideo, ChangedParameterSetsTravelInTheStream) {
  // The picture size changes and changes back: every SPS that differs from the decoder
  // configuration, or from what the stream set last, goes into the next sample with the
  // PPS after it; a repeat of the configured sets while they are in force is dropped.
  TTempDir dir;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("c.mp4"));
  for (const std::vector<std::string>& push :
       std::vector<std::vector<std::string>>{{SpsA, Pps, Idr}, {P1},
                                             {SpsB, Pps, Idr}, {P2},
                                             {SpsB, Pps, Idr}, {SpsA, Pps, Idr}, {SpsA, Pps, Idr}}) {
    Push(maker, JoinAnnexB(push));
  }
  maker.StopWrite();
  std::vector<TSampleUnits> samples = ReadVideoSamples(dir.File("c.mp4"));
  const std::vector<std::vector<std::string>> expected = {
      {Idr}, {P1}, {SpsB, Pps, Idr}, {P2}, {SpsB, Pps, Idr}, {SpsA, Pps, Idr}, {Idr}};
  ASSERT_EQ(samples.size(), expected.size());
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(samples[i].Units, expected[i]) << i;
  // The track keeps the first size and the first parameter sets.
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("c.mp4")));
  std::vector<uint8_t> tkhd = tree.Payload(*tree.Find("moov/trak/tkhd"));
  EXPECT_EQ(BeU32(tkhd, 76), 176u << 16);
  std::vector<uint8_t> avcC = tree.Payload(*tree.Find("moov/trak/mdia/minf/stbl/stsd/avc1/avcC"));
  EXPECT_EQ(avcC[5] & 0x1F, 1);  // one SPS
  EXPECT_EQ(std::string(avcC.begin() + 8, avcC.begin() + 8 + static_cast<long>(SpsA.size())), SpsA);
}

TEST(Mp4MakerVideo, SampleDurationFollowsTheFrameRate) {
  struct TCase {
    int32_t FrameRate;
    uint32_t Duration;
    const char* LogRate;
  } const cases[] = {{0, 3600, "25"}, {30, 3000, "30"}, {7, 12857, "7"}, {-5, 3600, "25"}, {200000, 1, "200000"}};
  for (const TCase& c : cases) {
    TTempDir dir;
    TLogCapture log;
    TMP4Maker maker;
    maker.StartWrite(176, 144, c.FrameRate, dir.File("r.mp4"));
    Push(maker, JoinAnnexB({SpsA, Pps, Idr, P1}));
    maker.StopWrite();
    EXPECT_EQ(VideoSampleDuration(dir.File("r.mp4")), c.Duration) << c.FrameRate;
    EXPECT_TRUE(log.Contains(std::string("Add Video Track: fps=") + c.LogRate + ", ID= 1")) << c.FrameRate;
  }
}

TEST(Mp4MakerVideo, TrackSizeComesFromTheSps) {
  TSpsSpec hd;
  hd.WidthMbs = 120;
  hd.HeightMbs = 68;
  hd.CropBottom = 4;
  struct TCase {
    const char* Name;
    std::string Sps;
    uint32_t Width, Height;
  } const cases[] = {
      {"the stream's size wins over the probe's", MakeSps(hd), 1920, 1080},
      {"an unreadable SPS leaves the probe's size", std::string("\x67\x42\xC0\x1E\x01\x02\x03", 7), 704, 576},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    TMP4Maker maker;
    maker.StartWrite(704, 576, 25, dir.File("s.mp4"));
    Push(maker, JoinAnnexB({c.Sps, Pps, Idr}));
    maker.StopWrite();
    TMp4BoxTree tree;
    ASSERT_TRUE(tree.Load(dir.File("s.mp4"))) << c.Name;
    std::vector<uint8_t> tkhd = tree.Payload(*tree.Find("moov/trak/tkhd"));
    EXPECT_EQ(BeU32(tkhd, 76) >> 16, c.Width) << c.Name;
    EXPECT_EQ(BeU32(tkhd, 80) >> 16, c.Height) << c.Name;
    std::vector<uint8_t> avc1 = tree.Payload(*tree.Find("moov/trak/mdia/minf/stbl/stsd/avc1"));
    EXPECT_EQ(BeU16(avc1, 24), c.Width) << c.Name;
    EXPECT_EQ(BeU16(avc1, 26), c.Height) << c.Name;
  }
}

TEST(Mp4MakerVideo, ShortSpsCreatesNoTrack) {
  TTempDir dir;
  TLogCapture log;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("short.mp4"));
  Push(maker, JoinAnnexB({std::string("\x67\x42\xC0", 3), Pps, Idr, P1}));
  EXPECT_EQ(log.CountStartingWith("Add Video Track"), 0u);
  EXPECT_EQ(maker.GetDroppedPictureCount(), 1);  // the IDR picture; P1 still pending
  // A whole SPS later creates the track.
  Push(maker, JoinAnnexB({SpsA, Pps, Idr}));
  EXPECT_EQ(log.Count("Add Video Track: fps=25, ID= 1"), 1u);
  maker.StopWrite();
  EXPECT_EQ(maker.GetVideoSampleCount(), 1);
  EXPECT_EQ(maker.GetDroppedPictureCount(), 2);
}

TEST(Mp4MakerVideo, LargeUnitGrowsTheSampleBufferOnce) {
  TTempDir dir;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("big.mp4"));
  EXPECT_EQ(maker.GetSampleBufferLen(), MIN_TMP_BUFF_LEN);
  std::string big = MakeSlice(true, 0, 0);
  big += std::string(2000000 - big.size(), '\x7E');
  ASSERT_EQ(big.size(), 2000000u);
  Push(maker, JoinAnnexB({SpsA, Pps, big, P1}));
  EXPECT_EQ(maker.GetSampleBufferLen(), 2000000 + 4 + 524288);
  Push(maker, JoinAnnexB({P2, Idr}));
  EXPECT_EQ(maker.GetSampleBufferLen(), 2000000 + 4 + 524288);
  maker.StopWrite();
  std::vector<TSampleUnits> samples = ReadVideoSamples(dir.File("big.mp4"));
  ASSERT_EQ(samples.size(), 4u);
  EXPECT_EQ(samples[0].Units, std::vector<std::string>{big});
  EXPECT_EQ(samples[3].Units, std::vector<std::string>{Idr});
}

TEST(Mp4MakerVideo, AGrowingPictureKeepsWhatItHasGathered) {
  // The first slices fill most of the buffer; the next one makes it grow mid-picture.
  TTempDir dir;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("grow.mp4"));
  std::string s0 = MakeSlice(true, 0, 700000, 0x51);
  std::string s1 = MakeSlice(true, 10, 700000, 0x52);
  Push(maker, JoinAnnexB({SpsA, Pps, s0}));
  Push(maker, JoinAnnexB({s1}));
  maker.StopWrite();
  EXPECT_GT(maker.GetSampleBufferLen(), MIN_TMP_BUFF_LEN);
  std::vector<TSampleUnits> samples = ReadVideoSamples(dir.File("grow.mp4"));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].Units, (std::vector<std::string>{s0, s1}));
}

TEST(Mp4MakerVideo, NoFileWhenTheNameCannotBeCreated) {
  TTempDir dir;
  TLogCapture log;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("missing/x.mp4"));
  EXPECT_FALSE(maker.IsFileCreated());
  EXPECT_FALSE(maker.HasFile());
  Push(maker, JoinAnnexB({SpsA, Pps, Idr}));
  maker.PushAudioFrame(reinterpret_cast<const uint8_t*>("\xD5\xD5"), 2, 1);
  EXPECT_EQ(maker.GetPushCount(), 3);  // found and counted, nothing more
  maker.StopWrite();
  maker.StopWrite();
  EXPECT_EQ(maker.GetVideoSampleCount(), 0);
  EXPECT_FALSE(maker.HasWriteError());
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_FALSE(FileExists(dir.File("missing")));
}

TEST(Mp4MakerVideo, StopWriteTwiceAndOutcomeKept) {
  TTempDir dir;
  TLogCapture log;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("t.mp4"));
  Push(maker, JoinAnnexB({SpsA, Pps, Idr, P1, P2}));
  maker.StopWrite();
  maker.StopWrite();
  EXPECT_EQ(log.CountStartingWith("StopWrite: "), 1u);
  EXPECT_TRUE(maker.IsFileCreated());
  EXPECT_FALSE(maker.HasFile());
  EXPECT_EQ(maker.GetVideoSampleCount(), 3);
  EXPECT_FALSE(maker.HasWriteError());
  EXPECT_EQ(ReadVideoSamples(dir.File("t.mp4")).size(), 3u);
  // Pushing after the end writes nothing.
  Push(maker, JoinAnnexB({P3}));
  EXPECT_EQ(maker.GetVideoSampleCount(), 3);
}

TEST(Mp4MakerVideo, StartingAgainFinishesTheFirstFile) {
  TTempDir dir;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("one.mp4"));
  Push(maker, JoinAnnexB({SpsA, Pps, Idr, P1}));
  maker.StartWrite(176, 144, 25, dir.File("two.mp4"));
  EXPECT_EQ(maker.GetVideoSampleCount(), 0);
  Push(maker, JoinAnnexB({SpsA, Pps, Idr}));
  maker.StopWrite();
  EXPECT_EQ(ReadVideoSamples(dir.File("one.mp4")).size(), 2u);
  EXPECT_EQ(ReadVideoSamples(dir.File("two.mp4")).size(), 1u);
}

TEST(Mp4MakerVideo, WriteErrorsAreReported) {
  TSmallTmpfs disk(128 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, disk.File("full.mp4"));
  ASSERT_TRUE(maker.IsFileCreated());
  std::string big = MakeSlice(true, 0, 400000);
  Push(maker, JoinAnnexB({SpsA, Pps, big, P1}));
  maker.StopWrite();
  EXPECT_TRUE(maker.HasWriteError());
  EXPECT_NE(maker.GetCreateError().find("No space left"), std::string::npos) << maker.GetCreateError();
  EXPECT_EQ(maker.GetKeptFileName(), "");
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{});
}

TEST(Mp4MakerVideo, AFileWithoutSamplesIsNotKept) {
  TTempDir dir;
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, dir.File("empty.mp4"));
  ASSERT_TRUE(maker.IsFileCreated());
  Push(maker, JoinAnnexB({P1}));  // a picture before any SPS: nothing to write
  maker.StopWrite();
  EXPECT_FALSE(maker.HasWriteError());
  EXPECT_EQ(maker.GetVideoSampleCount(), 0);
  EXPECT_EQ(maker.GetKeptFileName(), "");
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{});
}
