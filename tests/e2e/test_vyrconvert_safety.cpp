// The real vyrconvert in folders prepared against its user: planted links, special files,
// locked and leftover work files, clashing and overlong names, full disks, file-size
// limits, inputs that are not recordings or shrink while they are read, hostile names.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

// A short H.264 recording with audio (real pictures, so the MP4 decodes), made once.
const std::vector<uint8_t>& SmallRecordingBytes() {
  static std::vector<uint8_t> bytes = [] {
    TRecordingSpec spec;
    spec.VideoType = OmVideoType_H264;
    spec.VideoMode = OmResolution_QCIF;
    spec.Frames = 25;
    spec.KeyInterval = 10;
    std::string error;
    TVideoPayloadSource source = EncodedPayloadSource(spec, error);
    EXPECT_TRUE(source) << error;
    TVyrRecordBuilder b;
    GenerateRecording(spec, source, b);
    return b.Bytes();
  }();
  return bytes;
}

std::string SmallRecording(const std::string& APath) {
  const std::vector<uint8_t>& b = SmallRecordingBytes();
  EXPECT_TRUE(WriteFileBytes(APath, std::string(b.begin(), b.end())));
  return APath;
}

// A Motion JPEG recording at D1 that takes seconds to transcode: 25 pictures, encoded once,
// repeated (every Motion JPEG picture stands alone).
std::string SlowRecording(const std::string& APath, uint32_t AFrames) {
  TRecordingSpec spec;
  spec.VideoType = OmVideoType_MJPEG;
  spec.VideoMode = OmResolution_D1;
  spec.AudioType = AUDIO_TYPE_G711A;
  spec.Frames = AFrames;
  static const std::vector<std::vector<uint8_t>> pictures = [spec]() mutable {
    spec.Frames = 25;
    std::string error;
    TVideoPayloadSource encoder = EncodedPayloadSource(spec, error);
    EXPECT_TRUE(encoder) << error;
    std::vector<std::vector<uint8_t>> all;
    for (uint32_t i = 0; encoder && i < spec.Frames; ++i) {
      bool key = false;
      all.push_back(encoder(i, key));
    }
    return all;
  }();
  TVideoPayloadSource source = [](uint32_t AIndex, bool& AKey) {
    AKey = true;
    return pictures.empty() ? std::vector<uint8_t>() : pictures[AIndex % pictures.size()];
  };
  TVyrRecordBuilder b;
  GenerateRecording(spec, source, b);
  EXPECT_TRUE(b.SaveToFile(APath));
  return APath;
}

bool Contains(const std::string& AText, const std::string& APart) { return AText.find(APart) != std::string::npos; }

bool IsRegular(const std::string& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Waits until AFile exists and holds more than ABytes; false after ATimeoutMs.
bool WaitForGrowth(const std::string& AFile, size_t ABytes, int ATimeoutMs) {
  for (int waited = 0; waited < ATimeoutMs; waited += 5) {
    struct stat st {};
    if (::stat(AFile.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) > ABytes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace

// Whatever was planted under the work name or the final name, vyrconvert never writes
// through it, in either output format.
TEST(VyrconvertSafety, PlantedNamesInTheOutputFolder) {
  enum TPlant { LinkToInputAtWork, LinkToVictimAtFinal, LinkToDeviceAtFinal, LeftoverAtWork, FifoAtFinal,
                FolderAtFinal, LockedWork };
  const struct {
    const char* Name;
    TPlant Plant;
    bool Converts;
    const char* Error;
  } cases[] = {
      {"link to the input at the work name", LinkToInputAtWork, true, ""},
      {"link to another file at the final name", LinkToVictimAtFinal, true, ""},
      {"link to a device at the final name", LinkToDeviceAtFinal, true, ""},
      {"leftover of a killed run", LeftoverAtWork, true, ""},
      {"FIFO at the final name", FifoAtFinal, false, "is not a regular file"},
      {"folder at the final name", FolderAtFinal, false, "is not a regular file"},
      {"work file locked by another converter", LockedWork, false, "another converter is writing"},
  };
  for (const char* format : {"mp4", "raw"}) {
    const std::string ext = std::string(format) == "mp4" ? ".mp4" : ".H264";
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(format) + ": " + c.Name);
      TTempDir dir;
      const std::string input = SmallRecording(dir.File("cam.vyr"));
      const std::string inputBytes = ReadFileBytes(input);
      const std::string victim = dir.File("victim.txt");
      WriteFileBytes(victim, "precious");
      ::mkdir(dir.File("out").c_str(), 0755);
      const std::string final = dir.File("out/cam" + ext);
      const std::string work = final + ".part";
      int lockFd = -1;
      switch (c.Plant) {
        case LinkToInputAtWork: ASSERT_EQ(::symlink(input.c_str(), work.c_str()), 0); break;
        case LinkToVictimAtFinal: ASSERT_EQ(::symlink(victim.c_str(), final.c_str()), 0); break;
        case LinkToDeviceAtFinal: ASSERT_EQ(::symlink("/dev/null", final.c_str()), 0); break;
        case LeftoverAtWork: WriteFileBytes(work, "half a file"); break;
        case FifoAtFinal: ASSERT_EQ(::mkfifo(final.c_str(), 0600), 0); break;
        case FolderAtFinal: ASSERT_EQ(::mkdir(final.c_str(), 0755), 0); break;
        case LockedWork:
          WriteFileBytes(work, "being written");
          lockFd = ::open(work.c_str(), O_RDONLY);
          ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
          break;
      }
      TChildProcess child({Vyrconvert, "-f", format, "-o", dir.File("out"), input});
      TProcessResult r;
      ASSERT_TRUE(child.TryWait(60000, r)) << "vyrconvert hangs";
      if (lockFd >= 0) ::close(lockFd);
      EXPECT_EQ(ReadFileBytes(input), inputBytes);
      EXPECT_EQ(ReadFileBytes(victim), "precious");
      if (c.Converts) {
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_TRUE(IsRegular(final));
        EXPECT_FALSE(FileExists(work));
        TMediaInfo info = ProbeMedia(final);
        ASSERT_TRUE(info.Video()) << info.Errors;
        EXPECT_EQ(info.Video()->Frames, 25);
      } else {
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_TRUE(Contains(r.Err, "cam.vyr: cannot create the output file " + final)) << r.Err;
        EXPECT_TRUE(Contains(r.Err, c.Error)) << r.Err;
        if (c.Plant == LockedWork) {
          EXPECT_EQ(ReadFileBytes(work), "being written");
        }
      }
    }
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Inputs that are not regular files fail at once, in every mode.
TEST(VyrconvertSafety, SpecialFilesAsInputFailAtOnce) {
  TTempDir dir;
  const std::string fifo = dir.File("pipe.vyr");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A socket in the file system: it cannot be opened at all.
  const std::string socketFile = dir.File("sock.vyr");
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketFile.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketFile.c_str(), socketFile.size() + 1);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(s);
  for (const std::string& input : {fifo, socketFile, std::string("/dev/zero"), dir.Path()}) {
    for (const std::vector<std::string>& mode :
         {std::vector<std::string>{"--probe"}, {"-f", "mp4"}, {"-f", "raw"}}) {
      SCOPED_TRACE(input + " " + mode[0]);
      std::vector<std::string> args = {Vyrconvert, "-o", dir.Path()};
      args.insert(args.end(), mode.begin(), mode.end());
      args.push_back(input);
      TChildProcess child(args);
      TProcessResult r;
      ASSERT_TRUE(child.TryWait(10000, r)) << "vyrconvert waits on " << input;
      EXPECT_EQ(r.ExitCode, 1);
      EXPECT_TRUE(Contains(r.Err, "cannot open the recording")) << r.Err;
      EXPECT_TRUE(Contains(r.Err, "not a regular file") || Contains(r.Err, "folder")) << r.Err;
    }
  }
  EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"pipe.vyr", "sock.vyr"}));
}

// An output is never its own input, whether the name leads to it directly or through a
// link; a failed run leaves the input as it was.
TEST(VyrconvertSafety, TheOutputIsNeverTheInput) {
  TTempDir dir;
  // A recording that happens to carry the output's name, in the output folder.
  const std::string clip = SmallRecording(dir.File("clip.mp4"));
  const std::string clipBytes = ReadFileBytes(clip);
  TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), clip});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_TRUE(Contains(r.Err, "is the recording itself")) << r.Err;
  EXPECT_EQ(ReadFileBytes(clip), clipBytes);

  // An MP4 made earlier, passed back in as input: not a recording, and left whole.
  TTempDir out;
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", out.Path(), SmallRecording(dir.File("cam.vyr"))}).ExitCode, 0);
  const std::string mp4 = out.File("cam.mp4");
  ASSERT_EQ(::rename(mp4.c_str(), out.File("again.vyr").c_str()), 0);
  ASSERT_EQ(::symlink(out.File("again.vyr").c_str(), out.File("again.mp4").c_str()), 0);
  const std::string before = ReadFileBytes(out.File("again.vyr"));
  r = RunProcess({Vyrconvert, "-o", out.Path(), out.File("again.vyr")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(ReadFileBytes(out.File("again.vyr")), before);
}

// Outputs that would have the same name are refused before anything is written; names are
// compared as outputs, without case.
TEST(VyrconvertSafety, ClashingOutputNamesAreRefusedFirst) {
  TTempDir dir, out;
  const std::string first = SmallRecording(dir.File("cam.vyr"));
  // The second recording is the first half of the first: its MP4 would have fewer pictures.
  const std::string second = dir.File("CAM.bak");
  const std::string firstBytes = ReadFileBytes(first);
  WriteFileBytes(second, firstBytes.substr(0, firstBytes.size() / 2));
  const std::string third = SmallRecording(dir.File("other.vyr"));
  TProcessResult r = RunProcess({Vyrconvert, "-o", out.Path(), first, second, third});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_TRUE(Contains(r.Err, second + ": refused, its output " + out.Path() + "/CAM.mp4 has the same name as that of " +
                                  first))
      << r.Err;
  EXPECT_TRUE(Contains(r.Out, first + " -> ")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, third + " -> ")) << r.Out;
  EXPECT_FALSE(Contains(r.Out, second + " -> ")) << r.Out;
  EXPECT_EQ(ListFolder(out.Path()), (std::vector<std::string>{"cam.mp4", "other.mp4"}));
  TMediaInfo info = ProbeMedia(out.File("cam.mp4"));
  ASSERT_TRUE(info.Video()) << info.Errors;
  EXPECT_EQ(info.Video()->Frames, 25);
}

// Names up to the file system's limit convert; their work files take the fixed short name.
TEST(VyrconvertSafety, NamesOf255BytesConvert) {
  TTempDir dir;
  ::mkdir(dir.File("out").c_str(), 0755);
  for (size_t length : {251u, 254u, 255u}) {
    // Ends in a three-byte character before the extension.
    const std::string name = std::string(length - 7, 'n') + "\xE5\xBD\x95" + ".vyr";
    ASSERT_EQ(name.size(), length);
    const std::string input = SmallRecording(dir.File(name));
    for (const char* format : {"mp4", "raw"}) {
      SCOPED_TRACE(std::to_string(length) + " " + format);
      TProcessResult r = RunProcess({Vyrconvert, "-f", format, "-o", dir.File("out"), input});
      const std::string output = name.substr(0, name.size() - 4) + (std::string(format) == "mp4" ? ".mp4" : ".H264");
      if (output.size() > 255) {
        // ".H264" is one byte longer than ".vyr": no file system takes that name.
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_TRUE(Contains(r.Err, "is too long")) << r.Err;
        continue;
      }
      EXPECT_EQ(r.ExitCode, 0) << r.Err;
      EXPECT_TRUE(IsRegular(dir.File("out/" + output)));
    }
  }
  EXPECT_EQ(ListFolder(dir.File("out")).size(), 5u);  // no work file left over
}

// A full disk or a file-size limit fails the file with a clear message and leaves nothing
// behind; the next file converts in the space that was freed.
TEST(VyrconvertSafety, AFullDiskAndAFileSizeLimitFailCleanly) {
  TTempDir dir;
  const std::string big = SlowRecording(dir.File("big.vyr"), 100);
  const std::string small = SmallRecording(dir.File("small.vyr"));

  TProcessLimits limits;
  limits.FileSizeBytes = 64 * 1024;
  ::mkdir(dir.File("limited").c_str(), 0755);
  for (const char* format : {"mp4", "raw"}) {
    SCOPED_TRACE(format);
    TProcessResult r = RunProcess({Vyrconvert, "-f", format, "-o", dir.File("limited"), big}, limits);
    EXPECT_EQ(r.ExitCode, 1) << "a file-size limit must not kill the converter";
    EXPECT_TRUE(Contains(r.Err, "big.vyr: writing")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "File too large")) << r.Err;
    EXPECT_EQ(ListFolder(dir.File("limited")), std::vector<std::string>{});
  }

  TSmallTmpfs disk(1024 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  const unsigned long long freeBefore = disk.FreeBytes();
  // One file after the other: side by side, the small one would meet the disk still full.
  TProcessResult r = RunProcess({Vyrconvert, "-j", "1", "-f", "raw", "-o", disk.Path(), big, small});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_TRUE(Contains(r.Err, "big.vyr: writing " + disk.Path() + "/big.MJPG failed")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "No space left")) << r.Err;
  EXPECT_TRUE(Contains(r.Out, small + " -> ")) << r.Out;
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{"small.H264"});
  ::unlink(disk.File("small.H264").c_str());
  EXPECT_EQ(disk.FreeBytes(), freeBefore);
}

// An MP4 conversion with nothing to write leaves no file; a raw export of a recording
// without video leaves its empty file. Both count as failed.
TEST(VyrconvertSafety, NothingToWrite) {
  TTempDir dir, out;
  TVyrRecordBuilder b;
  b.AddOther(771, 8, PatternBytes(8, 1));
  ASSERT_TRUE(b.SaveToFile(dir.File("empty.vyr")));
  TProcessResult mp4 = RunProcess({Vyrconvert, "-o", out.Path(), dir.File("empty.vyr")});
  EXPECT_EQ(mp4.ExitCode, 1);
  EXPECT_TRUE(Contains(mp4.Err, "empty.vyr: holds nothing to convert")) << mp4.Err;
  EXPECT_EQ(ListFolder(out.Path()), std::vector<std::string>{});
  TProcessResult raw = RunProcess({Vyrconvert, "-f", "raw", "-o", out.Path(), dir.File("empty.vyr")});
  EXPECT_EQ(raw.ExitCode, 1);
  EXPECT_EQ(ListFolder(out.Path()), std::vector<std::string>{"empty"});
}

// A stop keeps a playable MP4; it replaces an earlier file of its name only when there was
// none, else it stays under the work name beside the untouched earlier file. SIGTERM stops
// like Ctrl-C.
TEST(VyrconvertSafety, StopsKeepEarlierFilesAndAnswerSigterm) {
  TTempDir dir;
  const std::string src = SlowRecording(dir.File("long.vyr"), 1500);
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TTempDir out;
    WriteFileBytes(out.File("long.mp4"), "an earlier, complete conversion");
    TChildProcess child({Vyrconvert, "-o", out.Path(), src});
    ASSERT_TRUE(WaitForGrowth(out.File("long.mp4.part"), 50000, 60000));
    child.Signal(signal);
    TProcessResult r;
    ASSERT_TRUE(child.TryWait(2000, r)) << "no end within 2 s of the signal";
    EXPECT_EQ(r.ExitCode, 130) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "-> " + out.File("long.mp4.part") + ": stopped")) << r.Out;
    EXPECT_EQ(ReadFileBytes(out.File("long.mp4")), "an earlier, complete conversion");
    TMediaInfo info = ProbeMedia(out.File("long.mp4.part"));
    ASSERT_TRUE(info.Video()) << info.Errors;
    EXPECT_GT(info.Video()->Frames, 0);
    EXPECT_EQ(DecodeErrors(out.File("long.mp4.part")), "");
  }
}

// A recording that shrinks while it is converted ends with a warning, not as a plain success.
TEST(VyrconvertSafety, ARecordingThatShrinksEndsWithAWarning) {
  TTempDir dir, out;
  const std::string src = SlowRecording(dir.File("shrink.vyr"), 600);
  struct stat st {};
  ASSERT_EQ(::stat(src.c_str(), &st), 0);
  TChildProcess child({Vyrconvert, "-o", out.Path(), src});
  ASSERT_TRUE(WaitForGrowth(out.File("shrink.mp4.part"), 20000, 60000));
  ASSERT_EQ(::truncate(src.c_str(), st.st_size / 3), 0);
  TProcessResult r = child.Wait();
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "shrink.vyr: warning: the recording ended early")) << r.Err;
  TMediaInfo info = ProbeMedia(out.File("shrink.mp4"));
  ASSERT_TRUE(info.Video()) << info.Errors;
  EXPECT_LT(info.Video()->Frames, 1500);
}

// Control characters in names reach the terminal escaped: a name cannot forge a line or
// drive the terminal.
TEST(VyrconvertSafety, ControlCharactersInNamesAreEscaped) {
  TTempDir dir, out;
  const std::string name = std::string("evil\x1b[31m\nfake.vyr: converted\r\xC2\x9B\x9B") + ".vyr";
  const std::string input = SmallRecording(dir.File(name));
  TProcessResult r = RunProcess({Vyrconvert, "-o", out.Path(), input});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  for (const std::string* text : {&r.Out, &r.Err}) {
    EXPECT_EQ(text->find('\x1b'), std::string::npos) << *text;
    EXPECT_EQ(text->find('\r'), std::string::npos) << *text;
  }
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "evil\\e[31m\\nfake.vyr: converted\\r\\u009b\\x9b.vyr -> ")) << r.Out;
  // The file itself keeps its name, bytes for bytes.
  EXPECT_TRUE(IsRegular(out.File(name.substr(0, name.size() - 4) + ".mp4")));
}
