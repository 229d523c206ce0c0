#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "TestSupport.h"
#include "conversion/UAudioToAAC.h"

namespace {

constexpr int32_t FrameBytes = 2048;  // 1024 samples of 16-bit PCM
constexpr int32_t FrameSamples = 1024;

// A G.711 block of AVal bytes.
std::vector<uint8_t> G711Block(size_t ASize, uint8_t AVal = 0x55) { return std::vector<uint8_t>(ASize, AVal); }

std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& ASamples) {
  std::vector<uint8_t> b(ASamples.size() * 2);
  for (size_t i = 0; i < ASamples.size(); ++i) {
    auto v = static_cast<uint16_t>(ASamples[i]);
    b[2 * i] = static_cast<uint8_t>(v);
    b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return b;
}

class AacMaker : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FMaker.StartAACEncode()); }
  bool Encode(const std::vector<uint8_t>& ABlock, uint8_t AType = AUDIO_TYPE_G711A) {
    return FMaker.EncodeAudio(ABlock.data(), static_cast<int32_t>(ABlock.size()), AType, FFrames);
  }
  TAACMaker FMaker;
  TAACFrameList FFrames;
};

}  // namespace

TEST(AacMakerOpen, LogsTheEncoderSetUp) {
  TLogCapture log;
  TAACMaker maker;
  ASSERT_TRUE(maker.StartAACEncode());
  std::vector<std::string> expected = {
      "FAAC Enc Open: InputSamples[1024], PCMFrameSize[2048], MaxOutputBytes[8192]",
      "Cur Config: Version[1], quantqual[0], mpegVersion[0], inputFormat[1], outputFormat[0]",
      "Set new config result<1>: quantqual[0], mpegVersion[0], inputFormat[1], outputFormat[0]",
  };
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_TRUE(maker.IsOpen());
  EXPECT_EQ(maker.GetEncoderDelay(), 1024);
}

TEST(AacMakerOpen, CloseAnyNumberOfTimesLogsOnce) {
  TLogCapture log;
  {
    TAACMaker never;
    never.CloseAACEncode();
  }
  EXPECT_TRUE(log.Lines().empty());
  TAACMaker maker;
  ASSERT_TRUE(maker.StartAACEncode());
  log.Clear();
  maker.CloseAACEncode();
  maker.CloseAACEncode();
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"FAAC Encode Close."});
  EXPECT_FALSE(maker.IsOpen());
}

TEST(AacMakerOpen, DestroyClosesAnOpenEncoder) {
  TLogCapture log;
  {
    TAACMaker maker;
    ASSERT_TRUE(maker.StartAACEncode());
    log.Clear();
  }
  EXPECT_EQ(log.Count("FAAC Encode Close."), 1u);
}

TEST(AacMakerOpen, StartingAgainClosesAndResets) {
  TAACMaker maker;
  TAACFrameList frames;
  ASSERT_TRUE(maker.StartAACEncode());
  std::vector<uint8_t> block = G711Block(3000);
  maker.EncodeAudio(block.data(), 3000, AUDIO_TYPE_G711A, frames);
  ASSERT_TRUE(maker.FlushAudio(frames));
  TLogCapture log;
  ASSERT_TRUE(maker.StartAACEncode());
  EXPECT_EQ(log.Count("FAAC Encode Close."), 1u);
  EXPECT_EQ(maker.GetInputSampleCount(), 0);
  EXPECT_EQ(maker.GetPcmWaiting(), 0);
  EXPECT_EQ(maker.GetEncodedFrameCount(), 0);
  // The fresh encoder takes input again.
  maker.EncodeAudio(block.data(), 3000, AUDIO_TYPE_G711A, frames);
  EXPECT_EQ(maker.GetInputSampleCount(), 3000);
}

TEST(AacMakerOpen, ClosedEncoderRefusesEverything) {
  TAACMaker maker;
  TAACFrameList frames;
  std::vector<uint8_t> block = G711Block(2048);
  EXPECT_FALSE(maker.EncodeAudio(block.data(), 2048, AUDIO_TYPE_G711A, frames));
  EXPECT_FALSE(maker.FlushAudio(frames));
  std::vector<uint8_t> info = {9};
  EXPECT_FALSE(maker.GetDecoderSpecificInfo(info));
  EXPECT_EQ(info, std::vector<uint8_t>{9});
  ASSERT_TRUE(maker.StartAACEncode());
  maker.CloseAACEncode();
  EXPECT_FALSE(maker.EncodeAudio(block.data(), 2048, AUDIO_TYPE_G711A, frames));
  EXPECT_EQ(frames.Count(), 0u);
}

TEST_F(AacMaker, SpecificInfoIsLowComplexity8000HzMono) {
  TLogCapture log;
  std::vector<uint8_t> info;
  ASSERT_TRUE(FMaker.GetDecoderSpecificInfo(info));
  EXPECT_EQ(info, (std::vector<uint8_t>{0x15, 0x88}));
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"AAC Specific Info: [0]: 21, [1]: 136, "});
}

TEST_F(AacMaker, SevenSmallBlocksCompleteOneFrame) {
  const std::vector<uint8_t> block = G711Block(160);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_FALSE(Encode(block)) << "block " << i;
    EXPECT_EQ(FFrames.Count(), 0u);
    EXPECT_EQ(FMaker.GetPcmWaiting(), 320 * i);
  }
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 0);
  // The seventh takes 128 bytes to complete the frame and leaves 192 waiting. The encoder
  // looks one frame ahead: the frame is consumed, but nothing comes out yet.
  EXPECT_FALSE(Encode(block));
  EXPECT_EQ(FFrames.Count(), 0u);
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 1);
  EXPECT_EQ(FMaker.GetPcmWaiting(), 192);
  // The next completed frame (192 + 6 x 320 bytes) brings out the first AAC frame.
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(Encode(block));
  EXPECT_TRUE(Encode(block));
  EXPECT_EQ(FFrames.Count(), 1u);
  EXPECT_EQ(FMaker.GetPcmWaiting(), 192 + 6 * 320 - FrameBytes);
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 2);
  EXPECT_EQ(FMaker.GetInputSampleCount(), 13 * 160);
}

TEST_F(AacMaker, FirstFrameCameOutWhenTheSecondCompletes) {
  ASSERT_FALSE(Encode(G711Block(1024)));
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 1);
  ASSERT_TRUE(Encode(G711Block(1024)));
  ASSERT_EQ(FFrames.Count(), 1u);
  EXPECT_GT(FFrames.Sizes[0], 0);
  EXPECT_EQ(FFrames.Bytes.size(), static_cast<size_t>(FFrames.Sizes[0]));
}

// Blocks whose PCM fills the frame buffer exactly, or spans more than one frame, are
// encoded whole in the same call: nothing waits as a full frame, nothing is refused.
TEST_F(AacMaker, BlocksOfAnySizeAreEncodedWhole) {
  struct TCase {
    const char* Name;
    std::vector<size_t> G711Blocks;  // sizes, in order
    int64_t Encoded;                 // frames handed to the encoder
    int32_t Waiting;                 // PCM bytes left
  };
  const TCase cases[] = {
      {"one exact frame", {1024}, 1, 0},
      {"two exact frames", {2048}, 2, 0},
      {"remainder fills exactly", {160, 160, 160, 160, 160, 160, 1088}, 2, 0},
      {"2049 bytes", {2049}, 2, 2},
      {"ten seconds in one block", {80000}, 78, 160000 - 78 * FrameBytes},
      {"small after large", {80000, 160}, 78, 160000 - 78 * FrameBytes + 320},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TLogCapture log;
    TAACMaker maker;
    TAACFrameList frames;
    ASSERT_TRUE(maker.StartAACEncode());
    int64_t total = 0, samples = 0;
    for (size_t size : c.G711Blocks) {
      std::vector<uint8_t> block = G711Block(size);
      bool got = maker.EncodeAudio(block.data(), static_cast<int32_t>(size), AUDIO_TYPE_G711U, frames);
      EXPECT_EQ(got, frames.Count() > 0);
      total += static_cast<int64_t>(frames.Count());
      samples += static_cast<int64_t>(size);
    }
    EXPECT_EQ(maker.GetEncodedFrameCount(), c.Encoded);
    EXPECT_EQ(maker.GetPcmWaiting(), c.Waiting);
    EXPECT_EQ(maker.GetInputSampleCount(), samples);
    // One frame of look-ahead stays inside the encoder.
    EXPECT_EQ(total, c.Encoded - 1);
    EXPECT_EQ(log.CountStartingWith("Input PCM length is too large"), 0u);
  }
}

TEST_F(AacMaker, PcmBlockOfOneFrameCompletesItAlone) {
  std::vector<int16_t> samples(FrameSamples, 1000);
  EXPECT_FALSE(Encode(PcmBytes(samples), AUDIO_TYPE_PCM));
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 1);
  EXPECT_EQ(FMaker.GetPcmWaiting(), 0);
  EXPECT_EQ(FMaker.GetInputSampleCount(), FrameSamples);
}

TEST_F(AacMaker, PcmAndG711MixInOneFrame) {
  std::vector<int16_t> samples(500, -300);
  Encode(PcmBytes(samples), AUDIO_TYPE_PCM);
  Encode(G711Block(524), AUDIO_TYPE_G711A);
  EXPECT_EQ(FMaker.GetEncodedFrameCount(), 1);
  EXPECT_EQ(FMaker.GetPcmWaiting(), 0);
}

TEST_F(AacMaker, RefusedInputChangesNothing) {
  std::vector<uint8_t> block = G711Block(100);
  Encode(block);
  FFrames.Append(block.data(), 5);  // stale content
  EXPECT_FALSE(FMaker.EncodeAudio(nullptr, 100, AUDIO_TYPE_G711A, FFrames));
  EXPECT_FALSE(FMaker.EncodeAudio(block.data(), 0, AUDIO_TYPE_G711A, FFrames));
  EXPECT_FALSE(FMaker.EncodeAudio(block.data(), -5, AUDIO_TYPE_G711A, FFrames));
  EXPECT_EQ(FFrames.Count(), 0u);
  EXPECT_EQ(FMaker.GetPcmWaiting(), 200);
  EXPECT_EQ(FMaker.GetInputSampleCount(), 100);
}

// The end of the audio: the waiting PCM is padded to a frame and the encoder drained, so
// the frames cover every input sample after the encoder's priming.
TEST(AacMakerFlush, FramesCoverEveryInputSample) {
  for (int64_t samples : {int64_t{160}, int64_t{1024}, int64_t{1025}, int64_t{8000}, int64_t{20480}}) {
    SCOPED_TRACE(samples);
    TAACMaker maker;
    TAACFrameList frames;
    ASSERT_TRUE(maker.StartAACEncode());
    int64_t total = 0;
    std::vector<uint8_t> block = G711Block(160, 0x13);
    for (int64_t left = samples; left > 0; left -= 160) {
      int32_t n = static_cast<int32_t>(std::min<int64_t>(left, 160));
      maker.EncodeAudio(block.data(), n, AUDIO_TYPE_G711A, frames);
      total += static_cast<int64_t>(frames.Count());
    }
    ASSERT_TRUE(maker.FlushAudio(frames));
    total += static_cast<int64_t>(frames.Count());
    EXPECT_EQ(maker.GetInputSampleCount(), samples);
    EXPECT_EQ(maker.GetPcmWaiting(), 0);
    const int64_t delay = maker.GetEncoderDelay();
    EXPECT_EQ(total, (samples + delay + FrameSamples - 1) / FrameSamples);
    // Flushed: no more input, no second flush.
    EXPECT_FALSE(maker.EncodeAudio(block.data(), 160, AUDIO_TYPE_G711A, frames));
    EXPECT_FALSE(maker.FlushAudio(frames));
    EXPECT_EQ(frames.Count(), 0u);
    EXPECT_EQ(maker.GetInputSampleCount(), samples);
  }
}

TEST(AacMakerFlush, FlushWithoutInputGivesNothing) {
  TAACMaker maker;
  TAACFrameList frames;
  ASSERT_TRUE(maker.StartAACEncode());
  EXPECT_FALSE(maker.FlushAudio(frames));
  EXPECT_EQ(frames.Count(), 0u);
}

TEST(AacMakerLock, HolderOfTheLockMayEncode) {
  TAACMaker maker;
  TAACFrameList frames;
  ASSERT_TRUE(maker.StartAACEncode());
  std::vector<uint8_t> block = G711Block(160);
  maker.LockEncode();
  maker.EncodeAudio(block.data(), 160, AUDIO_TYPE_G711A, frames);
  maker.UnLockEncode();
  EXPECT_EQ(maker.GetInputSampleCount(), 160);
}

TEST(AacMakerLock, TwoThreadsNeverInterleaveInsideABlock) {
  TAACMaker maker;
  ASSERT_TRUE(maker.StartAACEncode());
  auto run = [&maker](uint8_t AType) {
    TAACFrameList frames;
    std::vector<uint8_t> block = G711Block(333, 0x21);
    for (int i = 0; i < 200; ++i) maker.EncodeAudio(block.data(), 333, AType, frames);
  };
  std::thread a(run, AUDIO_TYPE_G711A), b(run, AUDIO_TYPE_G711U);
  a.join();
  b.join();
  EXPECT_EQ(maker.GetInputSampleCount(), 2 * 200 * 333);
  EXPECT_EQ(maker.GetEncodedFrameCount() * FrameSamples + maker.GetPcmWaiting() / 2, 2 * 200 * 333);
}
