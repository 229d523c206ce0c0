// An MP4 file being written: "ftyp", then "mdat", into which samples stream as they come,
// then "moov", the index of every track, written when the file closes. The media data
// header and the chunk offsets switch to their 64-bit forms when the file passes 4 GiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/UMp4Boxes.h"
#include "conversion/UMp4Track.h"
#include "conversion/UOutputFile.h"

class TMp4File {
 public:
  // Creates the file's work file (see TFileWriter: the file takes its name when it is
  // closed) and writes its header; null when it cannot be created, AError (may be null)
  // then says why. AInput (when valid): the file being converted, which may not be replaced.
  static std::unique_ptr<TMp4File> Create(const std::string& AFileName, const TFileIdentity& AInput = {},
                                          std::string* AError = nullptr);
  // Closes the file if that has not been done.
  ~TMp4File();
  TMp4File(const TMp4File&) = delete;
  TMp4File& operator=(const TMp4File&) = delete;

  // The creation time of the movie, its tracks and media, in seconds since 1970.
  void SetCreationTime(uint64_t AUnixSeconds);
  // Changes the duration of the last sample written to a track; false when it has none.
  bool SetLastSampleDuration(uint32_t ATrackId, uint64_t ADuration);
  // Movie time scale (ticks per second); 1000 until set. False for 0.
  bool SetTimeScale(uint32_t ATimeScale);
  uint32_t TimeScale() const { return FMovie.TimeScale; }

  // Adds a track; its id (1, 2, …), or 0 when the file is closed or a value is unusable
  // (time scale 0, fixed sample duration 0 or above 32 bits, length size of 3 bytes).
  uint32_t AddH264VideoTrack(uint32_t ATimeScale, uint64_t ASampleDuration, uint16_t AWidth,
                             uint16_t AHeight, uint8_t AProfileIdc, uint8_t AProfileCompatibility,
                             uint8_t ALevelIdc, uint8_t ALengthSizeMinusOne);
  uint32_t AddAudioTrack(uint32_t ATimeScale, uint64_t ASampleDuration, uint8_t AAudioType);

  // Parameter sets for the video track's decoder configuration, from the NAL header byte
  // on. A set already stored is not stored twice.
  bool AddH264SequenceParameterSet(uint32_t ATrackId, const uint8_t* AData, uint16_t ASize);
  bool AddH264PictureParameterSet(uint32_t ATrackId, const uint8_t* AData, uint16_t ASize);
  // Adds a further sample description to a video track; its index (2, 3, …), or 0 when
  // the track is not a video track of this open file.
  uint32_t AddH264SampleDescription(uint32_t ATrackId, const TMp4VideoEntry& AEntry);
  // The sample description of the samples written from now on; false for an unknown
  // track or index.
  bool SetSampleDescription(uint32_t ATrackId, uint32_t AIndex);
  // The audio track's decoder-specific information (AudioSpecificConfig).
  bool SetTrackESConfiguration(uint32_t ATrackId, const uint8_t* AData, uint32_t ASize);
  void SetVideoProfileLevel(uint8_t AValue);
  void SetAudioProfileLevel(uint8_t AValue);

  // Appends one sample to the media data. ADuration UINT64_MAX takes the track's fixed
  // duration. False for an unknown track, no bytes, values out of range, or when the
  // bytes did not reach the file.
  bool WriteSample(uint32_t ATrackId, const uint8_t* AData, uint32_t ASize, uint64_t ADuration,
                   int64_t ARenderingOffset, bool ASync);

  // Sets the edit of a track (see TMp4Edit); replaces an earlier one.
  bool SetTrackEdit(uint32_t ATrackId, uint64_t AEmptyDuration, uint64_t AMediaStart,
                    uint64_t AMediaDuration);

  // Leaves ACount bytes of the media data unused (a hole in the file).
  bool SkipMediaData(uint64_t ACount);

  // Writes the index and closes the file as AMode says (a discard writes no index and
  // removes the file); true when every byte reached the file and it is kept. Safe to call
  // twice (the second call reports the first one's result).
  bool Close(TOutputCloseMode AMode = TOutputCloseMode::Finish);
  // After Close(): where the file is kept (its final or its work name), empty when removed.
  const std::string& KeptFileName() const { return FWriter->KeptFileName(); }
  // After a failed Close(): why, in words for the user.
  const std::string& CloseError() const { return FWriter->CloseError(); }
  bool IsClosed() const { return FClosed; }
  // How long the movie plays as its index will say (the longest track with its edit), in
  // seconds.
  double DurationSeconds() const;
  // A write has failed so far.
  bool Failed() const { return FWriter->Failed(); }
  int64_t Size() const { return FWriter->Position(); }

 private:
  explicit TMp4File(std::unique_ptr<TFileWriter> AWriter);
  TMp4Track* FindTrack(uint32_t ATrackId);
  uint32_t AddTrack(TMp4TrackKind AKind, uint32_t ATimeScale, uint64_t ASampleDuration);

  std::unique_ptr<TFileWriter> FWriter;
  std::vector<std::unique_ptr<TMp4Track>> FTracks;
  TMp4MovieInfo FMovie;
  int64_t FMdatHeader = 0;
  bool FClosed = false;
  bool FCloseResult = false;
};
