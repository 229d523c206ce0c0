// Conversions on several encoders at once: the segments of one transcoded recording (same
// pictures, in the same order, at the same times, at the same quality as one encoder gives),
// a stop in the middle, decoder errors, and batches (-j, --skip-existing, --json, results in
// input order).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

TRecordingSpec Spec(int AVideoType, uint32_t AFrames) {
  TRecordingSpec s;
  s.VideoType = AVideoType;
  s.VideoMode = OmResolution_QCIF;
  s.AudioType = AUDIO_TYPE_G711A;
  s.Frames = AFrames;
  s.KeyInterval = 25;
  s.NumberPictures = true;
  return s;
}

// Writes a recording; AEdit (may be null) changes the payload of a picture before it is stored.
std::string Make(const TTempDir& ADir, const std::string& AName, const TRecordingSpec& ASpec,
                 const std::function<void(uint32_t, std::vector<uint8_t>&)>& AEdit = nullptr) {
  std::string error;
  TVideoPayloadSource source = EncodedPayloadSource(ASpec, error);
  EXPECT_TRUE(source) << error;
  TVideoPayloadSource edited = [&](uint32_t AIndex, bool& AKey) {
    std::vector<uint8_t> p = source(AIndex, AKey);
    if (AEdit) AEdit(AIndex, p);
    return p;
  };
  TVyrRecordBuilder b;
  GenerateRecording(ASpec, edited, b);
  EXPECT_TRUE(b.SaveToFile(ADir.File(AName)));
  return ADir.File(AName);
}

// The picture numbers of the decoded pictures, in presentation order (-1: unreadable).
// Whatever decodes counts: pictures that refer to a lost one may be missing.
std::vector<int> PictureNumbers(const std::string& AMp4) {
  TDecodedVideo video;
  DecodePictures(AMp4, "", video, nullptr, "gray");
  std::vector<int> numbers;
  for (const std::vector<uint8_t>& luma : video.Pictures)
    numbers.push_back(ReadPictureNumber(luma.data(), video.Width));
  return numbers;
}

// PSNR of the decoded pictures against the source pictures.
double Psnr(const TTempDir& ADir, const std::string& AMp4, const TRecordingSpec& ASpec) {
  const std::string yuv = ADir.File("source.yuv");
  if (!FileExists(yuv)) {
    std::string all;
    std::vector<uint8_t> pic;
    for (uint32_t i = 0; i < ASpec.Frames; ++i) {
      DrawTestPicture(176, 144, i, pic);
      DrawPictureNumber(176, i, pic);
      all.append(pic.begin(), pic.end());
    }
    WriteFileBytes(yuv, all);
  }
  const TToolResult r = RunTool("ffmpeg", {"-v", "info", "-nostdin", "-i", AMp4, "-f", "rawvideo", "-s", "176x144",
                                           "-pix_fmt", "yuv420p", "-i", yuv, "-lavfi", "[0:v][1:v]psnr", "-f", "null",
                                           "-"});
  const size_t at = r.Err.find("average:");
  return at == std::string::npos ? -1 : std::atof(r.Err.c_str() + at + 8);
}

bool Contains(const std::string& AText, const std::string& APart) { return AText.find(APart) != std::string::npos; }

}  // namespace

// Segments on two encoders give every picture, in order, at its time and at the quality of one
// encoder.
TEST(ParallelConversion, SegmentsGiveWhatOneEncoderGives) {
  for (int type : {OmVideoType_MJPEG, OmVideoType_H265}) {
    SCOPED_TRACE(type);
    TTempDir dir;
    const TRecordingSpec spec = Spec(type, 220);  // 8.8 s: five segments
    const std::string src = Make(dir, "cam.vyr", spec);
    ::mkdir(dir.File("one").c_str(), 0755);
    ::mkdir(dir.File("two").c_str(), 0755);
    ASSERT_EQ(RunProcess({Vyrconvert, "-j", "1", "-o", dir.File("one"), src}).ExitCode, 0);
    TProcessResult two = RunProcess({Vyrconvert, "-j", "2", "-v", "-o", dir.File("two"), src});
    ASSERT_EQ(two.ExitCode, 0) << two.Err;
    // It was cut into segments: each opens an encoder of its own.
    EXPECT_GE(std::count(two.Err.begin(), two.Err.end(), '\n'), 1);
    size_t opens = 0;
    for (size_t at = 0; (at = two.Err.find("VideoToX264: open encoder", at)) != std::string::npos; ++at) ++opens;
    EXPECT_GE(opens, 4u);
    const std::vector<int> one = PictureNumbers(dir.File("one/cam.mp4"));
    const std::vector<int> parallel = PictureNumbers(dir.File("two/cam.mp4"));
    ASSERT_EQ(one.size(), 220u);
    EXPECT_EQ(parallel, one);
    for (int i = 0; i < 220; ++i) EXPECT_EQ(one[static_cast<size_t>(i)], i);
    EXPECT_EQ(ProbePackets(dir.File("two/cam.mp4"), "v:0", "pts_time"),
              ProbePackets(dir.File("one/cam.mp4"), "v:0", "pts_time"));
    const double psnrOne = Psnr(dir, dir.File("one/cam.mp4"), spec);
    const double psnrTwo = Psnr(dir, dir.File("two/cam.mp4"), spec);
    EXPECT_GT(psnrOne, 30);
    EXPECT_NEAR(psnrTwo, psnrOne, 0.5);
    EXPECT_EQ(DecodeErrors(dir.File("two/cam.mp4")), "");
  }
}

// A picture the decoder cannot read harms the same pictures with two encoders as with one.
TEST(ParallelConversion, DecoderErrorsHarmWhatTheyHarmWithOneEncoder) {
  TTempDir dir;
  const TRecordingSpec spec = Spec(OmVideoType_H265, 150);
  const std::string src = Make(dir, "cam.vyr", spec, [](uint32_t AIndex, std::vector<uint8_t>& APayload) {
    if (AIndex == 60)  // a picture between key pictures: its data broken, its head intact
      for (size_t i = 12; i < APayload.size(); ++i) APayload[i] ^= 0x5A;
  });
  ::mkdir(dir.File("one").c_str(), 0755);
  ::mkdir(dir.File("two").c_str(), 0755);
  ASSERT_EQ(RunProcess({Vyrconvert, "-j", "1", "-o", dir.File("one"), src}).ExitCode, 0);
  ASSERT_EQ(RunProcess({Vyrconvert, "-j", "2", "-o", dir.File("two"), src}).ExitCode, 0);
  const std::vector<int> one = PictureNumbers(dir.File("one/cam.mp4"));
  const std::vector<int> two = PictureNumbers(dir.File("two/cam.mp4"));
  EXPECT_EQ(two, one);
  // The broken picture and those that refer to it are harmed (lost, or their numbers
  // unreadable); from the next key picture on, everything is there.
  ASSERT_FALSE(one.empty());
  EXPECT_LT(std::count_if(one.begin(), one.end(), [](int n) { return n >= 60 && n < 75; }), 15);
  EXPECT_EQ(one.back(), 149);
  EXPECT_EQ(std::count(one.begin(), one.end(), 75), 1);
}

// A stop while segments are under way: a playable MP4 of the first pictures, in order, and
// audio no longer than its video.
TEST(ParallelConversion, AStopLeavesAPlayablePrefix) {
  TTempDir dir;
  const std::string src = Make(dir, "long.vyr", Spec(OmVideoType_MJPEG, 3000));
  TChildProcess child({Vyrconvert, "-j", "2", "-o", dir.Path(), src});
  for (int i = 0; i < 4000; ++i) {
    struct stat st {};
    if (::stat(dir.File("long.mp4.part").c_str(), &st) == 0 && st.st_size > 200000) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto stopAt = std::chrono::steady_clock::now();
  child.Signal(SIGINT);
  TProcessResult r;
  ASSERT_TRUE(child.TryWait(5000, r));
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
  EXPECT_EQ(r.ExitCode, 130) << r.Err;
  const std::string mp4 = dir.File("long.mp4");
  EXPECT_EQ(DecodeErrors(mp4), "");
  const std::vector<int> numbers = PictureNumbers(mp4);
  ASSERT_GT(numbers.size(), 0u);
  EXPECT_LT(numbers.size(), 3000u);
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i));
  TMediaInfo info = ProbeMedia(mp4);
  ASSERT_TRUE(info.Video() && info.Audio()) << info.Errors;
  EXPECT_LE(info.Audio()->Duration, info.Video()->Duration + 0.15);
}

// Several recordings side by side: results in input order, --skip-existing resumes a batch
// (finished outputs skipped; stopped ones and leftovers converted again), --json reports
// every file with its status.
TEST(ParallelConversion, BatchesResumeAndReportInOrder) {
  TTempDir dir, out;
  const std::string longOne = Make(dir, "a_long.vyr", Spec(OmVideoType_MJPEG, 300));
  const std::string shortOne = Make(dir, "b_short.vyr", Spec(OmVideoType_H264, 25));
  WriteFileBytes(dir.File("c_garbage.vyr"), std::string(5000, '\x42'));
  // A recording with damage: converted with a warning.
  std::string damaged = ReadFileBytes(Make(dir, "d_damaged.vyr", Spec(OmVideoType_H264, 50)));
  damaged.insert(damaged.size() / 2, std::string(3000, '\x11'));
  WriteFileBytes(dir.File("d_damaged.vyr"), damaged);
  // A name that is no valid UTF-8.
  const std::string odd = dir.File("e_\xff\xfe.vyr");
  WriteFileBytes(odd, ReadFileBytes(shortOne));

  const std::vector<std::string> files = {longOne, shortOne, dir.File("c_garbage.vyr"), dir.File("d_damaged.vyr"), odd};
  std::vector<std::string> args = {Vyrconvert, "-j", "2", "--json", "-o", out.Path()};
  args.insert(args.end(), files.begin(), files.end());
  TProcessResult first = RunProcess(args);
  EXPECT_EQ(first.ExitCode, 1);  // the garbage fails
  std::vector<std::string> lines;
  std::istringstream in(first.Out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << first.Out;
  // In input order, although the long one finishes last.
  EXPECT_TRUE(Contains(lines[0], "\"input\":\"" + longOne + "\"")) << lines[0];
  EXPECT_TRUE(Contains(lines[0], "\"status\":\"converted\"")) << lines[0];
  EXPECT_TRUE(Contains(lines[0], "\"pictures\":300")) << lines[0];
  EXPECT_TRUE(Contains(lines[1], "\"status\":\"converted\"")) << lines[1];
  EXPECT_TRUE(Contains(lines[2], "\"status\":\"failed\"")) << lines[2];
  EXPECT_TRUE(Contains(lines[2], "\"reason\":\"the recording holds nothing to convert")) << lines[2];
  EXPECT_TRUE(Contains(lines[3], "\"status\":\"warning\"")) << lines[3];
  EXPECT_TRUE(Contains(lines[3], "\"damaged_regions\":1,\"damaged_bytes\":3000")) << lines[3];
  EXPECT_TRUE(Contains(lines[4], "e_\\ufffd\\ufffd.vyr")) << lines[4];
  EXPECT_TRUE(Contains(lines[4], "\"input_hex\":\"")) << lines[4];
  for (const std::string& l : lines) {
    for (const char* key : {"\"output\":", "\"reason\":", "\"audio_frames\":", "\"duration_s\":", "\"bytes\":",
                            "\"seconds\":"})
      EXPECT_TRUE(Contains(l, key)) << key << " in " << l;
  }

  // A stopped output under the final name, and a leftover work file: both converted again.
  const std::string stoppedSrc = Make(dir, "f_stopped.vyr", Spec(OmVideoType_MJPEG, 2000));
  {
    TChildProcess child({Vyrconvert, "-j", "1", "--json", "-o", out.Path(), stoppedSrc});
    for (int i = 0; i < 4000; ++i) {
      struct stat st {};
      if (::stat(out.File("f_stopped.mp4.part").c_str(), &st) == 0 && st.st_size > 50000) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child.Signal(SIGINT);
    TProcessResult r = child.Wait();
    EXPECT_EQ(r.ExitCode, 130);
    EXPECT_TRUE(Contains(r.Out, "\"status\":\"stopped\"")) << r.Out;
  }
  ASSERT_TRUE(FileExists(out.File("f_stopped.mp4")));
  WriteFileBytes(out.File("b_short.mp4.part"), "left by a killed run");
  ::unlink(out.File("b_short.mp4").c_str());

  std::vector<std::string> again = {Vyrconvert, "-j", "2", "--json", "--skip-existing", "-o", out.Path()};
  again.insert(again.end(), files.begin(), files.end());
  again.push_back(stoppedSrc);
  TProcessResult second = RunProcess(again);
  std::istringstream in2(second.Out);
  std::vector<std::string> l2;
  for (std::string line; std::getline(in2, line);) l2.push_back(line);
  ASSERT_EQ(l2.size(), 6u) << second.Out;
  EXPECT_TRUE(Contains(l2[0], "\"status\":\"skipped\"")) << l2[0];
  EXPECT_TRUE(Contains(l2[1], "\"status\":\"converted\"")) << l2[1];  // only its leftover was there
  EXPECT_TRUE(Contains(l2[2], "\"status\":\"failed\"")) << l2[2];
  EXPECT_TRUE(Contains(l2[3], "\"status\":\"skipped\"")) << l2[3];
  EXPECT_TRUE(Contains(l2[4], "\"status\":\"skipped\"")) << l2[4];
  EXPECT_TRUE(Contains(l2[5], "\"status\":\"converted\"")) << l2[5];  // it had been stopped
  EXPECT_TRUE(Contains(l2[5], "\"pictures\":2000")) << l2[5];
  EXPECT_FALSE(FileExists(out.File("b_short.mp4.part")));

  // Without --json: one summary line per file, in input order.
  TTempDir plain;
  std::vector<std::string> summary = {Vyrconvert, "-j", "2", "-o", plain.Path(), longOne, shortOne};
  TProcessResult s = RunProcess(summary);
  EXPECT_EQ(s.ExitCode, 0) << s.Err;
  EXPECT_LT(s.Out.find(longOne + " -> "), s.Out.find(shortOne + " -> ")) << s.Out;
}
