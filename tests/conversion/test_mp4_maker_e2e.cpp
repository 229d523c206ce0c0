// TMP4Maker end to end: H.264 streams made by libx264 go in, in pieces as a recording
// delivers them; ffprobe and ffmpeg judge the MP4 file that comes out against decoding
// the source stream itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "UVyrSampleGen.h"
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

// Pushes the video units in pieces and, between the pieces, the audio blocks of 20 ms
// (160 samples) that have come due, as a recording interleaves them.
void PushVideoAndAudio(TMP4Maker& AMaker, const std::vector<std::string>& AUnits, uint8_t AAudioType,
                       uint32_t AAudioSamples) {
  std::mt19937 rng(23);
  const uint32_t blocks = AAudioSamples / 160;
  uint32_t pushed = 0;
  for (size_t i = 0; i < AUnits.size() || pushed < blocks;) {
    size_t n = std::min(AUnits.size() - i, size_t{1} + rng() % 6);
    if (n > 0) {
      std::string piece = JoinAnnexB(std::vector<std::string>(AUnits.begin() + static_cast<long>(i),
                                                              AUnits.begin() + static_cast<long>(i + n)));
      AMaker.PushVideoX264Frame(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<int32_t>(piece.size()), 0);
      i += n;
    }
    uint32_t due = AUnits.empty() ? blocks : static_cast<uint32_t>(uint64_t{blocks} * i / AUnits.size());
    for (; pushed < due; ++pushed) {
      std::vector<uint8_t> block = ToneAudioBlock(AAudioType, uint64_t{pushed} * 160, 160);
      AMaker.PushAudioFrame(block.data(), static_cast<int32_t>(block.size()), AAudioType);
    }
  }
}

std::vector<int16_t> TonePcm(uint32_t ASamples) {
  std::vector<uint8_t> bytes = ToneAudioBlock(AUDIO_TYPE_PCM, 0, ASamples);
  std::vector<int16_t> samples(ASamples);
  for (uint32_t i = 0; i < ASamples; ++i) samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
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
  TFrameHashes decoded = VideoFrameHashes(AMp4);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  EXPECT_EQ(decoded.Hashes.size(), static_cast<size_t>(AExpected.Frames));
  TFrameHashes reference = VideoFrameHashes(AReference);
  ASSERT_EQ(reference.Hashes.size(), static_cast<size_t>(AExpected.Frames));
  EXPECT_EQ(decoded.Hashes, reference.Hashes);

  auto stream = ProbeStream(AMp4, "v:0", "codec_name,width,height,duration,nb_read_frames", true);
  EXPECT_EQ(stream["codec_name"], "h264");
  EXPECT_EQ(stream["width"] + "x" + stream["height"], AExpected.Size);
  EXPECT_EQ(stream["nb_read_frames"], std::to_string(AExpected.Frames));
  EXPECT_EQ(stream["duration"], Seconds(int64_t{AExpected.Frames} * (90000 / AExpected.FrameRate)));

  std::vector<std::string> flags = ProbePackets(AMp4, "v:0", "flags");
  ASSERT_EQ(flags.size(), static_cast<size_t>(AExpected.Frames));
  for (size_t i = 0; i < flags.size(); ++i) EXPECT_EQ(flags[i][0] == 'K', i % AExpected.Gop == 0) << "packet " << i;
}

}  // namespace

class Mp4MakerStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Dir = new TTempDir(); }
  static void TearDownTestSuite() {
    delete Dir;
    Dir = nullptr;
  }

  // The test streams, each encoded on first use into "<name>.h264": 30 pictures of
  // 176 × 144 at 25 per second, an IDR picture every 10.
  static const std::string& Stream(const std::string& AName) {
    static std::map<std::string, std::string> streams;
    auto it = streams.find(AName);
    if (it != streams.end()) return it->second;
    const std::map<std::string, std::string> params = {
        {"plain", ""}, {"sei", "nal-hrd=vbr:vbv-maxrate=400:vbv-bufsize=800"}, {"slices", "slices=4"}, {"aud", "aud=1"}};
    TH264TestStream spec;
    spec.X264Params = params.at(AName);
    std::string& stream = streams[AName];
    stream = EncodeTestH264(Dir->Path(), AName + ".h264", spec);
    EXPECT_FALSE(stream.empty()) << "encoding " << AName;
    return stream;
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
};

TTempDir* Mp4MakerStreams::Dir = nullptr;

TEST_F(Mp4MakerStreams, PlainStream) {
  TMP4Maker maker;
  std::string mp4 = WriteMp4("plain.mp4", SplitAnnexB(Stream("plain")), 25, &maker);
  EXPECT_EQ(maker.GetVideoSampleCount(), 30);
  EXPECT_EQ(LastPushCount, static_cast<int32_t>(SplitAnnexB(Stream("plain")).size()));
  JudgeVideo(mp4, Dir->File("plain.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, SeiInEveryPicture) {
  std::vector<std::string> units = SplitAnnexB(Stream("sei"));
  ASSERT_GE(CountType(units, 6), 30u);
  JudgeVideo(WriteMp4("sei.mp4", units), Dir->File("sei.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, FourSlicesPerPicture) {
  std::vector<std::string> units = SplitAnnexB(Stream("slices"));
  ASSERT_EQ(CountType(units, 1) + CountType(units, 5), 4u * 30);
  JudgeVideo(WriteMp4("slices.mp4", units), Dir->File("slices.h264"), TExpectedVideo());
}

TEST_F(Mp4MakerStreams, DelimiterBeforeEveryPicture) {
  std::vector<std::string> units = SplitAnnexB(Stream("aud"));
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
    std::string mp4 = WriteMp4("rate" + std::to_string(c.Given) + ".mp4", SplitAnnexB(Stream("plain")), c.Given);
    auto stream = ProbeStream(mp4, "v:0", "duration");
    EXPECT_EQ(stream["duration"], Seconds(30 * (90000 / c.Used))) << c.Given;
  }
}

TEST_F(Mp4MakerStreams, RecordingThatStartsInTheMiddleOfAGroupOfPictures) {
  // The recording begins at picture 4: pictures 4 to 9 have no SPS before them.
  std::vector<std::string> units = SplitAnnexB(Stream("plain"));
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
  TFrameHashes decoded = VideoFrameHashes(mp4);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  TFrameHashes reference = VideoFrameHashes(Dir->File("changes.h264"));
  ASSERT_EQ(reference.Hashes.size(), 50u);
  EXPECT_EQ(decoded.Hashes, reference.Hashes);
  std::vector<std::string> expectedSizes(20, "176x144");
  expectedSizes.insert(expectedSizes.end(), 20, "320x240");
  expectedSizes.insert(expectedSizes.end(), 10, "176x144");
  EXPECT_EQ(ProbeFrameSizes(mp4), expectedSizes);
}

TEST_F(Mp4MakerStreams, AudioOfEveryTypeLinesUpWithTheVideo) {
  // 1.2 s of a 440 Hz tone beside 30 pictures at 25 per second. The edit list skips the
  // encoder's priming samples: decoded as a player does, the tone starts at sample 0
  // (one frame off, it would not resemble the input at all) and lasts exactly 1.2 s.
  const uint32_t samples = 9600;
  const std::vector<int16_t> tone = TonePcm(samples);
  for (uint8_t type : {AUDIO_TYPE_G711A, AUDIO_TYPE_G711U, AUDIO_TYPE_PCM}) {
    SCOPED_TRACE("audio type " + std::to_string(type));
    std::string mp4 = Dir->File("av" + std::to_string(type) + ".mp4");
    TMP4Maker maker;
    maker.StartWrite(176, 144, 25, mp4);
    PushVideoAndAudio(maker, SplitAnnexB(Stream("plain")), type, samples);
    maker.StopWrite();
    EXPECT_FALSE(maker.HasWriteError());
    if (type == AUDIO_TYPE_G711A) JudgeVideo(mp4, Dir->File("plain.h264"), TExpectedVideo());

    auto audio = ProbeStream(mp4, "a:0", "codec_name,sample_rate,channels,duration,start_time,nb_frames");
    EXPECT_EQ(audio["codec_name"], "aac");
    EXPECT_EQ(audio["sample_rate"], "8000");
    EXPECT_EQ(audio["channels"], "1");
    EXPECT_EQ(audio["duration"], "1.200000");
    EXPECT_EQ(audio["start_time"], "0.000000");
    // Every frame, the encoder's last ones included: priming + input, in frames of 1024.
    EXPECT_EQ(maker.GetAudioSampleCount(), (1024 + samples + 1023) / 1024);
    EXPECT_EQ(audio["nb_frames"], std::to_string(maker.GetAudioSampleCount()));

    TDecodedSamples decoded = DecodeAudioSamples(mp4);
    EXPECT_TRUE(decoded.Ok) << decoded.Errors;
    ASSERT_GE(decoded.Samples.size(), samples);
    EXPECT_GT(SignalToNoiseDb(tone, decoded.Samples, 0, 0, samples), 25.0);
    EXPECT_LT(SignalToNoiseDb(tone, decoded.Samples, 1024, 0, samples - 1024), 0.0);
  }
}

TEST_F(Mp4MakerStreams, OneBlockOfSeveralFramesGivesSeveralSamples) {
  std::string mp4 = Dir->File("block.mp4");
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, mp4);
  std::vector<uint8_t> block = ToneAudioBlock(AUDIO_TYPE_PCM, 0, 4 * 1024);  // four frames of PCM
  maker.PushAudioFrame(block.data(), static_cast<int32_t>(block.size()), AUDIO_TYPE_PCM);
  EXPECT_GE(maker.GetAudioSampleCount(), 2);
  maker.StopWrite();
  EXPECT_EQ(maker.GetAudioSampleCount(), 5);
  EXPECT_EQ(maker.GetVideoSampleCount(), 0);
  EXPECT_EQ(ProbeWarnings(mp4), "");
  auto audio = ProbeStream(mp4, "a:0", "duration,nb_frames");
  EXPECT_EQ(audio["nb_frames"], "5");
  EXPECT_EQ(audio["duration"], "0.512000");
  EXPECT_TRUE(DecodeAudioSamples(mp4).Ok);
}

TEST_F(Mp4MakerStreams, AudioTypeZeroIsNoAudio) {
  std::string mp4 = Dir->File("noaudio.mp4");
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, mp4);
  PushVideoAndAudio(maker, SplitAnnexB(Stream("plain")), 0, 9600);
  maker.StopWrite();
  EXPECT_EQ(maker.GetAudioSampleCount(), 0);
  EXPECT_TRUE(ProbeStream(mp4, "a", "codec_name").empty());
  EXPECT_EQ(ProbeStream(mp4, "v:0", "nb_read_frames", true)["nb_read_frames"], "30");
}

TEST_F(Mp4MakerStreams, VideoStartsLateWhenTheRecordingStartsMidGroup) {
  // Pictures 4 to 9 come before the first SPS and are dropped; the audio of their time is
  // kept, so the video starts 6 frames (0.24 s) into the file and stays in step.
  std::vector<std::string> units = SplitAnnexB(Stream("plain"));
  size_t slices = 0, start = 0;
  for (size_t i = 0; i < units.size() && start == 0; ++i) {
    int type = NalType(units[i]);
    if ((type == 1 || type == 5) && slices++ == 4) start = i;
  }
  std::vector<std::string> cut(units.begin() + static_cast<long>(start), units.end());
  std::string mp4 = Dir->File("late.mp4");
  TMP4Maker maker;
  maker.StartWrite(176, 144, 25, mp4);
  PushVideoAndAudio(maker, cut, AUDIO_TYPE_G711A, 8000);  // 26 pictures' time: 1.04 s, in whole blocks
  maker.StopWrite();
  EXPECT_EQ(maker.GetDroppedPictureCount(), 6);
  EXPECT_EQ(maker.GetVideoSampleCount(), 20);
  EXPECT_EQ(ProbeWarnings(mp4), "");
  auto video = ProbeStream(mp4, "v:0", "start_time,duration,nb_read_frames", true);
  EXPECT_EQ(video["start_time"], "0.240000");
  EXPECT_EQ(video["nb_read_frames"], "20");
  auto audio = ProbeStream(mp4, "a:0", "start_time,duration");
  EXPECT_EQ(audio["start_time"], "0.000000");
  EXPECT_EQ(audio["duration"], "1.000000");
  TFrameHashes decoded = VideoFrameHashes(mp4);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  EXPECT_EQ(decoded.Hashes.size(), 20u);
}
