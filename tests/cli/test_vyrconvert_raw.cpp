// vyrconvert -f raw end to end: generated recordings in, raw streams out, compared byte for
// byte with the video payloads that went into the recordings.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVyrSampleGen.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

// A recording as a recorder writes it (audio interleaved), with payloads of varying
// sizes including empty ones, a block of another command in the middle and, when asked,
// a last payload cut short by the end of the file. AExpected receives the raw stream.
std::string MakeRecording(const TTempDir& ADir, const std::string& AName, int AVideoType, uint8_t AAudioType,
                          bool ACutLast, std::string& AExpected) {
  AExpected.clear();
  TVyrRecordBuilder b;
  for (int half = 0; half < 2; ++half) {
    TRecordingSpec spec;
    spec.VideoType = AVideoType;
    spec.AudioType = AAudioType;
    spec.Frames = 30;
    spec.StartSecond = 1700000000 + static_cast<uint32_t>(half) * 2;
    TVideoPayloadSource pattern = PatternPayloadSource(spec, 0);
    auto source = [&](uint32_t AIndex, bool& AKey) {
      std::vector<uint8_t> p = PatternBytes(AIndex % 7 == 3 ? 0 : 200 + 37 * AIndex, AIndex + 100 * half);
      AKey = AIndex == 0;
      AExpected.append(p.begin(), p.end());
      return p;
    };
    GenerateRecording(spec, source, b);
    if (half == 0) b.AddOther(771, 100, PatternBytes(100, 5));
  }
  if (ACutLast) {
    TVideoBlockSpec v;
    v.VideoType = static_cast<uint8_t>(AVideoType);
    std::vector<uint8_t> last = PatternBytes(900, 77);
    b.AddVideo(v, last);
    b.Truncate(400);
    AExpected.append(last.begin(), last.begin() + 500);
  }
  std::string path = ADir.File(AName);
  EXPECT_TRUE(b.SaveToFile(path));
  return path;
}

}  // namespace

TEST(VyrconvertRaw, StreamsAreTheConcatenatedVideoPayloads) {
  TTempDir in, out;
  std::string e1, e2, e3;
  std::string f1 = MakeRecording(in, "cam1.vyr", OmVideoType_H264, AUDIO_TYPE_G711A, false, e1);
  std::string f2 = MakeRecording(in, "cam2.vyr", OmVideoType_H265, AUDIO_TYPE_PCM, true, e2);
  std::string f3 = MakeRecording(in, "cam3.vyr", OmVideoType_MJPEG, AUDIO_TYPE_NONE, false, e3);
  // An existing output of the same name is replaced.
  ASSERT_TRUE(WriteFileBytes(out.File("cam1.H264"), std::string(e1.size() * 2, 'z')));
  TProcessResult r = RunProcess({Vyrconvert, "-f", "raw", "-o", out.Path(), f1, f2, f3});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(ReadFileBytes(out.File("cam1.H264")), e1);
  EXPECT_EQ(ReadFileBytes(out.File("cam2.H265")), e2);
  EXPECT_EQ(ReadFileBytes(out.File("cam3.MJPG")), e3);
  // One summary line per file, in order.
  EXPECT_EQ(r.Out, f1 + " -> " + out.File("cam1.H264") + ": 60 video frames, " + std::to_string(e1.size()) +
                       " bytes\n" + f2 + " -> " + out.File("cam2.H265") + ": 61 video frames, " +
                       std::to_string(e2.size()) + " bytes\n" + f3 + " -> " + out.File("cam3.MJPG") +
                       ": 60 video frames, " + std::to_string(e3.size()) + " bytes\n");
}

TEST(VyrconvertRaw, FailedFilesAreReportedAndTheOthersStillConverted) {
  TTempDir in, out, other;
  std::string e1, e2;
  std::string good = MakeRecording(in, "good.vyr", OmVideoType_H264, AUDIO_TYPE_G711U, false, e1);
  std::string sameName = MakeRecording(other, "GOOD.vyr", OmVideoType_H264, AUDIO_TYPE_G711U, false, e2);
  std::string noVideo = MakeRecording(in, "novideo.vyr", -1, AUDIO_TYPE_G711A, false, e2);
  std::string missing = in.File("missing.vyr");
  TProcessResult r = RunProcess({Vyrconvert, "-f", "raw", "-o", out.Path() + "/", good, sameName, noVideo, missing});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(ReadFileBytes(out.File("good.H264")), e1);
  EXPECT_NE(r.Out.find(good + " -> "), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find(sameName + ": refused, its output " + out.Path() + "/GOOD.H264 has the same name as that of " +
                       good),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find(noVideo + ": holds no video"), std::string::npos) << r.Err;
  EXPECT_TRUE(FileExists(out.File("novideo")));
  EXPECT_EQ(ReadFileBytes(out.File("novideo")), "");
  EXPECT_NE(r.Err.find(missing + ": cannot open the recording"), std::string::npos) << r.Err;
  EXPECT_FALSE(FileExists(out.File("missing")));
}

TEST(VyrconvertRaw, OutputThatCannotBeMadeFailsTheFile) {
  TTempDir in;
  std::string e;
  std::string f = MakeRecording(in, "cam.vyr", OmVideoType_H264, AUDIO_TYPE_G711A, false, e);
  // A missing output folder is made, with the folders above it.
  TProcessResult made = RunProcess({Vyrconvert, "-f", "raw", "-o", in.File("no/such/folder"), f});
  EXPECT_EQ(made.ExitCode, 0) << made.Err;
  EXPECT_EQ(ReadFileBytes(in.File("no/such/folder/cam.H264")), e);
  // One that cannot be made is said once, and no file is tried.
  TProcessResult r = RunProcess({Vyrconvert, "-f", "raw", "-o", f + "/sub", f, f});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, "vyrconvert: cannot create the output folder " + f + "/sub/: Not a directory\n");
  EXPECT_EQ(r.Out, "");

  // An MPEG-4 recording named "full" would write to the device /dev/full: refused.
  std::string f4 = MakeRecording(in, "full.vyr", OmVideoType_MPEG4, AUDIO_TYPE_NONE, false, e);
  TProcessResult w = RunProcess({Vyrconvert, "-f", "raw", "-o", "/dev", f4});
  EXPECT_EQ(w.ExitCode, 1);
  EXPECT_NE(w.Err.find(f4 + ": cannot create the output file /dev/full: /dev/full exists and is not a regular file"),
            std::string::npos)
      << w.Err;
}

// The bundled samples carry real video: their raw streams are judged by ffprobe and ffmpeg.
TEST(VyrconvertRaw, BundledSamplesGiveStreamsThatDecode) {
  struct TCase {
    const char* Sample;
    const char* Output;
    const char* Codec;
    int Width, Height;
    long long Frames;
  };
  const TCase cases[] = {
      {"cam1_h264_alaw.vyr", "cam1_h264_alaw.H264", "h264", 352, 288, 250},
      {"cam2_h264_ulaw.vyr", "cam2_h264_ulaw.H264", "h264", 704, 576, 250},
      {"cam3_mjpeg_pcm.vyr", "cam3_mjpeg_pcm.MJPG", "mjpeg", 352, 288, 150},
      {"cam4_h265_none.vyr", "cam4_h265_none.H265", "hevc", 1280, 720, 200},
  };
  TTempDir out;
  std::vector<std::string> args = {Vyrconvert, "-f", "raw", "-o", out.Path()};
  for (const TCase& c : cases) args.push_back(std::string(VYR_SAMPLES_DIR) + "/" + c.Sample);
  TProcessResult r = RunProcess(args);
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Output);
    TMediaInfo info = ProbeMedia(out.File(c.Output));
    ASSERT_TRUE(info.Ok) << info.Errors;
    const TMediaStream* video = info.Video();
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->CodecName, c.Codec);
    EXPECT_EQ(video->Width, c.Width);
    EXPECT_EQ(video->Height, c.Height);
    EXPECT_EQ(video->Frames, c.Frames);
    bool ok = false;
    EXPECT_EQ(DecodeErrors(out.File(c.Output), &ok), "");
    EXPECT_TRUE(ok);
  }
}
