#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "conversion/UStreams.h"

namespace {
std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return s;
}
}  // namespace

TEST(FileStream, ReadsAndSeeksLikeMemory) {
  // The same walk over a file and over memory reads the same bytes, across the file
  // stream's buffer boundaries, with reads bigger than its buffer and seeks past the end.
  TTempDir dir;
  const std::string data = Pattern(300000);
  WriteFileBytes(dir.File("f.bin"), data);
  auto file = TFileStream::OpenRead(dir.File("f.bin"));
  ASSERT_TRUE(file);
  TMemoryStream mem(data.data(), data.size());
  EXPECT_EQ(file->Size(), 300000);
  struct Step {
    int64_t Seek;
    TSeekOrigin Origin;
    size_t Read;
  } const steps[] = {{0, TSeekOrigin::Begin, 16},       {65530, TSeekOrigin::Begin, 16},
                     {10, TSeekOrigin::Current, 70000}, {-5, TSeekOrigin::Current, 40},
                     {-100, TSeekOrigin::End, 400},     {500000, TSeekOrigin::Begin, 10},
                     {4, TSeekOrigin::Begin, 131072},   {INT64_MAX, TSeekOrigin::Current, 1}};
  for (const Step& s : steps) {
    int64_t a = file->Seek(s.Seek, s.Origin);
    int64_t b = mem.Seek(s.Seek, s.Origin);
    EXPECT_EQ(a, b);
    std::string ra(s.Read, '\0'), rb(s.Read, '\0');
    size_t na = file->Read(&ra[0], s.Read);
    size_t nb = mem.Read(&rb[0], s.Read);
    ASSERT_EQ(na, nb);
    EXPECT_EQ(ra.substr(0, na), rb.substr(0, nb));
    EXPECT_EQ(file->Position(), mem.Position());
  }
  EXPECT_EQ(file->Seek(-1, TSeekOrigin::Begin), -1);

  // Reads at an offset, in small forward steps, jumps and back, from inside and outside the
  // stream's buffer: the same bytes as memory, and the position stays where it was.
  file->Seek(1000, TSeekOrigin::Begin);
  std::string head(40, '\0');
  ASSERT_EQ(file->Read(&head[0], 40), 40u);
  for (int64_t at : {1010, 1040, 1100, 5000, 70000, 70040, 70100, 200000, 299990, 500, 64 * 1024 - 20}) {
    std::string got(40, '\0');
    const size_t n = file->ReadAt(at, &got[0], got.size());
    EXPECT_EQ(got.substr(0, n), data.substr(static_cast<size_t>(at), 40)) << at;
    EXPECT_EQ(file->Position(), 1040) << at;
  }
  std::string big(100000, '\0');
  EXPECT_EQ(file->ReadAt(150000, &big[0], big.size()), 100000u);
  EXPECT_EQ(big, data.substr(150000, 100000));
  std::string rest(40, '\0');
  ASSERT_EQ(file->Read(&rest[0], 40), 40u);
  EXPECT_EQ(rest, data.substr(1040, 40));
}

TEST(FileStream, OpenFailsForMissingFilesAndFolders) {
  TTempDir dir;
  EXPECT_FALSE(TFileStream::OpenRead(dir.File("missing.vyr")));
  ::mkdir(dir.File("folder.vyr").c_str(), 0755);
  EXPECT_FALSE(TFileStream::OpenRead(dir.File("folder.vyr")));
}

TEST(FileStream, SpecialFilesAreRefusedAtOnce) {
  // A FIFO without a writer would block a plain open for ever; it and a device fail at once,
  // with a reason the user can read.
  TTempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo.vyr").c_str(), 0600), 0);
  const struct {
    std::string Name;
    const char* Why;
  } cases[] = {{dir.File("fifo.vyr"), "not a regular file"},
               {"/dev/null", "not a regular file"},
               {dir.Path(), "folder"},
               {dir.File("missing.vyr"), "No such file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string why;
    EXPECT_FALSE(TFileStream::OpenRead(c.Name, &why));
    EXPECT_NE(why.find(c.Why), std::string::npos) << why;
  }
}

TEST(FileStream, AFileThatShrinksWhileReadEndsEarly) {
  TTempDir dir;
  const std::string data = Pattern(200000);
  WriteFileBytes(dir.File("f.vyr"), data);
  auto file = TFileStream::OpenRead(dir.File("f.vyr"));
  ASSERT_TRUE(file);
  std::string buf(1000, '\0');
  EXPECT_EQ(file->Read(&buf[0], buf.size()), buf.size());
  EXPECT_FALSE(file->EndedEarly());
  ASSERT_EQ(::truncate(dir.File("f.vyr").c_str(), 150000), 0);
  file->Seek(149000, TSeekOrigin::Begin);
  std::string rest(5000, '\0');
  EXPECT_EQ(file->Read(&rest[0], rest.size()), 1000u);
  EXPECT_TRUE(file->EndedEarly());

  // Reading up to the end of a file that kept its size is no early end.
  auto whole = TFileStream::OpenRead(dir.File("f.vyr"));
  std::string all(200000, '\0');
  EXPECT_EQ(whole->Read(&all[0], all.size()), 150000u);
  EXPECT_FALSE(whole->EndedEarly());
}

TEST(FileStream, IdentityTellsTheFileBehindAnyName) {
  TTempDir dir;
  WriteFileBytes(dir.File("a.vyr"), "x");
  ASSERT_EQ(::symlink(dir.File("a.vyr").c_str(), dir.File("link.vyr").c_str()), 0);
  WriteFileBytes(dir.File("b.vyr"), "x");
  auto a = TFileStream::OpenRead(dir.File("a.vyr"));
  auto link = TFileStream::OpenRead(dir.File("link.vyr"));
  auto b = TFileStream::OpenRead(dir.File("b.vyr"));
  EXPECT_TRUE(a->Identity().SameAs(link->Identity()));
  EXPECT_FALSE(a->Identity().SameAs(b->Identity()));
  TMemoryStream mem("x", 1);
  EXPECT_FALSE(mem.Identity().Valid);
}
