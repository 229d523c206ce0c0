// The segment transcoder: segments handed over come back in order, each picture encoded with
// its time; a stop ends it at once and leaves an in-order prefix; the cuts are found where a
// fresh decoder decodes as the sequential one would, with what a segment needs in front.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrRecordBuilder.h"
#include "UVyrSampleGen.h"
#include "conversion/UDmRecordToMP4.h"
#include "conversion/UEncoderBudget.h"
#include "conversion/URecordProbe.h"
#include "conversion/USegmentCuts.h"
#include "conversion/USegmentTranscoder.h"

namespace {

// Motion JPEG pictures of the test picture, made once.
const std::vector<std::vector<uint8_t>>& Pictures() {
  static const std::vector<std::vector<uint8_t>> pictures = [] {
    TRecordingSpec spec;
    spec.VideoType = OmVideoType_MJPEG;
    spec.VideoMode = OmResolution_QCIF;
    std::string error;
    TVideoPayloadSource source = EncodedPayloadSource(spec, error);
    std::vector<std::vector<uint8_t>> all;
    for (uint32_t i = 0; source && i < 12; ++i) {
      bool key = false;
      all.push_back(source(i, key));
    }
    return all;
  }();
  return pictures;
}

std::unique_ptr<TSegment> MakeSegment(int AIndex, int APictures) {
  auto s = std::make_unique<TSegment>();
  s->VideoType = OmVideoType_MJPEG;
  for (int i = 0; i < APictures; ++i) {
    const auto& p = Pictures()[static_cast<size_t>(i) % Pictures().size()];
    s->Pictures.push_back({p, int64_t{AIndex} * 1000 + i * 40, true, 0});
  }
  s->Audio.push_back({std::vector<uint8_t>(160, 0xD5), int64_t{AIndex} * 1000, true, AUDIO_TYPE_G711A});
  return s;
}

std::vector<uint8_t> Unit(std::initializer_list<uint8_t> ABytes) {
  std::vector<uint8_t> u(ABytes.size() + 4, 0);
  u[3] = 1;
  std::copy(ABytes.begin(), ABytes.end(), u.begin() + 4);
  return u;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> AUnits) {
  std::vector<uint8_t> all;
  for (const auto& u : AUnits) all.insert(all.end(), u.begin(), u.end());
  return all;
}

}  // namespace

TEST(SegmentTranscoder, SegmentsComeBackInOrderWhole) {
  ASSERT_EQ(Pictures().size(), 12u);
  TEncoderBudget budget(2);
  std::vector<int64_t> written;  // the time of each picture written, in order
  std::vector<int64_t> audio;
  auto write = [&](TSegment& ASegment) {
    EXPECT_EQ(ASegment.Encoded.size(), ASegment.Pictures.size());
    for (const TTimedBytes& e : ASegment.Encoded) {
      EXPECT_FALSE(e.Bytes.empty());
      written.push_back(e.TimeMs);
    }
    for (const TTimedBytes& a : ASegment.Audio) audio.push_back(a.TimeMs);
  };
  {
    TSegmentTranscoder transcoder(budget, 3, 25, nullptr);
    // Segments of different lengths, so that they finish out of order.
    for (int i = 0; i < 10; ++i) transcoder.Submit(MakeSegment(i, i % 3 == 0 ? 12 : 2), write);
    transcoder.Finish(write);
    EXPECT_FALSE(transcoder.AllocationFailed());
  }
  std::vector<int64_t> expected;
  for (int i = 0; i < 10; ++i)
    for (int k = 0; k < (i % 3 == 0 ? 12 : 2); ++k) expected.push_back(int64_t{i} * 1000 + k * 40);
  EXPECT_EQ(written, expected);
  ASSERT_EQ(audio.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(audio[static_cast<size_t>(i)], int64_t{i} * 1000);
}

TEST(SegmentTranscoder, AStopLeavesAnInOrderPrefix) {
  TEncoderBudget budget(2);
  std::atomic<bool> stop{false};
  std::vector<int> segments;
  auto write = [&](TSegment& ASegment) {
    segments.push_back(static_cast<int>(ASegment.Pictures.front().TimeMs / 1000));
    if (segments.size() == 3) stop.store(true);
  };
  {
    TSegmentTranscoder transcoder(budget, 2, 25, &stop);
    for (int i = 0; i < 40 && !stop.load(); ++i) transcoder.Submit(MakeSegment(i, 6), write);
    transcoder.Finish(write);
  }  // the transcoders end at once
  ASSERT_GE(segments.size(), 3u);
  for (size_t i = 0; i < segments.size(); ++i) EXPECT_EQ(segments[i], static_cast<int>(i));
  EXPECT_LT(segments.size(), 40u);
}

TEST(SegmentTranscoder, NoMoreThanTheBudgetAtOnce) {
  // One encoder for three transcoders: all the segments still come back, in order.
  TEncoderBudget budget(1);
  int count = 0;
  {
    TSegmentTranscoder transcoder(budget, 3, 25, nullptr);
    for (int i = 0; i < 6; ++i) transcoder.Submit(MakeSegment(i, 3), [&](TSegment& S) { count += static_cast<int>(S.Encoded.size()); });
    transcoder.Finish([&](TSegment& S) { count += static_cast<int>(S.Encoded.size()); });
  }
  EXPECT_EQ(count, 18);
}

// The progress of a conversion in segments is what is in the file: while no encoder is free
// the reading goes on, but the bar stays at 0; once it moves, a stop keeps pictures.
TEST(SegmentTranscoder, ProgressIsWhatTheFileHolds) {
  TTempDir dir;
  TRecordingSpec spec;
  spec.VideoType = OmVideoType_MJPEG;
  spec.VideoMode = OmResolution_QCIF;
  spec.Frames = 1500;
  std::string error;
  ASSERT_TRUE(SaveEncodedRecording(spec, dir.File("cam.vyr"), error)) << error;

  // Converts on a thread of its own until AStopWhen says so; the outcome and the progress
  // seen at the stop.
  auto convert = [&](const std::string& AOut, const std::function<bool(int)>& AStopWhen, int& AProgressAtStop) {
    std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(dir.File("cam.vyr"));
    EXPECT_TRUE(stream);
    std::atomic<bool> abort{false};
    std::atomic<int32_t> progress{0};
    TConversionOutcome outcome;
    std::thread worker([&] {
      outcome = ConvertRecordStreamToMp4(*stream, 176, 144, 25, AOut, &abort, &progress, TRecordTiming::Stamps, 2);
    });
    while (!AStopWhen(progress.load())) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    AProgressAtStop = progress.load();
    abort.store(true);
    worker.join();
    return outcome;
  };

  // Every encoder of the process taken: segments are read, none is written.
  TEncoderBudget& budget = SharedEncoderBudget();
  const int capacity = budget.Capacity();
  for (int i = 0; i < capacity; ++i) ASSERT_TRUE(budget.Acquire([] { return false; }));
  const auto start = std::chrono::steady_clock::now();
  int atStop = -1;
  TConversionOutcome held = convert(dir.File("held.mp4"), [&](int) {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(500);
  }, atStop);
  for (int i = 0; i < capacity; ++i) budget.Release();
  EXPECT_EQ(atStop, 0);
  EXPECT_EQ(held.VideoFrames, 0);

  // With encoders: the first progress means a written segment, and a stop keeps it.
  TConversionOutcome stopped = convert(dir.File("stopped.mp4"), [](int AProgress) { return AProgress > 0; }, atStop);
  EXPECT_GT(atStop, 0);
  EXPECT_EQ(stopped.Status, TConversionStatus::Stopped);
  EXPECT_GT(stopped.VideoFrames, 0);
  EXPECT_LT(stopped.VideoFrames, 1500);
  EXPECT_TRUE(FileExists(dir.File("stopped.mp4")));
}

TEST(SegmentCuts, WhereFreshDecodersStart) {
  // H.265: IDR pictures; a CRA unless RASL pictures follow; never a trailing picture.
  TSegmentCuts hevc(OmVideoType_H265);
  const auto vps = Unit({0x40, 0x01, 0x0c}), sps = Unit({0x42, 0x01, 0x01}), pps = Unit({0x44, 0x01, 0xc1});
  const auto idr = Unit({0x26, 0x01, 0xaf}), cra = Unit({0x2a, 0x01, 0xaf}), trail = Unit({0x02, 0x01, 0xd0});
  const auto rasl = Unit({0x10, 0x01, 0xd0});
  const std::vector<uint8_t> keyWithSets = Join({vps, sps, pps, idr});
  EXPECT_EQ(hevc.Look(keyWithSets.data(), keyWithSets.size()), TSegmentCut::Cut);
  EXPECT_EQ(hevc.Look(trail.data(), trail.size()), TSegmentCut::None);
  EXPECT_EQ(hevc.Look(cra.data(), cra.size()), TSegmentCut::CutUnlessRasl);
  EXPECT_TRUE(hevc.IsRasl(rasl.data(), rasl.size()));
  EXPECT_FALSE(hevc.IsRasl(trail.data(), trail.size()));
  // A key picture without its sets gets those in force; one with them needs nothing.
  EXPECT_EQ(hevc.Prefix(idr.data(), idr.size()), Join({vps, sps, pps}));
  EXPECT_TRUE(hevc.Prefix(keyWithSets.data(), keyWithSets.size()).empty());

  // MPEG-4: I-VOPs; the VOL header in force goes in front of a segment that lacks it.
  TSegmentCuts mpeg4(OmVideoType_MPEG4);
  const std::vector<uint8_t> vol = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0x00, 0, 0, 1, 0x20, 0x08, 0x77};
  std::vector<uint8_t> iVop = {0, 0, 1, 0xB6, 0x10, 0x55};  // coding type 0: intra
  std::vector<uint8_t> pVop = {0, 0, 1, 0xB6, 0x50, 0x55};  // coding type 1: predicted
  std::vector<uint8_t> first = vol;
  first.insert(first.end(), iVop.begin(), iVop.end());
  EXPECT_EQ(mpeg4.Look(first.data(), first.size()), TSegmentCut::Cut);
  EXPECT_EQ(mpeg4.Look(pVop.data(), pVop.size()), TSegmentCut::None);
  EXPECT_EQ(mpeg4.Look(iVop.data(), iVop.size()), TSegmentCut::Cut);
  EXPECT_EQ(mpeg4.Prefix(iVop.data(), iVop.size()), vol);
  EXPECT_TRUE(mpeg4.Prefix(first.data(), first.size()).empty());

  // Motion JPEG: every picture.
  TSegmentCuts mjpeg(OmVideoType_MJPEG);
  EXPECT_EQ(mjpeg.Look(Pictures()[0].data(), Pictures()[0].size()), TSegmentCut::Cut);
  EXPECT_TRUE(mjpeg.Prefix(Pictures()[0].data(), Pictures()[0].size()).empty());
}
