// The MP4 file writer: its box tree, its sample index read back independently, its
// contract on failures, the 64-bit layout past 4 GiB, and files judged by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "Mp4BoxTree.h"
#include "TestSupport.h"
#include "UAnnexBUnits.h"
#include "UFfmpegMedia.h"
#include "conversion/UMp4ConversionState.h"
#include "conversion/UMp4v2Lib.h"

namespace {

const uint8_t Sps[] = {0x67, 0x64, 0x00, 0x1E, 0xAC, 0xD9, 0x40, 0xB0, 0x4B, 0x42};
const uint8_t Pps[] = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
const uint8_t AudioConfig[] = {0x15, 0x88};

std::string Bytes(const std::vector<uint8_t>& AData, size_t AOffset, size_t ACount) {
  return std::string(AData.begin() + static_cast<long>(AOffset), AData.begin() + static_cast<long>(AOffset + ACount));
}

std::string PatternSample(size_t ASize, int ASeed) {
  std::string s(ASize, '\0');
  for (size_t i = 0; i < ASize; ++i) s[i] = static_cast<char>((i * 7 + static_cast<size_t>(ASeed) * 31) & 0xFF);
  return s;
}

bool Write(MP4FileHandle AFile, MP4TrackId ATrack, const std::string& ASample, bool ASync,
           MP4Duration ADuration = MP4_INVALID_DURATION, MP4Duration AOffset = 0) {
  return MP4WriteSample(AFile, ATrack, reinterpret_cast<const uint8_t*>(ASample.data()),
                        static_cast<uint32_t>(ASample.size()), ADuration, AOffset, ASync);
}

// One access unit of an Annex B stream whose pictures each begin with a delimiter, as a
// sample: NAL units with 4-byte lengths, parameter sets and delimiters left out.
struct TTestAccessUnit {
  std::string Sample;
  bool Sync = false;
};

std::vector<TTestAccessUnit> AccessUnitsByDelimiter(const std::string& AStream, std::string& ASps,
                                                    std::string& APps) {
  std::vector<TTestAccessUnit> units;
  for (const std::string& nal : SplitAnnexB(AStream)) {
    int type = NalType(nal);
    if (type == 9) units.emplace_back();
    if (type == 7 && ASps.empty()) ASps = nal;
    if (type == 8 && APps.empty()) APps = nal;
    if (units.empty() || (type != 1 && type != 5 && type != 6)) continue;
    uint32_t n = static_cast<uint32_t>(nal.size());
    const char len[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                         static_cast<char>(n)};
    units.back().Sample += std::string(len, 4) + nal;
    units.back().Sync |= type == 5;
  }
  return units;
}

// A file with a video and an audio track, samples interleaved as a recording gives them.
struct TTwoTrackFile {
  std::vector<std::string> Video, Audio;
  std::vector<bool> VideoSync;
};

TTwoTrackFile WriteTwoTrackFile(const std::string& AFileName) {
  TTwoTrackFile f;
  MP4FileHandle h = MP4Create(AFileName, 0);
  EXPECT_NE(h, MP4_INVALID_FILE_HANDLE);
  EXPECT_TRUE(MP4SetTimeScale(h, 90000));
  MP4TrackId v = MP4AddH264VideoTrack(h, 90000, 3600, 320, 240, Sps[1], Sps[2], Sps[3], 3);
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(MP4SetVideoProfileLevel(h, 1));
  EXPECT_TRUE(MP4AddH264SequenceParameterSet(h, v, Sps, sizeof Sps));
  EXPECT_TRUE(MP4AddH264SequenceParameterSet(h, v, Sps, sizeof Sps));  // stored once
  EXPECT_TRUE(MP4AddH264PictureParameterSet(h, v, Pps, sizeof Pps));
  MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, MP4_MPEG4_AUDIO_TYPE);
  EXPECT_EQ(a, 2u);
  EXPECT_TRUE(MP4SetAudioProfileLevel(h, 2));
  EXPECT_TRUE(MP4SetTrackESConfiguration(h, a, AudioConfig, sizeof AudioConfig));
  // V V A V A A V V V A: chunks V2 A1 V1 A2 V3 A1.
  const char order[] = "VVAVAAVVVA";
  for (int i = 0; order[i]; ++i) {
    if (order[i] == 'V') {
      bool sync = f.Video.size() % 4 == 0;
      f.Video.push_back(PatternSample(100 + f.Video.size() * 13, i));
      f.VideoSync.push_back(sync);
      EXPECT_TRUE(Write(h, v, f.Video.back(), sync));
    } else {
      f.Audio.push_back(PatternSample(40 + f.Audio.size(), i));
      EXPECT_TRUE(Write(h, a, f.Audio.back(), true));
    }
  }
  EXPECT_TRUE(MP4SetTrackEdit(h, v, 7200, 0));
  EXPECT_TRUE(MP4SetTrackEdit(h, a, 0, 1024, 2000));
  EXPECT_TRUE(MP4Close(h, 0));
  return f;
}

}  // namespace

TEST(Mp4File, BoxTreeHasEverythingAStrictPlayerNeeds) {
  TTempDir dir;
  WriteTwoTrackFile(dir.File("two.mp4"));
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("two.mp4"))) << tree.Error();
  const char* expected =
      "ftyp\nfree\nmdat\nmoov\n  mvhd\n  iods\n"
      "  trak\n    tkhd\n    edts\n      elst\n    mdia\n      mdhd\n      hdlr\n      minf\n        vmhd\n"
      "        dinf\n          dref\n            url \n        stbl\n          stsd\n            avc1\n"
      "              avcC\n          stts\n          stss\n          stsc\n          stsz\n          stco\n"
      "  trak\n    tkhd\n    edts\n      elst\n    mdia\n      mdhd\n      hdlr\n      minf\n        smhd\n"
      "        dinf\n          dref\n            url \n        stbl\n          stsd\n            mp4a\n"
      "              esds\n          stts\n          stsc\n          stsz\n          stco\n"
      "  udta\n    vyrc\n";
  EXPECT_EQ(tree.Dump(), expected);
}

TEST(Mp4File, IndexDescribesEverySampleAsWritten) {
  TTempDir dir;
  TTwoTrackFile f = WriteTwoTrackFile(dir.File("two.mp4"));
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("two.mp4"))) << tree.Error();

  std::vector<TMp4Sample> video = tree.Samples(0);
  ASSERT_EQ(video.size(), f.Video.size());
  for (size_t i = 0; i < video.size(); ++i) {
    EXPECT_EQ(Bytes(tree.ReadAt(video[i].Offset, video[i].Size), 0, video[i].Size), f.Video[i]) << i;
    EXPECT_EQ(video[i].Duration, 3600u);
    EXPECT_EQ(video[i].Sync, f.VideoSync[i]) << i;
  }
  std::vector<TMp4Sample> audio = tree.Samples(1);
  ASSERT_EQ(audio.size(), f.Audio.size());
  for (size_t i = 0; i < audio.size(); ++i) {
    EXPECT_EQ(Bytes(tree.ReadAt(audio[i].Offset, audio[i].Size), 0, audio[i].Size), f.Audio[i]) << i;
    EXPECT_EQ(audio[i].Duration, 1024u);
    EXPECT_TRUE(audio[i].Sync);
  }
  // Consecutive samples of one track share a chunk: V2 V1 V3 and A1 A2 A1.
  std::vector<uint8_t> stsc = tree.Payload(*tree.Find("moov/trak[0]/mdia/minf/stbl/stsc"));
  ASSERT_EQ(BeU32(stsc, 4), 3u);
  EXPECT_EQ(BeU32(stsc, 12), 2u);
  EXPECT_EQ(BeU32(stsc, 24), 1u);
  EXPECT_EQ(BeU32(stsc, 36), 3u);
  EXPECT_EQ(BeU32(tree.Payload(*tree.Find("moov/trak[1]/mdia/minf/stbl/stco")), 4), 3u);

  // The media data box holds exactly the samples.
  const TMp4Box* mdat = tree.Find("mdat");
  ASSERT_TRUE(mdat);
  uint64_t bytes = 0;
  for (const auto& s : f.Video) bytes += s.size();
  for (const auto& s : f.Audio) bytes += s.size();
  EXPECT_EQ(mdat->PayloadSize(), bytes);
  EXPECT_EQ(mdat->HeaderSize, 8u);
}

TEST(Mp4File, HeadersCarryTimeScalesSizesEditsAndCodecSetUp) {
  TTempDir dir;
  WriteTwoTrackFile(dir.File("two.mp4"));
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("two.mp4"))) << tree.Error();

  std::vector<uint8_t> mvhd = tree.Payload(*tree.Find("moov/mvhd"));
  EXPECT_EQ(BeU32(mvhd, 12), 90000u);
  // Video: 7200 empty + 6 × 3600; audio: 2000 of 4 × 1024 at 8000 Hz = 22500.
  EXPECT_EQ(BeU32(mvhd, 16), 7200u + 6 * 3600);
  EXPECT_EQ(BeU32(mvhd, 96), 3u);  // next track id

  std::vector<uint8_t> tkhd = tree.Payload(*tree.Find("moov/trak[0]/tkhd"));
  EXPECT_EQ(BeU32(tkhd, 12), 1u);
  EXPECT_EQ(BeU32(tkhd, 20), 7200u + 6 * 3600);
  EXPECT_EQ(BeU32(tkhd, 76), 320u << 16);
  EXPECT_EQ(BeU32(tkhd, 80), 240u << 16);
  std::vector<uint8_t> atkhd = tree.Payload(*tree.Find("moov/trak[1]/tkhd"));
  EXPECT_EQ(BeU32(atkhd, 20), 22500u);
  EXPECT_EQ(BeU16(atkhd, 36), 0x0100u);  // volume

  std::vector<uint8_t> velst = tree.Payload(*tree.Find("moov/trak[0]/edts/elst"));
  ASSERT_EQ(BeU32(velst, 4), 2u);
  EXPECT_EQ(BeU32(velst, 8), 7200u);
  EXPECT_EQ(BeU32(velst, 12), 0xFFFFFFFFu);  // empty edit
  EXPECT_EQ(BeU32(velst, 20), 6u * 3600);
  EXPECT_EQ(BeU32(velst, 24), 0u);
  std::vector<uint8_t> aelst = tree.Payload(*tree.Find("moov/trak[1]/edts/elst"));
  ASSERT_EQ(BeU32(aelst, 4), 1u);
  EXPECT_EQ(BeU32(aelst, 8), 22500u);
  EXPECT_EQ(BeU32(aelst, 12), 1024u);

  EXPECT_EQ(BeU32(tree.Payload(*tree.Find("moov/trak[0]/mdia/mdhd")), 12), 90000u);
  EXPECT_EQ(BeU32(tree.Payload(*tree.Find("moov/trak[0]/mdia/mdhd")), 16), 6u * 3600);
  EXPECT_EQ(BeU32(tree.Payload(*tree.Find("moov/trak[1]/mdia/mdhd")), 12), 8000u);
  EXPECT_EQ(BeU32(tree.Payload(*tree.Find("moov/trak[1]/mdia/mdhd")), 16), 4u * 1024);
  EXPECT_EQ(Bytes(tree.Payload(*tree.Find("moov/trak[1]/mdia/hdlr")), 8, 4), "soun");

  // avcC: version, profile bytes, 4-byte lengths, one SPS, one PPS, then (High
  // profile) chroma format 4:2:0 and 8-bit depths.
  std::vector<uint8_t> avcC = tree.Payload(*tree.Find("moov/trak[0]/mdia/minf/stbl/stsd/avc1/avcC"));
  std::string expected = std::string("\x01\x64\x00\x1E\xFF\xE1\x00\x0A", 8) +
                         std::string(reinterpret_cast<const char*>(Sps), sizeof Sps) + std::string("\x01\x00\x06", 3) +
                         std::string(reinterpret_cast<const char*>(Pps), sizeof Pps) + std::string("\xFD\xF8\xF8\x00", 4);
  EXPECT_EQ(Bytes(avcC, 0, avcC.size()), expected);
  std::vector<uint8_t> avc1 = tree.Payload(*tree.Find("moov/trak[0]/mdia/minf/stbl/stsd/avc1"));
  EXPECT_EQ(BeU16(avc1, 24), 320u);
  EXPECT_EQ(BeU16(avc1, 26), 240u);

  std::vector<uint8_t> mp4a = tree.Payload(*tree.Find("moov/trak[1]/mdia/minf/stbl/stsd/mp4a"));
  EXPECT_EQ(BeU16(mp4a, 16), 1u);  // mono, from the AudioSpecificConfig
  EXPECT_EQ(BeU32(mp4a, 24), 8000u << 16);
  std::vector<uint8_t> esds = tree.Payload(*tree.Find("moov/trak[1]/mdia/minf/stbl/stsd/mp4a/esds"));
  std::string esdsText = Bytes(esds, 0, esds.size());
  EXPECT_NE(esdsText.find(std::string("\x04\x11\x40\x15", 4)), std::string::npos);  // MPEG-4 audio
  EXPECT_NE(esdsText.find(std::string("\x05\x02\x15\x88", 4)), std::string::npos);  // the config
  EXPECT_EQ(esdsText.substr(esdsText.size() - 3), std::string("\x06\x01\x02", 3));
}

TEST(Mp4File, TablesStayCompactAndFollowDurationsAndOffsets) {
  // Equal sizes need no size table; durations and composition offsets are kept as runs.
  TTempDir dir;
  MP4FileHandle h = MP4Create(dir.File("t.mp4"), 0);
  ASSERT_NE(h, 0u);
  MP4TrackId v = MP4AddH264VideoTrack(h, 90000, 3000, 64, 64, 66, 0xC0, 30, 3);
  const std::string sample(50, 'x');
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Write(h, v, sample, i == 0));
  EXPECT_TRUE(Write(h, v, sample, false, 6000, 3000));
  EXPECT_TRUE(Write(h, v, sample, false, 6000, static_cast<MP4Duration>(-3000)));
  EXPECT_TRUE(MP4Close(h, 0));

  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("t.mp4"))) << tree.Error();
  const std::string stbl = "moov/trak/mdia/minf/stbl/";
  std::vector<uint8_t> stsz = tree.Payload(*tree.Find(stbl + "stsz"));
  EXPECT_EQ(stsz.size(), 12u);
  EXPECT_EQ(BeU32(stsz, 4), 50u);
  EXPECT_EQ(BeU32(stsz, 8), 7u);
  std::vector<uint8_t> stts = tree.Payload(*tree.Find(stbl + "stts"));
  ASSERT_EQ(BeU32(stts, 4), 2u);
  EXPECT_EQ(BeU32(stts, 8), 5u);
  EXPECT_EQ(BeU32(stts, 12), 3000u);
  EXPECT_EQ(BeU32(stts, 16), 2u);
  EXPECT_EQ(BeU32(stts, 20), 6000u);
  const TMp4Box* ctts = tree.Find(stbl + "ctts");
  ASSERT_TRUE(ctts);
  std::vector<uint8_t> c = tree.Payload(*ctts);
  EXPECT_EQ(c[0], 1u);  // version 1: signed offsets
  ASSERT_EQ(BeU32(c, 4), 3u);
  EXPECT_EQ(BeU32(c, 8), 5u);
  EXPECT_EQ(BeU32(c, 12), 0u);
  EXPECT_EQ(BeU32(c, 20), 3000u);
  EXPECT_EQ(static_cast<int32_t>(BeU32(c, 28)), -3000);
  // One chunk for all seven samples.
  EXPECT_EQ(BeU32(tree.Payload(*tree.Find(stbl + "stco")), 4), 1u);
  std::vector<uint8_t> stss = tree.Payload(*tree.Find(stbl + "stss"));
  ASSERT_EQ(BeU32(stss, 4), 1u);
  EXPECT_EQ(BeU32(stss, 8), 1u);
  // Baseline profile: the decoder configuration has no chroma format fields.
  EXPECT_EQ(tree.Find(stbl + "stsd/avc1/avcC")->PayloadSize(), 7u);
}

TEST(Mp4File, FailuresGiveZeroHandlesAndIdsAndFalse) {
  TTempDir dir;
  EXPECT_EQ(MP4Create(dir.File("missing/x.mp4"), 0), MP4_INVALID_FILE_HANDLE);
  EXPECT_EQ(MP4Create("", 0), MP4_INVALID_FILE_HANDLE);
  EXPECT_FALSE(FileExists(dir.File("missing")));

  // Every call on a handle that was never given.
  const uint8_t byte = 0x65;
  EXPECT_FALSE(MP4SetTimeScale(0, 90000));
  EXPECT_EQ(MP4AddH264VideoTrack(0, 90000, 3600, 1, 1, 66, 0, 30, 3), 0u);
  EXPECT_EQ(MP4AddAudioTrack(12345, 8000, 1024, 0x40), 0u);
  EXPECT_FALSE(MP4AddH264SequenceParameterSet(0, 1, Sps, sizeof Sps));
  EXPECT_FALSE(MP4AddH264PictureParameterSet(0, 1, Pps, sizeof Pps));
  EXPECT_FALSE(MP4SetVideoProfileLevel(0, 1));
  EXPECT_FALSE(MP4SetAudioProfileLevel(0, 2));
  EXPECT_FALSE(MP4SetTrackESConfiguration(0, 1, AudioConfig, 2));
  EXPECT_FALSE(MP4WriteSample(0, 1, &byte, 1));
  EXPECT_FALSE(MP4SetTrackEdit(0, 1, 0, 0));
  EXPECT_FALSE(MP4Close(0, 0));

  MP4FileHandle h = MP4Create(dir.File("f.mp4"), 0);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(MP4SetTimeScale(h, 0));
  struct TTrackCase {
    uint32_t TimeScale;
    MP4Duration Duration;
    uint8_t LengthSizeMinusOne;
  } const badTracks[] = {{0, 3600, 3}, {90000, 0, 3}, {90000, 1ull << 32, 3}, {90000, 3600, 2}, {90000, 3600, 4}};
  for (const TTrackCase& c : badTracks) {
    EXPECT_EQ(MP4AddH264VideoTrack(h, c.TimeScale, c.Duration, 8, 8, 66, 0, 30, c.LengthSizeMinusOne), 0u);
  }
  EXPECT_EQ(MP4AddAudioTrack(h, 0, 1024, 0x40), 0u);
  MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, 0x40);
  EXPECT_EQ(a, 1u);
  EXPECT_FALSE(MP4AddH264SequenceParameterSet(h, a, Sps, sizeof Sps));  // not a video track
  EXPECT_FALSE(MP4WriteSample(h, 2, &byte, 1));                          // no such track
  EXPECT_FALSE(MP4WriteSample(h, a, nullptr, 1));
  EXPECT_FALSE(MP4WriteSample(h, a, &byte, 0));
  EXPECT_FALSE(MP4WriteSample(h, a, &byte, 1, 1ull << 32));
  EXPECT_FALSE(MP4SetTrackESConfiguration(h, a, nullptr, 2));
  EXPECT_TRUE(MP4WriteSample(h, a, &byte, 1));
  EXPECT_TRUE(MP4Close(h, 0));
  // The handle is gone once closed.
  EXPECT_FALSE(MP4WriteSample(h, a, &byte, 1));
  EXPECT_FALSE(MP4Close(h, 0));
  // A new file gets a new handle, never the closed one.
  MP4FileHandle h2 = MP4Create(dir.File("g.mp4"), 0);
  EXPECT_NE(h2, 0u);
  EXPECT_NE(h2, h);
  EXPECT_TRUE(MP4Close(h2, 0));
}

TEST(Mp4File, WriteFailuresAreReported) {
  TSmallTmpfs disk(512 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  MP4FileHandle h = MP4Create(disk.File("full.mp4"), 0);
  ASSERT_NE(h, 0u);
  MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, 0x40);
  const std::string big(1 << 20, 'a');  // larger than the write buffer: written at once
  EXPECT_FALSE(Write(h, a, big, true));
  std::string kept, error;
  EXPECT_FALSE(MP4Close(h, 0, &kept, &error));
  EXPECT_EQ(kept, "");
  EXPECT_NE(error.find("No space left"), std::string::npos) << error;
  // Nothing of the failed file stays behind to fill the disk.
  EXPECT_EQ(ListFolder(disk.Path()), std::vector<std::string>{});
}

TEST(Mp4File, CloseFlagsDecideWhatIsKept) {
  TTempDir dir;
  const struct {
    uint32_t Flags;
    bool Earlier;
    bool Result;
    const char* Kept;  // relative to the folder; "" for nothing
  } cases[] = {
      {0, false, true, "a.mp4"},
      {MP4_CLOSE_STOPPED, false, true, "a.mp4"},
      {MP4_CLOSE_STOPPED, true, true, "a.mp4.part"},
      {MP4_CLOSE_DISCARD, true, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Flags);
    if (c.Earlier) WriteFileBytes(dir.File("a.mp4"), "earlier");
    MP4FileHandle h = MP4Create(dir.File("a.mp4"), 0);
    ASSERT_NE(h, 0u);
    MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, 0x40);
    EXPECT_TRUE(Write(h, a, "frame", true));
    std::string kept;
    EXPECT_EQ(MP4Close(h, c.Flags, &kept), c.Result);
    EXPECT_EQ(kept, *c.Kept ? dir.File(c.Kept) : "");
    if (*c.Kept) {
      EXPECT_GT(ReadFileBytes(kept).size(), 100u);  // a whole file with its index
    }
    if (c.Earlier) {
      EXPECT_EQ(ReadFileBytes(dir.File("a.mp4")), "earlier");
    }
    std::filesystem::remove(dir.File("a.mp4"));
    std::filesystem::remove(dir.File("a.mp4.part"));
  }
}

TEST(Mp4File, LargeFilesUse64BitOffsetsAndMediaSize) {
  // A media data gap puts the later samples beyond 4 GiB without writing gigabytes.
  TTempDir dir;
  TH264TestStream spec;
  spec.Frames = 12;
  spec.Gop = 6;
  spec.X264Params = "aud=1";
  std::string sps, pps;
  std::vector<TTestAccessUnit> units =
      AccessUnitsByDelimiter(EncodeTestH264(dir.Path(), "s.h264", spec), sps, pps);
  ASSERT_EQ(units.size(), 12u);

  const std::string file = dir.File("large.mp4");
  MP4FileHandle h = MP4Create(file, 0);
  ASSERT_NE(h, 0u);
  MP4SetTimeScale(h, 90000);
  MP4TrackId v = MP4AddH264VideoTrack(h, 90000, 3600, 176, 144, static_cast<uint8_t>(sps[1]),
                                      static_cast<uint8_t>(sps[2]), static_cast<uint8_t>(sps[3]), 3);
  MP4AddH264SequenceParameterSet(h, v, reinterpret_cast<const uint8_t*>(sps.data()), static_cast<uint16_t>(sps.size()));
  MP4AddH264PictureParameterSet(h, v, reinterpret_cast<const uint8_t*>(pps.data()), static_cast<uint16_t>(pps.size()));
  for (size_t i = 0; i < units.size(); ++i) {
    if (i == 6) {
      ASSERT_TRUE(MP4SkipMediaData(h, (1ull << 32) + 4096));
    }
    ASSERT_TRUE(Write(h, v, units[i].Sample, units[i].Sync));
  }
  ASSERT_TRUE(MP4Close(h, 0));

  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(file)) << tree.Error();
  EXPECT_EQ(tree.Dump().substr(0, 15), "ftyp\nmdat\nmoov\n");  // the free box became the 64-bit size
  const TMp4Box* mdat = tree.Find("mdat");
  EXPECT_EQ(mdat->HeaderSize, 16u);
  EXPECT_GT(mdat->Size, 1ull << 32);
  EXPECT_TRUE(tree.Find("moov/trak/mdia/minf/stbl/co64"));
  EXPECT_FALSE(tree.Find("moov/trak/mdia/minf/stbl/stco"));
  std::vector<TMp4Sample> samples = tree.Samples(0);
  ASSERT_EQ(samples.size(), 12u);
  EXPECT_GT(samples[6].Offset, 1ull << 32);
  EXPECT_EQ(Bytes(tree.ReadAt(samples[11].Offset, samples[11].Size), 0, samples[11].Size), units[11].Sample);

  EXPECT_EQ(ProbeWarnings(file), "");
  TFrameHashes decoded = VideoFrameHashes(file);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  EXPECT_EQ(decoded.Hashes.size(), 12u);
  EXPECT_EQ(decoded.Hashes, VideoFrameHashes(dir.File("s.h264")).Hashes);
}

TEST(Mp4File, FfmpegDecodesAFileOfRealStreams) {
  TTempDir dir;
  TH264TestStream spec;
  spec.Frames = 25;
  spec.X264Params = "aud=1";
  std::string sps, pps;
  std::vector<TTestAccessUnit> units =
      AccessUnitsByDelimiter(EncodeTestH264(dir.Path(), "s.h264", spec), sps, pps);
  ASSERT_EQ(units.size(), 25u);
  std::vector<std::string> aac = EncodeTestAacFrames(dir.Path(), 1.0);
  ASSERT_GE(aac.size(), 8u);

  const std::string file = dir.File("av.mp4");
  MP4FileHandle h = MP4Create(file, 0);
  MP4SetTimeScale(h, 90000);
  MP4TrackId v = MP4AddH264VideoTrack(h, 90000, 3600, 176, 144, static_cast<uint8_t>(sps[1]),
                                      static_cast<uint8_t>(sps[2]), static_cast<uint8_t>(sps[3]), 3);
  MP4AddH264SequenceParameterSet(h, v, reinterpret_cast<const uint8_t*>(sps.data()), static_cast<uint16_t>(sps.size()));
  MP4AddH264PictureParameterSet(h, v, reinterpret_cast<const uint8_t*>(pps.data()), static_cast<uint16_t>(pps.size()));
  MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, MP4_MPEG4_AUDIO_TYPE);
  MP4SetTrackESConfiguration(h, a, AudioConfig, sizeof AudioConfig);
  for (size_t i = 0, k = 0; i < units.size(); ++i) {
    ASSERT_TRUE(Write(h, v, units[i].Sample, units[i].Sync));
    // Audio frames of 128 ms between pictures of 40 ms, as they arrive in time.
    while (k < aac.size() && (k * 1024 * 25 <= i * 8000 || i + 1 == units.size())) {
      ASSERT_TRUE(Write(h, a, aac[k++], true));
    }
  }
  // The encoder's 1024 priming samples are skipped; one second of tone remains.
  MP4SetTrackEdit(h, a, 0, 1024, 8000);
  ASSERT_TRUE(MP4Close(h, 0));

  EXPECT_EQ(ProbeWarnings(file), "");
  TFrameHashes decoded = VideoFrameHashes(file);
  EXPECT_TRUE(decoded.Ok) << decoded.Errors;
  EXPECT_EQ(decoded.Hashes.size(), 25u);
  EXPECT_EQ(decoded.Hashes, VideoFrameHashes(dir.File("s.h264")).Hashes);
  auto vs = ProbeStream(file, "v:0", "codec_name,width,height,duration,nb_read_frames", true);
  EXPECT_EQ(vs["codec_name"], "h264");
  EXPECT_EQ(vs["width"], "176");
  EXPECT_EQ(vs["height"], "144");
  EXPECT_EQ(vs["duration"], "1.000000");
  EXPECT_EQ(vs["nb_read_frames"], "25");
  auto as = ProbeStream(file, "a:0", "codec_name,sample_rate,channels,duration");
  EXPECT_EQ(as["codec_name"], "aac");
  EXPECT_EQ(as["sample_rate"], "8000");
  EXPECT_EQ(as["channels"], "1");
  EXPECT_EQ(as["duration"], "1.000000");
  std::vector<std::string> flags = ProbePackets(file, "v:0", "flags");
  ASSERT_EQ(flags.size(), 25u);
  for (size_t i = 0; i < flags.size(); ++i) EXPECT_EQ(flags[i][0] == 'K', i % 10 == 0) << i;
}

// The file says how its conversion ended, in a user-data item players ignore; a run that
// resumes a batch reads it back.
TEST(Mp4File, TheFileSaysHowItsConversionEnded) {
  TTempDir dir;
  const struct {
    uint32_t Flags;
    TMp4ConversionState State;
  } cases[] = {{0, TMp4ConversionState::Finished}, {MP4_CLOSE_STOPPED, TMp4ConversionState::Stopped}};
  for (const auto& c : cases) {
    const std::string name = dir.File("f" + std::to_string(c.Flags) + ".mp4");
    MP4FileHandle h = MP4Create(name, 0);
    ASSERT_NE(h, 0u);
    MP4TrackId a = MP4AddAudioTrack(h, 8000, 1024, 0x40);
    EXPECT_TRUE(Write(h, a, "frame", true));
    ASSERT_TRUE(MP4Close(h, c.Flags));
    EXPECT_EQ(ReadMp4ConversionState(name), c.State);
    TMp4BoxTree tree;
    ASSERT_TRUE(tree.Load(name)) << tree.Error();
    const TMp4Box* item = tree.Find("moov/udta/vyrc");
    ASSERT_NE(item, nullptr);
    const std::vector<uint8_t> text = tree.Payload(*item);
    EXPECT_EQ(std::string(text.begin(), text.end()), c.State == TMp4ConversionState::Finished ? "finished" : "stopped");
  }
  // Files that are not ours, cut or empty say nothing.
  WriteFileBytes(dir.File("other.mp4"), std::string(100, 'x'));
  EXPECT_EQ(ReadMp4ConversionState(dir.File("other.mp4")), TMp4ConversionState::Unknown);
  std::string whole = ReadFileBytes(dir.File("f0.mp4"));
  WriteFileBytes(dir.File("cut.mp4"), whole.substr(0, whole.size() - 10));
  EXPECT_EQ(ReadMp4ConversionState(dir.File("cut.mp4")), TMp4ConversionState::Unknown);
  EXPECT_EQ(ReadMp4ConversionState(dir.File("missing.mp4")), TMp4ConversionState::Unknown);
}
