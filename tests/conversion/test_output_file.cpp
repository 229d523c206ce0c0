// Output files: written under a work name created exclusively, locked while written,
// never through a link, never onto a special file or the input, synced and renamed at a
// normal end, removed after a failure, kept aside after a stop when they would replace an
// earlier file.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "conversion/UOutputFile.h"
#include "conversion/UOutputNames.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return s;
}

bool IsLink(const std::string& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsRegular(const std::string& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Writes ABytes through a new writer of AName and closes it as AMode says.
bool WriteThrough(const std::string& AName, const std::string& ABytes,
                  TOutputCloseMode AMode = TOutputCloseMode::Finish, std::string* AError = nullptr) {
  auto out = TFileWriter::Create(AName, TFileIdentity(), AError);
  if (!out) return false;
  out->Write(ABytes.data(), ABytes.size());
  return out->Close(AMode);
}

}  // namespace

TEST(FileWriter, WritesPatchesAndCopies) {
  TTempDir dir;
  const std::string data = Pattern(700000);
  WriteFileBytes(dir.File("src.bin"), data);
  auto src = TFileStream::OpenRead(dir.File("src.bin"));
  auto out = TFileWriter::Create(dir.File("out.bin"));
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->Write("HEAD", 4));
  src->Seek(100, TSeekOrigin::Begin);
  uint64_t copied = 0;
  EXPECT_TRUE(out->CopyFrom(*src, 600000, &copied));
  EXPECT_EQ(copied, 600000u);
  EXPECT_TRUE(out->WriteAt(0, "head", 4));
  // Asking for more than the source holds copies what is there and reports it.
  EXPECT_FALSE(out->CopyFrom(*src, 1ull << 40, &copied));
  EXPECT_EQ(copied, data.size() - 600100);
  EXPECT_EQ(out->Position(), static_cast<int64_t>(4 + data.size() - 100));
  EXPECT_FALSE(out->Failed());
  EXPECT_TRUE(out->Close());
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadFileBytes(dir.File("out.bin")), "head" + data.substr(100));
  EXPECT_EQ(out->KeptFileName(), dir.File("out.bin"));
}

TEST(FileWriter, WritesUnderAWorkNameUntilClosed) {
  TTempDir dir;
  WriteFileBytes(dir.File("o.mp4"), "old");
  auto out = TFileWriter::Create(dir.File("o.mp4"));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->WorkFileName(), dir.File("o.mp4.part"));
  EXPECT_TRUE(out->FinalExisted());
  out->Write("new", 3);
  // A process killed now leaves the old file and a .part file, nothing that looks finished.
  EXPECT_EQ(ReadFileBytes(dir.File("o.mp4")), "old");
  EXPECT_TRUE(FileExists(dir.File("o.mp4.part")));
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadFileBytes(dir.File("o.mp4")), "new");
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"o.mp4"});
}

TEST(FileWriter, SkipLeavesAHoleThatReadsAsZeros) {
  TTempDir dir;
  auto out = TFileWriter::Create(dir.File("hole.bin"));
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->Write("ab", 2));
  EXPECT_TRUE(out->Skip(300000));
  EXPECT_TRUE(out->Write("cd", 2));
  EXPECT_EQ(out->Position(), 300004);
  EXPECT_TRUE(out->WriteAt(1, "B", 1));
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadFileBytes(dir.File("hole.bin")), "aB" + std::string(300000, '\0') + "cd");
}

// What ends up where for each way of finishing, with and without an earlier file of the
// final name.
TEST(FileWriter, CloseModes) {
  const struct {
    const char* Name;
    TOutputCloseMode Mode;
    bool Earlier;         // a file of the final name exists before
    bool Result;          // Close()
    const char* Final;    // content under the final name afterwards (nullptr: none)
    const char* Work;     // content under the work name afterwards (nullptr: none)
    bool KeptUnderWork;   // KeptFileName() is the work name (else the final one, or empty)
  } cases[] = {
      {"finish", TOutputCloseMode::Finish, false, true, "new", nullptr, false},
      {"finish over an earlier file", TOutputCloseMode::Finish, true, true, "new", nullptr, false},
      {"stopped, name was free", TOutputCloseMode::Stopped, false, true, "new", nullptr, false},
      {"stopped, name was taken", TOutputCloseMode::Stopped, true, true, "old", "new", true},
      {"discard", TOutputCloseMode::Discard, false, false, nullptr, nullptr, false},
      {"discard keeps the earlier file", TOutputCloseMode::Discard, true, false, "old", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string final = dir.File("cam.mp4");
    if (c.Earlier) WriteFileBytes(final, "old");
    auto out = TFileWriter::Create(final);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->FinalExisted(), c.Earlier);
    out->Write("new", 3);
    EXPECT_EQ(out->Close(c.Mode), c.Result);
    EXPECT_EQ(FileExists(final), c.Final != nullptr);
    if (c.Final) {
      EXPECT_EQ(ReadFileBytes(final), c.Final);
    }
    EXPECT_EQ(FileExists(final + ".part"), c.Work != nullptr);
    if (c.Work) {
      EXPECT_EQ(ReadFileBytes(final + ".part"), c.Work);
    }
    const std::string kept = c.KeptUnderWork ? final + ".part" : c.Result ? final : "";
    EXPECT_EQ(out->KeptFileName(), kept);
  }
}

TEST(FileWriter, AWriterNobodyClosedLeavesNothing) {
  TTempDir dir;
  {
    auto out = TFileWriter::Create(dir.File("o.mp4"));
    ASSERT_TRUE(out);
    out->Write("half", 4);
  }
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{});
}

// Whatever was planted under the work name or the final name, the output never writes
// through it: links are replaced, special files refuse the output, leftovers are removed.
TEST(FileWriter, PlantedNamesAreNeverWrittenThrough) {
  enum TPlant { LinkAtWork, DanglingLinkAtWork, LinkAtFinal, LinkToDeviceAtFinal, LeftoverAtWork, FifoAtWork,
                FifoAtFinal, FolderAtFinal, FolderAtWork };
  const struct {
    const char* Name;
    TPlant Plant;
    bool Created;       // the output can be made
    const char* Error;  // part of the reason when it cannot
  } cases[] = {
      {"link at the work name", LinkAtWork, true, ""},
      {"dangling link at the work name", DanglingLinkAtWork, true, ""},
      {"link at the final name", LinkAtFinal, true, ""},
      {"link to a device at the final name", LinkToDeviceAtFinal, true, ""},
      {"leftover work file", LeftoverAtWork, true, ""},
      {"FIFO at the work name", FifoAtWork, false, "is not a regular file"},
      {"FIFO at the final name", FifoAtFinal, false, "is not a regular file"},
      {"folder at the final name", FolderAtFinal, false, "is not a regular file"},
      {"folder at the work name", FolderAtWork, false, "is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string final = dir.File("cam.mp4");
    const std::string work = final + ".part";
    const std::string victim = dir.File("victim.vyr");
    WriteFileBytes(victim, "precious");
    switch (c.Plant) {
      case LinkAtWork: ASSERT_EQ(::symlink(victim.c_str(), work.c_str()), 0); break;
      case DanglingLinkAtWork: ASSERT_EQ(::symlink(dir.File("nowhere").c_str(), work.c_str()), 0); break;
      case LinkAtFinal: ASSERT_EQ(::symlink(victim.c_str(), final.c_str()), 0); break;
      case LinkToDeviceAtFinal: ASSERT_EQ(::symlink("/dev/null", final.c_str()), 0); break;
      case LeftoverAtWork: WriteFileBytes(work, "leftover of a killed run"); break;
      case FifoAtWork: ASSERT_EQ(::mkfifo(work.c_str(), 0600), 0); break;
      case FifoAtFinal: ASSERT_EQ(::mkfifo(final.c_str(), 0600), 0); break;
      case FolderAtFinal: ASSERT_EQ(::mkdir(final.c_str(), 0700), 0); break;
      case FolderAtWork: ASSERT_EQ(::mkdir(work.c_str(), 0700), 0); break;
    }
    std::string error;
    const bool done = WriteThrough(final, "the new output", TOutputCloseMode::Finish, &error);
    EXPECT_EQ(done, c.Created) << error;
    EXPECT_EQ(ReadFileBytes(victim), "precious");
    if (c.Created) {
      EXPECT_TRUE(IsRegular(final));
      EXPECT_EQ(ReadFileBytes(final), "the new output");
      EXPECT_FALSE(FileExists(work) || IsLink(work));
    } else {
      EXPECT_NE(error.find(c.Error), std::string::npos) << error;
      // The planted thing is left as it was, and no work file of ours stays behind.
      if (c.Plant == FifoAtFinal || c.Plant == FolderAtFinal) {
        EXPECT_FALSE(FileExists(work));
      }
    }
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FileWriter, ADeviceIsNoOutput) {
  std::string error;
  EXPECT_FALSE(TFileWriter::Create("/dev/null", TFileIdentity(), &error));
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(FileExists("/dev/null.part"));
  EXPECT_FALSE(TFileWriter::Create(""));
  EXPECT_FALSE(TFileWriter::Create("/nonexistent-folder/x.mp4", TFileIdentity(), &error));
  EXPECT_NE(error.find("cannot open the folder /nonexistent-folder"), std::string::npos) << error;
}

TEST(FileWriter, TheOutputIsNeverTheInput) {
  TTempDir dir;
  WriteFileBytes(dir.File("clip.mp4"), "the recording");
  ASSERT_EQ(::symlink(dir.File("clip.mp4").c_str(), dir.File("link.mp4").c_str()), 0);
  ASSERT_EQ(::link(dir.File("clip.mp4").c_str(), dir.File("hard.mp4").c_str()), 0);
  auto input = TFileStream::OpenRead(dir.File("clip.mp4"));
  ASSERT_TRUE(input);
  for (const char* name : {"clip.mp4", "link.mp4", "hard.mp4"}) {
    SCOPED_TRACE(name);
    std::string error;
    EXPECT_FALSE(TFileWriter::Create(dir.File(name), input->Identity(), &error));
    EXPECT_NE(error.find("is the recording itself"), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("clip.mp4")), "the recording");
  EXPECT_FALSE(FileExists(dir.File("clip.mp4.part")));

  // A name that became the input while the output was written is not replaced either.
  auto out = TFileWriter::Create(dir.File("later.mp4"), input->Identity());
  ASSERT_TRUE(out);
  ASSERT_EQ(::link(dir.File("clip.mp4").c_str(), dir.File("later.mp4").c_str()), 0);
  out->Write("x", 1);
  EXPECT_FALSE(out->Close());
  EXPECT_NE(out->CloseError().find("is the recording itself"), std::string::npos) << out->CloseError();
  EXPECT_EQ(ReadFileBytes(dir.File("clip.mp4")), "the recording");
  EXPECT_FALSE(FileExists(dir.File("later.mp4.part")));
}

TEST(FileWriter, ALockedWorkFileBelongsToAnotherConverter) {
  TTempDir dir;
  const std::string final = dir.File("cam.mp4");
  auto first = TFileWriter::Create(final);
  ASSERT_TRUE(first);
  first->Write("first", 5);
  std::string error;
  EXPECT_FALSE(TFileWriter::Create(final, TFileIdentity(), &error));
  EXPECT_NE(error.find("another converter is writing " + final + ".part"), std::string::npos) << error;
  EXPECT_TRUE(first->Close());
  EXPECT_EQ(ReadFileBytes(final), "first");

  // A lock taken by another program on the work file is respected the same way.
  WriteFileBytes(final + ".part", "someone else's");
  int fd = ::open((final + ".part").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(TFileWriter::Create(final, TFileIdentity(), &error));
  EXPECT_EQ(ReadFileBytes(final + ".part"), "someone else's");
  ::close(fd);
  // Unlocked, it is a leftover.
  EXPECT_TRUE(WriteThrough(final, "second"));
  EXPECT_EQ(ReadFileBytes(final), "second");
}

TEST(FileWriter, OfConvertersRacingForOneNameExactlyOneWins) {
  TTempDir dir;
  const std::string final = dir.File("cam.mp4");
  constexpr int Racers = 6;
  constexpr int Rounds = 60;
  for (int round = 0; round < Rounds; ++round) {
    SCOPED_TRACE(round);
    // Every other round starts with a leftover that all racers find.
    if (round % 2 == 0) WriteFileBytes(final + ".part", "leftover");
    std::atomic<int> ready{0}, winners{0};
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<TFileWriter>> outs(Racers);
    std::vector<std::thread> racers;
    for (int i = 0; i < Racers; ++i) {
      racers.emplace_back([&, i] {
        ++ready;
        while (!go.load()) std::this_thread::yield();
        outs[i] = TFileWriter::Create(final);
        if (outs[i]) ++winners;
      });
    }
    while (ready.load() < Racers) std::this_thread::yield();
    go.store(true);
    for (std::thread& t : racers) t.join();
    EXPECT_EQ(winners.load(), 1);
    for (auto& o : outs) {
      if (!o) continue;
      EXPECT_TRUE(o->Write("winner", 6));
      EXPECT_TRUE(o->Close());
    }
    EXPECT_EQ(ReadFileBytes(final), "winner");
    EXPECT_FALSE(FileExists(final + ".part"));
  }
}

TEST(FileWriter, LongNamesUseTheirFixedShortWorkName) {
  TTempDir dir;
  // 255 bytes, with a three-byte character across byte 200, where the work name is cut.
  std::string leaf = std::string(199, 'a') + "\xE5\xBD\x95" + std::string(49, 'b') + ".mp4";
  ASSERT_EQ(leaf.size(), 255u);
  auto out = TFileWriter::Create(dir.File(leaf));
  ASSERT_TRUE(out);
  const std::string work = out->WorkFileName().substr(dir.Path().size() + 1);
  EXPECT_EQ(work, MakeWorkFileName(leaf));
  EXPECT_LE(work.size(), MaxFileNameBytes);
  out->Write("long", 4);
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadFileBytes(dir.File(leaf)), "long");
  EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{leaf});
  // A name past the limit cannot be an output at all.
  std::string error;
  EXPECT_FALSE(TFileWriter::Create(dir.File(std::string(256, 'c')), TFileIdentity(), &error));
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
}

// A full disk fails the output, removes its work file and so frees the space for the next.
TEST(FileWriter, AFullDiskIsReportedAndFreedAgain) {
  TSmallTmpfs disk(2 * 1024 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  const unsigned long long freeBefore = disk.FreeBytes();
  auto out = TFileWriter::Create(disk.File("big.mp4"));
  ASSERT_TRUE(out);
  const std::string chunk(256 * 1024, 'x');
  for (int i = 0; i < 12; ++i) out->Write(chunk.data(), chunk.size());
  EXPECT_TRUE(out->Failed());
  EXPECT_FALSE(out->Close());
  EXPECT_NE(out->CloseError().find("No space left"), std::string::npos) << out->CloseError();
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{});
  EXPECT_EQ(disk.FreeBytes(), freeBefore);
  EXPECT_TRUE(WriteThrough(disk.File("next.mp4"), std::string(1024 * 1024, 'y')));
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{"next.mp4"});
}
