#include <gtest/gtest.h>

#include <sys/stat.h>

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
}

TEST(FileStream, OpenFailsForMissingFilesAndFolders) {
  TTempDir dir;
  EXPECT_FALSE(TFileStream::OpenRead(dir.File("missing.vyr")));
  ::mkdir(dir.File("folder.vyr").c_str(), 0755);
  EXPECT_FALSE(TFileStream::OpenRead(dir.File("folder.vyr")));
}

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
}

TEST(FileWriter, ReplacesAnExistingFile) {
  TTempDir dir;
  WriteFileBytes(dir.File("o.bin"), std::string(1000, 'x'));
  auto out = TFileWriter::Create(dir.File("o.bin"));
  ASSERT_TRUE(out);
  out->Write("ab", 2);
  out->Close();
  EXPECT_EQ(ReadFileBytes(dir.File("o.bin")), "ab");
}

TEST(FileWriter, FullDiskIsReported) {
  auto out = TFileWriter::Create("/dev/full");
  ASSERT_TRUE(out);
  std::string big(1 << 20, 'x');
  out->Write(big.data(), big.size());
  EXPECT_TRUE(out->Failed());
  EXPECT_FALSE(out->Close());
}

TEST(FileWriter, FailsToCreateInAMissingFolder) {
  EXPECT_FALSE(TFileWriter::Create("/nonexistent-folder/x.mp4"));
}

TEST(FileWriter, WritesUnderATemporaryNameUntilClosed) {
  TTempDir dir;
  WriteFileBytes(dir.File("o.mp4"), "old");
  auto out = TFileWriter::Create(dir.File("o.mp4"));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->WorkFileName(), dir.File("o.mp4.part"));
  out->Write("new", 3);
  // A process killed now leaves the old file and a .part file, nothing that looks finished.
  EXPECT_EQ(ReadFileBytes(dir.File("o.mp4")), "old");
  EXPECT_TRUE(FileExists(dir.File("o.mp4.part")));
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(ReadFileBytes(dir.File("o.mp4")), "new");
  EXPECT_FALSE(FileExists(dir.File("o.mp4.part")));
}

TEST(FileWriter, FolderIsNoOutput) {
  TTempDir dir;
  EXPECT_FALSE(TFileWriter::Create(dir.Path()));
  EXPECT_FALSE(TFileWriter::Create(""));
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
