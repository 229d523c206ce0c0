#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UVyrRecordBuilder.h"
#include "UVyrSampleGen.h"
#include "conversion/URecordProbe.h"

namespace {

struct TProbed {
  TVyrRecordProbe Probe;
  bool Result = false;
};

TProbed ProbeBytes(const std::vector<uint8_t>& ABytes) {
  TProbed p;
  TMemoryStream s(ABytes.data(), ABytes.size());
  p.Result = p.Probe.GetVideoInfo(&s);
  return p;
}

void AddVideo(TVyrRecordBuilder& b, uint32_t AFrameId, uint32_t ASecond, size_t APayload = 8,
              uint8_t AType = OmVideoType_H264, uint8_t AMode = OmResolution_CIF) {
  TVideoBlockSpec v;
  v.FrameID = AFrameId;
  v.SecTimeStamp = ASecond;
  v.VideoType = AType;
  v.VideoMode = AMode;
  b.AddVideo(v, PatternBytes(APayload, AFrameId));
}

// Frames of a recording at AFps for ASeconds, starting AStartMs into second 1000.
TVyrRecordBuilder Recording(uint32_t AFps, uint32_t AFrames, uint32_t AStartMs, uint32_t AFirstId = 1) {
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < AFrames; ++i) {
    uint64_t ms = 1000ull * 1000 + AStartMs + 1000ull * i / AFps;
    AddVideo(b, AFirstId + i, static_cast<uint32_t>(ms / 1000));
  }
  return b;
}

// Video blocks with the given frame counts per consecutive second, starting at second 500.
TVyrRecordBuilder Runs(const std::vector<uint32_t>& AFramesPerSecond, uint32_t AFirstSecond = 500) {
  TVyrRecordBuilder b;
  uint32_t id = 1;
  for (size_t s = 0; s < AFramesPerSecond.size(); ++s)
    for (uint32_t f = 0; f < AFramesPerSecond[s]; ++f) AddVideo(b, id++, AFirstSecond + static_cast<uint32_t>(s));
  return b;
}

}  // namespace

TEST(RecordProbe, NullStreamTouchesNothing) {
  TVyrRecordProbe p;
  p.FFrameRate = 77;
  p.FVideoEncType = 9;
  EXPECT_FALSE(p.GetVideoInfo(nullptr));
  EXPECT_EQ(p.FFrameRate, 77u);
  EXPECT_EQ(p.FVideoEncType, 9);
}

TEST(RecordProbe, EmptyFile) {
  TLogCapture log;
  TProbed r = ProbeBytes({});
  EXPECT_TRUE(r.Result);
  EXPECT_EQ(r.Probe.FVideoResolution, 255);
  EXPECT_EQ(r.Probe.FVideoEncType, 255);
  EXPECT_EQ(r.Probe.FAudioEncType, 255);
  EXPECT_EQ(r.Probe.FFrameWidth, 0u);
  EXPECT_EQ(r.Probe.FFrameHeight, 0u);
  EXPECT_EQ(r.Probe.FFrameCount, 0u);
  EXPECT_EQ(r.Probe.FSecCount, 1u);
  EXPECT_EQ(r.Probe.FFrameRate, 0u);
  EXPECT_EQ(log.Count("Unkown Resolution: 255"), 1u);
  EXPECT_EQ(log.Count("Get Video Info: Resolution[255], Width[0], Height[0], VideoEncType[255], "
                      "AudioEncType[255], FrameCount[0], SecCount[1], FPS[0]"),
            1u);
}

TEST(RecordProbe, FrameRateOnWholeSeconds) {
  struct Case {
    const char* Name;
    TVyrRecordBuilder Bytes;
    uint32_t Frames, Seconds, Rate;
  };
  // Ten 3-second bursts at 25 fps, each starting half-way into a second, with gaps.
  TVyrRecordBuilder bursts;
  uint32_t id = 1;
  for (uint32_t burst = 0; burst < 10; ++burst) {
    uint64_t startMs = (2000ull + burst * 60) * 1000 + 500;
    for (uint32_t i = 0; i < 75; ++i) {
      uint64_t ms = startMs + 1000ull * i / 25;
      AddVideo(bursts, id++, static_cast<uint32_t>(ms / 1000));
    }
  }
  const Case cases[] = {
      {"aligned 10 s at 25 fps", Recording(25, 250, 0), 250, 10, 25},
      {"10 s at 25 fps from mid-second (simple division gives 22)", Recording(25, 250, 500), 250, 11, 25},
      {"12 fps for 5 s", Recording(12, 60, 300), 60, 6, 12},
      {"whole runs of 24 and 25 alternate: 24.5 rounds up", Runs({10, 24, 25, 24, 25, 10}), 118, 6, 25},
      {"whole runs of 24, 24, 25: 24.33 rounds down", Runs({3, 24, 24, 25, 7}), 83, 5, 24},
      {"bursts with gaps (simple division gives 18)", std::move(bursts), 750, 40, 25},
      {"two runs only: frames div seconds", Runs({10, 15}), 25, 2, 12},
      {"one run of 300 frames is no frame rate", Runs({300}), 300, 1, 0},
      {"300 fps in whole seconds is no frame rate", Runs({100, 300, 300, 300, 5}), 1005, 5, 0},
      {"240 fps is still a frame rate", Runs({100, 240, 240, 5}), 585, 4, 240},
  };
  for (const Case& c : cases) {
    TProbed r = ProbeBytes(c.Bytes.Bytes());
    EXPECT_EQ(r.Probe.FFrameCount, c.Frames) << c.Name;
    EXPECT_EQ(r.Probe.FSecCount, c.Seconds) << c.Name;
    EXPECT_EQ(r.Probe.FFrameRate, c.Rate) << c.Name;
  }
}

TEST(RecordProbe, CountsChangesBetweenConsecutiveBlocks) {
  struct Case {
    const char* Name;
    std::vector<std::pair<uint32_t, uint32_t>> IdAndSecond;
    uint32_t Frames, Seconds;
  } const cases[] = {
      {"first frame id 0 is not counted", {{0, 5}, {1, 5}, {2, 5}}, 2, 1},
      {"first second 0 is not counted", {{1, 0}, {2, 0}, {3, 1}}, 3, 1},
      {"same id twice counts once", {{4, 1}, {4, 1}, {5, 1}}, 2, 1},
      {"7, 8, 7 counts three", {{7, 1}, {8, 1}, {7, 1}}, 3, 1},
      {"seconds 3, 4, 3 count three", {{1, 3}, {2, 4}, {3, 3}}, 3, 3},
  };
  for (const Case& c : cases) {
    TVyrRecordBuilder b;
    for (auto [id, sec] : c.IdAndSecond) AddVideo(b, id, sec);
    TProbed r = ProbeBytes(b.Bytes());
    EXPECT_EQ(r.Probe.FFrameCount, c.Frames) << c.Name;
    EXPECT_EQ(r.Probe.FSecCount, c.Seconds) << c.Name;
  }
}

TEST(RecordProbe, FirstBlockOfEachKindWins) {
  TVyrRecordBuilder b;
  TAudioBlockSpec a;
  a.AudioType = AUDIO_TYPE_G711U;
  b.AddAudio(a, PatternBytes(160, 1));
  AddVideo(b, 1, 1, 10, OmVideoType_H265, OmResolution_1080P);
  AddVideo(b, 2, 1, 10, OmVideoType_H264, OmResolution_CIF);
  a.AudioType = AUDIO_TYPE_PCM;
  b.AddAudio(a, PatternBytes(320, 2));
  TProbed r = ProbeBytes(b.Bytes());
  EXPECT_EQ(r.Probe.FVideoEncType, OmVideoType_H265);
  EXPECT_EQ(r.Probe.FVideoResolution, OmResolution_1080P);
  EXPECT_EQ(r.Probe.FFrameWidth, 1920u);
  EXPECT_EQ(r.Probe.FFrameHeight, 1080u);
  EXPECT_EQ(r.Probe.FAudioEncType, AUDIO_TYPE_G711U);
}

TEST(RecordProbe, NoVideoBlock) {
  TVyrRecordBuilder b;
  TAudioBlockSpec a;
  b.AddAudio(a, PatternBytes(160, 1));
  TProbed r = ProbeBytes(b.Bytes());
  EXPECT_TRUE(r.Result);
  EXPECT_EQ(r.Probe.FVideoEncType, 255);
  EXPECT_EQ(r.Probe.FVideoResolution, 255);
  EXPECT_EQ(r.Probe.FAudioEncType, AUDIO_TYPE_G711A);
  EXPECT_EQ(r.Probe.FFrameRate, 0u);
}

TEST(RecordProbe, UnknownCommandIsSkippedByItsLength) {
  TLogCapture log;
  TVyrRecordBuilder b;
  b.AddOther(771, 100, PatternBytes(100, 3));
  AddVideo(b, 1, 1, 10, OmVideoType_MJPEG, OmResolution_D1);
  TProbed r = ProbeBytes(b.Bytes());
  EXPECT_EQ(log.Count("Read Unkown Data Cmd: 771, length=100"), 1u);
  // The video block 116 bytes after the start was found.
  EXPECT_EQ(r.Probe.FVideoEncType, OmVideoType_MJPEG);
  EXPECT_EQ(r.Probe.FFrameCount, 1u);
}

TEST(RecordProbe, ShortReadsEndTheScanQuietly) {
  for (size_t cut : {10u, 16u + 24u + 10u - 30u /* inside the second sub-head */, 1u}) {
    TVyrRecordBuilder b;
    AddVideo(b, 1, 1, 10, OmVideoType_H264, OmResolution_720P);
    size_t firstBlock = b.Size();
    AddVideo(b, 2, 2, 10);
    std::vector<uint8_t> bytes = b.Bytes();
    bytes.resize(firstBlock + cut);
    TProbed r = ProbeBytes(bytes);
    EXPECT_TRUE(r.Result) << cut;
    EXPECT_EQ(r.Probe.FFrameCount, 1u) << cut;
    EXPECT_EQ(r.Probe.FFrameWidth, 1280u) << cut;
  }
}

TEST(RecordProbe, LengthPastTheEndEndsTheScan) {
  TVyrRecordBuilder b;
  TVideoBlockSpec v;
  v.OverrideFrameLength = true;
  v.FrameLength = 0xFFFFFFFFu;
  b.AddVideo(v, PatternBytes(50, 1));
  AddVideo(b, 2, 2);  // never reached
  TProbed r = ProbeBytes(b.Bytes());
  EXPECT_TRUE(r.Result);
  EXPECT_EQ(r.Probe.FFrameCount, 1u);
  EXPECT_EQ(r.Probe.FBlockCount, 1u);
}

TEST(RecordProbe, AWrongMagicAloneIsForgivenButNotGarbage) {
  TVyrRecordBuilder b;
  TVideoBlockSpec v;
  v.Magic = 0x12345678;
  v.VideoType = OmVideoType_MPEG4;
  b.AddVideo(v, PatternBytes(10, 1));
  TProbed r = ProbeBytes(b.Bytes());
  EXPECT_EQ(r.Probe.FVideoEncType, OmVideoType_MPEG4);
  EXPECT_EQ(r.Probe.FFrameCount, 1u);
  EXPECT_EQ(r.Probe.FDamagedRegions, 0);

  // A wrong magic on a head that names no known codec: damage, not the first video block.
  TVyrRecordBuilder g;
  v.VideoType = 7;
  v.FrameID = 5;
  g.AddVideo(v, PatternBytes(10, 1));
  TVideoBlockSpec good;
  good.VideoType = OmVideoType_H265;
  good.FrameID = 6;
  g.AddVideo(good, PatternBytes(10, 2));
  TLogCapture log;
  TProbed d = ProbeBytes(g.Bytes());
  EXPECT_EQ(d.Probe.FVideoEncType, OmVideoType_H265);
  EXPECT_EQ(d.Probe.FFrameCount, 1u);
  EXPECT_EQ(d.Probe.FDamagedRegions, 1);
  EXPECT_EQ(d.Probe.FDamagedBytes, 50);
  EXPECT_TRUE(log.Contains("Skip damaged data: offset 0, length 50"));
}

TEST(RecordProbe, ResolutionTable) {
  struct Case {
    uint8_t Code;
    uint32_t W, H;
  } const cases[] = {{0, 176, 144},   {1, 352, 288},   {2, 704, 576},   {3, 1280, 720},
                     {4, 1920, 1080}, {5, 1600, 1200}, {6, 2048, 1536}, {7, 2592, 1920},
                     {8, 1280, 960},  {9, 2592, 1520}};
  TLogCapture log;
  for (const Case& c : cases) {
    uint32_t w = 1, h = 1;
    EXPECT_TRUE(TVyrRecordProbe::GetVideoWidthHeight(c.Code, w, h));
    EXPECT_EQ(w, c.W);
    EXPECT_EQ(h, c.H);
  }
  EXPECT_TRUE(log.Lines().empty());
  uint32_t w = 1, h = 1;
  EXPECT_FALSE(TVyrRecordProbe::GetVideoWidthHeight(10, w, h));
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Unkown Resolution: 10"});
}

TEST(RecordProbe, LogLineCarriesTheResults) {
  TLogCapture log;
  ProbeBytes(Recording(25, 250, 500).Bytes());
  EXPECT_EQ(log.Count("Get Video Info: Resolution[1], Width[352], Height[288], VideoEncType[1], "
                      "AudioEncType[255], FrameCount[250], SecCount[11], FPS[25]"),
            1u);
}

TEST(RecordProbe, GeneratedRecordingFromAFile) {
  TTempDir dir;
  TRecordingSpec spec;
  spec.VideoType = OmVideoType_H265;
  spec.VideoMode = OmResolution_720P;
  spec.AudioType = AUDIO_TYPE_G711U;
  spec.FrameRate = 20;
  spec.Frames = 200;
  spec.StartMillisecond = 250;
  TVyrRecordBuilder b;
  GenerateRecording(spec, PatternPayloadSource(spec, 3000), b);
  ASSERT_TRUE(b.SaveToFile(dir.File("r.vyr")));
  std::unique_ptr<TStream> s = TVyrRecordProbe::OpenVYRRecord(dir.File("r.vyr"));
  ASSERT_TRUE(s);
  TVyrRecordProbe p;
  EXPECT_TRUE(p.GetVideoInfo(s.get()));
  EXPECT_EQ(s->Position(), s->Size());
  TVyrRecordProbe::CloseVYRRecord(s);
  EXPECT_FALSE(s);
  EXPECT_EQ(p.FVideoEncType, OmVideoType_H265);
  EXPECT_EQ(p.FAudioEncType, AUDIO_TYPE_G711U);
  EXPECT_EQ(p.FFrameWidth, 1280u);
  EXPECT_EQ(p.FFrameRate, 20u);
  EXPECT_EQ(p.FFrameCount, 200u);
  EXPECT_EQ(p.FSecCount, 11u);
}

TEST(RecordProbe, OpenFailures) {
  TTempDir dir;
  EXPECT_FALSE(TVyrRecordProbe::OpenVYRRecord(dir.File("missing.vyr")));
  EXPECT_FALSE(TVyrRecordProbe::OpenVYRRecord(dir.Path()));
  std::unique_ptr<TStream> none;
  TVyrRecordProbe::CloseVYRRecord(none);  // a null stream is ignored
  EXPECT_FALSE(none);
}
