// Long recordings made by repeating a short stretch of video: written block by block
// without losing a byte, the stretch encoded once, and the repeated H.264 stream still
// decodable from the first picture to the last, judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrLongRecording.h"

namespace {

const std::string Vyrgen = std::string(VYR_BIN_DIR) + "/vyrgen";
const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

TRecordingSpec SmallSpec() {
  TRecordingSpec s;
  s.VideoMode = OmResolution_QCIF;
  s.FrameRate = 10;
  s.Frames = 47;
  s.KeyInterval = 10;
  s.StartMillisecond = 300;
  return s;
}

}  // namespace

TEST(LongRecording, StreamedFileHoldsTheSameBytesAsTheBuiltRecording) {
  for (uint8_t audio : {AUDIO_TYPE_G711A, AUDIO_TYPE_PCM, AUDIO_TYPE_NONE}) {
    SCOPED_TRACE(static_cast<int>(audio));
    TTempDir dir;
    TRecordingSpec spec = SmallSpec();
    spec.AudioType = audio;
    TVyrRecordBuilder built;
    ASSERT_TRUE(GenerateRecording(spec, PatternPayloadSource(spec, 300), built));
    const std::string path = dir.File("streamed.vyr");
    ASSERT_TRUE(WriteRecordingFile(spec, PatternPayloadSource(spec, 300), path));
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), built.Size());
    EXPECT_TRUE(bytes == std::string(built.Bytes().begin(), built.Bytes().end()));
  }
}

TEST(LongRecording, UnwritableFileIsReported) {
  TTempDir dir;
  TRecordingSpec spec = SmallSpec();
  EXPECT_FALSE(WriteRecordingFile(spec, PatternPayloadSource(spec, 100), dir.File("missing/a.vyr")));
  EXPECT_FALSE(WriteRecordingFile(spec, PatternPayloadSource(spec, 100), "/dev/full"));
}

TEST(LongRecording, GeneratingStopsWhenTheHookRefuses) {
  TRecordingSpec spec = SmallSpec();
  TVyrRecordBuilder b;
  int frames = 0;
  EXPECT_FALSE(GenerateRecording(spec, PatternPayloadSource(spec, 50), b,
                                 [&frames](TVyrRecordBuilder&) { return ++frames < 5; }));
  EXPECT_EQ(frames, 5);
}

TEST(LongRecording, StretchIsWholeKeyIntervals) {
  struct TCase {
    uint32_t Fps, KeyInterval, Frames, Seconds, Expected;
  } const cases[] = {
      {25, 50, 90000, 2, 50},  // exactly one key interval
      {25, 50, 90000, 3, 100}, // rounded up to two
      {25, 50, 90000, 0, 50},  // at least one
      {10, 20, 30, 10, 30},    // never more than the recording
      {25, 1, 1000, 1, 25},    // every picture a key picture
  };
  for (const TCase& c : cases) {
    TRecordingSpec spec;
    spec.FrameRate = c.Fps;
    spec.KeyInterval = c.KeyInterval;
    spec.Frames = c.Frames;
    EXPECT_EQ(RepeatedStretchFrames(spec, c.Seconds), c.Expected)
        << c.Fps << " fps, key " << c.KeyInterval << ", " << c.Seconds << " s";
  }
}

TEST(LongRecording, StretchIsAskedOnceAndRepeatedWithItsKeyFlags) {
  std::vector<uint32_t> asked;
  TVideoPayloadSource inner = [&asked](uint32_t AIndex, bool& AKey) {
    asked.push_back(AIndex);
    AKey = AIndex % 3 == 0;
    return std::vector<uint8_t>{static_cast<uint8_t>(AIndex), 0xAB};
  };
  TVideoPayloadSource repeated = RepeatingPayloadSource(inner, 6);
  for (uint32_t i = 0; i < 20; ++i) {
    bool key = false;
    std::vector<uint8_t> p = repeated(i, key);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], i % 6) << i;
    EXPECT_EQ(key, (i % 6) % 3 == 0) << i;
  }
  EXPECT_EQ(asked, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(LongRecording, GrainIsBoundedAndTheSameForTheSameFrame) {
  const int w = 64, h = 32;
  std::vector<uint8_t> clean;
  DrawTestPicture(w, h, 3, clean);
  std::vector<uint8_t> none = clean;
  AddPictureGrain(w, h, 3, 0, none);
  EXPECT_TRUE(none == clean);
  for (uint8_t amplitude : {1, 5, 64}) {
    SCOPED_TRACE(static_cast<int>(amplitude));
    std::vector<uint8_t> a = clean, b = clean, other = clean;
    AddPictureGrain(w, h, 3, amplitude, a);
    AddPictureGrain(w, h, 3, amplitude, b);
    AddPictureGrain(w, h, 4, amplitude, other);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == other);
    int changed = 0;
    for (size_t i = 0; i < clean.size(); ++i) {
      if (i >= static_cast<size_t>(w) * h) {
        EXPECT_EQ(a[i], clean[i]) << "chroma " << i;
        continue;
      }
      changed += a[i] != clean[i];
      EXPECT_GE(a[i], 16);
      EXPECT_LE(a[i], 235);
      EXPECT_LE(std::abs(a[i] - clean[i]), amplitude) << i;
    }
    EXPECT_GT(changed, w * h / 4);
  }
}

// vyrgen's option end to end: 9 s of H.264 with A-law audio made of a 2 s stretch (four
// and a half repeats), converted by vyrconvert.
TEST(LongRecording, RepeatedH264RecordingConvertsToAPlayableMp4) {
  TTempDir dir;
  const std::string src = dir.File("long.vyr");
  TProcessResult g = RunProcess({Vyrgen, "--out", src, "--video", "h264", "--audio", "alaw",
                                 "--resolution", std::to_string(OmResolution_QCIF), "--fps", "10",
                                 "--seconds", "9", "--repeat-seconds", "2"});
  ASSERT_EQ(g.ExitCode, 0) << g.Err;
  TProcessResult c = RunProcess({Vyrconvert, "-o", dir.Path(), src});
  ASSERT_EQ(c.ExitCode, 0) << c.Err;
  const std::string mp4 = dir.File("long.mp4");
  EXPECT_EQ(DecodeErrors(mp4), "");
  TMediaInfo info = ProbeMedia(mp4);
  ASSERT_TRUE(info.Ok) << info.Errors;
  ASSERT_TRUE(info.Video() && info.Audio());
  EXPECT_EQ(info.Video()->Frames, 90);
  EXPECT_NEAR(info.Video()->Duration, 9.0, 0.01);
  EXPECT_EQ(info.Audio()->CodecName, "aac");
  EXPECT_NEAR(info.Audio()->Duration, 9.0, 0.2);

  // Picture i is picture i mod 20 of the stretch, and the stretch itself moves.
  std::vector<std::string> hashes = VideoFrameHashes(mp4).Hashes;
  ASSERT_EQ(hashes.size(), 90u);
  for (size_t i = 20; i < hashes.size(); ++i) EXPECT_EQ(hashes[i], hashes[i % 20]) << i;
  EXPECT_NE(hashes[0], hashes[1]);
  EXPECT_NE(hashes[19], hashes[0]);

  // The raw stream of the whole recording, as a decoder meets it, decodes cleanly too.
  TProcessResult r = RunProcess({Vyrconvert, "-f", "raw", "-o", dir.Path(), src});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(DecodeErrors(dir.File("long.H264")), "");
  EXPECT_EQ(VideoFrameHashes(dir.File("long.H264"), "h264").Hashes, hashes);
}
