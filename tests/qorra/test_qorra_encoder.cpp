// The encoder library through its five exports: argument handling, result codes, the
// stream it writes (judged by ffmpeg), colour spaces, and its silence on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "QorraEncoder.h"
#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "UPictureMath.h"

namespace {

// One handle for a test, destroyed (after closing) at the end.
class THandle {
 public:
  THandle() : FHandle(QorraInit()) {}
  ~THandle() {
    QorraClose(FHandle);
    QorraDestroy(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  intptr_t Get() const { return FHandle; }

 private:
  intptr_t FHandle;
};

int32_t Encode(intptr_t AHandle, const std::vector<uint8_t>& APicture, std::vector<uint8_t>& AOut,
               int32_t ARoom = 1 << 20) {
  AOut.assign(static_cast<size_t>(ARoom), 0);
  const int32_t n = QorraEncode(AHandle, APicture.data(), static_cast<int32_t>(APicture.size()),
                                AOut.data(), ARoom);
  AOut.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return n;
}

bool StartsWithParameterSets(const std::vector<uint8_t>& AUnits) {
  const std::vector<uint8_t> lTypes = NalTypes(AUnits);
  return AUnits.size() >= 4 && AUnits[0] == 0 && AUnits[1] == 0 &&
         (AUnits[2] == 1 || (AUnits[2] == 0 && AUnits[3] == 1)) && lTypes.size() >= 2 &&
         lTypes[0] == NAL_SPS && lTypes[1] == NAL_PPS;
}

bool HasType(const std::vector<uint8_t>& AUnits, uint8_t AType) {
  const std::vector<uint8_t> lTypes = NalTypes(AUnits);
  return std::find(lTypes.begin(), lTypes.end(), AType) != lTypes.end();
}

}  // namespace

TEST(QorraEncoder, NullHandleDoesNothing) {
  std::vector<uint8_t> lOut(1000);
  const auto lPic = MakeMovingPicture(64, 48, 0);
  EXPECT_EQ(QorraOpen(0, 64, 48, 25, QORRA_CSP_I420), 0);
  EXPECT_EQ(QorraEncode(0, lPic.data(), static_cast<int32_t>(lPic.size()), lOut.data(), 1000), 0);
  EXPECT_EQ(QorraEncode(0, nullptr, 0, nullptr, 0), 0);
  QorraClose(0);
  QorraDestroy(0);
}

TEST(QorraEncoder, MissingOutputBufferIsRefusedBeforeAnythingElse) {
  THandle h;
  ASSERT_NE(h.Get(), 0);
  const auto lPic = MakeMovingPicture(64, 48, 0);
  std::vector<uint8_t> lOut(1000);
  // Closed handle, and drain calls: the missing buffer is reported first.
  EXPECT_EQ(QorraEncode(h.Get(), nullptr, 0, nullptr, 0), QORRA_ERR_NO_OUTPUT_BUFFER);
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  EXPECT_EQ(QorraEncode(h.Get(), nullptr, 0, nullptr, 0), -1);
  EXPECT_EQ(QorraEncode(h.Get(), nullptr, 0, lOut.data(), 0), -1);
  EXPECT_EQ(QorraEncode(h.Get(), lPic.data(), static_cast<int32_t>(lPic.size()), nullptr, 1000),
            -1);
  EXPECT_EQ(QorraEncode(h.Get(), lPic.data(), 10, lOut.data(), 0), -1);
}

TEST(QorraEncoder, DrainCallForms) {
  THandle h;
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  std::vector<uint8_t> lOut;
  const auto lPic = MakeMovingPicture(64, 48, 0);
  ASSERT_GT(Encode(h.Get(), lPic, lOut), 0);
  struct TCase {
    const char* Name;
    const uint8_t* Data;
    int32_t Len;
  };
  // Each of these is a drain call: with zero latency nothing is held back, so 0. Taken as
  // a picture, the first two would be a short input (-2) and the last one a crash.
  const TCase lCases[] = {{"data, no length", lPic.data(), 0},
                          {"no data, no length", nullptr, 0},
                          {"no data, a length", nullptr, static_cast<int32_t>(lPic.size())}};
  std::vector<uint8_t> lRoom(1 << 16);
  for (const TCase& c : lCases) {
    EXPECT_EQ(QorraEncode(h.Get(), c.Data, c.Len, lRoom.data(), static_cast<int32_t>(lRoom.size())),
              0)
        << c.Name;
  }
}

TEST(QorraEncoder, ShortInputIsRefused) {
  THandle h;
  ASSERT_EQ(QorraOpen(h.Get(), 352, 288, 25, QORRA_CSP_YV12), 0);
  const auto lPic = MakeMovingPicture(352, 288, 0);
  ASSERT_EQ(lPic.size(), 152064u);
  std::vector<uint8_t> lOut(1 << 20);
  EXPECT_EQ(QorraEncode(h.Get(), lPic.data(), 152063, lOut.data(), 1 << 20),
            QORRA_ERR_SHORT_INPUT);
  EXPECT_EQ(QorraEncode(h.Get(), lPic.data(), -5, lOut.data(), 1 << 20), QORRA_ERR_SHORT_INPUT);
  // The refused pictures never reached the encoder: the next one is still the first, a
  // key picture.
  const int32_t n = QorraEncode(h.Get(), lPic.data(), 152064, lOut.data(), 1 << 20);
  ASSERT_GT(n, 0);
  lOut.resize(static_cast<size_t>(n));
  EXPECT_TRUE(StartsWithParameterSets(lOut));
}

TEST(QorraEncoder, OutputBufferExactlyLargeEnoughAndOneByteShort) {
  const auto lPic = MakeMovingPicture(176, 144, 3);
  std::vector<uint8_t> lReference;
  {
    THandle h;
    ASSERT_EQ(QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_I420), 0);
    ASSERT_GT(Encode(h.Get(), lPic, lReference), 0);
  }
  const int32_t lSize = static_cast<int32_t>(lReference.size());
  {
    THandle h;
    ASSERT_EQ(QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_I420), 0);
    std::vector<uint8_t> lOut;
    EXPECT_EQ(Encode(h.Get(), lPic, lOut, lSize), lSize);
    EXPECT_EQ(lOut, lReference);
  }
  {
    THandle h;
    ASSERT_EQ(QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_I420), 0);
    std::vector<uint8_t> lOut;
    EXPECT_EQ(Encode(h.Get(), lPic, lOut, lSize - 1), QORRA_ERR_OUTPUT_TOO_SMALL);
  }
}

TEST(QorraEncoder, KeyPicturesCarryParameterSets) {
  THandle h;
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  std::vector<uint8_t> lOut;
  int lKeys = 0;
  // The encoder's key interval is 250 pictures: 260 pictures hold two key pictures.
  for (int i = 0; i < 260; ++i) {
    ASSERT_GT(Encode(h.Get(), MakeMovingPicture(64, 48, i), lOut), 0) << "picture " << i;
    if (i == 0) {
      EXPECT_TRUE(StartsWithParameterSets(lOut));
      EXPECT_TRUE(HasType(lOut, NAL_IDR_SLICE));
    }
    if (HasType(lOut, NAL_IDR_SLICE)) {
      ++lKeys;
      EXPECT_TRUE(StartsWithParameterSets(lOut)) << "key picture " << i;
    } else {
      EXPECT_FALSE(HasType(lOut, NAL_SPS)) << "picture " << i;
    }
  }
  EXPECT_GE(lKeys, 2);
}

TEST(QorraEncoder, ReopenWithNewSizeStartsANewStream) {
  THandle h;
  std::vector<uint8_t> lOut;
  ASSERT_EQ(QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_I420), 0);
  for (int i = 0; i < 3; ++i) ASSERT_GT(Encode(h.Get(), MakeMovingPicture(176, 144, i), lOut), 0);
  QorraClose(h.Get());
  ASSERT_EQ(QorraOpen(h.Get(), 320, 240, 25, QORRA_CSP_I420), 0);
  std::vector<uint8_t> lStream;
  for (int i = 0; i < 3; ++i) {
    ASSERT_GT(Encode(h.Get(), MakeMovingPicture(320, 240, i), lOut), 0);
    if (i == 0) {
      EXPECT_TRUE(StartsWithParameterSets(lOut));
      EXPECT_TRUE(HasType(lOut, NAL_IDR_SLICE));
    }
    lStream.insert(lStream.end(), lOut.begin(), lOut.end());
  }
  TDecodedVideo lVideo;
  std::string lError;
  ASSERT_TRUE(DecodeStream(lStream, "h264", lVideo, &lError)) << lError;
  EXPECT_EQ(lVideo.Width, 320);
  EXPECT_EQ(lVideo.Height, 240);
  EXPECT_EQ(lVideo.Pictures.size(), 3u);
}

TEST(QorraEncoder, ClosedHandlesAreHarmless) {
  THandle h;
  std::vector<uint8_t> lOut;
  const auto lPic = MakeMovingPicture(64, 48, 0);
  // Never opened: a negative result, x264 untouched.
  EXPECT_EQ(Encode(h.Get(), lPic, lOut), QORRA_ERR_NOT_OPEN);
  QorraClose(h.Get());
  QorraClose(h.Get());
  // A failed open leaves the handle closed.
  EXPECT_EQ(QorraOpen(h.Get(), 63, 48, 25, QORRA_CSP_I420), -1);
  QorraClose(h.Get());
  EXPECT_EQ(Encode(h.Get(), lPic, lOut), QORRA_ERR_NOT_OPEN);
  // Open, close twice, then encode: refused again.
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  EXPECT_GT(Encode(h.Get(), lPic, lOut), 0);
  QorraClose(h.Get());
  QorraClose(h.Get());
  EXPECT_EQ(Encode(h.Get(), lPic, lOut), QORRA_ERR_NOT_OPEN);
  std::vector<uint8_t> lRoom(100);
  EXPECT_EQ(QorraEncode(h.Get(), nullptr, 0, lRoom.data(), 100), QORRA_ERR_NOT_OPEN);
  // And it opens again after all that.
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  EXPECT_GT(Encode(h.Get(), lPic, lOut), 0);
}

TEST(QorraEncoder, OpeningAnOpenHandleReplacesItsEncoder) {
  THandle h;
  std::vector<uint8_t> lOut;
  ASSERT_EQ(QorraOpen(h.Get(), 64, 48, 25, QORRA_CSP_I420), 0);
  ASSERT_GT(Encode(h.Get(), MakeMovingPicture(64, 48, 0), lOut), 0);
  ASSERT_EQ(QorraOpen(h.Get(), 128, 96, 25, QORRA_CSP_I420), 0);
  ASSERT_GT(Encode(h.Get(), MakeMovingPicture(128, 96, 0), lOut), 0);
  EXPECT_TRUE(StartsWithParameterSets(lOut));
}

TEST(QorraEncoder, RefusedParameters) {
  struct TCase {
    const char* Name;
    int32_t Width, Height;
    uint8_t Csp;
  };
  const TCase lCases[] = {
      {"colour space none", 64, 48, QORRA_CSP_NONE},
      {"colour space 5", 64, 48, 5},
      {"colour space 255", 64, 48, 255},
      {"width 0", 0, 48, QORRA_CSP_I420},
      {"negative height", 64, -48, QORRA_CSP_I420},
      {"odd width", 63, 48, QORRA_CSP_YV12},
      {"size beyond 32 bits", 100000, 100000, QORRA_CSP_I420},
  };
  for (const TCase& c : lCases) {
    THandle h;
    EXPECT_EQ(QorraOpen(h.Get(), c.Width, c.Height, 25, c.Csp), -1) << c.Name;
    std::vector<uint8_t> lOut;
    EXPECT_EQ(Encode(h.Get(), MakeMovingPicture(64, 48, 0), lOut), QORRA_ERR_NOT_OPEN) << c.Name;
  }
}

// A picture red on the left and blue on the right, handed over in each colour space's
// layout, must come out red on the left and blue on the right: the chroma planes are
// read in the order the colour-space code says.
TEST(QorraEncoder, ColourSpacesKeepCbAndCrApart) {
  const int W = 128, H = 64;
  const auto lI420 = MakeSplitPicture(W, H, YCbCrRed, YCbCrBlue);
  struct TCase {
    const char* Name;
    uint8_t Csp;
    std::vector<uint8_t> Input;
  };
  const TCase lCases[] = {
      {"I420", QORRA_CSP_I420, lI420},
      {"YV12", QORRA_CSP_YV12, SwapChromaPlanes(lI420, W, H)},
      {"NV12", QORRA_CSP_NV12, InterleaveChroma(lI420, W, H, false)},
      {"NV21", QORRA_CSP_NV21, InterleaveChroma(lI420, W, H, true)},
  };
  for (const TCase& c : lCases) {
    THandle h;
    ASSERT_EQ(QorraOpen(h.Get(), W, H, 25, c.Csp), 0) << c.Name;
    std::vector<uint8_t> lOut;
    ASSERT_GT(Encode(h.Get(), c.Input, lOut), 0) << c.Name;
    TDecodedVideo lVideo;
    std::string lError;
    ASSERT_TRUE(DecodeStream(lOut, "h264", lVideo, &lError)) << c.Name << ": " << lError;
    ASSERT_EQ(lVideo.Pictures.size(), 1u) << c.Name;
    const uint8_t* lY = lVideo.Pictures[0].data();
    const uint8_t* lCb = lY + W * H;
    const uint8_t* lCr = lCb + W * H / 4;
    // Away from the edge between the halves.
    const int cw = W / 2, ch = H / 2;
    EXPECT_NEAR(PlaneMean(lY, W, 4, 4, W / 2 - 12, H - 8), YCbCrRed.Y, 3) << c.Name;
    EXPECT_NEAR(PlaneMean(lY, W, W / 2 + 8, 4, W / 2 - 12, H - 8), YCbCrBlue.Y, 3) << c.Name;
    EXPECT_NEAR(PlaneMean(lCb, cw, 2, 2, cw / 2 - 6, ch - 4), YCbCrRed.Cb, 3) << c.Name;
    EXPECT_NEAR(PlaneMean(lCr, cw, 2, 2, cw / 2 - 6, ch - 4), YCbCrRed.Cr, 3) << c.Name;
    EXPECT_NEAR(PlaneMean(lCb, cw, cw / 2 + 4, 2, cw / 2 - 6, ch - 4), YCbCrBlue.Cb, 3) << c.Name;
    EXPECT_NEAR(PlaneMean(lCr, cw, cw / 2 + 4, 2, cw / 2 - 6, ch - 4), YCbCrBlue.Cr, 3) << c.Name;
  }
}

TEST(QorraEncoder, SequenceDecodesCloseToTheInput) {
  const int W = 176, H = 144, N = 30;
  THandle h;
  ASSERT_EQ(QorraOpen(h.Get(), W, H, 25, QORRA_CSP_YV12), 0);
  std::vector<uint8_t> lStream, lOut;
  for (int i = 0; i < N; ++i) {
    ASSERT_GT(Encode(h.Get(), SwapChromaPlanes(MakeMovingPicture(W, H, i), W, H), lOut), 0);
    lStream.insert(lStream.end(), lOut.begin(), lOut.end());
  }
  EXPECT_EQ(QorraEncode(h.Get(), nullptr, 0, lOut.data(), static_cast<int32_t>(lOut.size())), 0);
  TDecodedVideo lVideo;
  std::string lError;
  ASSERT_TRUE(DecodeStream(lStream, "h264", lVideo, &lError)) << lError;
  ASSERT_EQ(lVideo.Width, W);
  ASSERT_EQ(lVideo.Height, H);
  ASSERT_EQ(lVideo.Pictures.size(), static_cast<size_t>(N));
  for (int i = 0; i < N; ++i) {
    EXPECT_GT(PicturePsnr(lVideo.Pictures[i], MakeMovingPicture(W, H, i)), 35.0) << "picture " << i;
  }
}

TEST(QorraEncoder, HandlesAreIndependentAcrossThreads) {
  // Two handles encoding the same pictures at the same time give the same bytes.
  std::vector<uint8_t> lStreams[2];
  auto lWork = [](std::vector<uint8_t>* AStream) {
    THandle h;
    if (QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_I420) != 0) return;
    std::vector<uint8_t> lOut;
    for (int i = 0; i < 20; ++i) {
      if (Encode(h.Get(), MakeMovingPicture(176, 144, i), lOut) > 0) {
        AStream->insert(AStream->end(), lOut.begin(), lOut.end());
      }
    }
  };
  std::thread a(lWork, &lStreams[0]), b(lWork, &lStreams[1]);
  a.join();
  b.join();
  EXPECT_FALSE(lStreams[0].empty());
  EXPECT_EQ(lStreams[0], lStreams[1]);
}

TEST(QorraEncoder, PrintsNothingOnStandardError) {
  testing::internal::CaptureStderr();
  {
    THandle h;
    if (QorraOpen(h.Get(), 176, 144, 25, QORRA_CSP_YV12) == 0) {
      std::vector<uint8_t> lOut;
      for (int i = 0; i < 5; ++i) Encode(h.Get(), MakeMovingPicture(176, 144, i), lOut);
    }
  }
  const std::string lErr = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lErr, "");
}

TEST(QorraEncoder, ExportsOnlyTheFiveFunctions) {
  const std::string lLib = std::string(VYR_BIN_DIR) + "/libQorraEncoder.so";
  ASSERT_TRUE(FileExists(lLib + ".1.0.0.2"));
  std::vector<std::string> lNames;
  std::string lError;
  ASSERT_TRUE(DefinedDynamicSymbols(lLib, lNames, lError)) << lError;
  const std::vector<std::string> lExpected = {"QorraClose", "QorraDestroy", "QorraEncode",
                                              "QorraInit", "QorraOpen"};
  EXPECT_EQ(lNames, lExpected);
}
