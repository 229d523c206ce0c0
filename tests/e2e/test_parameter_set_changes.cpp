// Recordings whose picture size changes in the middle, copied (H.264) and transcoded
// (Motion JPEG): one sample description per distinct set of parameter sets, selected per
// chunk; players decode every picture at its own size, also after playing past a change and
// seeking back before it (the ffmpeg libraries, mpv; GStreamer plays through every change,
// but its demuxer keeps the later description after a seek back).
#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

#include "../conversion/Mp4BoxTree.h"
#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";
const std::string GstCheck = std::string(VYR_SOURCE_DIR) + "/scripts/check-seek-gst.py";
const std::string MpvCheck = std::string(VYR_SOURCE_DIR) + "/scripts/check-seek-mpv.lua";
const std::string SeekCheck = std::string(VYR_BIN_DIR) + "/vyr_seek_check";

struct TSegment {
  uint8_t Mode;
  int Width, Height;
};
const TSegment Small = {OmResolution_QCIF, 176, 144};
const TSegment Large = {OmResolution_CIF, 352, 288};
constexpr uint32_t FramesPerSegment = 40;  // 1.6 s at 25 fps
constexpr double SegmentSeconds = FramesPerSegment / 25.0;

// One recording made of segments of 1.6 s each, one size per segment.
std::string MakeRecording(const TTempDir& ADir, const std::string& AName, int AVideoType,
                          const std::vector<TSegment>& ASegments) {
  TVyrRecordBuilder b;
  uint32_t startMs = 0;
  for (const TSegment& s : ASegments) {
    TRecordingSpec spec;
    spec.VideoType = AVideoType;
    spec.VideoMode = s.Mode;
    spec.AudioType = AUDIO_TYPE_G711A;
    spec.Frames = FramesPerSegment;
    spec.KeyInterval = 20;
    spec.StartSecond = 1700000000 + startMs / 1000;
    spec.StartMillisecond = startMs % 1000;
    std::string error;
    TVideoPayloadSource source = EncodedPayloadSource(spec, error);
    EXPECT_TRUE(source) << error;
    GenerateRecording(spec, source, b);
    startMs += FramesPerSegment * 40;
  }
  const std::string path = ADir.File(AName);
  EXPECT_TRUE(b.SaveToFile(path));
  return path;
}

// The size each picture must have, by its time.
std::string SizeAt(const std::vector<TSegment>& ASegments, double ASeconds) {
  size_t i = static_cast<size_t>((ASeconds + 0.001) / SegmentSeconds);
  if (i >= ASegments.size()) i = ASegments.size() - 1;
  return std::to_string(ASegments[i].Width) + "x" + std::to_string(ASegments[i].Height);
}

bool HaveGStreamer() {
  return ::access("/usr/bin/gst-inspect-1.0", X_OK) == 0 &&
         RunProcess({"/usr/bin/gst-inspect-1.0", "avdec_h264"}).ExitCode == 0 &&
         RunProcess({"/usr/bin/python3", "-c", "import gi; gi.require_version('Gst', '1.0')"}).ExitCode == 0;
}

struct TCase {
  const char* Name;
  int VideoType;
  std::vector<TSegment> Segments;
  size_t Descriptions;  // sample descriptions the file must carry
};

}  // namespace

TEST(ParameterSetChanges, EveryPlayerDecodesEveryPictureAtItsSizeAfterSeekingBack) {
  const TCase cases[] = {
      {"copied, one change", OmVideoType_H264, {Small, Large}, 2},
      {"copied, there and back", OmVideoType_H264, {Small, Large, Small}, 2},
      {"transcoded, one change", OmVideoType_MJPEG, {Small, Large}, 2},
      {"transcoded, there and back", OmVideoType_MJPEG, {Small, Large, Small}, 2},
  };
  const bool gst = HaveGStreamer();
  const bool mpv = ::access("/usr/bin/mpv", X_OK) == 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string src = MakeRecording(dir, "cam.vyr", c.VideoType, c.Segments);
    TProcessResult r = RunProcess({Vyrconvert, "-o", dir.Path(), src});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::string mp4 = dir.File("cam.mp4");

    // One sample description per distinct set of parameter sets; the track keeps the
    // first size.
    TMp4BoxTree tree;
    ASSERT_TRUE(tree.Load(mp4)) << tree.Error();
    EXPECT_EQ(tree.Count("moov/trak[0]/mdia/minf/stbl/stsd", "avc1"), c.Descriptions) << tree.Dump();
    const TMp4Box* tkhd = tree.Find("moov/trak[0]/tkhd");
    ASSERT_NE(tkhd, nullptr);
    const std::vector<uint8_t> t = tree.Payload(*tkhd);
    EXPECT_EQ(BeU32(t, t.size() - 8) >> 16, static_cast<uint32_t>(c.Segments[0].Width));

    // ffmpeg: the whole file decodes without an error, each picture at its size.
    EXPECT_EQ(DecodeErrors(mp4), "");
    int count = 0;
    for (const std::string& line : ProbeFrames(mp4, "pts_time,width,height")) {
      int w = 0, h = 0;
      double pts = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%d,%d", &pts, &w, &h), 3) << line;
      EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h), SizeAt(c.Segments, pts)) << "at " << pts;
      ++count;
    }
    EXPECT_EQ(count, static_cast<int>(FramesPerSegment * c.Segments.size()));

    // GStreamer plays the whole file through every change, each picture at its size.
    if (gst) {
      TProcessResult g = RunProcess({"/usr/bin/python3", GstCheck, mp4, "0", "-1"});
      EXPECT_EQ(g.ExitCode, 0) << g.Err;
      EXPECT_EQ(g.Err, "");
      std::istringstream out(g.Out);
      int pictures = 0;
      for (std::string line; std::getline(out, line);) {
        double pts = 0;
        char size[32] = {0};
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %31s", &pts, size), 2) << line;
        EXPECT_EQ(std::string(size), SizeAt(c.Segments, pts)) << "GStreamer at " << pts;
        ++pictures;
      }
      EXPECT_EQ(pictures, static_cast<int>(FramesPerSegment * c.Segments.size()));
    }

    // Played past each change and sought back before it, with the ffmpeg libraries: no
    // decoding error, and every picture from the seek on at its size.
    for (size_t change = 1; change < c.Segments.size(); ++change) {
      SCOPED_TRACE("change " + std::to_string(change));
      const double at = change * SegmentSeconds;
      TProcessResult s = RunProcess({SeekCheck, mp4, std::to_string(at + 0.5), std::to_string(at - 0.6)});
      EXPECT_EQ(s.ExitCode, 0) << s.Err;
      EXPECT_EQ(s.Err, "");
      const size_t seek = s.Out.find("seek\n");
      ASSERT_NE(seek, std::string::npos) << s.Out;
      std::istringstream after(s.Out.substr(seek + 5));
      int pictures = 0;
      for (std::string line; std::getline(after, line);) {
        double pts = 0;
        char size[32] = {0};
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %31s", &pts, size), 2) << line;
        EXPECT_EQ(std::string(size), SizeAt(c.Segments, pts)) << "after the seek, at " << pts;
        EXPECT_EQ(line.find("damaged"), std::string::npos) << line;
        ++pictures;
      }
      // From the key picture at or before the seek point to the end.
      EXPECT_GE(pictures, static_cast<int>(FramesPerSegment * c.Segments.size()) - static_cast<int>((at - 0.6) * 25));
    }

    // mpv, the same way, where a description does not come back later in the file (seeking
    // back into a description that comes back, mpv 0.35 decodes the first pictures with the
    // later parameter sets; the ffmpeg libraries above switch right).
    if (!mpv || c.Segments.size() != 2) continue;
    const double at = SegmentSeconds;
    TProcessResult m = RunProcess({"/bin/sh", "-c", "exec \"$@\" 2>&1", "mpv", "/usr/bin/mpv", "--no-config",
                                   "--vo=null", "--ao=null", "--untimed", "--msg-level=all=warn,check_seek_mpv=info",
                                   "--script=" + MpvCheck,
                                   "--script-opts=play_to=" + std::to_string(at + 0.5) +
                                       ",seek_to=" + std::to_string(at - 0.6),
                                   mp4});
    EXPECT_EQ(m.ExitCode, 0) << m.Out;
    EXPECT_EQ(m.Out.find("error"), std::string::npos) << m.Out;
    const size_t seek = m.Out.find("seek");
    ASSERT_NE(seek, std::string::npos) << m.Out;
    EXPECT_NE(m.Out.find("size " + SizeAt(c.Segments, at - 0.6), seek), std::string::npos) << m.Out;
  }
  if (!gst || !mpv) GTEST_SKIP() << "GStreamer (avdec_h264, Python bindings) or mpv is not installed";
}

// A recording whose encoder re-sends the same parameter sets at every key picture changes
// nothing: one description, as before.
TEST(ParameterSetChanges, RepeatedIdenticalSetsChangeNothing) {
  TTempDir dir;
  const std::string src = MakeRecording(dir, "same.vyr", OmVideoType_H264, {Small});
  ASSERT_EQ(RunProcess({Vyrconvert, "-o", dir.Path(), src}).ExitCode, 0);
  TMp4BoxTree tree;
  ASSERT_TRUE(tree.Load(dir.File("same.mp4"))) << tree.Error();
  EXPECT_EQ(tree.Count("moov/trak[0]/mdia/minf/stbl/stsd", "avc1"), 1u) << tree.Dump();
}
