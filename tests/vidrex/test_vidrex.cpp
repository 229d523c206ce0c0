// The decoding library through its five exports: one picture per frame for each codec,
// the YV12 layout, the caller's capacity, damaged and hostile frames, handle misuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UPictureMath.h"
#include "Vidrex.h"

namespace {

const int W = 320, H = 240, N = 8;
const int32_t YV12_SIZE = W * H * 3 / 2;

// One handle for a test, destroyed at the end.
class TDecoder {
 public:
  TDecoder() : FHandle(OMVEX_PLAY_SDK_Init()) {}
  ~TDecoder() { OMVEX_PLAY_SDK_Destory(FHandle); }
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;
  int32_t Get() const { return FHandle; }
  int32_t Start(uint8_t ACodec) { return OMVEX_PLAY_SDK_StartVideo(FHandle, 0, 0, 0, ACodec); }
  int32_t Decode(const std::vector<uint8_t>& AFrame, std::vector<uint8_t>& AOut,
                 int32_t ACapacity = 1 << 22) {
    AOut.assign(static_cast<size_t>(ACapacity), 0xAB);
    Width = Height = -1;
    return OMVEX_PLAY_SDK_DecodeOneFrame(FHandle, AFrame.data(),
                                         static_cast<int32_t>(AFrame.size()), 0, AOut.data(),
                                         ACapacity, &Width, &Height);
  }
  int32_t Width = -1, Height = -1;

 private:
  int32_t FHandle;
};

struct TCodecCase {
  const char* Name;
  uint8_t Codec;
  const char* Format;  // ffmpeg's name of the elementary stream
};
const TCodecCase CODECS[] = {{"MPEG-4", VIDREX_CODEC_MPEG4, "m4v"},
                             {"H.264", VIDREX_CODEC_H264, "h264"},
                             {"Motion JPEG", VIDREX_CODEC_MJPEG, "mjpeg"},
                             {"H.265", VIDREX_CODEC_H265, "hevc"}};

// Frames of each codec, made when a test first asks for them (ctest runs every test in a
// process of its own).
class VidrexTest : public testing::Test {
 protected:
  static void TearDownTestSuite() { FFrames.clear(); }
  static const TFrameList& Frames(uint8_t ACodec) {
    auto it = FFrames.find(ACodec);
    if (it == FFrames.end()) {
      std::string lError;
      it = FFrames.emplace(ACodec, TFrameList()).first;
      if (!MakeCodecFrames(RecorderFramesSpec(ACodec, W, H, N), it->second, &lError)) {
        ADD_FAILURE() << "codec " << int(ACodec) << ": " << lError;
        it->second.resize(N);  // empty frames: the tests fail instead of crashing
      }
    }
    return it->second;
  }
  static std::map<uint8_t, TFrameList> FFrames;
};
std::map<uint8_t, TFrameList> VidrexTest::FFrames;

}  // namespace

TEST_F(VidrexTest, EachFrameGivesItsPictureAtOnce) {
  for (const TCodecCase& c : CODECS) {
    SCOPED_TRACE(c.Name);
    const TFrameList& lFrames = Frames(c.Codec);
    ASSERT_EQ(lFrames.size(), static_cast<size_t>(N));
    TDecodedVideo lReference;
    std::string lError;
    ASSERT_TRUE(DecodeStream(JoinFrames(lFrames), c.Format, lReference, &lError)) << lError;
    ASSERT_EQ(lReference.Pictures.size(), static_cast<size_t>(N));

    TDecoder d;
    ASSERT_GT(d.Get(), 0);
    ASSERT_EQ(d.Start(c.Codec), 0);
    std::vector<uint8_t> lOut;
    for (int i = 0; i < N; ++i) {
      ASSERT_EQ(d.Decode(lFrames[i], lOut), YV12_SIZE) << "frame " << i;
      EXPECT_EQ(d.Width, W);
      EXPECT_EQ(d.Height, H);
      // Nothing is written past the picture.
      EXPECT_EQ(lOut[YV12_SIZE], 0xAB);
      lOut.resize(YV12_SIZE);
      // The same picture as ffmpeg decodes, in YV12 order.
      EXPECT_GT(PicturePsnr(SwapChromaPlanes(lOut, W, H), lReference.Pictures[i]), 40.0)
          << "frame " << i;
    }
  }
}

TEST_F(VidrexTest, PicturesAreInYv12Order) {
  // Red on the left, blue on the right: Cr (the first chroma plane) is high on the left.
  for (const TCodecCase& c : CODECS) {
    SCOPED_TRACE(c.Name);
    TCodecFramesSpec lSpec = RecorderFramesSpec(c.Codec, 128, 64, 1);
    lSpec.Source = "color=c=red:size=128x64,drawbox=x=64:y=0:w=64:h=64:color=blue:t=fill";
    TFrameList lFrames;
    std::string lError;
    ASSERT_TRUE(MakeCodecFrames(lSpec, lFrames, &lError)) << lError;
    TDecoder d;
    ASSERT_EQ(d.Start(c.Codec), 0);
    std::vector<uint8_t> lOut;
    ASSERT_EQ(d.Decode(lFrames[0], lOut), 128 * 64 * 3 / 2);
    const uint8_t* lY = lOut.data();
    const uint8_t* lCr = lY + 128 * 64;
    const uint8_t* lCb = lCr + 128 * 64 / 4;
    EXPECT_NEAR(PlaneMean(lY, 128, 4, 4, 52, 56), YCbCrRed.Y, 4);
    EXPECT_NEAR(PlaneMean(lY, 128, 72, 4, 52, 56), YCbCrBlue.Y, 4);
    EXPECT_NEAR(PlaneMean(lCr, 64, 2, 2, 26, 28), YCbCrRed.Cr, 4);
    EXPECT_NEAR(PlaneMean(lCb, 64, 2, 2, 26, 28), YCbCrRed.Cb, 4);
    EXPECT_NEAR(PlaneMean(lCr, 64, 36, 2, 26, 28), YCbCrBlue.Cr, 4);
    EXPECT_NEAR(PlaneMean(lCb, 64, 36, 2, 26, 28), YCbCrBlue.Cb, 4);
  }
}

TEST_F(VidrexTest, FullRangePicturesAreMappedToLimitedRange) {
  // Motion JPEG is full range; the pictures handed on are limited range:
  // 16 + round(v * 219 / 255) for luma, 16 + round(v * 224 / 255) for chroma. Rows of 200
  // and 100 samples take both the 16-sample steps and the single samples at the end.
  const int w = 200, h = 120;
  TCodecFramesSpec lSpec = RecorderFramesSpec(VIDREX_CODEC_MJPEG, w, h, 1);
  lSpec.Source = "testsrc2=size=200x120,drawbox=x=0:y=0:w=48:h=48:color=white:t=fill";
  TFrameList lFrames;
  std::string lError;
  ASSERT_TRUE(MakeCodecFrames(lSpec, lFrames, &lError)) << lError;
  TDecodedVideo lFull;
  ASSERT_TRUE(DecodeStream(lFrames[0], "mjpeg", lFull, &lError, "yuvj420p")) << lError;
  ASSERT_EQ(lFull.Pictures.size(), 1u);
  std::vector<uint8_t> lExpected = lFull.Pictures[0];
  for (size_t i = 0; i < lExpected.size(); ++i) {
    const int lScale = i < static_cast<size_t>(w * h) ? 219 : 224;
    lExpected[i] = static_cast<uint8_t>(16 + (lExpected[i] * lScale + 127) / 255);
  }
  TDecoder d;
  ASSERT_EQ(d.Start(VIDREX_CODEC_MJPEG), 0);
  std::vector<uint8_t> lOut;
  ASSERT_EQ(d.Decode(lFrames[0], lOut), w * h * 3 / 2);
  lOut.resize(w * h * 3 / 2);
  const std::vector<uint8_t> lI420 = SwapChromaPlanes(lOut, w, h);
  size_t lDiffering = 0;
  for (size_t i = 0; i < lI420.size(); ++i) lDiffering += lI420[i] != lExpected[i];
  EXPECT_EQ(lDiffering, 0u);
  // The source does reach beyond the limited range, so the mapping had work to do.
  const std::vector<uint8_t>& lSource = lFull.Pictures[0];
  EXPECT_LT(*std::min_element(lSource.begin(), lSource.begin() + w * h), 16);
  EXPECT_GT(*std::max_element(lSource.begin(), lSource.begin() + w * h), 235);
}

TEST_F(VidrexTest, PictureLargerThanTheCapacityIsNoPicture) {
  for (const TCodecCase& c : CODECS) {
    SCOPED_TRACE(c.Name);
    TDecoder d;
    ASSERT_EQ(d.Start(c.Codec), 0);
    std::vector<uint8_t> lOut;
    // Exactly large enough.
    ASSERT_EQ(d.Decode(Frames(c.Codec)[0], lOut, YV12_SIZE), YV12_SIZE);
    // One byte short: no picture, and the buffer is left alone.
    EXPECT_EQ(d.Decode(Frames(c.Codec)[1], lOut, YV12_SIZE - 1), 0);
    EXPECT_TRUE(std::all_of(lOut.begin(), lOut.end(), [](uint8_t b) { return b == 0xAB; }));
  }
}

TEST_F(VidrexTest, OddSizesLoseTheirLastRowAndColumn) {
  TCodecFramesSpec lSpec = RecorderFramesSpec(VIDREX_CODEC_MJPEG, 161, 121, 1);
  TFrameList lFrames;
  std::string lError;
  ASSERT_TRUE(MakeCodecFrames(lSpec, lFrames, &lError)) << lError;
  TDecoder d;
  ASSERT_EQ(d.Start(VIDREX_CODEC_MJPEG), 0);
  std::vector<uint8_t> lOut;
  EXPECT_EQ(d.Decode(lFrames[0], lOut), 160 * 120 * 3 / 2);
  EXPECT_EQ(d.Width, 160);
  EXPECT_EQ(d.Height, 120);
}

TEST_F(VidrexTest, DamagedFramesAreNoPicture) {
  std::mt19937 lRandom(1234);
  for (const TCodecCase& c : CODECS) {
    SCOPED_TRACE(c.Name);
    TDecoder d;
    ASSERT_EQ(d.Start(c.Codec), 0);
    std::vector<uint8_t> lOut;
    // Bytes that are no frame at all.
    std::vector<uint8_t> lNoise(3000);
    for (auto& b : lNoise) b = static_cast<uint8_t>(lRandom());
    EXPECT_LE(d.Decode(lNoise, lOut), 0);
    EXPECT_LE(d.Decode(std::vector<uint8_t>(1, 0), lOut), 0);
    // Real frames cut short or with bytes changed: a picture of the right size or none,
    // never a crash.
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> lFrame = Frames(c.Codec)[static_cast<size_t>(round) % N];
      if (round % 4 == 0) {
        lFrame.resize(lFrame.size() / 3);
      } else {
        for (int k = 0; k < 12; ++k) lFrame[lRandom() % lFrame.size()] = static_cast<uint8_t>(lRandom());
      }
      const int32_t n = d.Decode(lFrame, lOut);
      EXPECT_TRUE(n <= 0 || (n == d.Width * d.Height * 3 / 2 && d.Width > 0)) << n;
    }
    // The decoder still decodes a stream from its start afterwards.
    ASSERT_EQ(d.Start(c.Codec), 0);
    EXPECT_EQ(d.Decode(Frames(c.Codec)[0], lOut), YV12_SIZE);
  }
}

// A JPEG frame whose header claims a picture of AWidth x AHeight.
std::vector<uint8_t> WithClaimedSize(std::vector<uint8_t> AFrame, int AWidth, int AHeight) {
  for (size_t i = 0; i + 8 < AFrame.size(); ++i) {
    if (AFrame[i] == 0xFF && AFrame[i + 1] == 0xC0) {  // start of frame, baseline
      AFrame[i + 5] = static_cast<uint8_t>(AHeight >> 8);
      AFrame[i + 6] = static_cast<uint8_t>(AHeight);
      AFrame[i + 7] = static_cast<uint8_t>(AWidth >> 8);
      AFrame[i + 8] = static_cast<uint8_t>(AWidth);
      return AFrame;
    }
  }
  return {};
}

TEST_F(VidrexTest, HugeClaimedSizeIsNoPicture) {
  TDecoder d;
  ASSERT_EQ(d.Start(VIDREX_CODEC_MJPEG), 0);
  std::vector<uint8_t> lOut;
  for (int lSide : {4000, 60000}) {
    const std::vector<uint8_t> lFrame = WithClaimedSize(Frames(VIDREX_CODEC_MJPEG)[0], lSide, lSide);
    ASSERT_FALSE(lFrame.empty());
    EXPECT_EQ(d.Decode(lFrame, lOut), 0) << lSide;
  }
  // A real frame with a capacity far below its picture.
  EXPECT_EQ(d.Decode(Frames(VIDREX_CODEC_MJPEG)[0], lOut, 1000), 0);
  // And the decoder goes on with the next good frame.
  EXPECT_EQ(d.Decode(Frames(VIDREX_CODEC_MJPEG)[1], lOut), YV12_SIZE);
}

TEST_F(VidrexTest, HandleMisuseIsHarmless) {
  std::vector<uint8_t> lOut(YV12_SIZE);
  int32_t w = 0, h = 0;
  const std::vector<uint8_t>& lFrame = Frames(VIDREX_CODEC_MJPEG)[0];
  const int32_t lSize = static_cast<int32_t>(lFrame.size());
  // Unknown handles.
  for (int32_t lHandle : {0, -1, 987654}) {
    EXPECT_EQ(OMVEX_PLAY_SDK_StopVideo(lHandle), VIDREX_ERR_HANDLE);
    EXPECT_EQ(OMVEX_PLAY_SDK_StartVideo(lHandle, 0, 0, 0, VIDREX_CODEC_MJPEG), VIDREX_ERR_HANDLE);
    EXPECT_EQ(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(),
                                            YV12_SIZE, &w, &h),
              VIDREX_ERR_HANDLE);
    EXPECT_EQ(OMVEX_PLAY_SDK_Destory(lHandle), VIDREX_ERR_HANDLE);
  }
  const int32_t lHandle = OMVEX_PLAY_SDK_Init();
  ASSERT_GT(lHandle, 0);
  // Stopping a decoder never started, twice.
  EXPECT_EQ(OMVEX_PLAY_SDK_StopVideo(lHandle), 0);
  EXPECT_EQ(OMVEX_PLAY_SDK_StopVideo(lHandle), 0);
  // Decoding before a start, and after a refused one.
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(),
                                          YV12_SIZE, &w, &h), 0);
  EXPECT_EQ(OMVEX_PLAY_SDK_StartVideo(lHandle, 0, 0, 0, 9), VIDREX_ERR_CODEC);
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(),
                                          YV12_SIZE, &w, &h), 0);
  // Missing or impossible arguments.
  ASSERT_EQ(OMVEX_PLAY_SDK_StartVideo(lHandle, 0, 0, 0, VIDREX_CODEC_MJPEG), 0);
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, nullptr, lSize, 0, lOut.data(), YV12_SIZE, &w, &h), 0);
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), -1, 0, lOut.data(), YV12_SIZE, &w, &h), 0);
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, nullptr, YV12_SIZE, &w, &h), 0);
  EXPECT_LT(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(), YV12_SIZE, nullptr, &h), 0);
  EXPECT_EQ(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(), YV12_SIZE, &w, &h),
            YV12_SIZE);
  // Destroyed while started; the handle is dead afterwards.
  EXPECT_EQ(OMVEX_PLAY_SDK_Destory(lHandle), 0);
  EXPECT_EQ(OMVEX_PLAY_SDK_Destory(lHandle), VIDREX_ERR_HANDLE);
  EXPECT_EQ(OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, lFrame.data(), lSize, 0, lOut.data(),
                                          YV12_SIZE, &w, &h),
            VIDREX_ERR_HANDLE);
}

TEST_F(VidrexTest, HandlesDecodeIndependently) {
  // Two handles fed frames of different codecs in turn each keep their own stream state.
  TDecoder a, b;
  ASSERT_NE(a.Get(), b.Get());
  ASSERT_EQ(a.Start(VIDREX_CODEC_MPEG4), 0);
  ASSERT_EQ(b.Start(VIDREX_CODEC_H265), 0);
  std::vector<uint8_t> lOut;
  for (int i = 0; i < N; ++i) {
    EXPECT_EQ(a.Decode(Frames(VIDREX_CODEC_MPEG4)[i], lOut), YV12_SIZE) << i;
    EXPECT_EQ(b.Decode(Frames(VIDREX_CODEC_H265)[i], lOut), YV12_SIZE) << i;
  }
}

TEST_F(VidrexTest, StartingAgainSwitchesCodec) {
  TDecoder d;
  std::vector<uint8_t> lOut;
  ASSERT_EQ(d.Start(VIDREX_CODEC_MJPEG), 0);
  EXPECT_EQ(d.Decode(Frames(VIDREX_CODEC_MJPEG)[0], lOut), YV12_SIZE);
  // Started for H.265 without a stop in between.
  ASSERT_EQ(d.Start(VIDREX_CODEC_H265), 0);
  EXPECT_EQ(d.Decode(Frames(VIDREX_CODEC_H265)[0], lOut), YV12_SIZE);
  EXPECT_EQ(d.Decode(Frames(VIDREX_CODEC_H265)[1], lOut), YV12_SIZE);
}

TEST_F(VidrexTest, PrintsNothingOnStandardError) {
  testing::internal::CaptureStderr();
  {
    TDecoder d;
    std::vector<uint8_t> lOut;
    for (const TCodecCase& c : CODECS) {
      d.Start(c.Codec);
      std::vector<uint8_t> lFrame = Frames(c.Codec)[1];
      for (size_t k = 8; k < lFrame.size(); k += 7) lFrame[k] ^= 0x5A;
      d.Decode(lFrame, lOut);
      d.Decode(std::vector<uint8_t>(500, 0x47), lOut);
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Vidrex, ExportsOnlyTheFiveFunctions) {
  std::vector<std::string> lNames;
  std::string lError;
  ASSERT_TRUE(DefinedDynamicSymbols(std::string(VYR_BIN_DIR) + "/libVidrex.so", lNames, lError)) << lError;
  const std::vector<std::string> lExpected = {
      "OMVEX_PLAY_SDK_DecodeOneFrame", "OMVEX_PLAY_SDK_Destory", "OMVEX_PLAY_SDK_Init",
      "OMVEX_PLAY_SDK_StartVideo", "OMVEX_PLAY_SDK_StopVideo"};
  EXPECT_EQ(lNames, lExpected);
}
