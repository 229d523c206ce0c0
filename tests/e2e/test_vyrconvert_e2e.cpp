// The real vyrconvert on generated recordings, judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

const char* CodecName(int AType) {
  switch (AType) {
    case OmVideoType_MPEG4: return "mpeg4";
    case OmVideoType_H264: return "h264";
    case OmVideoType_MJPEG: return "mjpeg";
    default: return "h265";
  }
}

// Generates a recording; ASourcePictures (when given) receives the raw test pictures.
std::string MakeRecording(const TTempDir& ADir, const std::string& AName, const TRecordingSpec& ASpec,
                          std::vector<uint8_t>* AVideoPayloads = nullptr) {
  std::string error;
  TVideoPayloadSource source = ASpec.VideoType < 0 ? PatternPayloadSource(ASpec, 0) : EncodedPayloadSource(ASpec, error);
  EXPECT_TRUE(source) << error;
  TVideoPayloadSource recorded = [&](uint32_t AIndex, bool& AKey) {
    std::vector<uint8_t> p = source(AIndex, AKey);
    if (AVideoPayloads) AVideoPayloads->insert(AVideoPayloads->end(), p.begin(), p.end());
    return p;
  };
  TVyrRecordBuilder b;
  GenerateRecording(ASpec, recorded, b);
  std::string path = ADir.File(AName);
  EXPECT_TRUE(b.SaveToFile(path));
  return path;
}

// The raw test pictures of a spec, as one I420 file.
std::string SourcePictures(const TTempDir& ADir, const TRecordingSpec& ASpec, int AWidth, int AHeight) {
  std::string all;
  std::vector<uint8_t> pic;
  for (uint32_t i = 0; i < ASpec.Frames; ++i) {
    DrawTestPicture(AWidth, AHeight, i, pic);
    all.append(pic.begin(), pic.end());
  }
  std::string path = ADir.File("source.yuv");
  WriteFileBytes(path, all);
  return path;
}

double Psnr(const std::string& AMp4, const std::string& AYuv, int AWidth, int AHeight) {
  const TToolResult r = RunTool("ffmpeg", {"-v", "info", "-nostdin", "-i", AMp4, "-f", "rawvideo", "-pix_fmt",
                                           "yuv420p", "-s", std::to_string(AWidth) + "x" + std::to_string(AHeight),
                                           "-i", AYuv, "-lavfi",
                                           "[0:v]settb=1/10,setpts=N[a];[1:v]settb=1/10,setpts=N[b];[a][b]psnr",
                                           "-f", "null", "-"});
  size_t p = r.Err.find("average:");
  return p == std::string::npos ? 0 : std::atof(r.Err.c_str() + p + 8);
}

TRecordingSpec Spec(int AVideo, uint8_t AAudio) {
  TRecordingSpec s;
  s.VideoType = AVideo;
  s.AudioType = AAudio;
  s.VideoMode = OmResolution_QCIF;
  s.FrameRate = 10;
  s.Frames = 30;
  s.KeyInterval = 10;
  s.StartMillisecond = 300;
  return s;
}

}  // namespace

TEST(VyrconvertE2E, EveryCodecAndAudioTypeConvertsToAPlayableMp4) {
  for (int video : {OmVideoType_H264, OmVideoType_MJPEG, OmVideoType_MPEG4, OmVideoType_H265}) {
    for (uint8_t audio : {AUDIO_TYPE_G711A, AUDIO_TYPE_G711U, AUDIO_TYPE_PCM, AUDIO_TYPE_NONE}) {
      SCOPED_TRACE(std::string(CodecName(video)) + " audio " + std::to_string(audio));
      TTempDir dir;
      TRecordingSpec spec = Spec(video, audio);
      std::vector<uint8_t> payloads;
      std::string src = MakeRecording(dir, "cam.vyr", spec, &payloads);
      TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), src});
      ASSERT_EQ(r.ExitCode, 0) << r.Err;
      EXPECT_NE(r.Out.find("-> " + dir.Path() + "/cam.mp4: 30 pictures"), std::string::npos) << r.Out;
      std::string mp4 = dir.File("cam.mp4");
      EXPECT_EQ(DecodeErrors(mp4), "");
      TMediaInfo info = ProbeMedia(mp4);
      ASSERT_TRUE(info.Ok) << info.Errors;
      ASSERT_TRUE(info.Video());
      EXPECT_EQ(info.Video()->CodecName, "h264");
      EXPECT_EQ(info.Video()->Frames, 30);
      EXPECT_NEAR(info.Video()->Duration, 3.0, 0.01);
      if (audio == AUDIO_TYPE_NONE) {
        EXPECT_FALSE(info.Audio());
      } else {
        ASSERT_TRUE(info.Audio());
        EXPECT_EQ(info.Audio()->CodecName, "aac");
        EXPECT_EQ(info.Audio()->SampleRate, 8000);
        EXPECT_EQ(info.Audio()->Channels, 1);
        EXPECT_NEAR(info.Audio()->Duration, 3.0, 0.2);
      }
      if (video == OmVideoType_H264) {
        std::string es = dir.File("source.h264");
        WriteFileBytes(es, std::string(payloads.begin(), payloads.end()));
        EXPECT_EQ(VideoFrameHashes(mp4).Hashes, VideoFrameHashes(es, "h264").Hashes);
      } else {
        double psnr = Psnr(mp4, SourcePictures(dir, spec, 176, 144), 176, 144);
        EXPECT_GT(psnr, 30.0);
        RecordProperty(std::string("psnr_") + CodecName(video), std::to_string(psnr));
      }
    }
  }
}

TEST(VyrconvertE2E, RawModeWritesThePayloadsByteForByte) {
  for (int video : {OmVideoType_H264, OmVideoType_MJPEG, OmVideoType_H265, OmVideoType_MPEG4}) {
    TTempDir dir;
    std::vector<uint8_t> payloads;
    std::string src = MakeRecording(dir, "cam.vyr", Spec(video, AUDIO_TYPE_G711A), &payloads);
    ::mkdir(dir.File("out").c_str(), 0755);
    TProcessResult r = RunProcess({Vyrconvert, "-f", "raw", "-o", dir.Path() + "/out", src});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const char* ext = video == OmVideoType_H264 ? ".H264" : video == OmVideoType_MJPEG ? ".MJPG"
                      : video == OmVideoType_H265 ? ".H265" : "";
    EXPECT_EQ(ReadFileBytes(dir.File(std::string("out/cam") + ext)), std::string(payloads.begin(), payloads.end()))
        << CodecName(video);
  }
}

TEST(VyrconvertE2E, DamagedRecordingsNeverCrashAndKeepMemorySmall) {
  TTempDir dir;
  std::vector<uint8_t> good;
  {
    TVyrRecordBuilder b;
    TRecordingSpec spec = Spec(OmVideoType_H264, AUDIO_TYPE_G711A);
    std::string error;
    GenerateRecording(spec, EncodedPayloadSource(spec, error), b);
    good = b.Bytes();
  }
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    int Exit;
  };
  std::vector<Case> cases;
  cases.push_back({"head cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), 0});
  {
    std::vector<uint8_t> huge = good;
    TVyrRecordBuilder b;
    b.AddBytes(huge);
    TVideoBlockSpec v;
    v.OverrideFrameLength = true;
    v.FrameLength = 0xFFFFFF00u;
    b.AddVideo(v, PatternBytes(100, 1));
    cases.push_back({"huge frame length", b.Bytes(), 0});
  }
  {
    TVyrRecordBuilder b;
    b.AddOther(999, 500, PatternBytes(500, 1));
    b.AddBytes(good);
    cases.push_back({"unknown command first", b.Bytes(), 0});
  }
  cases.push_back({"empty file", {}, 1});
  cases.push_back({"noise", PatternBytes(100000, 7), 1});
  for (const Case& c : cases) {
    std::string src = dir.File("damaged.vyr");
    TVyrRecordBuilder b;
    b.AddBytes(c.Bytes);
    b.SaveToFile(src);
    TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), src});
    EXPECT_EQ(r.ExitCode, c.Exit) << c.Name << "\n" << r.Err;
    EXPECT_LT(r.MaxRssKb, 100 * 1024) << c.Name;
    if (c.Exit == 0) {
      EXPECT_EQ(DecodeErrors(dir.File("damaged.mp4")), "") << c.Name;
    }
  }
}

TEST(VyrconvertE2E, FailuresAreNamedAndTheOtherFilesStillConvert) {
  TTempDir dir;
  std::string good = MakeRecording(dir, "good.vyr", Spec(OmVideoType_H264, AUDIO_TYPE_NONE));
  ::mkdir(dir.File("sub").c_str(), 0755);
  std::string dup = MakeRecording(dir, "sub/GOOD.vyr", Spec(OmVideoType_H264, AUDIO_TYPE_NONE));
  ::mkdir(dir.File("o").c_str(), 0755);
  TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path() + "/o", dir.File("missing.vyr"), good, dup});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("missing.vyr: cannot open the recording"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("GOOD.vyr: refused"), std::string::npos) << r.Err;
  EXPECT_TRUE(FileExists(dir.File("o/good.mp4")));
  // A regular file where the output folder should be: no folder can be made there.
  TProcessResult full = RunProcess({Vyrconvert, "-o", good + "/out", good});
  EXPECT_EQ(full.ExitCode, 1);
  EXPECT_NE(full.Err.find("cannot create the output folder " + good + "/out/"), std::string::npos) << full.Err;
}

// A recording of sound alone converts to an MP4 of sound, and the user is told it has no video.
TEST(VyrconvertE2E, SoundAloneConvertsWithAWarning) {
  TTempDir dir;
  const std::string src = MakeRecording(dir, "mic.vyr", Spec(-1, AUDIO_TYPE_G711A));
  TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), src});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("mic.mp4: 0 pictures"), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find("mic.vyr: warning: the recording holds no video\n"), std::string::npos) << r.Err;
  TMediaInfo info = ProbeMedia(dir.File("mic.mp4"));
  ASSERT_TRUE(info.Ok) << info.Errors;
  EXPECT_FALSE(info.Video());
  ASSERT_TRUE(info.Audio());
  EXPECT_NEAR(info.Audio()->Duration, 3.0, 0.2);
}

TEST(VyrconvertE2E, CtrlCClosesTheCurrentMp4AndExits130) {
  TTempDir dir;
  TRecordingSpec spec = Spec(OmVideoType_MJPEG, AUDIO_TYPE_G711A);
  spec.VideoMode = OmResolution_D1;
  spec.Frames = 3000;
  std::string src = MakeRecording(dir, "long.vyr", spec);
  std::string second = MakeRecording(dir, "next.vyr", Spec(OmVideoType_H264, AUDIO_TYPE_NONE));
  // One file after another: the second has not begun when the first is stopped.
  TChildProcess child({Vyrconvert, "-j", "1", "-o", dir.Path(), src, second});
  // Wait until the MP4 (under its temporary name while written) has grown, then stop.
  for (int i = 0; i < 400; ++i) {
    if (ReadFileBytes(dir.File("long.mp4.part")).size() > 50000) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  child.Signal(SIGINT);
  TProcessResult r = child.Wait();
  EXPECT_EQ(r.ExitCode, 130) << r.Err;
  EXPECT_NE(r.Out.find("long.mp4: stopped"), std::string::npos) << r.Out;
  EXPECT_FALSE(FileExists(dir.File("next.mp4")));
  TMediaInfo info = ProbeMedia(dir.File("long.mp4"));
  ASSERT_TRUE(info.Video()) << info.Errors;
  EXPECT_GT(info.Video()->Frames, 0);
  EXPECT_LT(info.Video()->Frames, 3000);
  EXPECT_FALSE(FileExists(dir.File("long.mp4.part")));
  EXPECT_EQ(DecodeErrors(dir.File("long.mp4")), "");
}
