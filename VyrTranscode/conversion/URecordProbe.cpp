#include "conversion/URecordProbe.h"

#include "conversion/URecordBlocks.h"

#include "protocol/UOmCamProtocol.h"
#include "support/uFunctionsLib.h"

namespace {

struct TResolution {
  uint32_t Width, Height;
};
constexpr TResolution ResolutionTable[OmResolutionCount] = {
    {176, 144},   {352, 288},   {704, 576},   {1280, 720},  {1920, 1080},
    {1600, 1200}, {2048, 1536}, {2592, 1920}, {1280, 960},  {2592, 1520},
};

// Measures the frame rate on whole seconds. A run is a maximal sequence of consecutive
// video blocks with the same second time stamp. A run is whole when the run before it
// holds the second just before its own and the run after it the second just after, so
// the partial first and last seconds of a recording, and the seconds at the edges of a
// gap, are left out; so are the runs around a damaged region of the file, which may have
// lost frames. Only three runs are kept at a time.
class TWholeSecondRate {
 public:
  // One video block; AFrameCounted when it counted as a new frame.
  void AddBlock(uint32_t ASecond, bool AFrameCounted) {
    if (!FHasCurrent || ASecond != FCurSecond) {
      if (FHasCurrent) CloseCurrent(ASecond);
      FHasPrev = FHasCurrent;
      FPrevSecond = FCurSecond;
      FHasCurrent = true;
      FCurSecond = ASecond;
      FCurFrames = 0;
      FCurDamaged = FDamagePending;
      FDamagePending = false;
    }
    if (AFrameCounted) ++FCurFrames;
  }
  // A damaged region: the run it falls in and the run after it may lack frames.
  void AddDamage() {
    FCurDamaged = true;
    FDamagePending = true;
  }
  // True and the rounded rate when at least one run was whole.
  bool Rate(uint32_t& ARate) const {
    if (FWholeRuns == 0) return false;
    // Nearest whole number, halves up.
    ARate = static_cast<uint32_t>((2 * FWholeFrames + FWholeRuns) / (2 * FWholeRuns));
    return true;
  }

 private:
  void CloseCurrent(uint32_t ANextSecond) {
    bool prevAdjacent = FHasPrev && FCurSecond != 0 && FPrevSecond == FCurSecond - 1;
    bool nextAdjacent = FCurSecond != UINT32_MAX && ANextSecond == FCurSecond + 1;
    if (prevAdjacent && nextAdjacent && !FCurDamaged) {
      FWholeFrames += FCurFrames;
      ++FWholeRuns;
    }
  }

  bool FHasPrev = false, FHasCurrent = false;
  bool FCurDamaged = false, FDamagePending = false;
  uint32_t FPrevSecond = 0, FCurSecond = 0;
  uint64_t FCurFrames = 0;
  uint64_t FWholeFrames = 0, FWholeRuns = 0;
};

}  // namespace

std::unique_ptr<TStream> TVyrRecordProbe::OpenVYRRecord(const std::string& AFileName, std::string* AError) {
  return TFileStream::OpenRead(AFileName, AError);
}

void TVyrRecordProbe::CloseVYRRecord(std::unique_ptr<TStream>& AFileStream) { AFileStream.reset(); }

bool TVyrRecordProbe::GetVideoWidthHeight(uint8_t AResolution, uint32_t& AWidth, uint32_t& AHeight) {
  if (AResolution < OmResolutionCount) {
    AWidth = ResolutionTable[AResolution].Width;
    AHeight = ResolutionTable[AResolution].Height;
    return true;
  }
  PrintDebugString("Unkown Resolution: " + std::to_string(AResolution));
  AWidth = 0;
  AHeight = 0;
  return false;
}

bool TVyrRecordProbe::GetVideoInfo(TStream* AFileStream) {
  if (!AFileStream) return false;
  TStream& s = *AFileStream;
  s.Seek(0, TSeekOrigin::Begin);
  uint32_t lastFrameId = 0, lastSecond = 0, frameCount = 0, secCount = 0;
  FVideoResolution = 255;
  FVideoEncType = 255;
  FAudioEncType = 255;
  FBlockCount = 0;
  TWholeSecondRate wholeRate;
  TRecordBlockReader reader(s);
  TOmBlock block;
  TOmDamage damage;
  FHasStamps = false;
  FStampSteps = 0;
  FBadStampSteps = 0;
  bool havePicture = false, audioOnlyStamps = false;
  uint32_t lastPictureId = 0;
  int64_t lastPictureMs = 0;
  // Damaged regions are skipped; the counts run on across them, so the rate holds for the
  // whole recording.
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;) {
    if (item != TOmReadItem::Block) {
      wholeRate.AddDamage();
      continue;
    }
    ++FBlockCount;
    if (block.IsVideo()) {
      const TOmVideoDataHead& v = block.Video;
      bool counted = false;
      if (v.dwFrameID != lastFrameId) {
        lastFrameId = v.dwFrameID;
        ++frameCount;
        counted = true;
      }
      if (v.dwSecTimeStamp != lastSecond) {
        lastSecond = v.dwSecTimeStamp;
        ++secCount;
      }
      wholeRate.AddBlock(v.dwSecTimeStamp, counted);
      // A new picture: another frame number or another stamp than the block before.
      const int64_t ms = block.StampMs();
      if (!havePicture || v.dwFrameID != lastPictureId || ms != lastPictureMs) {
        if (havePicture) {
          ++FStampSteps;
          if (ms <= lastPictureMs) ++FBadStampSteps;
        }
        if (!FHasStamps || audioOnlyStamps) FFirstStampMs = ms;
        FHasStamps = true;
        audioOnlyStamps = false;
        FLastStampMs = ms;
        havePicture = true;
        lastPictureId = v.dwFrameID;
        lastPictureMs = ms;
      }
      if (FVideoResolution == 255) FVideoResolution = v.byVideoMode;
      if (FVideoEncType == 255) FVideoEncType = v.byVideoType;
    } else if (block.IsAudio()) {
      if (FAudioEncType == 255) FAudioEncType = block.Audio.byAudioType;
      if (!havePicture) {
        // Without pictures (so far), the audio's stamps tell when the recording was made.
        const int64_t ms = block.StampMs();
        if (!FHasStamps) FFirstStampMs = ms;
        FHasStamps = true;
        audioOnlyStamps = true;
        FLastStampMs = ms;
      }
    } else {
      PrintDebugString(FormatStr("Read Unkown Data Cmd: %d, length=%d", block.Head.nCmd, block.Head.length));
    }
  }
  FDamagedRegions = reader.DamagedRegions();
  FDamagedBytes = reader.DamagedBytes();
  s.Seek(reader.Position(), TSeekOrigin::Begin);

  GetVideoWidthHeight(FVideoResolution, FFrameWidth, FFrameHeight);
  if (secCount == 0) secCount = 1;
  uint32_t rate = 0;
  if (!wholeRate.Rate(rate)) rate = frameCount / secCount;
  if (rate > MaxProbeFrameRate) rate = 0;
  FFrameRate = rate;
  FFrameCount = frameCount;
  FSecCount = secCount;
  PrintDebugString(FormatStr(
      "Get Video Info: Resolution[%d], Width[%d], Height[%d], VideoEncType[%d], "
      "AudioEncType[%d], FrameCount[%d], SecCount[%d], FPS[%d]",
      FVideoResolution, static_cast<int>(FFrameWidth), static_cast<int>(FFrameHeight), FVideoEncType,
      FAudioEncType, static_cast<int>(frameCount), static_cast<int>(secCount), static_cast<int>(FFrameRate)));
  return true;
}
