#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "UVyrSampleGen.h"

namespace {
const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

std::string MakeRecording(const TTempDir& ADir, const std::string& AName, const TRecordingSpec& ASpec) {
  TVyrRecordBuilder b;
  GenerateRecording(ASpec, PatternPayloadSource(ASpec, 500), b);
  std::string path = ADir.File(AName);
  EXPECT_TRUE(b.SaveToFile(path));
  return path;
}
}  // namespace

TEST(VyrconvertProbe, PrintsOneLinePerFile) {
  TTempDir dir;
  TRecordingSpec a;
  a.VideoMode = OmResolution_1080P;
  a.AudioType = AUDIO_TYPE_G711A;
  a.FrameRate = 25;
  a.Frames = 250;
  TRecordingSpec b;
  b.VideoType = OmVideoType_MJPEG;
  b.VideoMode = OmResolution_720P;
  b.AudioType = AUDIO_TYPE_NONE;
  b.FrameRate = 12;
  b.Frames = 60;
  b.StartMillisecond = 500;
  std::string fa = MakeRecording(dir, "cam1.vyr", a);
  std::string fb = MakeRecording(dir, "cam2.vyr", b);
  TProcessResult r = RunProcess({Vyrconvert, "--probe", fa, fb});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  // start= is the first stamp as the recorder wrote it; span= the last one minus the first
  // (cam2: 59 steps of 1/12 s from 22:13:20.500).
  EXPECT_EQ(r.Out, fa + ": video=1 resolution=4 1920x1080 fps=25 frames=250 seconds=10 audio=1"
                        " start=2023-11-14T22:13:20 span=0:00:09.960\n" +
                       fb + ": video=2 resolution=3 1280x720 fps=12 frames=60 seconds=6 audio=255"
                            " start=2023-11-14T22:13:20 span=0:00:04.916\n");
  EXPECT_EQ(r.Err, "");
}

TEST(VyrconvertProbe, UnopenableFileGivesStatusOneAndTheOthersStillProbe) {
  TTempDir dir;
  std::string good = MakeRecording(dir, "ok.vyr", TRecordingSpec());
  TProcessResult r = RunProcess({Vyrconvert, "--probe", dir.File("missing.vyr"), good});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("missing.vyr: cannot open"), std::string::npos) << r.Err;
  EXPECT_NE(r.Out.find(good + ": video=1"), std::string::npos) << r.Out;
}

TEST(VyrconvertProbe, VerboseSwitchesTheDebugLogOn) {
  TTempDir dir;
  std::string f = MakeRecording(dir, "v.vyr", TRecordingSpec());
  TProcessResult quiet = RunProcess({Vyrconvert, "--probe", f});
  EXPECT_EQ(quiet.Err, "");
  TProcessResult loud = RunProcess({Vyrconvert, "-v", "--probe", f});
  EXPECT_EQ(loud.ExitCode, 0);
  EXPECT_NE(loud.Err.find("Get Video Info: Resolution[1], Width[352], Height[288]"), std::string::npos)
      << loud.Err;
}

TEST(VyrconvertProbe, BadUsageExitsTwoWithUsage) {
  for (std::vector<std::string> args : {std::vector<std::string>{Vyrconvert},
                                        {Vyrconvert, "--bogus", "a.vyr"},
                                        {Vyrconvert, "-f", "avi", "a.vyr"},
                                        {Vyrconvert, "-o"}}) {
    TProcessResult r = RunProcess(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("usage: vyrconvert"), std::string::npos) << r.Err;
  }
}

TEST(VyrconvertProbe, BundledSamplesProbe) {
  TProcessResult r = RunProcess({Vyrconvert, "--probe", std::string(VYR_SAMPLES_DIR) + "/cam1_h264_alaw.vyr"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Out.find("video=1 resolution=1 352x288 fps=25 frames=250 seconds=10 audio=1"),
            std::string::npos)
      << r.Out;
}

TEST(VyrconvertProbe, VersionAndHelp) {
  TProcessResult v = RunProcess({Vyrconvert, "--version"});
  EXPECT_EQ(v.ExitCode, 0);
  EXPECT_EQ(v.Out.rfind("vyrconvert ", 0), 0u) << v.Out;
  int major = -1, minor = -1, patch = -1;
  EXPECT_EQ(std::sscanf(v.Out.c_str(), "vyrconvert %d.%d.%d\n", &major, &minor, &patch), 3) << v.Out;
  TProcessResult h = RunProcess({Vyrconvert, "--help"});
  EXPECT_EQ(h.ExitCode, 0);
  EXPECT_NE(h.Out.find("--version"), std::string::npos);
  EXPECT_NE(h.Out.find("--timing stamps|rate"), std::string::npos);
  TProcessResult bad = RunProcess({Vyrconvert, "--timing", "sometimes", "x.vyr"});
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_NE(bad.Err.find("unknown timing 'sometimes'"), std::string::npos) << bad.Err;
}
