// TMP4Maker end to end: H.264 streams made by libx264 go in, in pieces as a recording
// delivers them; ffprobe and ffmpeg judge the MP4 file that comes out against decoding
// the source stream itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "MediaTools.h"
#include "TestSupport.h"
#include "conversion/UMp4Maker.h"

namespace {

// Pushes the stream's NAL units in pieces of 1 to 6 units: pictures split over pushes
// and pushes holding several pictures.
void PushInPieces(TMP4Maker& AMaker, const std::vector<std::string>& AUnits, unsigned ASeed) {
  std::mt19937 rng(ASeed);
  for (size_t i = 0; i < AUnits.size();) {
    size_t n = std::min(AUnits.size() - i, size_t{1} + rng() % 6);
    std::string piece = JoinAnnexB(std::vector<std::string>(AUnits.begin() + static_cast<long>(i),
                                                            AUnits.begin() + static_cast<long>(i + n)));
    AMaker.PushVideoX264Frame(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<int32_t>(piece.size()), 0);
    i += n;
  }
}

std::string Seconds(int64_t ATicks90k) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(ATicks90k) / 90000.0);
  return text;
}

size_t CountType(const std::vector<std::string>& AUnits, int AType) {
  size_t n = 0;
  for (const std::string& u : AUnits) n += NalType(u) == AType;
  return n;
}

// What a written file must show.
struct TExpectedVideo {
  int Frames = 30;
  int FrameRate = 25;
  int Gop = 10;  // key frames at every multiple
  std::string Size = "176x144";
};

void JudgeVideo(const std::string& AMp4, const std::string& AReference, const TExpectedVideo& AExpected) {
  EXPECT_EQ(ProbeWarnings(AMp4), "");
  TDecodeResult decoded = DecodeVideoHashes(AMp4);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  EXPECT_EQ(decoded.Hashes.size(), static_cast<size_t>(AExpected.Frames));
  TDecodeResult reference = DecodeVideoHashes(AReference);
  ASSERT_EQ(reference.Hashes.size(), static_cast<size_t>(AExpected.Frames));
  EXPECT_EQ(decoded.Hashes, reference.Hashes);

  auto stream = ProbeStream(AMp4, "v:0", "codec_name,width,height,duration,nb_read_frames", true);
  EXPECT_EQ(stream["codec_name"], "h264");
  EXPECT_EQ(stream["width"] + "x" + stream["height"], AExpected.Size);
  EXPECT_EQ(stream["nb_read_frames"], std::to_string(AExpected.Frames));
  EXPECT_EQ(stream["duration"], Seconds(int64_t{AExpected.Frames} * (90000 / AExpected.FrameRate)));

  std::vector<std::string> flags = ProbePacketFlags(AMp4, "v:0");
  ASSERT_EQ(flags.size(), static_cast<size_t>(AExpected.Frames));
  for (size_t i = 0; i < flags.size(); ++i) EXPECT_EQ(flags[i][0] == 'K', i % AExpected.Gop == 0) << "packet " << i;
}

}  // namespace

class Mp4MakerStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TTempDir();
    TH264TestStream spec;
    Plain = EncodeTestH264(Dir->Path(), "plain.h264", spec);
    spec.X264Params = "nal-hrd=vbr:vbv-maxrate=400:vbv-bufsize=800";
    SeiEach = EncodeTestH264(Dir->Path(), "sei.h264", spec);
    spec.X264Params = "slices=4";
    Slices = EncodeTestH264(Dir->Path(), "slices.h264", spec);
    spec.X264Params = "aud=1";
    Delimited = EncodeTestH264(Dir->Path(), "aud.h264", spec);
  }
  static void TearDownTestSuite() {
    delete Dir;
    Dir = nullptr;
  }

  // Writes the units to an MP4 file at the frame rate; returns the file's name.
  std::string WriteMp4(const std::string& AName, const std::vector<std::string>& AUnits, int32_t AFrameRate = 25,
                       TMP4Maker* AMaker = nullptr) {
    std::string file = Dir->File(AName);
    TMP4Maker own;
    TMP4Maker& maker = AMaker ? *AMaker : own;
    maker.StartWrite(704, 576, AFrameRate, file);
    EXPECT_TRUE(maker.HasFile());
    PushInPieces(maker, AUnits, 17);
    LastPushCount = maker.GetPushCount();  // StopWrite starts the count anew
    maker.StopWrite();
    EXPECT_FALSE(maker.HasWriteError());
    return file;
  }

  int32_t LastPushCount = 0;
  static TTempDir* Dir;
  static std::string Plain, SeiEach, Slices, Delimited;
};

TTempDir* Mp4MakerStreams::Dir = nullptr;
std::string Mp4MakerStreams::Plain, Mp4MakerStreams::SeiEach, Mp4MakerStreams::Slices, Mp4MakerStreams::Delimited;

TEST_F(Mp4MakerStreams, PlainStream) {
  ASSERT_FALSE(Plain.empty());
  TMP4Maker maker;
  std::string mp4 = WriteMp4("plain.mp4", SplitAnnexB(Plain), 25, &maker);
  EXPECT_EQ(maker.GetVideoSampleCount(), 30);
  EXPECT_EQ(LastPushCount, static_cast<int32_t>(SplitAnnexB(Plain).size()));
  JudgeVideo(mp4, Dir->File("plain.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, SeiInEveryPicture) {
  std::vector<std::string> units = SplitAnnexB(SeiEach);
  ASSERT_GE(CountType(units, 6), 30u);
  JudgeVideo(WriteMp4("sei.mp4", units), Dir->File("sei.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, FourSlicesPerPicture) {
  std::vector<std::string> units = SplitAnnexB(Slices);
  ASSERT_EQ(CountType(units, 1) + CountType(units, 5), 4u * 30);
  JudgeVideo(WriteMp4("slices.mp4", units), Dir->File("slices.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, DelimiterBeforeEveryPicture) {
  std::vector<std::string> units = SplitAnnexB(Delimited);
  ASSERT_EQ(CountType(units, 9), 30u);
  JudgeVideo(WriteMp4("aud.mp4", units), Dir->File("aud.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, FrameRatesGiveTheirDurations) {
  struct TCase {
    int32_t Given, Used;
  } const cases[] = {{0, 25}, {30, 30}, {7, 7}};
  for (const TCase& c : cases) {
    TExpectedVideo expected;
    expected.FrameRate = c.Used;
    std::string mp4 = WriteMp4("rate" + std::to_string(c.Given) + ".mp4", SplitAnnexB(Plain), c.Given);
    auto stream = ProbeStream(mp4, "v:0", "duration");
    EXPECT_EQ(stream["duration"], Seconds(30 * (90000 / c.Used))) << c.Given;
  }
}

TEST_F(Mp4MakerStreams, RecordingThatStartsInTheMiddleOfAGroupOfPictures) {
  // The recording begins at picture 4: pictures 4 to 9 have no SPS before them.
  std::vector<std::string> units = SplitAnnexB(Plain);
  size_t slices = 0, start = 0, secondSps = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    int type = NalType(units[i]);
    if ((type == 1 || type == 5) && slices++ == 4) start = i;
    if (type == 7 && i > 0 && secondSps == 0) secondSps = i;
  }
  ASSERT_GT(start, 0u);
  ASSERT_GT(secondSps, start);
  std::vector<std::string> cut(units.begin() + static_cast<long>(start), units.end());
  // The reference: the same stream from its first SPS on.
  WriteFileBytes(Dir->File("from_sps.h264"),
                 JoinAnnexB(std::vector<std::string>(units.begin() + static_cast<long>(secondSps), units.end())));
  TMP4Maker maker;
  std::string mp4 = WriteMp4("cut.mp4", cut, 25, &maker);
  EXPECT_EQ(maker.GetDroppedPictureCount(), 6);
  EXPECT_EQ(LastPushCount, static_cast<int32_t>(cut.size()));
  TExpectedVideo expected;
  expected.Frames = 20;
  JudgeVideo(mp4, Dir->File("from_sps.h264"), expected);
}

TEST_F(Mp4MakerStreams, PictureSizeChangesMidway) {
  // The transcoder reopens its encoder at a new size and back: each picture decodes at
  // its own size, bit for bit as the source stream does.
  TH264TestStream a;
  a.Frames = 20;
  TH264TestStream b = a;
  b.Width = 320;
  b.Height = 240;
  b.Source = "testsrc";
  TH264TestStream c = a;
  c.Frames = 10;
  c.Source = "smptebars";
  std::string stream = EncodeTestH264(Dir->Path(), "a.h264", a) + EncodeTestH264(Dir->Path(), "b.h264", b) +
                       EncodeTestH264(Dir->Path(), "c.h264", c);
  WriteFileBytes(Dir->File("changes.h264"), stream);
  std::string mp4 = WriteMp4("changes.mp4", SplitAnnexB(stream));

  EXPECT_EQ(ProbeWarnings(mp4), "");
  TDecodeResult decoded = DecodeVideoHashes(mp4);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  TDecodeResult reference = DecodeVideoHashes(Dir->File("changes.h264"));
  ASSERT_EQ(reference.Hashes.size(), 50u);
  EXPECT_EQ(decoded.Hashes, reference.Hashes);
  std::vector<std::string> expectedSizes(20, "176x144");
  expectedSizes.insert(expectedSizes.end(), 20, "320x240");
  expectedSizes.insert(expectedSizes.end(), 10, "176x144");
  EXPECT_EQ(ProbeFrameSizes(mp4), expectedSizes);
}
