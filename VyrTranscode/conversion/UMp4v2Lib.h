// The MP4 file writer's calls: a file is reached through a handle and its tracks through
// track ids; both are 0 on failure. Samples stream into the media data as they are
// written; the index is written by MP4Close.
//
// Calls on different handles may run on different threads; the calls on one handle come
// from one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/UStreams.h"

using MP4FileHandle = uint32_t;
using MP4TrackId = uint32_t;
using MP4Duration = uint64_t;

constexpr MP4FileHandle MP4_INVALID_FILE_HANDLE = 0;
constexpr MP4TrackId MP4_INVALID_TRACK_ID = 0;
// As a sample duration: the track's fixed sample duration.
constexpr MP4Duration MP4_INVALID_DURATION = UINT64_MAX;
// Audio type of MPEG-4 audio (AAC) in the decoder configuration.
constexpr uint8_t MP4_MPEG4_AUDIO_TYPE = 0x40;

// Creates the file (UTF-8 name). It is written under a work name and replaces an existing
// file of its name when it is closed (see TFileWriter for the rules). AFlags is reserved
// (0). Returns 0 when the file cannot be created; AError (may be null) then says why.
// AInput (when valid) is the file being converted: an output that would replace it is
// refused.
MP4FileHandle MP4Create(const std::string& AFileName, uint32_t AFlags, const TFileIdentity& AInput = {},
                        std::string* AError = nullptr);

// Movie time scale, ticks per second (1000 until set).
bool MP4SetTimeScale(MP4FileHandle AFile, uint32_t ATimeScale);

// An H.264 track ("avc1"): every sample lasts ASampleDuration ticks of ATimeScale unless
// written with a duration of its own. The profile, compatibility and level bytes are
// those of the SPS; NAL units in samples carry lengths of ALengthSizeMinusOne + 1 bytes.
MP4TrackId MP4AddH264VideoTrack(MP4FileHandle AFile, uint32_t ATimeScale, MP4Duration ASampleDuration,
                                uint16_t AWidth, uint16_t AHeight, uint8_t AProfileIdc,
                                uint8_t AProfileCompatibility, uint8_t ALevelIdc,
                                uint8_t ALengthSizeMinusOne);
// Parameter sets for the track's decoder configuration, from the NAL header byte on.
bool MP4AddH264SequenceParameterSet(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AData,
                                    uint16_t ASize);
bool MP4AddH264PictureParameterSet(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AData,
                                   uint16_t ASize);
// A further sample description of an H.264 track (its size and parameter sets, from the
// NAL header byte on): samples written after MP4SetSampleDescription selects it use it.
// Returns its index (2, 3, …), or 0 on failure.
uint32_t MP4AddH264SampleDescription(MP4FileHandle AFile, MP4TrackId ATrack, uint16_t AWidth, uint16_t AHeight,
                                     const std::vector<std::vector<uint8_t>>& ASequenceParameterSets,
                                     const std::vector<std::vector<uint8_t>>& APictureParameterSets);
// The sample description (1 for the one the track was made with) of the samples written
// from now on.
bool MP4SetSampleDescription(MP4FileHandle AFile, MP4TrackId ATrack, uint32_t AIndex);
// The creation time written into the file (movie, tracks, media), in seconds since 1970.
bool MP4SetCreationTime(MP4FileHandle AFile, uint64_t AUnixSeconds);
// Changes the duration of the last sample written to a track (known only once the next
// sample's time is): false for an unknown handle or track, or a track without samples.
bool MP4SetLastSampleDuration(MP4FileHandle AFile, MP4TrackId ATrack, MP4Duration ADuration);
// How long the file plays as its index will say, in seconds (0 for an unknown handle).
double MP4GetDuration(MP4FileHandle AFile);

// Profile levels of the file's initial object descriptor.
bool MP4SetVideoProfileLevel(MP4FileHandle AFile, uint8_t AValue);
bool MP4SetAudioProfileLevel(MP4FileHandle AFile, uint8_t AValue);

// An audio track ("mp4a" with "esds") of the given object type (MP4_MPEG4_AUDIO_TYPE).
MP4TrackId MP4AddAudioTrack(MP4FileHandle AFile, uint32_t ATimeScale, MP4Duration ASampleDuration,
                            uint8_t AAudioType);
// The decoder-specific information of an audio track (for AAC its AudioSpecificConfig).
bool MP4SetTrackESConfiguration(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* AConfig,
                                uint32_t AConfigSize);

// Appends one sample. False for an unknown handle or track, no bytes, or when the bytes
// could not be written.
bool MP4WriteSample(MP4FileHandle AFile, MP4TrackId ATrack, const uint8_t* ABytes, uint32_t ANumBytes,
                    MP4Duration ADuration = MP4_INVALID_DURATION, MP4Duration ARenderingOffset = 0,
                    bool AIsSyncSample = true);

// The track's edit list: AEmptyDuration movie ticks of nothing, then the media from
// AMediaStart (track ticks) for AMediaDuration track ticks (MP4_INVALID_DURATION: to its
// end). Used to start a track late and to skip an audio encoder's priming samples.
bool MP4SetTrackEdit(MP4FileHandle AFile, MP4TrackId ATrack, MP4Duration AEmptyDuration,
                     MP4Duration AMediaStart, MP4Duration AMediaDuration = MP4_INVALID_DURATION);

// Leaves ACount bytes of the media data unused, as a hole of the file that takes no disk
// space. Lets tests lay out files larger than 4 GiB without writing gigabytes.
bool MP4SkipMediaData(MP4FileHandle AFile, uint64_t ACount);

// Flags of MP4Close.
// The user stopped the conversion: the file takes its name only when no file of that name
// existed when it was created; otherwise it stays under its work name.
constexpr uint32_t MP4_CLOSE_STOPPED = 0x100;
// The file is not wanted (nothing was written): it is removed.
constexpr uint32_t MP4_CLOSE_DISCARD = 0x200;

// Writes the index, closes the file and releases the handle. True when the whole file
// reached the disk and was kept; false when any write failed, the file was discarded or
// the handle is unknown. A file whose writes failed is removed. AKeptFileName (may be
// null) receives where the file is kept, empty when nowhere; AError (may be null) why a
// close failed.
bool MP4Close(MP4FileHandle AFile, uint32_t AFlags, std::string* AKeptFileName = nullptr,
              std::string* AError = nullptr);
