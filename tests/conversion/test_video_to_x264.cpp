// The video transcoder on frames made by ffmpeg's encoders: what comes out decodes (judged
// by ffmpeg) to the pictures the decoding library gives, the encoder follows the picture
// size, the decoder follows the codec code, and failures give no output and the log lines
// the converter's users rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "UPictureMath.h"
#include "Vidrex.h"
#include "conversion/UVideoToX264.h"
#include "protocol/UOmCamProtocol.h"

namespace {

const int W = 320, H = 240, N = 8;

bool StartsWithParameterSets(const std::vector<uint8_t>& AUnits) {
  const std::vector<uint8_t> lTypes = NalTypes(AUnits);
  return lTypes.size() >= 3 && lTypes[0] == NAL_SPS && lTypes[1] == NAL_PPS &&
         std::find(lTypes.begin(), lTypes.end(), NAL_IDR_SLICE) != lTypes.end();
}

// The pictures the decoding library gives for a codec's frames, in I420 order.
TFrameList VidrexPictures(const TFrameList& AFrames, uint8_t ACodec) {
  TFrameList lPictures;
  const int32_t lHandle = OMVEX_PLAY_SDK_Init();
  OMVEX_PLAY_SDK_StartVideo(lHandle, 0, 0, 0, ACodec);
  std::vector<uint8_t> lOut(1 << 22);
  for (const auto& f : AFrames) {
    int32_t w = 0, h = 0;
    const int32_t n = OMVEX_PLAY_SDK_DecodeOneFrame(lHandle, f.data(), static_cast<int32_t>(f.size()),
                                                    0, lOut.data(), static_cast<int32_t>(lOut.size()),
                                                    &w, &h);
    lPictures.push_back(n > 0 ? SwapChromaPlanes(std::vector<uint8_t>(lOut.begin(), lOut.begin() + n), w, h)
                              : std::vector<uint8_t>());
  }
  OMVEX_PLAY_SDK_Destory(lHandle);
  return lPictures;
}

// Frames of the record codecs, each set made when a test first asks for it (ctest runs
// every test in a process of its own).
class VideoToX264Test : public testing::Test {
 protected:
  static void TearDownTestSuite() { FFrames.clear(); }
  static TCodecFramesSpec SpecOf(const std::string& AName) {
    if (AName == "mjpeg") return RecorderFramesSpec(OmVideoType_MJPEG, W, H, N);
    if (AName == "mpeg4") return RecorderFramesSpec(OmVideoType_MPEG4, W, H, N);
    if (AName == "h265") return RecorderFramesSpec(OmVideoType_H265, W, H, N);
    if (AName == "mjpeg small") return RecorderFramesSpec(OmVideoType_MJPEG, 160, 120, 3);
    // H.265 pictures that each stand alone (parameter sets and a key picture every time).
    TCodecFramesSpec lIntra = RecorderFramesSpec(OmVideoType_H265, W, H, 4);
    lIntra.Options = {"-preset", "ultrafast", "-tune", "zerolatency", "-g", "1", "-x265-params",
                      "log-level=error:repeat-headers=1:keyint=1"};
    return lIntra;
  }
  static const TFrameList& Frames(const std::string& AName) {
    auto it = FFrames.find(AName);
    if (it == FFrames.end()) {
      std::string lError;
      it = FFrames.emplace(AName, TFrameList()).first;
      const TCodecFramesSpec lSpec = SpecOf(AName);
      if (!MakeCodecFrames(lSpec, it->second, &lError)) {
        ADD_FAILURE() << AName << ": " << lError;
        it->second.resize(static_cast<size_t>(lSpec.Frames));  // fail, don't crash
      }
    }
    return it->second;
  }
  static std::map<std::string, TFrameList> FFrames;

  static bool Transcode(TVideoToX264& T, const std::vector<uint8_t>& AFrame, uint8_t AType,
                        std::vector<uint8_t>& AOut) {
    return T.TranscodeToX264(AFrame.data(), static_cast<int32_t>(AFrame.size()), AType, AOut);
  }
};
std::map<std::string, TFrameList> VideoToX264Test::FFrames;

}  // namespace

TEST_F(VideoToX264Test, FirstFrameStartsDecoderAndEncoder) {
  TLogCapture lLog;
  TVideoToX264 T;
  EXPECT_EQ(T.FPS(), 30);
  T.SetFPS(25);
  EXPECT_EQ(T.FPS(), 25);
  ASSERT_EQ(lLog.CountStartingWith("VideoToX264: Init Handle: "), 1u);
  std::vector<uint8_t> lOut;
  ASSERT_TRUE(Transcode(T, Frames("mjpeg")[0], OmVideoType_MJPEG, lOut));
  EXPECT_TRUE(StartsWithParameterSets(lOut));
  const std::vector<std::string> lLines = lLog.Lines();
  const std::vector<std::string> lExpected = {
      "VideoToX264: Decode Frame[320, 240], size: 115200",
      "VideoToX264: open encoder[320, 240], result: 0"};
  ASSERT_EQ(lLines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lLines.begin() + 1, lLines.end()), lExpected);
  // Later frames of the same size log nothing.
  ASSERT_TRUE(Transcode(T, Frames("mjpeg")[1], OmVideoType_MJPEG, lOut));
  EXPECT_EQ(lLog.Lines().size(), 3u);
}

TEST_F(VideoToX264Test, CodecsComeOutCloseToTheDecodedPictures) {
  struct TCase {
    const char* Frames;
    uint8_t Type;
  };
  const TCase lCases[] = {{"mjpeg", OmVideoType_MJPEG},
                          {"mpeg4", OmVideoType_MPEG4},
                          {"h265", OmVideoType_H265}};
  for (const TCase& c : lCases) {
    SCOPED_TRACE(c.Frames);
    const TFrameList& lFrames = Frames(c.Frames);
    ASSERT_EQ(lFrames.size(), static_cast<size_t>(N));
    const TFrameList lReference = VidrexPictures(lFrames, c.Type);
    TVideoToX264 T;
    T.SetFPS(25);
    std::vector<uint8_t> lStream, lOut;
    // Every frame gives its picture at once, also the MPEG-4 frames after the first, which
    // only decode while the decoder is not restarted within one codec.
    for (int i = 0; i < N; ++i) {
      ASSERT_TRUE(Transcode(T, lFrames[i], c.Type, lOut)) << "frame " << i;
      lStream.insert(lStream.end(), lOut.begin(), lOut.end());
    }
    TDecodedVideo lVideo;
    std::string lError;
    ASSERT_TRUE(DecodeStream(lStream, "h264", lVideo, &lError)) << lError;
    EXPECT_EQ(lVideo.Width, W);
    EXPECT_EQ(lVideo.Height, H);
    ASSERT_EQ(lVideo.Pictures.size(), static_cast<size_t>(N));
    for (int i = 0; i < N; ++i) {
      EXPECT_GT(PicturePsnr(lVideo.Pictures[i], lReference[i]), 35.0) << "picture " << i;
    }
  }
}

TEST_F(VideoToX264Test, FrameRateReachesTheStream) {
  TVideoToX264 T;
  T.SetFPS(12);
  std::vector<uint8_t> lOut;
  ASSERT_TRUE(Transcode(T, Frames("mjpeg")[0], OmVideoType_MJPEG, lOut));
  TTempDir lDir;
  ASSERT_TRUE(WriteFileBytes(lDir.File("a.h264"), std::string(lOut.begin(), lOut.end())));
  std::string lErrors;
  std::map<std::string, std::string> lFacts =
      ProbeStream(lDir.File("a.h264"), "v:0", "r_frame_rate", false, &lErrors);
  ASSERT_EQ(lFacts.count("r_frame_rate"), 1u) << lErrors;
  EXPECT_EQ(lFacts["r_frame_rate"], "12/1");
}

TEST_F(VideoToX264Test, SizeChangeReopensTheEncoder) {
  TLogCapture lLog;
  TVideoToX264 T;
  std::vector<uint8_t> lOut;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Transcode(T, Frames("mjpeg")[i], OmVideoType_MJPEG, lOut));
  std::vector<uint8_t> lSmall;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Transcode(T, Frames("mjpeg small")[i], OmVideoType_MJPEG, lOut));
    if (i == 0) {
      EXPECT_TRUE(StartsWithParameterSets(lOut));
    }
    lSmall.insert(lSmall.end(), lOut.begin(), lOut.end());
  }
  ASSERT_TRUE(Transcode(T, Frames("mjpeg")[3], OmVideoType_MJPEG, lOut));
  EXPECT_TRUE(StartsWithParameterSets(lOut));
  EXPECT_EQ(lLog.Count("VideoToX264: open encoder[320, 240], result: 0"), 2u);
  EXPECT_EQ(lLog.Count("VideoToX264: open encoder[160, 120], result: 0"), 1u);
  EXPECT_EQ(lLog.Count("VideoToX264: Decode Frame[160, 120], size: 28800"), 1u);
  TDecodedVideo lVideo;
  std::string lError;
  ASSERT_TRUE(DecodeStream(lSmall, "h264", lVideo, &lError)) << lError;
  EXPECT_EQ(lVideo.Width, 160);
  EXPECT_EQ(lVideo.Height, 120);
  EXPECT_EQ(lVideo.Pictures.size(), 3u);
}

TEST_F(VideoToX264Test, AlternatingCodecsSwitchTheDecoder) {
  // A decoder started for one codec cannot decode the other: every frame giving output
  // shows the decoder was started anew for each change of codec code.
  TLogCapture lLog;
  TVideoToX264 T;
  std::vector<uint8_t> lOut;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Transcode(T, Frames("mjpeg")[i], OmVideoType_MJPEG, lOut)) << i;
    EXPECT_TRUE(Transcode(T, Frames("h265 intra")[i], OmVideoType_H265, lOut)) << i;
  }
  // Same size throughout: the encoder was opened once.
  EXPECT_EQ(lLog.CountStartingWith("VideoToX264: open encoder["), 1u);
}

TEST_F(VideoToX264Test, UndecodableFrameGivesNothing) {
  TVideoToX264 T;
  std::vector<uint8_t> lOut;
  ASSERT_TRUE(Transcode(T, Frames("mjpeg")[0], OmVideoType_MJPEG, lOut));
  TLogCapture lLog;
  const std::vector<uint8_t> lKept = {1, 2, 3, 4, 5};
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Frame;
    uint8_t Type;
  };
  const TCase lCases[] = {
      {"noise as Motion JPEG", std::vector<uint8_t>(4000, 0x5C), OmVideoType_MJPEG},
      {"Motion JPEG cut to its header", std::vector<uint8_t>(Frames("mjpeg")[1].begin(),
                                                            Frames("mjpeg")[1].begin() + 40),
       OmVideoType_MJPEG},
      {"a codec the decoder does not know", Frames("mjpeg")[1], 9},
  };
  for (const TCase& c : lCases) {
    lOut = lKept;
    EXPECT_FALSE(Transcode(T, c.Frame, c.Type, lOut)) << c.Name;
    EXPECT_EQ(lOut, lKept) << c.Name;
  }
  // A negative size with a frame is no drain call: nothing happens.
  lOut = lKept;
  EXPECT_FALSE(T.TranscodeToX264(Frames("mjpeg")[1].data(), -1, OmVideoType_MJPEG, lOut));
  EXPECT_EQ(lOut, lKept);
  EXPECT_TRUE(lLog.Lines().empty());
  // The transcoder goes on with the next good frame.
  EXPECT_TRUE(Transcode(T, Frames("mjpeg")[2], OmVideoType_MJPEG, lOut));
}

TEST_F(VideoToX264Test, DrainCalls) {
  TLogCapture lLog;
  TVideoToX264 T;
  std::vector<uint8_t> lOut = {7};
  // Before any picture the encoder has no output room.
  EXPECT_FALSE(T.TranscodeToX264(nullptr, 0, 0, lOut));
  EXPECT_EQ(lLog.Count("VideoToX264: Encode No Out, ret=-1"), 1u);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Transcode(T, Frames("mjpeg")[i], OmVideoType_MJPEG, lOut));
  const std::vector<uint8_t> lKept = lOut;
  // Nothing is held back: each form of drain call returns false with ret=0, whatever the
  // codec code.
  EXPECT_FALSE(T.TranscodeToX264(nullptr, 0, 0, lOut));
  EXPECT_FALSE(T.TranscodeToX264(nullptr, 0, OmVideoType_MJPEG, lOut));
  EXPECT_FALSE(T.TranscodeToX264(nullptr, 100, 7, lOut));
  EXPECT_FALSE(T.TranscodeToX264(Frames("mjpeg")[3].data(), 0, OmVideoType_MJPEG, lOut));
  EXPECT_EQ(lLog.Count("VideoToX264: Encode No Out, ret=0"), 4u);
  EXPECT_EQ(lOut, lKept);
}
