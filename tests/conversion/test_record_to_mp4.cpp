// The conversion task, its worker and the MP4 task body, on generated recordings; the
// MP4 files are judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <thread>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"
#include "conversion/URecordProbe.h"
#include "conversion/URecordToMp4Task.h"

namespace {

// Payloads of a short real recording, made once per codec.
struct TEncodedFrames {
  std::vector<std::vector<uint8_t>> Frames;
  std::vector<bool> Keys;
};

const TEncodedFrames& Frames(int AVideoType, uint32_t ACount = 30) {
  static std::map<std::pair<int, uint32_t>, TEncodedFrames> cache;
  auto key = std::make_pair(AVideoType, ACount);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.VideoMode = OmResolution_QCIF;
  spec.FrameRate = 10;
  spec.KeyInterval = 10;
  std::string error;
  TVideoPayloadSource source = EncodedPayloadSource(spec, error);
  EXPECT_TRUE(source) << error;
  TEncodedFrames f;
  for (uint32_t i = 0; i < ACount && source; ++i) {
    bool k = false;
    f.Frames.push_back(source(i, k));
    f.Keys.push_back(k);
  }
  return cache[key] = f;
}

// Adds video block AIndex of AFrames with time stamps of a 10 fps recording.
void AddFrame(TVyrRecordBuilder& b, int AVideoType, const TEncodedFrames& AFrames, uint32_t AIndex,
              uint32_t AMagic = stHeadINF) {
  TVideoBlockSpec v;
  v.VideoType = static_cast<uint8_t>(AVideoType);
  v.VideoMode = OmResolution_QCIF;
  v.FrameType = AFrames.Keys[AIndex] ? OmFrameType_I : OmFrameType_P;
  v.FrameID = AIndex + 1;
  v.SecTimeStamp = 1000 + AIndex / 10;
  v.MiliTimeStamp = static_cast<uint16_t>((AIndex % 10) * 100);
  v.Magic = AMagic;
  b.AddVideo(v, AFrames.Frames[AIndex]);
}

void AddAudio(TVyrRecordBuilder& b, uint8_t AType, uint64_t AFirstSample, uint32_t ASamples = 800) {
  TAudioBlockSpec a;
  a.AudioType = AType;
  b.AddAudio(a, ToneAudioBlock(AType == AUDIO_TYPE_NONE ? AUDIO_TYPE_G711A : AType, AFirstSample, ASamples));
}

// A 10 fps recording of ACount frames with 100 ms of audio of AAudioType before each.
TVyrRecordBuilder Recording(int AVideoType, uint32_t ACount, uint8_t AAudioType = AUDIO_TYPE_G711A) {
  const TEncodedFrames& f = Frames(AVideoType, ACount);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < ACount; ++i) {
    if (AAudioType != AUDIO_TYPE_NONE) AddAudio(b, AAudioType, i * 800ull);
    AddFrame(b, AVideoType, f, i);
  }
  return b;
}

struct TRun {
  bool Result = false;
  TConversionOutcome Outcome;
  int FinalProgress = 0;
};

TRun Convert(const std::string& ASrc, const std::string& AOutBase, const std::atomic<bool>* AStop = nullptr) {
  TDmRecordToMP4 task;
  std::atomic<int> progress{-1};
  std::atomic<bool> noStop{false};
  TRun r;
  r.Result = ExecRecordToMp4(task, ASrc, AOutBase, progress, AStop ? *AStop : noStop, &r.Outcome);
  r.FinalProgress = progress.load();
  EXPECT_FALSE(task.IsWorking());
  return r;
}

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

class RecordToMp4Test : public ::testing::Test {
 protected:
  std::string Save(const TVyrRecordBuilder& b, const std::string& AName = "rec.vyr") {
    std::string path = FDir.File(AName);
    EXPECT_TRUE(b.SaveToFile(path));
    return path;
  }
  std::string Out() const { return FDir.File("out"); }
  TTempDir FDir;
};

}  // namespace

TEST_F(RecordToMp4Test, H264RecordingPassesStraightThrough) {
  TLogCapture log;
  std::string src = Save(Recording(OmVideoType_H264, 30));
  TRun r = Convert(src, Out());
  EXPECT_TRUE(r.Result);
  EXPECT_EQ(r.FinalProgress, 101);
  EXPECT_EQ(r.Outcome.Status, TConversionStatus::Converted);
  EXPECT_EQ(r.Outcome.OutFileName, Out() + ".mp4");
  EXPECT_EQ(r.Outcome.VideoFrames, 30);
  EXPECT_GT(r.Outcome.AudioFrames, 0);
  // No transcoder for H.264: it would log its handles when created.
  EXPECT_EQ(log.CountStartingWith("VideoToX264: Init Handle"), 0u);
  EXPECT_EQ(log.Count("Finished write mp4: " + Out() + ".mp4"), 1u);
  EXPECT_EQ(log.Count("Main Thread Finished write mp4: " + Out() + ".mp4"), 1u);
  TMediaInfo info = ProbeMedia(Out() + ".mp4");
  ASSERT_TRUE(info.Ok) << info.Errors;
  ASSERT_TRUE(info.Video());
  EXPECT_EQ(info.Video()->Frames, 30);
  EXPECT_EQ(info.Video()->Width, 176);
  ASSERT_TRUE(info.Audio());
  EXPECT_EQ(info.Audio()->SampleRate, 8000);
  EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "");
  // The pictures are the source stream's, bit for bit.
  std::string es = FDir.File("src.h264");
  std::string bytes;
  for (const auto& f : Frames(OmVideoType_H264, 30).Frames) bytes.append(f.begin(), f.end());
  WriteFileBytes(es, bytes);
  EXPECT_EQ(VideoFrameHashes(Out() + ".mp4").Hashes, VideoFrameHashes(es, "h264").Hashes);
}

TEST_F(RecordToMp4Test, TranscodedCodecsAreDrainedAtTheEnd) {
  for (int type : {OmVideoType_MJPEG, OmVideoType_MPEG4, OmVideoType_H265}) {
    TLogCapture log;
    std::string src = Save(Recording(type, 20, AUDIO_TYPE_NONE));
    TRun r = Convert(src, Out());
    EXPECT_EQ(r.Outcome.Status, TConversionStatus::Converted) << type;
    EXPECT_EQ(r.Outcome.VideoFrames, 20) << type;
    EXPECT_EQ(r.Outcome.AudioFrames, 0) << type;
    // One transcoder, made at the first frame with the probed rate, drained until empty.
    EXPECT_EQ(log.CountStartingWith("VideoToX264: Init Handle"), 1u) << type;
    EXPECT_EQ(log.Count("VideoToX264: open encoder[176, 144], result: 0"), 1u) << type;
    EXPECT_EQ(log.Count("VideoToX264: Encode No Out, ret=0"), 1u) << type;
    TMediaInfo info = ProbeMedia(Out() + ".mp4");
    ASSERT_TRUE(info.Video()) << type;
    EXPECT_EQ(info.Video()->CodecName, "h264");
    EXPECT_EQ(info.Video()->Frames, 20) << type;
    EXPECT_FALSE(info.Audio());
    EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "") << type;
  }
}

TEST_F(RecordToMp4Test, StreamInMemoryConvertsAsTheFileDoes) {
  // The worker's conversion over a stream in memory gives the same pictures and samples
  // as the task body over the same bytes in a file, for a copied and a transcoded codec.
  for (int type : {OmVideoType_H264, OmVideoType_MJPEG}) {
    TVyrRecordBuilder b = Recording(type, 8, AUDIO_TYPE_G711U);
    TRun fromFile = Convert(Save(b), Out());
    ASSERT_EQ(fromFile.Outcome.Status, TConversionStatus::Converted) << type;
    TMemoryStream stream(b.Bytes().data(), b.Size());
    TVyrRecordProbe probe;  // as the task body does: the encoder takes the probed rate
    ASSERT_TRUE(probe.GetVideoInfo(&stream));
    std::atomic<int32_t> progress{-1};
    const std::string mem = FDir.File("mem.mp4");
    TConversionOutcome o =
        ConvertRecordStreamToMp4(stream, static_cast<int32_t>(probe.FFrameWidth), static_cast<int32_t>(probe.FFrameHeight),
                                 static_cast<int32_t>(probe.FFrameRate), mem, nullptr, &progress);
    EXPECT_EQ(o.Status, TConversionStatus::Converted) << type;
    EXPECT_EQ(o.OutFileName, mem);
    EXPECT_EQ(o.VideoFrames, fromFile.Outcome.VideoFrames) << type;
    EXPECT_EQ(o.AudioFrames, fromFile.Outcome.AudioFrames) << type;
    EXPECT_EQ(progress.load(), 100) << type;
    EXPECT_EQ(VideoFrameHashes(mem).Hashes, VideoFrameHashes(Out() + ".mp4").Hashes) << type;
  }
  // A stop asked before the start writes nothing, and leaves no file that no player takes.
  TVyrRecordBuilder b = Recording(OmVideoType_H264, 4, AUDIO_TYPE_NONE);
  TMemoryStream stream(b.Bytes().data(), b.Size());
  std::atomic<bool> stop{true};
  const std::string stopped = FDir.File("stopped.mp4");
  TConversionOutcome o = ConvertRecordStreamToMp4(stream, 176, 144, 10, stopped, &stop);
  EXPECT_EQ(o.Status, TConversionStatus::NothingWritten);
  EXPECT_EQ(o.KeptFileName, "");
  EXPECT_FALSE(std::filesystem::exists(stopped));
  EXPECT_FALSE(std::filesystem::exists(stopped + ".part"));
}

TEST_F(RecordToMp4Test, BlocksThatCarryNothingAreSteppedOver) {
  const TEncodedFrames& f = Frames(OmVideoType_H264, 10);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < 10; ++i) {
    AddAudio(b, AUDIO_TYPE_NONE, 0);          // audio type 0: skipped
    b.AddOther(771, 100, PatternBytes(100, i));  // another command: stepped over by length
    AddAudio(b, AUDIO_TYPE_G711U, i * 800ull);
    AddFrame(b, OmVideoType_H264, f, i);
    TVideoBlockSpec empty;                   // a zero-length video block
    empty.FrameID = i + 1;
    b.AddVideo(empty, nullptr, 0);
  }
  TRun r = Convert(Save(b), Out());
  EXPECT_EQ(r.Outcome.Status, TConversionStatus::Converted);
  EXPECT_EQ(r.Outcome.VideoFrames, 10);
  TMediaInfo info = ProbeMedia(Out() + ".mp4");
  ASSERT_TRUE(info.Video());
  EXPECT_EQ(info.Video()->Frames, 10);
  ASSERT_TRUE(info.Audio());
  EXPECT_NEAR(info.Audio()->Duration, 1.0, 0.15);
}

TEST_F(RecordToMp4Test, AWrongMagicAloneLosesNothing) {
  // The magic of a block in the middle and of the last block flipped: every picture stays.
  const TEncodedFrames& f = Frames(OmVideoType_H264, 20);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < 20; ++i) AddFrame(b, OmVideoType_H264, f, i, i == 9 || i == 19 ? 0x11223344u : stHeadINF);
  TDmRecordToMP4 task;
  std::atomic<int> progress{0};
  std::atomic<bool> stop{false};
  TConversionOutcome outcome;
  ExecRecordToMp4(task, Save(b), Out(), progress, stop, &outcome);
  EXPECT_EQ(outcome.VideoFrames, 20);
  EXPECT_EQ(outcome.DamagedRegions, 0);
  EXPECT_EQ(task.WorkProgress(), 100);
  EXPECT_FALSE(task.IsWorking());
  EXPECT_EQ(ProbeMedia(Out() + ".mp4").Video()->Frames, 20);
  EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "");
}

TEST_F(RecordToMp4Test, CutRecordingsKeepWhatCameBefore) {
  struct Case {
    const char* Name;
    size_t Cut;  // bytes cut off the end of a 12-frame recording
  } const cases[] = {{"payload cut short", 100}, {"sub-head cut short", 0}, {"head cut short", 0}};
  for (size_t c = 0; c < 3; ++c) {
    TVyrRecordBuilder b = Recording(OmVideoType_H264, 12, AUDIO_TYPE_NONE);
    std::vector<uint8_t> bytes = b.Bytes();
    size_t lastFrame = Frames(OmVideoType_H264, 12).Frames[11].size();
    size_t lastBlockStart = bytes.size() - lastFrame - 40;
    if (c == 0) bytes.resize(bytes.size() - cases[c].Cut);
    if (c == 1) bytes.resize(lastBlockStart + 16 + 10);
    if (c == 2) bytes.resize(lastBlockStart + 10);
    TVyrRecordBuilder cut;
    cut.AddBytes(bytes);
    TRun r = Convert(Save(cut), Out());
    EXPECT_EQ(r.Outcome.Status, TConversionStatus::Converted) << cases[c].Name;
    EXPECT_EQ(r.Outcome.VideoFrames, 11) << cases[c].Name;
    EXPECT_EQ(r.FinalProgress, 101);
    EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "") << cases[c].Name;
  }
}

TEST_F(RecordToMp4Test, HugeLengthFieldAllocatesNothing) {
  TVyrRecordBuilder b = Recording(OmVideoType_H264, 5, AUDIO_TYPE_NONE);
  TVideoBlockSpec v;
  v.OverrideFrameLength = true;
  v.FrameLength = 0xFFFFFFF0u;
  b.AddVideo(v, PatternBytes(1000, 1));
  TAudioBlockSpec a;
  a.OverrideFrameLength = true;
  a.FrameLength = 0x7FFFFFFFu;
  TVyrRecordBuilder b2 = Recording(OmVideoType_H264, 5, AUDIO_TYPE_NONE);
  b2.AddAudio(a, PatternBytes(1000, 2));
  long before = MaxRssKb();
  TRun r1 = Convert(Save(b, "a.vyr"), FDir.File("a"));
  TRun r2 = Convert(Save(b2, "b.vyr"), FDir.File("b"));
  EXPECT_LT(MaxRssKb() - before, 100 * 1024);
  EXPECT_EQ(r1.Outcome.VideoFrames, 5);
  EXPECT_EQ(r2.Outcome.VideoFrames, 5);
  EXPECT_EQ(r1.Outcome.Status, TConversionStatus::Converted);
}

TEST_F(RecordToMp4Test, FailuresAreNotReportedAsSuccess) {
  std::string h264 = Save(Recording(OmVideoType_H264, 5), "h.vyr");
  TVyrRecordBuilder noise;
  TVideoBlockSpec v;
  for (uint32_t i = 0; i < 5; ++i) {
    v.FrameID = i + 1;
    noise.AddVideo(v, PatternBytes(500, i));  // no start codes: nothing to write
  }
  std::string noiseFile = Save(noise, "n.vyr");
  struct Case {
    const char* Name;
    std::string Src, OutBase;
    TConversionStatus Status;
    bool ProbeResult;
  } const cases[] = {
      {"missing record", FDir.File("missing.vyr"), Out(), TConversionStatus::OpenFailed, false},
      {"output folder missing", h264, FDir.File("no/such/folder/x"), TConversionStatus::OutputFailed, true},
      {"nothing to write", noiseFile, Out(), TConversionStatus::NothingWritten, true},
  };
  for (const Case& c : cases) {
    TRun r = Convert(c.Src, c.OutBase);
    EXPECT_EQ(r.Outcome.Status, c.Status) << c.Name;
    EXPECT_EQ(r.Result, c.ProbeResult) << c.Name;
    EXPECT_EQ(r.FinalProgress, 101) << c.Name;
    EXPECT_FALSE(r.Outcome.Succeeded()) << c.Name;
  }
}

TEST_F(RecordToMp4Test, FullDiskIsAWriteFailure) {
  std::string src = Save(Recording(OmVideoType_H264, 30));
  TDmRecordToMP4 task;
  task.StartTask(176, 144, 10, FDir.File("never.mp4"), nullptr);  // no source: ends at once
  while (task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(task.WorkProgress(), -1);
  // A device is no output: nothing is written to it.
  std::unique_ptr<TStream> s = TFileStream::OpenRead(src);
  task.StartTask(176, 144, 10, "/dev/full", s.get());
  while (task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(task.LastOutcome().Status, TConversionStatus::OutputFailed);
  EXPECT_NE(task.LastOutcome().Message.find("is not a regular file"), std::string::npos);
  EXPECT_EQ(task.WorkProgress(), 100);

  TSmallTmpfs disk(16 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  task.StartTask(176, 144, 10, disk.File("full.mp4"), s.get());
  while (task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(task.LastOutcome().Status, TConversionStatus::WriteFailed);
  EXPECT_EQ(task.LastOutcome().KeptFileName, "");
  EXPECT_EQ(task.WorkProgress(), 100);
  // The failed output is gone, so the disk is free for the next one.
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{});
}

TEST_F(RecordToMp4Test, MissingParametersMarkProgressMinusOne) {
  TLogCapture log;
  TDmRecordToMP4 task;
  std::unique_ptr<TStream> s = TFileStream::OpenRead(Save(Recording(OmVideoType_H264, 3)));
  task.StartTask(176, 144, 10, "", s.get());
  while (task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(task.WorkProgress(), -1);
  EXPECT_FALSE(task.LastOutcome().Succeeded());
  EXPECT_EQ(log.CountStartingWith("Finished write mp4"), 0u);
}

TEST_F(RecordToMp4Test, StopTaskEndsAfterTheCurrentBlockAndClosesTheFile) {
  // A long recording made of the same 30 frames over and over.
  const TEncodedFrames& f = Frames(OmVideoType_H264, 30);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < 3000; ++i) {
    TVideoBlockSpec v;
    v.FrameID = i + 1;
    v.SecTimeStamp = 1000 + i / 10;
    v.VideoMode = OmResolution_QCIF;
    b.AddVideo(v, f.Frames[i % 30]);
    AddAudio(b, AUDIO_TYPE_G711A, i * 800ull);
  }
  std::string src = Save(b);
  TLogCapture log;
  TDmRecordToMP4 task;
  std::unique_ptr<TStream> s = TFileStream::OpenRead(src);
  task.StartTask(176, 144, 10, Out() + ".mp4", s.get());
  while (task.WorkProgress() < 5 && task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(task.IsWorking()) << "the conversion ended before it could be stopped";
  task.StopTask();
  EXPECT_EQ(log.Count("Stop Current Task"), 1u);
  task.StopTask();  // only the first call has an effect
  EXPECT_EQ(log.Count("Stop Current Task"), 1u);
  while (task.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(task.WorkProgress(), 100);
  EXPECT_EQ(task.LastOutcome().Status, TConversionStatus::Stopped);
  int64_t written = task.LastOutcome().VideoFrames;
  EXPECT_GT(written, 0);
  EXPECT_LT(written, 3000);
  TMediaInfo info = ProbeMedia(Out() + ".mp4");
  ASSERT_TRUE(info.Video());
  EXPECT_EQ(info.Video()->Frames, written);
  EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "");
}

TEST_F(RecordToMp4Test, TaskBodyPassesTheStopRequest) {
  // Transcoded frames, so the conversion runs long enough to be stopped.
  const TEncodedFrames& f = Frames(OmVideoType_MJPEG, 30);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < 3000; ++i) AddFrame(b, OmVideoType_MJPEG, f, i % 30);
  std::string src = Save(b);
  std::atomic<bool> stop{false};
  std::atomic<int> progress{-1};
  TDmRecordToMP4 task;
  task.SetTranscoders(1);  // picture after picture: what was read is written
  TConversionOutcome outcome;
  std::thread body([&] { ExecRecordToMp4(task, src, Out(), progress, stop, &outcome); });
  while (progress.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop.store(true);
  body.join();
  EXPECT_EQ(progress.load(), 101);
  EXPECT_EQ(outcome.Status, TConversionStatus::Stopped);
  EXPECT_LT(outcome.VideoFrames, 3000);
  EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "");
}

TEST_F(RecordToMp4Test, DestroyingTheTaskStopsARunningWorker) {
  const TEncodedFrames& f = Frames(OmVideoType_MJPEG, 30);
  TVyrRecordBuilder b;
  for (uint32_t i = 0; i < 3000; ++i) AddFrame(b, OmVideoType_MJPEG, f, i % 30);
  std::unique_ptr<TStream> s = TFileStream::OpenRead(Save(b));
  {
    TDmRecordToMP4 task;
    task.SetTranscoders(1);  // picture after picture: what was read is written
    task.StartTask(176, 144, 10, Out() + ".mp4", s.get());
    while (task.WorkProgress() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(task.IsWorking());
  }  // waits for the worker, which closes its MP4 properly
  TMediaInfo info = ProbeMedia(Out() + ".mp4");
  ASSERT_TRUE(info.Video());
  EXPECT_GT(info.Video()->Frames, 0);
  EXPECT_LT(info.Video()->Frames, 3000);
  EXPECT_EQ(DecodeErrors(Out() + ".mp4"), "");
}
