// A converter killed with SIGKILL in the middle of a file leaves no damaged file under the
// output's final name: only the temporary ".part" file, which no player takes for finished.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "TestSupport.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"

namespace {
const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

std::string LongRecording(const TTempDir& ADir, int AVideoType, uint32_t AFrames = 2000,
                          uint8_t AMode = OmResolution_D1) {  // D1, 80 s
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.VideoMode = AMode;
  spec.AudioType = AUDIO_TYPE_G711A;
  spec.FrameRate = 25;
  spec.Frames = AFrames;
  spec.KeyInterval = 50;
  std::string error;
  std::string path = ADir.File("cam.vyr");
  EXPECT_TRUE(SaveEncodedRecording(spec, path, error)) << error;
  return path;
}
}  // namespace

TEST(KillSafety, KilledMidFileLeavesOnlyAPartFile) {
  struct Case {
    const char* Format;
    const char* Output;
  } const cases[] = {{"mp4", "cam.mp4"}, {"raw", "cam.MJPG"}};
  TTempDir recordings;
  const std::string src = LongRecording(recordings, OmVideoType_MJPEG);
  for (const Case& c : cases) {
    TTempDir dir;
    ::mkdir(dir.File("out").c_str(), 0755);
    TChildProcess child({Vyrconvert, "-f", c.Format, "-o", dir.File("out"), src});
    const std::string part = dir.File(std::string("out/") + c.Output + ".part");
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
      seen = FileExists(part) && ReadFileBytes(part).size() > 1000;
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    child.Signal(SIGKILL);
    TProcessResult r = child.Wait();
    const std::string final = dir.File(std::string("out/") + c.Output);
    if (r.ExitCode == 128 + SIGKILL && FileExists(final)) {
      // The raw export may finish and rename its file before the signal arrives while the
      // process is still on its way out (slowly so under a sanitizer's exit checks): then
      // the file under the final name must be whole.
      EXPECT_STREQ(c.Format, "raw");
      EXPECT_FALSE(FileExists(part));
      TTempDir whole;
      TProcessResult full = RunProcess({Vyrconvert, "-f", c.Format, "-o", whole.Path(), src});
      EXPECT_EQ(full.ExitCode, 0) << full.Err;
      EXPECT_EQ(ReadFileBytes(final), ReadFileBytes(whole.File(c.Output)));
    } else if (r.ExitCode == 128 + SIGKILL) {
      // Killed in the middle: nothing under the final name, the partial file as ".part".
      EXPECT_FALSE(FileExists(final)) << c.Format;
      EXPECT_TRUE(FileExists(part)) << c.Format;
      // The next run takes the unlocked ".part" for the leftover it is: it removes it and
      // writes the output whole (a short recording of the same name, to be quick).
      TTempDir again;
      const std::string shortSrc = LongRecording(again, OmVideoType_MJPEG, 20, OmResolution_QCIF);
      TProcessResult next = RunProcess({Vyrconvert, "-f", c.Format, "-o", dir.File("out"), shortSrc});
      EXPECT_EQ(next.ExitCode, 0) << next.Err;
      EXPECT_TRUE(FileExists(final)) << c.Format;
      EXPECT_FALSE(FileExists(part)) << c.Format;
    } else {
      // The raw export only copies and may end before the signal arrives: then the file is
      // whole under its final name. The MP4 conversion transcodes 80 s and is always caught.
      EXPECT_STREQ(c.Format, "raw");
      EXPECT_EQ(r.ExitCode, 0);
      EXPECT_TRUE(FileExists(final));
      EXPECT_FALSE(FileExists(part));
    }
    if (std::string(c.Format) == "mp4") {
      EXPECT_TRUE(seen);
    }
  }
}
