// The recording's clock in the MP4: pictures at their stamps (pauses, dropped pictures,
// fractional rates, clock steps, stamps unusable as a whole), audio on the same clock
// (pauses filled, a flash and a click together), the creation time, judged by ffprobe and
// ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrTimedRecording.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

struct TMade {
  std::string Path;
  TTimedRecording Timed;
};

TMade Make(const TTempDir& ADir, const std::string& AName, TRecordingSpec ASpec, const TTimingSpec& ATiming) {
  std::string error;
  if (ATiming.MarkerPicture >= 0) ASpec.FlashFrame = ATiming.MarkerPicture;
  TVideoPayloadSource source = EncodedPayloadSource(ASpec, error);
  EXPECT_TRUE(source) << error;
  TVyrRecordBuilder b;
  TMade m;
  m.Timed = GenerateTimedRecording(ASpec, ATiming, source, b);
  m.Path = ADir.File(AName);
  EXPECT_TRUE(b.SaveToFile(m.Path));
  return m;
}

TRecordingSpec Spec(uint32_t AFrames, int AVideoType = OmVideoType_H264) {
  TRecordingSpec s;
  s.VideoType = AVideoType;
  s.VideoMode = OmResolution_QCIF;
  s.AudioType = AUDIO_TYPE_G711A;
  s.Frames = AFrames;
  s.KeyInterval = 25;
  return s;
}

// The presentation times of the video samples, in order.
std::vector<double> VideoTimes(const std::string& AMp4) {
  std::vector<double> t;
  for (const std::string& time : ProbePackets(AMp4, "v:0", "pts_time")) t.push_back(std::atof(time.c_str()));
  std::sort(t.begin(), t.end());
  return t;
}

double StreamDuration(const std::string& AMp4, const char* AStream) {
  return std::atof(ProbeStream(AMp4, AStream, "duration")["duration"].c_str());
}

// What each picture's time must be, relative to the first: the stamps' steps, or one
// nominal frame for a step that is no usable interval.
std::vector<double> ExpectedTimes(const std::vector<int64_t>& AStamps, double ANominal) {
  std::vector<double> t;
  double at = 0;
  for (size_t i = 0; i < AStamps.size(); ++i) {
    if (i > 0) {
      const int64_t step = AStamps[i] - AStamps[i - 1];
      at += step > 0 && step < 3600 * 1000 ? step / 1000.0 : ANominal;
    }
    t.push_back(at);
  }
  return t;
}

void ExpectTimes(const std::vector<double>& AActual, const std::vector<double>& AExpected, double ATolerance) {
  ASSERT_EQ(AActual.size(), AExpected.size());
  for (size_t i = 0; i < AActual.size(); ++i) {
    EXPECT_NEAR(AActual[i] - AActual[0], AExpected[i], ATolerance) << "picture " << i;
    if (std::fabs(AActual[i] - AActual[0] - AExpected[i]) > ATolerance) break;  // one message is enough
  }
}

}  // namespace

// Pictures lie at their stamps, to the millisecond.
TEST(RecordingClock, PicturesAtTheirStamps) {
  struct TCase {
    const char* Name;
    TRecordingSpec Spec;
    TTimingSpec Timing;
  };
  std::vector<TCase> cases;
  {
    TCase c{"a pause of 5 s", Spec(150), {}};
    c.Timing.Pauses = {{50, 5000}};
    cases.push_back(c);
  }
  {
    TCase c{"every third picture dropped for 6 s", Spec(250), {}};
    c.Timing.DropFrom = 25;
    c.Timing.DropTo = 175;
    c.Timing.DropEvery = 3;
    cases.push_back(c);
  }
  {
    TCase c{"12.5 fps", Spec(100), {}};
    c.Spec.FrameRate = 12;  // what the camera claims; the stamps tell 80 ms
    c.Timing.FrameRateMilli = 12500;
    cases.push_back(c);
  }
  {
    TCase c{"30 fps: 33 and 34 ms", Spec(90), {}};
    c.Spec.FrameRate = 30;
    c.Timing.FrameRateMilli = 30000;
    cases.push_back(c);
  }
  {
    TCase c{"the clock set back 2 h, then forward 1 h", Spec(150), {}};
    c.Timing.ClockSteps = {{50, -2 * 3600 * 1000}, {100, 3600 * 1000}};
    cases.push_back(c);
  }
  {
    TCase c{"frame numbers all 0, 10 fps stamps", Spec(60), {}};
    c.Spec.FrameRate = 10;
    c.Timing.FrameRateMilli = 10000;
    c.Timing.ZeroFrameIds = true;
    cases.push_back(c);
  }
  {
    TCase c{"transcoded, with a pause", Spec(100, OmVideoType_MJPEG), {}};
    c.Timing.Pauses = {{40, 3000}};
    cases.push_back(c);
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    TMade m = Make(dir, "cam.vyr", c.Spec, c.Timing);
    TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), m.Path});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::string mp4 = dir.File("cam.mp4");
    // The nominal frame: the probe's rate.
    TProcessResult probe = RunProcess({Vyrconvert, "--probe", m.Path});
    const size_t fps = probe.Out.find(" fps=");
    ASSERT_NE(fps, std::string::npos);
    int rate = std::atoi(probe.Out.c_str() + fps + 5);
    const double nominal = 1.0 / (rate > 0 ? rate : 25);
    ExpectTimes(VideoTimes(mp4), ExpectedTimes(m.Timed.PictureStampsMs, nominal), 0.0015);
    // The audio keeps its place: the two tracks end together (within a frame of audio).
    const double video = StreamDuration(mp4, "v:0"), audio = StreamDuration(mp4, "a:0");
    if (c.Timing.ClockSteps.empty()) {
      EXPECT_NEAR(audio, video, 0.15) << "video " << video << " s, audio " << audio << " s";
    }
  }
}

// Stamps unusable as a whole (whole seconds only, with several pictures a second): the
// recording keeps the constant rate, as --timing rate gives it.
TEST(RecordingClock, SecondOnlyStampsFallBackToTheRate) {
  TTempDir dir;
  TTimingSpec timing;
  timing.SecondsOnly = true;
  TMade m = Make(dir, "cam.vyr", Spec(100), timing);
  ::mkdir(dir.File("stamps").c_str(), 0755);
  ::mkdir(dir.File("rate").c_str(), 0755);
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.File("stamps"), m.Path}).ExitCode, 0);
  ASSERT_EQ(RunProcess({Vyrconvert, "--timing", "rate", "-o", dir.File("rate"), m.Path}).ExitCode, 0);
  const std::vector<double> t = VideoTimes(dir.File("stamps/cam.mp4"));
  ASSERT_EQ(t.size(), 100u);
  for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i] - t[0], i * 0.04, 0.0005) << i;
  EXPECT_EQ(VideoTimes(dir.File("rate/cam.mp4")), t);
}

// --timing rate gives every picture one frame, whatever the stamps say.
TEST(RecordingClock, RateTimingIgnoresTheStamps) {
  TTempDir dir;
  TTimingSpec timing;
  timing.Pauses = {{20, 2000}};
  TMade m = Make(dir, "cam.vyr", Spec(60), timing);
  ASSERT_EQ(RunProcess({Vyrconvert, "--timing", "rate", "-o", dir.Path(), m.Path}).ExitCode, 0);
  const std::vector<double> t = VideoTimes(dir.File("cam.mp4"));
  ASSERT_EQ(t.size(), 60u);
  EXPECT_NEAR(t.back() - t.front(), 59 * 0.04, 0.001);
}

// Audio that pauses while the pictures go on is filled with silence: it stays in step.
TEST(RecordingClock, AudioPausesAreFilled) {
  TTempDir dir;
  TTimingSpec timing;
  timing.AudioPauseFromMs = 1000;
  timing.AudioPauseMs = 2000;
  TMade m = Make(dir, "cam.vyr", Spec(150), timing);
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.Path(), m.Path}).ExitCode, 0);
  const std::string mp4 = dir.File("cam.mp4");
  EXPECT_LT(m.Timed.AudioSamples, 150u * 320u - 15000u);  // the recording really lacks 2 s of audio
  EXPECT_NEAR(StreamDuration(mp4, "a:0"), StreamDuration(mp4, "v:0"), 0.15);
}

// A flash and a click at the same stamp, after a pause, stay together in the MP4.
TEST(RecordingClock, AFlashAndAClickStayTogether) {
  TTempDir dir;
  TRecordingSpec spec = Spec(120);
  spec.AudioType = AUDIO_TYPE_PCM;
  TTimingSpec timing;
  timing.Pauses = {{40, 3000}};
  timing.MarkerPicture = 70;
  TMade m = Make(dir, "cam.vyr", spec, timing);
  ASSERT_GE(m.Timed.MarkerStampMs, 0);
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.Path(), m.Path}).ExitCode, 0);
  const std::string mp4 = dir.File("cam.mp4");

  // The white picture's time.
  const TToolResult v = RunTool("ffmpeg", {"-v", "error", "-nostdin", "-i", mp4, "-map", "0:v:0", "-vf",
                                           "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f",
                                           "null", "-"});
  double flash = -1, pts = 0;
  std::istringstream vin(v.Out);
  for (std::string line; std::getline(vin, line);) {
    if (std::sscanf(line.c_str(), "frame:%*d pts:%*d pts_time:%lf", &pts) == 1) continue;
    double yavg = 0;
    if (std::sscanf(line.c_str(), "lavfi.signalstats.YAVG=%lf", &yavg) == 1 && yavg > 200 && flash < 0) flash = pts;
  }
  ASSERT_GE(flash, 0) << v.Out.substr(0, 400) << v.Err;

  // The click's onset: the first loud sample, on the presentation time line.
  const TToolResult a = RunTool("ffmpeg", {"-v", "error", "-nostdin", "-i", mp4, "-map", "0:a:0", "-af",
                                           "aresample=async=1:first_pts=0", "-f", "s16le", "-ac", "1", "-ar", "8000",
                                           "-"});
  double click = -1;
  for (size_t i = 0; i + 1 < a.Out.size(); i += 2) {
    const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(a.Out[i]) | (static_cast<uint8_t>(a.Out[i + 1]) << 8));
    if (std::abs(s) > 15000) {
      click = static_cast<double>(i / 2) / 8000.0;
      break;
    }
  }
  ASSERT_GE(click, 0);
  EXPECT_NEAR(flash, click, 0.020) << "flash at " << flash << " s, click at " << click << " s";
  // And both where the stamps put them: 40 pictures, 3 s of pause, 30 more pictures.
  EXPECT_NEAR(flash, (m.Timed.MarkerStampMs - m.Timed.PictureStampsMs.front()) / 1000.0, 0.0015);
}

// The creation time is the first picture's stamp.
TEST(RecordingClock, CreationTimeIsTheFirstStamp) {
  TTempDir dir;
  TRecordingSpec spec = Spec(25);
  spec.StartSecond = 1720000000;  // 2024-07-03 09:46:40
  TMade m = Make(dir, "cam.vyr", spec, TTimingSpec());
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.Path(), m.Path}).ExitCode, 0);
  TToolResult r = RunTool("ffprobe", {"-v", "error", "-show_entries", "format_tags=creation_time", "-of", "csv=p=0",
                                      dir.File("cam.mp4")});
  EXPECT_EQ(r.Out, "2024-07-03T09:46:40.000000Z\n");
  // A stamp outside 2000-2100 leaves the time of the conversion.
  spec.StartSecond = 100;
  TMade old = Make(dir, "old.vyr", spec, TTimingSpec());
  TScopedEnv fixed("SOURCE_DATE_EPOCH", "1700000000");
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.Path(), old.Path}).ExitCode, 0);
  r = RunTool("ffprobe", {"-v", "error", "-show_entries", "format_tags=creation_time", "-of", "csv=p=0",
                          dir.File("old.mp4")});
  EXPECT_EQ(r.Out, "2023-11-14T22:13:20.000000Z\n");
}
