// The real vyrconvert on damaged copies of clean recordings, judged by ffprobe and ffmpeg:
// the MP4 holds every intact picture (H.264: decoded bit for bit as the clean recording's
// from the first key picture after each damage) and the audio of the intact blocks; the raw
// stream is exactly the intact payloads; the probe counts the intact pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"
#include "protocol/UOmBlockReader.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";

struct TBlockAt {
  int64_t Offset = 0, End = 0;
  bool Video = false, Audio = false;
  int VideoIndex = -1;  // order among the video blocks
};

// A clean recording, its blocks, and the video payloads in order.
struct TClean {
  std::vector<uint8_t> Bytes;
  std::vector<TBlockAt> Blocks;
  std::vector<std::vector<uint8_t>> Payloads;
  uint32_t KeyInterval = 0;
  int BlockOfVideo(int AVideoIndex) const {
    for (size_t i = 0; i < Blocks.size(); ++i)
      if (Blocks[i].VideoIndex == AVideoIndex) return static_cast<int>(i);
    return -1;
  }
};

const TClean& Clean(int AVideoType) {
  static std::map<int, TClean> made;
  auto it = made.find(AVideoType);
  if (it != made.end()) return it->second;
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.VideoMode = OmResolution_QCIF;
  spec.AudioType = AUDIO_TYPE_G711A;
  spec.Frames = AVideoType == OmVideoType_H264 ? 200 : 60;
  spec.KeyInterval = 10;
  std::string error;
  TVideoPayloadSource source = EncodedPayloadSource(spec, error);
  EXPECT_TRUE(source) << error;
  TClean c;
  c.KeyInterval = spec.KeyInterval;
  TVideoPayloadSource recorded = [&](uint32_t AIndex, bool& AKey) {
    std::vector<uint8_t> p = source(AIndex, AKey);
    c.Payloads.push_back(p);
    return p;
  };
  TVyrRecordBuilder b;
  GenerateRecording(spec, recorded, b);
  c.Bytes = b.Bytes();
  // A clean recording: the reader finds every block.
  TOmMemorySource memory(c.Bytes.data(), c.Bytes.size());
  TOmBlockReader reader(memory);
  TOmBlock block;
  TOmDamage damage;
  int video = 0;
  while (reader.Next(block, damage) == TOmReadItem::Block) {
    TBlockAt at;
    at.Offset = block.Offset;
    at.End = block.End;
    at.Video = block.IsVideo();
    at.Audio = block.IsAudio();
    if (at.Video) at.VideoIndex = video++;
    c.Blocks.push_back(at);
  }
  EXPECT_EQ(reader.DamagedRegions(), 0);
  EXPECT_EQ(video, static_cast<int>(spec.Frames));
  return made.emplace(AVideoType, std::move(c)).first->second;
}

// One damaged copy and the blocks that the damage touched.
struct TDamaged {
  std::vector<uint8_t> Bytes;
  std::set<int> Lost;  // block indices of the clean recording
  int Regions = 0;
  int EmptyHeads = 0;  // lost video blocks whose head still stands, saying they hold nothing
};

using TDamage = std::function<void(const TClean&, TDamaged&)>;

// The damages, each at the head of the block that holds video picture AVideo. Applied from
// the end of the file to its start, so that the clean offsets stay right.
TDamage FlipMagic(int AVideo) {
  return [AVideo](const TClean& C, TDamaged& D) { D.Bytes[C.Blocks[C.BlockOfVideo(AVideo)].Offset + 1] ^= 0x04; };
}
TDamage StrayBytes(int AVideo, size_t ACount) {
  return [AVideo, ACount](const TClean& C, TDamaged& D) {
    std::mt19937 random(ACount);
    std::vector<uint8_t> g(ACount);
    for (uint8_t& x : g) x = static_cast<uint8_t>(random());
    D.Bytes.insert(D.Bytes.begin() + C.Blocks[C.BlockOfVideo(AVideo)].Offset, g.begin(), g.end());
    ++D.Regions;
  };
}
// Zeroes (or cuts out) ACount bytes from the head of video picture AVideo on.
TDamage LoseRun(int AVideo, int64_t ACount, bool ACutOut) {
  return [=](const TClean& C, TDamaged& D) {
    const int64_t from = C.Blocks[C.BlockOfVideo(AVideo)].Offset;
    if (ACutOut) {
      D.Bytes.erase(D.Bytes.begin() + from, D.Bytes.begin() + from + ACount);
    } else {
      std::fill(D.Bytes.begin() + from, D.Bytes.begin() + from + ACount, 0);
    }
    for (size_t i = 0; i < C.Blocks.size(); ++i)
      if (C.Blocks[i].End > from && C.Blocks[i].Offset < from + ACount) D.Lost.insert(static_cast<int>(i));
    ++D.Regions;
  };
}
TDamage SetLength(int AVideo, uint32_t ALength) {
  return [=](const TClean& C, TDamaged& D) {
    const int block = C.BlockOfVideo(AVideo);
    OmPutU32(D.Bytes.data() + C.Blocks[block].Offset + 28, ALength);
    D.Lost.insert(block);
    ++D.Regions;
    if (ALength == 0) ++D.EmptyHeads;
  };
}

TDamage AddToLength(int AVideo, int32_t ADelta) {
  return [=](const TClean& C, TDamaged& D) {
    const int block = C.BlockOfVideo(AVideo);
    uint8_t* at = D.Bytes.data() + C.Blocks[block].Offset + 28;
    OmPutU32(at, OmGetU32(at) + static_cast<uint32_t>(ADelta));
    D.Lost.insert(block);
    ++D.Regions;
  };
}

TDamaged Apply(const TClean& AClean, const std::vector<TDamage>& ADamages) {
  TDamaged d;
  d.Bytes = AClean.Bytes;
  for (auto it = ADamages.rbegin(); it != ADamages.rend(); ++it) (*it)(AClean, d);
  return d;
}

std::string Save(const TTempDir& ADir, const std::string& AName, const std::vector<uint8_t>& ABytes) {
  EXPECT_TRUE(WriteFileBytes(ADir.File(AName), std::string(ABytes.begin(), ABytes.end())));
  return ADir.File(AName);
}

bool Contains(const std::string& AText, const std::string& APart) { return AText.find(APart) != std::string::npos; }

// Samples of the first video stream, as ffprobe counts its packets.
long long VideoPackets(const std::string& AFile) {
  const TToolResult r = RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets",
                                            "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", AFile});
  return r.ExitCode == 0 ? std::atoll(r.Out.c_str()) : -1;
}

// MD5 of each decoded picture by its place among the file's video samples, for the
// pictures the decoder gives out (it may hold back pictures that refer to a lost one).
std::map<long long, std::string> HashesByPicture(const std::string& AFile) {
  // The samples' times, in the stream's time base, in order.
  std::map<long long, long long> indexOfPts;
  std::vector<long long> times;
  for (const std::string& pts : ProbePackets(AFile, "v:0", "pts")) times.push_back(std::atoll(pts.c_str()));
  std::sort(times.begin(), times.end());
  for (size_t i = 0; i < times.size(); ++i) indexOfPts[times[i]] = static_cast<long long>(i);
  // Decoded pictures in the same time base.
  const TFrameHashes decoded = VideoFrameHashes(AFile);
  std::map<long long, std::string> byPicture;
  for (size_t i = 0; i < decoded.Hashes.size(); ++i) {
    auto it = indexOfPts.find(decoded.Times[i]);
    if (it != indexOfPts.end()) byPicture[it->second] = decoded.Hashes[i];
  }
  return byPicture;
}

struct TCase {
  const char* Name;
  std::vector<TDamage> Damages;
};

// The H.264 cases: every intact picture in the MP4, decoded as the clean one's from the
// first key picture after each damage; the audio of the intact blocks; the raw stream and
// the probe.
void JudgeH264(const TCase& ACase) {
  SCOPED_TRACE(ACase.Name);
  const TClean& clean = Clean(OmVideoType_H264);
  const TDamaged damaged = Apply(clean, ACase.Damages);
  TTempDir dir;
  const std::string src = Save(dir, "cam.vyr", damaged.Bytes);

  std::vector<int> intactVideo;  // video indices kept
  std::string intactRaw;
  int intactAudio = 0;
  for (size_t i = 0; i < clean.Blocks.size(); ++i) {
    if (damaged.Lost.count(static_cast<int>(i))) continue;
    const TBlockAt& b = clean.Blocks[i];
    if (b.Video) {
      intactVideo.push_back(b.VideoIndex);
      intactRaw.append(clean.Payloads[b.VideoIndex].begin(), clean.Payloads[b.VideoIndex].end());
    }
    if (b.Audio) ++intactAudio;
  }

  TProcessResult probe = RunProcess({Vyrconvert, "--probe", src});
  // The probe counts frame numbers, of the empty blocks too; the rate holds while whole
  // seconds without damage are left.
  if (std::string(ACase.Name).find("five") == std::string::npos) {
    EXPECT_TRUE(Contains(probe.Out, " fps=25 ")) << probe.Out;
  }
  EXPECT_TRUE(Contains(probe.Out, " frames=" + std::to_string(intactVideo.size() + damaged.EmptyHeads) + " "))
      << probe.Out;

  TProcessResult raw = RunProcess({Vyrconvert, "-f", "raw", "-o", dir.Path(), src});
  EXPECT_EQ(raw.ExitCode, 0) << raw.Err;
  EXPECT_TRUE(ReadFileBytes(dir.File("cam.H264")) == intactRaw) << "the raw stream is not the intact payloads";

  TProcessResult mp4 = RunProcess({Vyrconvert, "-o", dir.Path(), src});
  EXPECT_EQ(mp4.ExitCode, 0) << mp4.Err;
  if (damaged.Regions > 0) {
    const std::string regions = std::to_string(damaged.Regions) + (damaged.Regions == 1 ? " region, " : " regions, ");
    EXPECT_TRUE(Contains(mp4.Out, "damaged data skipped: " + regions)) << mp4.Out;
    EXPECT_TRUE(Contains(raw.Out, "damaged data skipped: " + regions)) << raw.Out;
  } else {
    EXPECT_FALSE(Contains(mp4.Out, "damaged")) << mp4.Out;
  }
  TMediaInfo info = ProbeMedia(dir.File("cam.mp4"));
  ASSERT_TRUE(info.Video()) << info.Errors;
  EXPECT_EQ(VideoPackets(dir.File("cam.mp4")), static_cast<long long>(intactVideo.size()));
  ASSERT_TRUE(info.Audio());
  // The audio of the intact blocks, kept on the recording's clock: gaps longer than one AAC
  // frame are filled with silence, shorter ones close up.
  int cleanAudio = 0;
  for (const TBlockAt& b : clean.Blocks) cleanAudio += b.Audio;
  EXPECT_GE(info.Audio()->Duration, intactAudio * 0.02 - 0.15);
  EXPECT_LE(info.Audio()->Duration, cleanAudio * 0.02 + 0.15);

  // Bit for bit as the clean pictures, once a key picture follows the last lost one.
  static const std::vector<std::string> cleanHashes = [&] {
    TTempDir c;
    const std::string cleanRaw = c.File("clean.h264");
    std::string all;
    for (const auto& p : clean.Payloads) all.append(p.begin(), p.end());
    WriteFileBytes(cleanRaw, all);
    return VideoFrameHashes(cleanRaw, "h264").Hashes;
  }();
  ASSERT_EQ(cleanHashes.size(), clean.Payloads.size());
  // The MP4's pictures are the intact ones, in order, one nominal frame each.
  const std::map<long long, std::string> hashes = HashesByPicture(dir.File("cam.mp4"));
  int compared = 0;
  int lastLost = -1;
  for (size_t k = 0; k < intactVideo.size(); ++k) {
    const int v = intactVideo[k];
    if (k > 0 && intactVideo[k - 1] != v - 1) lastLost = v - 1;
    if (k == 0 && v != 0) lastLost = v - 1;
    const int firstKeyAfter = lastLost < 0 ? 0 : (lastLost / static_cast<int>(clean.KeyInterval) + 1) * clean.KeyInterval;
    if (v < firstKeyAfter) continue;
    auto it = hashes.find(static_cast<long long>(k));
    ASSERT_NE(it, hashes.end()) << "picture " << v << " was not decoded";
    EXPECT_EQ(it->second, cleanHashes[v]) << "picture " << v;
    ++compared;
  }
  EXPECT_GT(compared, static_cast<int>(intactVideo.size()) / 2);
}

}  // namespace

TEST(DamagedRecordings, H264KeepsEveryIntactPicture) {
  const std::vector<TCase> cases = {
      {"clean", {}},
      {"a flipped bit in one magic", {FlipMagic(25)}},
      {"a flipped bit in the first and the last magic", {FlipMagic(0), FlipMagic(199)}},
      {"4000 stray bytes between two blocks", {StrayBytes(40, 4000)}},
      {"8 KiB zeroed", {LoseRun(55, 8192, false)}},
      {"20000 bytes missing", {LoseRun(70, 20000, true)}},
      {"an absurd length", {SetLength(85, 0xFFFFFF00u)}},
      {"a length of 0", {SetLength(30, 0)}},
      {"a length one byte long", {AddToLength(33, 1)}},
      {"a length one byte short", {AddToLength(36, -1)}},
      {"five damages in one file",
       {FlipMagic(12), StrayBytes(24, 3000), LoseRun(41, 8192, false), LoseRun(63, 20000, true),
        SetLength(90, 0x7FFFFFFFu)}},
  };
  for (const TCase& c : cases) JudgeH264(c);
}

// Transcoded codecs: every intact picture is encoded, whatever lies between them, and an
// empty video block in the middle no longer drains the transcoder.
TEST(DamagedRecordings, TranscodedCodecsKeepEveryIntactPicture) {
  for (int type : {OmVideoType_MJPEG, OmVideoType_H265}) {
    const TClean& clean = Clean(type);
    const struct {
      const char* Name;
      std::vector<TDamage> Damages;
      long long Pictures;
    } cases[] = {
        {"stray bytes and a zeroed head", {StrayBytes(15, 2000), LoseRun(30, 40, false)}, 59},
        {"an empty video block", {}, 59},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + " codec " + std::to_string(type));
      TDamaged damaged = Apply(clean, c.Damages);
      if (std::string(c.Name) == "an empty video block") {
        // The block keeps its place but says it holds nothing; its payload follows as damage.
        OmPutU32(damaged.Bytes.data() + clean.Blocks[clean.BlockOfVideo(20)].Offset + 28, 0);
      }
      TTempDir dir;
      const std::string src = Save(dir, "cam.vyr", damaged.Bytes);
      TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), src});
      EXPECT_EQ(r.ExitCode, 0) << r.Err;
      TMediaInfo info = ProbeMedia(dir.File("cam.mp4"));
      ASSERT_TRUE(info.Video()) << info.Errors;
      if (type == OmVideoType_MJPEG) {
        EXPECT_EQ(info.Video()->Frames, c.Pictures);
      } else {
        // Pictures that refer to a lost one may not decode; nothing after them is lost.
        EXPECT_GE(info.Video()->Frames, c.Pictures - 9);
        EXPECT_LE(info.Video()->Frames, c.Pictures);
      }
    }
  }
}

TEST(DamagedRecordings, GarbageAndGarbageAfterARecording) {
  std::mt19937 random(3);
  std::vector<uint8_t> garbage(200000);
  for (uint8_t& x : garbage) x = static_cast<uint8_t>(random());
  TTempDir dir;
  const std::string only = Save(dir, "garbage.vyr", garbage);
  TProcessResult mp4 = RunProcess({Vyrconvert, "-o", dir.Path(), only});
  EXPECT_EQ(mp4.ExitCode, 1);
  EXPECT_TRUE(Contains(mp4.Err, "holds nothing to convert")) << mp4.Err;
  EXPECT_FALSE(FileExists(dir.File("garbage.mp4")));
  TProcessResult raw = RunProcess({Vyrconvert, "-f", "raw", "-o", dir.Path(), only});
  EXPECT_EQ(raw.ExitCode, 1);
  EXPECT_TRUE(Contains(raw.Err, "holds no video")) << raw.Err;

  const TClean& clean = Clean(OmVideoType_H264);
  std::vector<uint8_t> bytes = clean.Bytes;
  bytes.insert(bytes.end(), garbage.begin(), garbage.begin() + 30000);
  const std::string tail = Save(dir, "tail.vyr", bytes);
  TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), tail});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "damaged data skipped: 1 region, 30000 bytes")) << r.Out;
  TMediaInfo info = ProbeMedia(dir.File("tail.mp4"));
  ASSERT_TRUE(info.Video()) << info.Errors;
  EXPECT_EQ(info.Video()->Frames, 200);
}
