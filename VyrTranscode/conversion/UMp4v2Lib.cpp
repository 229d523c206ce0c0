#include "conversion/UMp4v2Lib.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "conversion/UMp4File.h"

namespace {

// The open files by handle. Handles count up from 1 and are not reused while the
// counter has not wrapped, so a stale handle finds nothing.
class TMp4FileTable {
 public:
  MP4FileHandle Add(std::unique_ptr<TMp4File> AFile) {
    std::lock_guard<std::mutex> guard(FLock);
    do {
      ++FLastHandle;
    } while (FLastHandle == MP4_INVALID_FILE_HANDLE || FFiles.count(FLastHandle) != 0);
    FFiles.emplace(FLastHandle, std::move(AFile));
    return FLastHandle;
  }

  TMp4File* Find(MP4FileHandle AHandle) {
    std::lock_guard<std::mutex> guard(FLock);
    auto it = FFiles.find(AHandle);
    return it == FFiles.end() ? nullptr : it->second.get();
  }

  std::unique_ptr<TMp4File> Remove(MP4FileHandle AHandle) {
    std::lock_guard<std::mutex> guard(FLock);
    auto it = FFiles.find(AHandle);
    if (it == FFiles.end()) return nullptr;
    std::unique_ptr<TMp4File> file = std::move(it->second);
    FFiles.erase(it);
    return file;
  }

 private:
  std::mutex FLock;
  std::unordered_map<MP4FileHandle, std::unique_ptr<TMp4File>> FFiles;
  MP4FileHandle FLastHandle = 0;
};

TMp4FileTable& Files() {
  static TMp4FileTable table;
  return table;
}

}  // namespace

MP4FileHandle MP4Create(const std::string& AFileName, uint32_t /*AFlags*/, const TFileIdentity& AInput,
                        std::string* AError) {
  std::unique_ptr<TMp4File> file = TMp4File::Create(AFileName, AInput, AError);
  if (!file) return MP4_INVALID_FILE_HANDLE;
  return Files().Add(std::move(file));
}

bool MP4SetTimeScale(MP4FileHandle AFile, uint32_t ATimeScale) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SetTimeScale(ATimeScale);
}

MP4TrackId MP4AddH264VideoTrack(MP4FileHandle AFile, uint32_t ATimeScale, MP4Duration ASampleDuration,
                                uint16_t AWidth, uint16_t AHeight, uint8_t AProfileIdc,
                                uint8_t AProfileCompatibility, uint8_t ALevelIdc,
                                uint8_t ALengthSizeMinusOne) {
  TMp4File* file = Files().Find(AFile);
  if (!file) return MP4_INVALID_TRACK_ID;
  return file->AddH264VideoTrack(ATimeScale, ASampleDuration, AWidth, AHeight, AProfileIdc,
                                 AProfileCompatibility, ALevelIdc, ALengthSizeMinusOne);
}

bool MP4AddH264SequenceParameterSet(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AData,
                                    uint16_t ASize) {
  TMp4File* file = Files().Find(AFile);
  return file && file->AddH264SequenceParameterSet(ATrack, AData, ASize);
}

bool MP4AddH264PictureParameterSet(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AData,
                                   uint16_t ASize) {
  TMp4File* file = Files().Find(AFile);
  return file && file->AddH264PictureParameterSet(ATrack, AData, ASize);
}

bool MP4SetVideoProfileLevel(MP4FileHandle AFile, uint8_t AValue) {
  TMp4File* file = Files().Find(AFile);
  if (!file) return false;
  file->SetVideoProfileLevel(AValue);
  return true;
}

bool MP4SetAudioProfileLevel(MP4FileHandle AFile, uint8_t AValue) {
  TMp4File* file = Files().Find(AFile);
  if (!file) return false;
  file->SetAudioProfileLevel(AValue);
  return true;
}

MP4TrackId MP4AddAudioTrack(MP4FileHandle AFile, uint32_t ATimeScale, MP4Duration ASampleDuration,
                            uint8_t AAudioType) {
  TMp4File* file = Files().Find(AFile);
  if (!file) return MP4_INVALID_TRACK_ID;
  return file->AddAudioTrack(ATimeScale, ASampleDuration, AAudioType);
}

bool MP4SetTrackESConfiguration(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AConfig,
                                uint32_t AConfigSize) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SetTrackESConfiguration(ATrack, AConfig, AConfigSize);
}

bool MP4WriteSample(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* ABytes, uint32_t ANumBytes,
                    MP4Duration ADuration, MP4Duration ARenderingOffset, bool AIsSyncSample) {
  TMp4File* file = Files().Find(AFile);
  return file && file->WriteSample(ATrack, ABytes, ANumBytes, ADuration,
                                   static_cast<int64_t>(ARenderingOffset), AIsSyncSample);
}

bool MP4SetTrackEdit(MP4FileHandle AFile, MP4TrackId ATrack, MP4Duration AEmptyDuration,
                     MP4Duration AMediaStart, MP4Duration AMediaDuration) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SetTrackEdit(ATrack, AEmptyDuration, AMediaStart, AMediaDuration);
}

bool MP4SkipMediaData(MP4FileHandle AFile, uint64_t ACount) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SkipMediaData(ACount);
}

uint32_t MP4AddH264SampleDescription(MP4FileHandle AFile, MP4TrackId ATrack, uint16_t AWidth, uint16_t AHeight,
                                     const std::vector<std::vector<uint8_t>>& ASequenceParameterSets,
                                     const std::vector<std::vector<uint8_t>>& APictureParameterSets) {
  TMp4File* file = Files().Find(AFile);
  if (!file || ASequenceParameterSets.empty() || ASequenceParameterSets.front().size() < 4) return 0;
  TMp4VideoEntry entry;
  entry.Width = AWidth;
  entry.Height = AHeight;
  const std::vector<uint8_t>& sps = ASequenceParameterSets.front();
  entry.ProfileIdc = sps[1];
  entry.ProfileCompatibility = sps[2];
  entry.LevelIdc = sps[3];
  entry.SequenceParameterSets = ASequenceParameterSets;
  entry.PictureParameterSets = APictureParameterSets;
  return file->AddH264SampleDescription(ATrack, entry);
}

bool MP4SetSampleDescription(MP4FileHandle AFile, MP4TrackId ATrack, uint32_t AIndex) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SetSampleDescription(ATrack, AIndex);
}

bool MP4SetCreationTime(MP4FileHandle AFile, uint64_t AUnixSeconds) {
  TMp4File* file = Files().Find(AFile);
  if (!file) return false;
  file->SetCreationTime(AUnixSeconds);
  return true;
}

bool MP4SetLastSampleDuration(MP4FileHandle AFile, MP4TrackId ATrack, MP4Duration ADuration) {
  TMp4File* file = Files().Find(AFile);
  return file && file->SetLastSampleDuration(ATrack, ADuration);
}

double MP4GetDuration(MP4FileHandle AFile) {
  TMp4File* file = Files().Find(AFile);
  return file ? file->DurationSeconds() : 0;
}

bool MP4Close(MP4FileHandle AFile, uint32_t AFlags, std::string* AKeptFileName, std::string* AError) {
  std::unique_ptr<TMp4File> file = Files().Remove(AFile);
  if (AKeptFileName) AKeptFileName->clear();
  if (!file) return false;
  const TOutputCloseMode mode = (AFlags & MP4_CLOSE_DISCARD) != 0   ? TOutputCloseMode::Discard
                                : (AFlags & MP4_CLOSE_STOPPED) != 0 ? TOutputCloseMode::Stopped
                                                                    : TOutputCloseMode::Finish;
  const bool ok = file->Close(mode);
  if (AKeptFileName) *AKeptFileName = file->KeptFileName();
  if (AError) *AError = file->CloseError();
  return ok;
}
