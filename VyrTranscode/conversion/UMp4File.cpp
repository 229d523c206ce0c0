#include "conversion/UMp4File.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "conversion/UH264Syntax.h"

namespace {
// Seconds from 1904-01-01 (the MP4 epoch) to 1970-01-01.
constexpr uint64_t Mp4EpochOffset = 2082844800;

bool AddParameterSet(std::vector<std::vector<uint8_t>>& ASets, const uint8_t* AData, uint16_t ASize) {
  if (AData == nullptr || ASize == 0) return false;
  for (const std::vector<uint8_t>& s : ASets) {
    if (SameBytes(s, AData, ASize)) return true;
  }
  ASets.emplace_back(AData, AData + ASize);
  return true;
}
}  // namespace

std::unique_ptr<TMp4File> TMp4File::Create(const std::string& AFileName, const TFileIdentity& AInput,
                                           std::string* AError) {
  std::unique_ptr<TFileWriter> writer = TFileWriter::Create(AFileName, AInput, AError);
  if (!writer) return nullptr;
  return std::unique_ptr<TMp4File>(new TMp4File(std::move(writer)));
}

// The time the file is made, in seconds since 1970: SOURCE_DATE_EPOCH when it holds a
// whole number (the common convention for reproducible output, so that a conversion can
// be compared byte for byte), else the clock.
static int64_t CreationSeconds() {
  const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
  if (fixed && *fixed) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(fixed, &end, 10);
    if (errno == 0 && *end == '\0' && v >= 0) return v;
  }
  return static_cast<int64_t>(std::time(nullptr));
}

TMp4File::TMp4File(std::unique_ptr<TFileWriter> AWriter) : FWriter(std::move(AWriter)) {
  const int64_t now = CreationSeconds();
  FMovie.CreationTime = now > 0 ? static_cast<uint64_t>(now) + Mp4EpochOffset : 0;
  TBoxWriter out(*FWriter);
  WriteFtypBox(out);
  FMdatHeader = WriteMdatHeader(out);
}

TMp4File::~TMp4File() { Close(); }

bool TMp4File::SetTimeScale(uint32_t ATimeScale) {
  if (FClosed || ATimeScale == 0) return false;
  FMovie.TimeScale = ATimeScale;
  return true;
}

TMp4Track* TMp4File::FindTrack(uint32_t ATrackId) {
  if (FClosed || ATrackId == 0 || ATrackId > FTracks.size()) return nullptr;
  return FTracks[ATrackId - 1].get();
}

uint32_t TMp4File::AddTrack(TMp4TrackKind AKind, uint32_t ATimeScale, uint64_t ASampleDuration) {
  if (FClosed || ATimeScale == 0 || ASampleDuration == 0 || ASampleDuration > UINT32_MAX) return 0;
  uint32_t id = static_cast<uint32_t>(FTracks.size() + 1);
  FTracks.push_back(std::make_unique<TMp4Track>(id, AKind, ATimeScale, ASampleDuration));
  return id;
}

uint32_t TMp4File::AddH264VideoTrack(uint32_t ATimeScale, uint64_t ASampleDuration, uint16_t AWidth,
                                     uint16_t AHeight, uint8_t AProfileIdc,
                                     uint8_t AProfileCompatibility, uint8_t ALevelIdc,
                                     uint8_t ALengthSizeMinusOne) {
  // NAL unit lengths of 1, 2 or 4 bytes.
  if (ALengthSizeMinusOne > 3 || ALengthSizeMinusOne == 2) return 0;
  uint32_t id = AddTrack(TMp4TrackKind::Video, ATimeScale, ASampleDuration);
  if (id == 0) return 0;
  TMp4Track& track = *FTracks.back();
  TMp4VideoEntry& first = track.VideoEntries.front();
  first.Width = AWidth;
  first.Height = AHeight;
  first.ProfileIdc = AProfileIdc;
  first.ProfileCompatibility = AProfileCompatibility;
  first.LevelIdc = ALevelIdc;
  track.LengthSizeMinusOne = ALengthSizeMinusOne;
  return id;
}

uint32_t TMp4File::AddAudioTrack(uint32_t ATimeScale, uint64_t ASampleDuration, uint8_t AAudioType) {
  uint32_t id = AddTrack(TMp4TrackKind::Audio, ATimeScale, ASampleDuration);
  if (id != 0) FTracks.back()->AudioType = AAudioType;
  return id;
}

bool TMp4File::AddH264SequenceParameterSet(uint32_t ATrackId, const uint8_t* AData, uint16_t ASize) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || track->Kind() != TMp4TrackKind::Video) return false;
  return AddParameterSet(track->VideoEntries.front().SequenceParameterSets, AData, ASize);
}

bool TMp4File::AddH264PictureParameterSet(uint32_t ATrackId, const uint8_t* AData, uint16_t ASize) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || track->Kind() != TMp4TrackKind::Video) return false;
  return AddParameterSet(track->VideoEntries.front().PictureParameterSets, AData, ASize);
}

bool TMp4File::SetTrackESConfiguration(uint32_t ATrackId, const uint8_t* AData, uint32_t ASize) {
  TMp4Track* track = FindTrack(ATrackId);
  // The descriptor holding it has a 28-bit size.
  if (!track || AData == nullptr || ASize == 0 || ASize > 0xFFFFF) return false;
  track->DecoderSpecificInfo.assign(AData, AData + ASize);
  return true;
}

void TMp4File::SetVideoProfileLevel(uint8_t AValue) {
  FMovie.HasProfileLevels = true;
  FMovie.VideoProfileLevel = AValue;
}

void TMp4File::SetAudioProfileLevel(uint8_t AValue) {
  FMovie.HasProfileLevels = true;
  FMovie.AudioProfileLevel = AValue;
}

bool TMp4File::WriteSample(uint32_t ATrackId, const uint8_t* AData, uint32_t ASize, uint64_t ADuration,
                           int64_t ARenderingOffset, bool ASync) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || AData == nullptr || ASize == 0) return false;
  if (ADuration == UINT64_MAX) ADuration = track->FixedDuration();
  if (ADuration > UINT32_MAX || ARenderingOffset < INT32_MIN || ARenderingOffset > INT32_MAX) return false;
  if (track->SampleCount() >= UINT32_MAX - 1) return false;
  uint64_t offset = static_cast<uint64_t>(FWriter->Position());
  bool written = FWriter->Write(AData, ASize);
  // Indexed even when the write failed: the file's layout stays consistent.
  track->AddSample(offset, ASize, static_cast<uint32_t>(ADuration), static_cast<int32_t>(ARenderingOffset),
                   ASync, track->CurrentDescription);
  return written;
}

void TMp4File::SetCreationTime(uint64_t AUnixSeconds) { FMovie.CreationTime = AUnixSeconds + Mp4EpochOffset; }

bool TMp4File::SetLastSampleDuration(uint32_t ATrackId, uint64_t ADuration) {
  TMp4Track* track = FindTrack(ATrackId);
  return track && ADuration > 0 && ADuration <= UINT32_MAX && track->SetLastSampleDuration(static_cast<uint32_t>(ADuration));
}

uint32_t TMp4File::AddH264SampleDescription(uint32_t ATrackId, const TMp4VideoEntry& AEntry) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || track->Kind() != TMp4TrackKind::Video) return 0;
  track->VideoEntries.push_back(AEntry);
  return static_cast<uint32_t>(track->VideoEntries.size());
}

bool TMp4File::SetSampleDescription(uint32_t ATrackId, uint32_t AIndex) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || AIndex == 0 || AIndex > track->VideoEntries.size()) return false;
  track->CurrentDescription = AIndex;
  return true;
}

double TMp4File::DurationSeconds() const {
  uint64_t longest = 0;
  for (const std::unique_ptr<TMp4Track>& t : FTracks)
    longest = std::max(longest, TrackPresentationDuration(*t, FMovie.TimeScale));
  return FMovie.TimeScale ? static_cast<double>(longest) / FMovie.TimeScale : 0;
}

bool TMp4File::SetTrackEdit(uint32_t ATrackId, uint64_t AEmptyDuration, uint64_t AMediaStart,
                            uint64_t AMediaDuration) {
  TMp4Track* track = FindTrack(ATrackId);
  if (!track || AMediaStart > INT64_MAX || AEmptyDuration > INT64_MAX) return false;
  track->Edit.Set = true;
  track->Edit.EmptyDuration = AEmptyDuration;
  track->Edit.MediaStart = AMediaStart;
  track->Edit.MediaDuration = AMediaDuration;
  return true;
}

bool TMp4File::SkipMediaData(uint64_t ACount) {
  if (FClosed) return false;
  return FWriter->Skip(ACount);
}

bool TMp4File::Close(TOutputCloseMode AMode) {
  if (FClosed) return FCloseResult;
  FClosed = true;
  if (AMode == TOutputCloseMode::Discard) {
    FWriter->Close(AMode);
    FCloseResult = false;
    return false;
  }
  FMovie.ConversionState = AMode == TOutputCloseMode::Stopped ? "stopped" : "finished";
  int64_t mdatEnd = FWriter->Position();
  std::vector<const TMp4Track*> tracks;
  for (const std::unique_ptr<TMp4Track>& t : FTracks) tracks.push_back(t.get());
  TBoxWriter out(*FWriter);
  WriteMoovBox(out, FMovie, tracks);
  bool ok = out.Ok();
  ok = PatchMdatSize(*FWriter, FMdatHeader, mdatEnd) && ok;
  // An index that could not be written makes the file unusable: it is removed.
  ok = FWriter->Close(ok ? AMode : TOutputCloseMode::Discard) && ok;
  FCloseResult = ok;
  return ok;
}
