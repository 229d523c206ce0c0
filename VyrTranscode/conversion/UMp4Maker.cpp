#include "conversion/UMp4Maker.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "conversion/UFrameRate.h"
#include "protocol/UOmCamProtocol.h"
#include "support/uFunctionsLib.h"

namespace {

// The smallest k in [AFrom, ASize - 3] where 00 00 01 begins, or -1. Skips ahead by the
// byte that rules out the most positions, so it touches about a third of the bytes.
int32_t FindStartCode(const uint8_t* AData, int32_t AFrom, int32_t ASize) {
  int32_t k = AFrom;
  while (k <= ASize - 3) {
    uint8_t third = AData[k + 2];
    if (third > 1) {
      k += 3;
    } else if (AData[k + 1] != 0) {
      k += 2;
    } else if (AData[k] != 0 || third != 1) {
      k += 1;
    } else {
      return k;
    }
  }
  return -1;
}

uint16_t ClampTo16(int32_t AValue) {
  return static_cast<uint16_t>(std::min<int32_t>(std::max<int32_t>(AValue, 0), UINT16_MAX));
}

}  // namespace

TMP4Maker::TMP4Maker() { ResetSDKStatus(); }

TMP4Maker::~TMP4Maker() { StopWrite(); }

void TMP4Maker::ResetSDKStatus() {
  FTotalPushCount = 0;
  FFoundSPS = false;
  FFoundPPS = false;
  FVideoTrackID = MP4_INVALID_TRACK_ID;
  FAudioTrackID = MP4_INVALID_TRACK_ID;
  FSampleLen = 0;
  FSampleHasSlice = false;
  FSampleIsSync = false;
  FSampleDropped = false;
  FVideoSampleDuration = 0;
  FStoredSps.clear();
  FStoredPps.clear();
  FStoredSpsId = 0;
  FStoredPpsId = 0;
  for (std::vector<uint8_t>& s : FActiveSps) s.clear();
  for (std::vector<uint8_t>& p : FActivePps) p.clear();
  FDescriptions.clear();
  FCurrentDescription = 1;
  FDescriptionChanged = false;
  FDescriptionsFullLogged = false;
}

bool TMP4Maker::CheckTmpFrameBuffer(int64_t ANewFrameSize) {
  if (FTmpFrameBuffer && ANewFrameSize <= FTmpBufferLen) return true;
  int64_t capacity = ANewFrameSize < MIN_TMP_BUFF_LEN ? MIN_TMP_BUFF_LEN : ANewFrameSize + TMP_BUFF_GROW_LEN;
  if (capacity > INT32_MAX) return false;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
  if (!buffer) {
    FAllocationFailed = true;
    return false;
  }
  if (FSampleLen > 0) std::memcpy(buffer.get(), FTmpFrameBuffer.get(), static_cast<size_t>(FSampleLen));
  FTmpFrameBuffer = std::move(buffer);
  FTmpBufferLen = static_cast<int32_t>(capacity);
  return true;
}

void TMP4Maker::StartWrite(int32_t AWidth, int32_t AHeight, int32_t AFrameRate, const std::string& AOutFileName,
                           const TFileIdentity& AInput) {
  StopWrite();
  FFileCreated = false;
  FWriteError = false;
  FAllocationFailed = false;
  FFileError.clear();
  FKeptFileName.clear();
  FDuration = 0;
  FVideoSampleCount = 0;
  FAudioSampleCount = 0;
  FDroppedPictures = 0;
  ResetSDKStatus();
  FBlockTimeValid = false;
  FAudioBlockTimeValid = false;
  FSampleTimeValid = false;
  FHaveLastVideo = false;
  FLastVideoTimeValid = false;
  FFirstVideoTimeValid = false;
  FAudioTimeStarted = false;

  FMp4Hndl = MP4Create(AOutFileName, 0, AInput, &FFileError);
  if (FMp4Hndl == MP4_INVALID_FILE_HANDLE) return;
  FFileCreated = true;
  CheckTmpFrameBuffer(0);
  FFrameWidth = AWidth;
  FFrameHeight = AHeight;
  FFrameRate = AFrameRate;
  MP4SetTimeScale(FMp4Hndl, TIME_SCALE);
  PrintDebugString("Start Mp4Create: <" + std::to_string(AWidth) + ", " + std::to_string(AHeight) +
                   ">, fps=" + std::to_string(AFrameRate) + ", Handle=" + std::to_string(FMp4Hndl));
}

bool TMP4Maker::CheckNalu(const uint8_t* FrameBuffer, int32_t ASize, TEncNaluUnit& ANaluUnit,
                          int32_t& AEndOffSet) {
  ANaluUnit = TEncNaluUnit();
  AEndOffSet = ASize;
  if (FrameBuffer == nullptr || ASize < 3) return false;
  int32_t i = FindStartCode(FrameBuffer, 0, ASize);
  // A start code in the last three bytes has no header byte after it.
  if (i < 0 || i >= ASize - 3) return false;
  int32_t j = FindStartCode(FrameBuffer, i + 3, ASize);
  if (j >= 0) {
    // The zero byte of a 4-byte start code belongs to the next unit.
    if (FrameBuffer[j - 1] == 0) --j;
    ANaluUnit.iDataSize = j - i - 3;
    AEndOffSet = j;
  }
  if (ANaluUnit.iDataSize == 0) ANaluUnit.iDataSize = ASize - i - 3;
  ANaluUnit.pData = FrameBuffer + i + 3;
  ANaluUnit.byType = FrameBuffer[i + 3] & 0x1F;
  return true;
}

void TMP4Maker::PushVideoX264Frame(const uint8_t* FrameBuffer, int32_t ASize, uint8_t /*AFrameType*/) {
  if (FrameBuffer == nullptr || ASize <= 0) return;
  const uint8_t* p = FrameBuffer;
  int32_t done = 0;
  while (done < ASize) {
    TEncNaluUnit unit;
    int32_t end = 0;
    if (!CheckNalu(p, ASize - done, unit, end)) break;
    if (FTotalPushCount < INT32_MAX) ++FTotalPushCount;
    if (FMp4Hndl != MP4_INVALID_FILE_HANDLE) ProcessNalu(unit);
    done += end;
    p += end;
  }
}

void TMP4Maker::ProcessNalu(const TEncNaluUnit& ANalu) {
  switch (ANalu.byType) {
    case H264_NAL_SPS:
      EndAccessUnit();
      if (FVideoTrackID == MP4_INVALID_TRACK_ID) FVideoTrackID = AddVideoTrackID(ANalu);
      if (FVideoTrackID != MP4_INVALID_TRACK_ID && !FFoundSPS) {
        FFoundSPS = WriteSPSData(ANalu);
      } else if (FFoundSPS) {
        KeepChangedParameterSet(ANalu);
      }
      break;
    case H264_NAL_PPS:
      EndAccessUnit();
      if (!VideoTrackReady()) break;
      if (!FFoundPPS) FFoundPPS = WritePPSData(ANalu);
      else KeepChangedParameterSet(ANalu);
      break;
    case H264_NAL_AUD:
      EndAccessUnit();
      break;
    case H264_NAL_SEI:
      if (FSampleHasSlice) EndAccessUnit();
      if (VideoTrackReady()) WriteFrameData(ANalu);
      break;
    case H264_NAL_SLICE:
    case H264_NAL_IDR_SLICE:
      if (FSampleHasSlice && IsH264FirstSliceOfPicture(ANalu.pData, static_cast<size_t>(ANalu.iDataSize))) {
        EndAccessUnit();
      }
      if (VideoTrackReady()) {
        WriteFrameData(ANalu);
      } else {
        // A picture from before the first SPS: counted so the video can start late.
        FSampleHasSlice = true;
        FSampleDropped = true;
      }
      break;
    default:
      break;  // counted, not written
  }
}

uint32_t TMP4Maker::AddVideoTrackID(const TEncNaluUnit& ANalu) {
  // An SPS shorter than 4 bytes has no profile, compatibility and level bytes.
  if (ANalu.pData == nullptr || ANalu.iDataSize < 4 || ANalu.byType != H264_NAL_SPS ||
      FMp4Hndl == MP4_INVALID_FILE_HANDLE) {
    return MP4_INVALID_TRACK_ID;
  }
  FFrameRate = NominalFrameRate(FFrameRate);
  FVideoSampleDuration = std::max<MP4Duration>(1, TIME_SCALE / static_cast<uint32_t>(FFrameRate));
  int32_t width = 0, height = 0;
  CodedSize(ANalu.pData, static_cast<size_t>(ANalu.iDataSize), width, height);
  MP4TrackId id = MP4AddH264VideoTrack(FMp4Hndl, TIME_SCALE, FVideoSampleDuration, ClampTo16(width),
                                       ClampTo16(height), ANalu.pData[1], ANalu.pData[2], ANalu.pData[3], 3);
  PrintDebugString("Add Video Track: fps=" + std::to_string(FFrameRate) + ", ID= " + std::to_string(id));
  return id;
}

void TMP4Maker::CodedSize(const uint8_t* ASps, size_t ASize, int32_t& AWidth, int32_t& AHeight) const {
  AWidth = FFrameWidth;
  AHeight = FFrameHeight;
  TH264SpsInfo info;
  if (ParseH264Sps(ASps, ASize, info)) {
    AWidth = info.Width;
    AHeight = info.Height;
  }
}

bool TMP4Maker::WriteSPSData(const TEncNaluUnit& ANalu) {
  if (ANalu.pData == nullptr || ANalu.iDataSize == 0 || ANalu.byType != H264_NAL_SPS ||
      FMp4Hndl == MP4_INVALID_FILE_HANDLE || FVideoTrackID == MP4_INVALID_TRACK_ID) {
    return false;
  }
  PrintDebugString("Write SPS, size=" + std::to_string(ANalu.iDataSize));
  MP4SetVideoProfileLevel(FMp4Hndl, 1);
  MP4AddH264SequenceParameterSet(FMp4Hndl, FVideoTrackID, ANalu.pData,
                                 static_cast<uint16_t>(std::min<int32_t>(ANalu.iDataSize, UINT16_MAX)));
  FStoredSps.assign(ANalu.pData, ANalu.pData + ANalu.iDataSize);
  FStoredSpsId = 0;
  ReadH264SpsId(ANalu.pData, static_cast<size_t>(ANalu.iDataSize), FStoredSpsId);
  FActiveSps[FStoredSpsId] = FStoredSps;
  return true;
}

bool TMP4Maker::WritePPSData(const TEncNaluUnit& ANalu) {
  if (ANalu.pData == nullptr || ANalu.iDataSize == 0 || ANalu.byType != H264_NAL_PPS ||
      FMp4Hndl == MP4_INVALID_FILE_HANDLE || FVideoTrackID == MP4_INVALID_TRACK_ID) {
    return false;
  }
  PrintDebugString("Write PPS: size=" + std::to_string(ANalu.iDataSize));
  MP4AddH264PictureParameterSet(FMp4Hndl, FVideoTrackID, ANalu.pData,
                                static_cast<uint16_t>(std::min<int32_t>(ANalu.iDataSize, UINT16_MAX)));
  FStoredPps.assign(ANalu.pData, ANalu.pData + ANalu.iDataSize);
  FStoredPpsId = 0;
  ReadH264PpsId(ANalu.pData, static_cast<size_t>(ANalu.iDataSize), FStoredPpsId);
  FActivePps[FStoredPpsId] = FStoredPps;
  // The decoder configuration is the first sample description.
  TDescribedSets first;
  first.Sps.push_back(FStoredSps);
  first.Pps.push_back(FStoredPps);
  FDescriptions.assign(1, std::move(first));
  FCurrentDescription = 1;
  return true;
}

void TMP4Maker::KeepChangedParameterSet(const TEncNaluUnit& ANalu) {
  const uint8_t* data = ANalu.pData;
  size_t size = static_cast<size_t>(ANalu.iDataSize);
  bool isSps = ANalu.byType == H264_NAL_SPS;
  if (isSps && size < 4) return;  // no decoder can use it
  uint32_t id = 0;  // an unreadable id shares slot 0
  if (isSps) ReadH264SpsId(data, size, id);
  else ReadH264PpsId(data, size, id);
  std::vector<uint8_t>& active = isSps ? FActiveSps[id] : FActivePps[id];
  // Dropped only when it repeats both the decoder configuration (so a player that starts
  // at a later key picture has it) and what the stream last set (so a return to the
  // configured set after a change is not lost).
  bool stored = id == (isSps ? FStoredSpsId : FStoredPpsId) && SameBytes(isSps ? FStoredSps : FStoredPps, data, size);
  if (stored && SameBytes(active, data, size)) return;
  // A set whose bytes differ from the one in force with its id changes the decoder's set-up:
  // the pictures from here on get a sample description of their own.
  if (!active.empty() && !SameBytes(active, data, size)) FDescriptionChanged = true;
  active.assign(data, data + size);
  if (isSps) {
    // A decoder forgets the picture parameter sets of a replaced SPS: the next PPS must
    // follow in the stream even when it repeats an earlier one.
    for (std::vector<uint8_t>& p : FActivePps) p.clear();
  }
  AppendToAccessUnit(ANalu);
}

bool TMP4Maker::AppendToAccessUnit(const TEncNaluUnit& ANalu) {
  if (FSampleLen == 0) {
    // A picture takes the time of the block it starts in.
    FSampleTimeMs = FBlockTimeMs;
    FSampleTimeValid = FBlockTimeValid;
  }
  int64_t needed = int64_t{FSampleLen} + 4 + ANalu.iDataSize;
  if (needed > MAX_VIDEO_SAMPLE_LEN) {
    PrintDebugString(FormatStr("Drop NAL unit: picture larger than %d bytes", MAX_VIDEO_SAMPLE_LEN));
    return false;
  }
  if (!CheckTmpFrameBuffer(needed)) return false;
  uint8_t* p = FTmpFrameBuffer.get() + FSampleLen;
  uint32_t n = static_cast<uint32_t>(ANalu.iDataSize);
  p[0] = static_cast<uint8_t>(n >> 24);
  p[1] = static_cast<uint8_t>(n >> 16);
  p[2] = static_cast<uint8_t>(n >> 8);
  p[3] = static_cast<uint8_t>(n);
  std::memcpy(p + 4, ANalu.pData, n);
  FSampleLen = static_cast<int32_t>(needed);
  return true;
}

bool TMP4Maker::WriteFrameData(const TEncNaluUnit& ANalu) {
  if (FMp4Hndl == MP4_INVALID_FILE_HANDLE || FVideoTrackID == MP4_INVALID_TRACK_ID || ANalu.pData == nullptr ||
      ANalu.iDataSize == 0) {
    return false;
  }
  uint8_t type = ANalu.byType;
  if (type != H264_NAL_SLICE && type != H264_NAL_IDR_SLICE && type != H264_NAL_SEI) return false;
  if (!AppendToAccessUnit(ANalu)) return false;
  if (type != H264_NAL_SEI) FSampleHasSlice = true;
  if (type == H264_NAL_IDR_SLICE) FSampleIsSync = true;
  return true;
}

void TMP4Maker::SelectSampleDescription() {
  FDescriptionChanged = false;
  TDescribedSets sets;
  for (const std::vector<uint8_t>& s : FActiveSps)
    if (!s.empty()) sets.Sps.push_back(s);
  for (const std::vector<uint8_t>& p : FActivePps)
    if (!p.empty()) sets.Pps.push_back(p);
  if (sets.Sps.empty() || sets.Pps.empty()) return;
  uint32_t index = 0;
  for (size_t i = 0; i < FDescriptions.size() && index == 0; ++i)
    if (FDescriptions[i].Sps == sets.Sps && FDescriptions[i].Pps == sets.Pps) index = static_cast<uint32_t>(i + 1);
  if (index == 0) {
    if (FDescriptions.size() >= MAX_SAMPLE_DESCRIPTIONS) {
      if (!FDescriptionsFullLogged) {
        PrintDebugString(FormatStr("Sample descriptions: %d in use, later parameter set changes stay in the stream only",
                                   MAX_SAMPLE_DESCRIPTIONS));
        FDescriptionsFullLogged = true;
      }
      return;
    }
    // The size as the (first) sequence parameter set in force codes it.
    int32_t width = 0, height = 0;
    CodedSize(sets.Sps.front().data(), sets.Sps.front().size(), width, height);
    index = MP4AddH264SampleDescription(FMp4Hndl, FVideoTrackID, ClampTo16(width), ClampTo16(height), sets.Sps,
                                        sets.Pps);
    if (index == 0) return;
    PrintDebugString(FormatStr("Sample description %u: %dx%d", index, width, height));
    FDescriptions.push_back(std::move(sets));
  }
  if (index != FCurrentDescription && MP4SetSampleDescription(FMp4Hndl, FVideoTrackID, index))
    FCurrentDescription = index;
}

void TMP4Maker::EndAccessUnit() {
  // Units gathered without a slice yet (SEI, changed parameter sets) open the next picture.
  if (!FSampleHasSlice) return;
  if (FDescriptionChanged && !FSampleDropped && FMp4Hndl != MP4_INVALID_FILE_HANDLE &&
      FVideoTrackID != MP4_INVALID_TRACK_ID) {
    SelectSampleDescription();
  }
  if (FSampleDropped) {
    ++FDroppedPictures;
  } else if (FMp4Hndl != MP4_INVALID_FILE_HANDLE && FVideoTrackID != MP4_INVALID_TRACK_ID && FSampleLen > 0) {
    // The picture before this one lasts until this one's time.
    if (FUseStamps && FHaveLastVideo) {
      MP4SetLastSampleDuration(FMp4Hndl, FVideoTrackID,
                               StepDuration(FLastVideoTimeMs, FLastVideoTimeValid, FSampleTimeMs, FSampleTimeValid));
    }
    if (MP4WriteSample(FMp4Hndl, FVideoTrackID, FTmpFrameBuffer.get(), static_cast<uint32_t>(FSampleLen),
                       MP4_INVALID_DURATION, 0, FSampleIsSync)) {
      if (FVideoSampleCount == 0) {
        FFirstVideoTimeMs = FSampleTimeMs;
        FFirstVideoTimeValid = FSampleTimeValid;
        // The recorder's clock at the first picture is when the footage was made.
        const int64_t seconds = FSampleTimeMs / 1000;
        if (FSampleTimeValid && seconds >= FIRST_CREATION_SECOND && seconds < END_CREATION_SECOND)
          MP4SetCreationTime(FMp4Hndl, static_cast<uint64_t>(seconds));
      }
      ++FVideoSampleCount;
      FLastVideoTimeMs = FSampleTimeMs;
      FLastVideoTimeValid = FSampleTimeValid;
      FHaveLastVideo = true;
    } else {
      FWriteError = true;
    }
  }
  FSampleLen = 0;
  FSampleHasSlice = false;
  FSampleIsSync = false;
  FSampleDropped = false;
}

MP4Duration TMP4Maker::StepDuration(int64_t AFrom, bool AFromValid, int64_t ATo, bool AToValid) const {
  const int64_t step = ATo - AFrom;
  if (!AFromValid || !AToValid || step <= 0 || step >= ONE_HOUR_MS) return FVideoSampleDuration;
  return static_cast<MP4Duration>(step) * (TIME_SCALE / 1000);
}

void TMP4Maker::StampStartDelays(int64_t& AVideoDelayMs, int64_t& AAudioDelayMs) const {
  AVideoDelayMs = 0;
  AAudioDelayMs = 0;
  if (!FUseStamps || !FFirstVideoTimeValid || !FAudioTimeStarted || FVideoSampleCount == 0) return;
  const int64_t d = FFirstAudioTimeMs - FFirstVideoTimeMs;
  if (d >= ONE_HOUR_MS || d <= -ONE_HOUR_MS) return;  // the two clocks do not agree
  if (d > 0) AAudioDelayMs = d;
  else AVideoDelayMs = -d;
}

void TMP4Maker::FinishVideo() {
  EndAccessUnit();
  FSampleLen = 0;  // parameter sets or SEI with no picture after them
  if (FVideoTrackID == MP4_INVALID_TRACK_ID || FAudioTrackID == MP4_INVALID_TRACK_ID) return;
  if (FUseStamps && FFirstVideoTimeValid && FAudioTimeStarted) {
    // The stamps place the first picture against the first audio.
    int64_t videoDelay = 0, audioDelay = 0;
    StampStartDelays(videoDelay, audioDelay);
    if (videoDelay > 0)
      MP4SetTrackEdit(FMp4Hndl, FVideoTrackID, static_cast<MP4Duration>(videoDelay) * (TIME_SCALE / 1000), 0);
    return;
  }
  // Pictures dropped before the first SPS: the video starts that much later, in step
  // with the audio that was kept from the start.
  if (FDroppedPictures > 0) {
    MP4SetTrackEdit(FMp4Hndl, FVideoTrackID, static_cast<MP4Duration>(FDroppedPictures) * FVideoSampleDuration, 0);
  }
}

void TMP4Maker::PushAudioFrame(const uint8_t* FrameBuffer, int32_t ASize, uint8_t AAudioType) {
  if (AAudioType == 0 || FMp4Hndl == MP4_INVALID_FILE_HANDLE) return;
  if (!FAACMaker) {
    FAACMaker = std::make_unique<TAACMaker>();
    FAACMaker->StartAACEncode();  // when it fails, EncodeAudio refuses every block
  }
  if (FUseStamps && FAudioBlockTimeValid) {
    const int64_t t = FAudioBlockTimeMs;
    const int64_t written = FAACMaker->GetInputSampleCount();
    if (!FAudioTimeStarted) {
      FAudioStartMs = t;
      FFirstAudioTimeMs = t;
      FAudioTimeStarted = true;
    } else {
      // Where this block belongs on the audio written so far, in samples.
      const int64_t gap = (t - FAudioStartMs) * (OmAudioSampleRate / 1000) - written;
      if (gap > AAC_FRAME_SAMPLES && gap < ONE_HOUR_MS * (OmAudioSampleRate / 1000)) {
        FillAudioSilence(gap);
      } else if (gap >= ONE_HOUR_MS * (OmAudioSampleRate / 1000) || gap <= -ONE_HOUR_MS * (OmAudioSampleRate / 1000)) {
        // A step of the clock: the audio goes on from here, and so does its reckoning.
        FAudioStartMs = t - written / (OmAudioSampleRate / 1000);
      }
    }
  }
  // A block may complete several frames (or none yet): each is a sample of its own.
  if (FAACMaker->EncodeAudio(FrameBuffer, ASize, AAudioType, FAACFrames)) WriteAudioFrames();
}

void TMP4Maker::FillAudioSilence(int64_t ASamples) {
  static const std::vector<uint8_t> silence(2 * OmAudioSampleRate, 0);  // one second of 16-bit PCM
  while (ASamples > 0) {
    const int64_t n = std::min<int64_t>(ASamples, OmAudioSampleRate);
    if (FAACMaker->EncodeAudio(silence.data(), static_cast<int32_t>(2 * n), AUDIO_TYPE_PCM, FAACFrames))
      WriteAudioFrames();
    ASamples -= n;
  }
}

void TMP4Maker::WriteAudioFrames() {
  size_t offset = 0;
  for (size_t i = 0; i < FAACFrames.Count(); ++i) {
    int32_t size = FAACFrames.Sizes[i];
    if (size <= 0 || offset + static_cast<size_t>(size) > FAACFrames.Bytes.size()) break;
    if (FAudioTrackID == MP4_INVALID_TRACK_ID) {
      FAudioTrackID = MP4AddAudioTrack(FMp4Hndl, 8000, 1024, MP4_MPEG4_AUDIO_TYPE);
      MP4SetAudioProfileLevel(FMp4Hndl, 2);
      std::vector<uint8_t> info;
      if (FAACMaker->GetDecoderSpecificInfo(info) && !info.empty()) {
        MP4SetTrackESConfiguration(FMp4Hndl, FAudioTrackID, info.data(), static_cast<uint32_t>(info.size()));
      }
    }
    if (FAudioTrackID != MP4_INVALID_TRACK_ID) {
      if (MP4WriteSample(FMp4Hndl, FAudioTrackID, FAACFrames.Bytes.data() + offset, static_cast<uint32_t>(size),
                         MP4_INVALID_DURATION, 0, true)) {
        ++FAudioSampleCount;
      } else {
        FWriteError = true;
      }
    }
    offset += static_cast<size_t>(size);
  }
}

void TMP4Maker::FinishAudio() {
  if (!FAACMaker) return;
  // The PCM still waiting and the frames the encoder holds back belong to the file.
  if (FAACMaker->FlushAudio(FAACFrames)) WriteAudioFrames();
  int64_t samples = FAACMaker->GetInputSampleCount();
  if (FAudioTrackID != MP4_INVALID_TRACK_ID && samples > 0) {
    // Play from the end of the encoder's priming samples for exactly the audio taken in;
    // later than the video by what the stamps say.
    int64_t videoDelay = 0, audioDelay = 0;
    StampStartDelays(videoDelay, audioDelay);
    MP4SetTrackEdit(FMp4Hndl, FAudioTrackID, static_cast<MP4Duration>(audioDelay) * (TIME_SCALE / 1000),
                    static_cast<MP4Duration>(std::max(FAACMaker->GetEncoderDelay(), 0)),
                    static_cast<MP4Duration>(samples));
  }
  FAACMaker->CloseAACEncode();
}

void TMP4Maker::StopWrite(TOutputCloseMode AMode) {
  // Finishing never raises: whatever fails on the way counts as a write error, and the
  // file is closed all the same.
  if (FMp4Hndl != MP4_INVALID_FILE_HANDLE) {
    try {
      FinishAudio();
      FinishVideo();
    } catch (...) {
      FWriteError = true;
    }
  }
  FAACMaker.reset();
  if (FMp4Hndl != MP4_INVALID_FILE_HANDLE) {
    try {
      PrintDebugString("StopWrite: " + std::to_string(FMp4Hndl));
      // A file without a single sample plays nowhere: it is not kept.
      const bool empty = FVideoSampleCount == 0 && FAudioSampleCount == 0;
      const bool discard = empty || AMode == TOutputCloseMode::Discard;
      const uint32_t flags = discard ? MP4_CLOSE_DISCARD : AMode == TOutputCloseMode::Stopped ? MP4_CLOSE_STOPPED : 0;
      std::string closeError;
      FDuration = MP4GetDuration(FMp4Hndl);
      if (!MP4Close(FMp4Hndl, flags, &FKeptFileName, &closeError) && !discard) FWriteError = true;
      if (FWriteError) FFileError = closeError;
    } catch (...) {
      FWriteError = true;
    }
    FMp4Hndl = MP4_INVALID_FILE_HANDLE;
    ResetSDKStatus();
  }
}
