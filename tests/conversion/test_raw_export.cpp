#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "TestSupport.h"
#include "UVyrRecordBuilder.h"
#include "conversion/URawExport.h"

namespace {

// A record built block by block, with the raw stream its video payloads make.
struct TRecord {
  TVyrRecordBuilder Builder;
  std::string Expected;

  void Video(const std::vector<uint8_t>& APayload, uint8_t AType = OmVideoType_H264) {
    TVideoBlockSpec v;
    v.VideoType = AType;
    Builder.AddVideo(v, APayload);
    Expected.append(APayload.begin(), APayload.end());
  }
  void Audio(size_t ASize) {
    TAudioBlockSpec a;
    Builder.AddAudio(a, PatternBytes(ASize, 99));
  }
  std::string Bytes() const { return std::string(Builder.Bytes().begin(), Builder.Bytes().end()); }
};

// Reads through another stream and calls a hook before each read, so a test can watch
// the walk's progress and act in the middle of it.
class TWatchedStream final : public TStream {
 public:
  TWatchedStream(TStream& AInner, std::function<void()> AHook) : FInner(AInner), FHook(std::move(AHook)) {}
  size_t Read(void* ABuffer, size_t ACount) override {
    FHook();
    return FInner.Read(ABuffer, ACount);
  }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override { return FInner.Seek(AOffset, AOrigin); }
  int64_t Position() const override { return FInner.Position(); }
  int64_t Size() const override { return FInner.Size(); }

 private:
  TStream& FInner;
  std::function<void()> FHook;
};

TRawWalkResult WalkToFile(const TRecord& ARecord, const std::string& AOutFile) {
  const std::vector<uint8_t>& bytes = ARecord.Builder.Bytes();
  TMemoryStream in(bytes.data(), bytes.size());
  std::unique_ptr<TFileWriter> out = TFileWriter::Create(AOutFile);
  EXPECT_TRUE(out);
  TRawWalkResult r = WalkRecordToRaw(in, *out);
  EXPECT_TRUE(out->Close());
  return r;
}

}  // namespace

TEST(RawExport, ExtensionNamesTheCodec) {
  EXPECT_EQ(GetRawStreamExtension(OmVideoType_H264), ".H264");
  EXPECT_EQ(GetRawStreamExtension(OmVideoType_MJPEG), ".MJPG");
  EXPECT_EQ(GetRawStreamExtension(OmVideoType_H265), ".H265");
  EXPECT_EQ(GetRawStreamExtension(OmVideoType_MPEG4), "");
  EXPECT_EQ(GetRawStreamExtension(7), "");
  EXPECT_EQ(GetRawStreamExtension(255), "");
}

// The output is exactly the video payloads, in file order, whatever lies between them.
TEST(RawExport, WalkWritesTheVideoPayloadsBackToBack) {
  struct TCase {
    const char* Name;
    std::function<void(TRecord&)> Build;
    int64_t Payloads;
    bool CutShort;
    int64_t Damaged = 0;  // regions skipped
  };
  const TCase cases[] = {
      {"two payloads around an audio block",
       [](TRecord& r) {
         r.Video(PatternBytes(1000, 1));
         r.Audio(320);
         r.Video(PatternBytes(500, 2));
       },
       2, false},
      {"blocks of other commands are stepped over by their length",
       [](TRecord& r) {
         r.Video(PatternBytes(100, 1));
         r.Builder.AddOther(771, 100, PatternBytes(100, 3));
         r.Builder.AddOther(772, 0, {});
         r.Video(PatternBytes(200, 2));
         r.Builder.AddOther(1, 7, PatternBytes(7, 4));
         r.Video(PatternBytes(300, 5));
       },
       3, false},
      {"a zero-length payload adds nothing and the walk goes on",
       [](TRecord& r) {
         r.Video(PatternBytes(64, 1));
         r.Video({});
         r.Audio(160);
         r.Video(PatternBytes(64, 2));
       },
       3, false},
      {"a wrong magic alone loses nothing",
       [](TRecord& r) {
         TVideoBlockSpec v;
         v.Magic = 0x12345678;
         std::vector<uint8_t> p = PatternBytes(50, 7);
         r.Builder.AddVideo(v, p);
         r.Expected.append(p.begin(), p.end());
         r.Video(PatternBytes(20, 8));
         r.Builder.AddVideo(v, p);  // in the last block too
         r.Expected.append(p.begin(), p.end());
       },
       3, false},
      {"a wrong magic with an unknown codec is damage, none of its bytes copied",
       [](TRecord& r) {
         r.Video(PatternBytes(30, 1));
         TVideoBlockSpec v;
         v.Magic = 0x12345678;
         v.VideoType = 9;
         r.Builder.AddVideo(v, PatternBytes(50, 7));
         r.Video(PatternBytes(20, 8));
       },
       2, false, 1},
      {"a cut last payload keeps the bytes that are there",
       [](TRecord& r) {
         r.Video(PatternBytes(1000, 1));
         std::vector<uint8_t> last = PatternBytes(600, 2);
         TVideoBlockSpec v;
         r.Builder.AddVideo(v, last);
         r.Builder.Truncate(200);
         r.Expected.append(last.begin(), last.begin() + 400);
       },
       2, true},
      {"a length past 256 MiB is damage: nothing of it is copied",
       [](TRecord& r) {
         r.Video(PatternBytes(10, 1));
         std::vector<uint8_t> p = PatternBytes(1000, 2);
         TVideoBlockSpec v;
         v.OverrideFrameLength = true;
         v.FrameLength = 0xFFFFFFFFu;
         r.Builder.AddVideo(v, p);
       },
       1, false, 1},
      {"a length of 256 MiB on a small file copies what is there",
       [](TRecord& r) {
         r.Video(PatternBytes(10, 1));
         std::vector<uint8_t> p = PatternBytes(1000, 2);
         TVideoBlockSpec v;
         v.OverrideFrameLength = true;
         v.FrameLength = OmMaxPayloadLength;
         r.Builder.AddVideo(v, p);
         r.Expected.append(p.begin(), p.end());
       },
       2, true},
      {"a file ending inside a head",
       [](TRecord& r) {
         r.Video(PatternBytes(80, 1));
         TVideoBlockSpec v;
         r.Builder.AddVideo(v, PatternBytes(80, 2));
         r.Builder.Truncate(80 + 40 - 30);
       },
       1, false},
      {"a file ending in bytes that are no head",
       [](TRecord& r) {
         r.Video(PatternBytes(80, 1));
         r.Builder.AddBytes(PatternBytes(30, 2));
       },
       1, false, 1},
      {"a short block of another command at the end",
       [](TRecord& r) {
         r.Video(PatternBytes(80, 1));
         r.Builder.AddOther(771, 4, PatternBytes(4, 2));
       },
       1, false},
      {"audio only", [](TRecord& r) { r.Audio(160); r.Audio(160); }, 0, false},
      {"empty file", [](TRecord&) {}, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    TRecord rec;
    c.Build(rec);
    TRawWalkResult r = WalkToFile(rec, dir.File("out"));
    EXPECT_EQ(ReadFileBytes(dir.File("out")), rec.Expected);
    EXPECT_EQ(r.VideoPayloads, c.Payloads);
    EXPECT_EQ(r.BytesWritten, static_cast<int64_t>(rec.Expected.size()));
    EXPECT_EQ(r.CutShort, c.CutShort);
    EXPECT_FALSE(r.WriteFailed);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.DamagedRegions, c.Damaged);
  }
}

TEST(RawExport, ProgressRisesAfterEveryBlockUpToOneHundred) {
  TRecord rec;
  for (int i = 0; i < 20; ++i) {
    rec.Video(PatternBytes(100 + 10 * i, i));
    rec.Audio(160);
  }
  const std::vector<uint8_t>& bytes = rec.Builder.Bytes();
  TMemoryStream mem(bytes.data(), bytes.size());
  std::atomic<int> progress{-1};
  std::vector<int> seen;
  TWatchedStream watched(mem, [&] { seen.push_back(progress.load()); });
  TTempDir dir;
  std::unique_ptr<TFileWriter> out = TFileWriter::Create(dir.File("out"));
  ASSERT_TRUE(out);
  WalkRecordToRaw(watched, *out, &progress);
  EXPECT_EQ(progress.load(), 100);
  // Every block is read with one 40-byte read and a video payload with one more read.
  ASSERT_GE(seen.size(), 40u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
  EXPECT_GT(seen[seen.size() / 2], 20);
  EXPECT_LT(seen[seen.size() / 2], 80);
}

TEST(RawExport, AbortEndsTheWalkBeforeTheNextBlock) {
  TRecord rec;
  std::string firstTwo;
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> p = PatternBytes(100, i);
    rec.Video(p);
    if (i < 2) firstTwo.append(p.begin(), p.end());
  }
  const std::vector<uint8_t>& bytes = rec.Builder.Bytes();
  TMemoryStream mem(bytes.data(), bytes.size());
  std::atomic<bool> abort{false};
  // The walk looks at the head after a block before it copies the block, and at the abort
  // flag after each look: the flag set when the head of block 4 is read lets blocks 2 and
  // 3 be looked at, and only blocks 1 and 2 copied.
  TWatchedStream watched(mem, [&] {
    if (mem.Position() >= 3 * (40 + 100)) abort.store(true);
  });
  TTempDir dir;
  std::unique_ptr<TFileWriter> out = TFileWriter::Create(dir.File("out"));
  ASSERT_TRUE(out);
  TRawWalkResult r = WalkRecordToRaw(watched, *out, nullptr, &abort);
  ASSERT_TRUE(out->Close());
  EXPECT_TRUE(r.Aborted);
  EXPECT_EQ(r.VideoPayloads, 2);
  EXPECT_EQ(ReadFileBytes(dir.File("out")), firstTwo);
}

class RawExportFile : public ::testing::Test {
 protected:
  std::string Save(const TRecord& ARecord, const std::string& AName) {
    std::string path = FDir.File(AName);
    EXPECT_TRUE(ARecord.Builder.SaveToFile(path));
    return path;
  }
  TConversionOutcome Run(const std::string& ASrc, const std::string& ABase, const std::atomic<bool>* AAbort = nullptr) {
    std::atomic<int> progress{-1};
    TConversionOutcome outcome;
    ExecRecordToRawFile(ASrc, ABase, progress, &outcome, AAbort);
    EXPECT_EQ(progress.load(), 101);
    return outcome;
  }
  TTempDir FDir;
};

TEST_F(RawExportFile, NamesTheOutputAfterTheCodec) {
  const std::pair<int, const char*> cases[] = {
      {OmVideoType_H264, "cam.H264"}, {OmVideoType_H265, "cam.H265"}, {OmVideoType_MJPEG, "cam.MJPG"},
      {OmVideoType_MPEG4, "cam"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    TTempDir out;
    TRecord rec;
    rec.Video(PatternBytes(300, 1), static_cast<uint8_t>(c.first));
    rec.Audio(160);
    // A later block of another codec does not change the name: the first one decides.
    rec.Video(PatternBytes(200, 2), c.first == OmVideoType_H264 ? OmVideoType_H265 : OmVideoType_H264);
    TConversionOutcome o = Run(Save(rec, "cam.vyr"), out.File("cam"));
    EXPECT_EQ(o.Status, TConversionStatus::Converted);
    EXPECT_EQ(o.OutFileName, out.File(c.second));
    EXPECT_EQ(ReadFileBytes(out.File(c.second)), rec.Expected);
    EXPECT_EQ(o.VideoFrames, 2);
    EXPECT_EQ(o.BytesWritten, 500);
  }
}

TEST_F(RawExportFile, RecordingWithoutVideoLeavesAnEmptyFileWithoutExtension) {
  TRecord rec;
  rec.Audio(160);
  rec.Builder.AddOther(771, 10, PatternBytes(10, 1));
  TConversionOutcome o = Run(Save(rec, "a.vyr"), FDir.File("a"));
  EXPECT_EQ(o.Status, TConversionStatus::NothingWritten);
  EXPECT_EQ(o.OutFileName, FDir.File("a"));
  EXPECT_TRUE(FileExists(FDir.File("a")));
  EXPECT_EQ(ReadFileBytes(FDir.File("a")), "");
  EXPECT_FALSE(o.Succeeded());
}

TEST_F(RawExportFile, AnExistingOutputIsReplaced) {
  TRecord rec;
  rec.Video(PatternBytes(100, 1));
  ASSERT_TRUE(WriteFileBytes(FDir.File("r.H264"), std::string(5000, 'x')));
  TConversionOutcome o = Run(Save(rec, "r.vyr"), FDir.File("r"));
  EXPECT_EQ(o.Status, TConversionStatus::Converted);
  EXPECT_EQ(ReadFileBytes(FDir.File("r.H264")), rec.Expected);
}

TEST_F(RawExportFile, FailuresAreToldApart) {
  TRecord rec;
  rec.Video(PatternBytes(100, 1), OmVideoType_MPEG4);
  std::string src = Save(rec, "full.vyr");

  TConversionOutcome missing = Run(FDir.File("missing.vyr"), FDir.File("missing"));
  EXPECT_EQ(missing.Status, TConversionStatus::OpenFailed);
  EXPECT_FALSE(FileExists(FDir.File("missing")));

  TConversionOutcome noFolder = Run(src, FDir.File("no/such/folder/full"));
  EXPECT_EQ(noFolder.Status, TConversionStatus::OutputFailed);

  // An MPEG-4 recording has no extension: the output would be the device itself.
  TConversionOutcome device = Run(src, "/dev/full");
  EXPECT_EQ(device.Status, TConversionStatus::OutputFailed);
  EXPECT_NE(device.Message.find("is not a regular file"), std::string::npos) << device.Message;

  // A full disk: the write fails and the partial file goes.
  TSmallTmpfs disk(64 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  TRecord big;
  for (int i = 0; i < 20; ++i) big.Video(PatternBytes(10000, static_cast<uint32_t>(i)));
  TConversionOutcome full = Run(Save(big, "big.vyr"), disk.File("big"));
  EXPECT_EQ(full.Status, TConversionStatus::WriteFailed);
  EXPECT_FALSE(full.Succeeded());
  EXPECT_NE(full.Message.find("No space left"), std::string::npos) << full.Message;
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{});
}

TEST_F(RawExportFile, NeverOverwritesTheRecordingItself) {
  TRecord rec;
  rec.Video(PatternBytes(100, 1));
  // A recording named like its own output.
  std::string src = Save(rec, "odd.H264");
  TConversionOutcome o = Run(src, FDir.File("odd"));
  EXPECT_EQ(o.Status, TConversionStatus::OutputFailed);
  EXPECT_EQ(ReadFileBytes(src), rec.Bytes());
}

TEST_F(RawExportFile, ProgramExitEndsTheExportWithItsFileClosed) {
  TRecord rec;
  rec.Video(PatternBytes(100, 1));
  std::atomic<bool> abort{true};
  TConversionOutcome o = Run(Save(rec, "s.vyr"), FDir.File("s"), &abort);
  EXPECT_EQ(o.Status, TConversionStatus::Stopped);
  EXPECT_TRUE(FileExists(FDir.File("s.H264")));
}

TEST_F(RawExportFile, ProgressWithoutOutcome) {
  TRecord rec;
  rec.Video(PatternBytes(100, 1));
  std::atomic<int> progress{-1};
  ExecRecordToRawFile(Save(rec, "p.vyr"), FDir.File("p"), progress);
  EXPECT_EQ(progress.load(), 101);
  EXPECT_EQ(ReadFileBytes(FDir.File("p.H264")), rec.Expected);
}
