// Reading picture sizes, parameter set ids and picture starts from H.264 NAL units.
#include <gtest/gtest.h>

#include "H264TestUnits.h"
#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "conversion/UH264Syntax.h"

namespace {
const uint8_t* U(const std::string& AUnit) { return reinterpret_cast<const uint8_t*>(AUnit.data()); }
}  // namespace

TEST(H264Syntax, SizeFromCodedSizeLessCropping) {
  struct TCase {
    const char* Name;
    TSpsSpec Spec;
    int Width, Height;
  };
  TSpsSpec hd;
  hd.WidthMbs = 120;
  hd.HeightMbs = 68;
  hd.CropBottom = 4;  // 1088 - 8
  TSpsSpec high = hd;
  high.Profile = 100;
  high.SpsId = 3;
  TSpsSpec field = hd;
  field.FrameMbsOnly = false;  // map units are field pairs: 34 × 32 lines, crop unit 4 lines
  field.HeightMbs = 34;
  field.CropBottom = 2;
  TSpsSpec mono = hd;
  mono.Profile = 100;
  mono.ChromaFormat = 0;  // crop unit 1 pixel
  mono.CropRight = 6;
  mono.CropBottom = 8;
  TSpsSpec full = hd;
  full.Profile = 244;
  full.ChromaFormat = 3;  // 4:4:4, crop unit 1 × 1
  full.CropBottom = 8;
  TSpsSpec poc0 = TSpsSpec();
  poc0.PocType = 0;
  const TCase cases[] = {{"cif", TSpsSpec(), 176, 144}, {"1080p", hd, 1920, 1080}, {"high", high, 1920, 1080},
                         {"interlaced", field, 1920, 1080}, {"monochrome", mono, 1914, 1080},
                         {"4:4:4", full, 1920, 1080}, {"poc type 0", poc0, 176, 144}};
  for (const TCase& c : cases) {
    std::string sps = MakeSps(c.Spec);
    TH264SpsInfo info;
    ASSERT_TRUE(ParseH264Sps(U(sps), sps.size(), info)) << c.Name;
    EXPECT_EQ(info.Width, c.Width) << c.Name;
    EXPECT_EQ(info.Height, c.Height) << c.Name;
    EXPECT_EQ(info.ProfileIdc, c.Spec.Profile) << c.Name;
    EXPECT_EQ(info.SpsId, c.Spec.SpsId) << c.Name;
    uint32_t id = 99;
    EXPECT_TRUE(ReadH264SpsId(U(sps), sps.size(), id));
    EXPECT_EQ(id, c.Spec.SpsId);
  }
}

TEST(H264Syntax, SizesOfStreamsFromAnEncoder) {
  // libx264's parameter sets (High profile with VUI, cropping to odd multiples of 8).
  TTempDir dir;
  struct TCase {
    int Width, Height;
  } const cases[] = {{176, 144}, {320, 180}, {200, 98}};
  for (const TCase& c : cases) {
    TH264TestStream spec;
    spec.Width = c.Width;
    spec.Height = c.Height;
    spec.Frames = 1;
    std::string stream = EncodeTestH264(dir.Path(), "s.h264", spec);
    std::string sps;
    for (const std::string& u : SplitAnnexB(stream)) {
      if (NalType(u) == 7) sps = u;
    }
    ASSERT_FALSE(sps.empty());
    TH264SpsInfo info;
    ASSERT_TRUE(ParseH264Sps(U(sps), sps.size(), info));
    EXPECT_EQ(info.Width, c.Width);
    EXPECT_EQ(info.Height, c.Height);
    EXPECT_EQ(info.ProfileIdc, 100);
    EXPECT_EQ(info.ChromaFormatIdc, 1u);
  }
}

TEST(H264Syntax, EmulationPreventionBytesAreSkipped) {
  // Profile and constraint bytes of 0 and a level of 1 code as 00 00 01, which the unit
  // must carry as 00 00 03 01; everything after it must still be read right.
  TSpsSpec spec;
  spec.Profile = 0;
  spec.Constraints = 0;
  spec.Level = 1;
  spec.SpsId = 5;
  spec.WidthMbs = 40;
  spec.HeightMbs = 30;
  std::string sps = MakeSps(spec);
  ASSERT_EQ(sps.substr(0, 5), std::string("\x67\0\0\3\1", 5));
  TH264SpsInfo info;
  ASSERT_TRUE(ParseH264Sps(U(sps), sps.size(), info));
  EXPECT_EQ(info.LevelIdc, 1);
  EXPECT_EQ(info.SpsId, 5u);
  EXPECT_EQ(info.Width, 640);
  EXPECT_EQ(info.Height, 480);
}

TEST(H264Syntax, DamagedUnitsAreRefusedWithoutReadingOutside) {
  TSpsSpec hd;
  hd.WidthMbs = 120;
  hd.HeightMbs = 68;
  hd.CropBottom = 4;
  std::string sps = MakeSps(hd);
  TH264SpsInfo info;
  // Every cut-off SPS: each length is copied to a buffer of its own size, so reading past
  // it would show under a sanitizer.
  for (size_t n = 0; n + 1 < sps.size(); ++n) {
    std::vector<uint8_t> cut(sps.begin(), sps.begin() + static_cast<long>(n));
    EXPECT_FALSE(ParseH264Sps(cut.empty() ? nullptr : cut.data(), cut.size(), info)) << n;
  }
  struct TCase {
    const char* Name;
    std::string Unit;
  } const bad[] = {
      {"not an SPS", MakePps()},
      {"cropped to nothing", MakeSps([] { TSpsSpec s; s.CropRight = 88; return s; }())},
      {"sps id 32", MakeSps([] { TSpsSpec s; s.SpsId = 32; return s; }())},
      {"absurd width", MakeSps([] { TSpsSpec s; s.WidthMbs = 5000; return s; }())},
      {"poc type 3", MakeSps([] { TSpsSpec s; s.PocType = 3; return s; }())},
      {"exp-golomb of 40 zeros", std::string("\x67\x42\x00\x1E", 4) + std::string(5, '\0') + "\x01"},
  };
  for (const TCase& c : bad) EXPECT_FALSE(ParseH264Sps(U(c.Unit), c.Unit.size(), info)) << c.Name;
}

TEST(H264Syntax, ParameterSetIdsAndPictureStarts) {
  uint32_t id = 0;
  std::string pps = MakePps(17, 2);
  EXPECT_TRUE(ReadH264PpsId(U(pps), pps.size(), id));
  EXPECT_EQ(id, 17u);
  EXPECT_FALSE(ReadH264PpsId(U(pps), 1, id));
  std::string sps = MakeSps(TSpsSpec());
  EXPECT_FALSE(ReadH264PpsId(U(sps), sps.size(), id));
  EXPECT_FALSE(ReadH264SpsId(U(pps), pps.size(), id));

  struct TCase {
    std::string Slice;
    bool First;
  } const slices[] = {{MakeSlice(true, 0), true},  {MakeSlice(false, 0), true}, {MakeSlice(false, 1), false},
                      {MakeSlice(true, 99), false}, {std::string("\x41", 1), false}};
  for (const TCase& c : slices) EXPECT_EQ(IsH264FirstSliceOfPicture(U(c.Slice), c.Slice.size()), c.First);
  EXPECT_FALSE(IsH264FirstSliceOfPicture(nullptr, 5));
}
