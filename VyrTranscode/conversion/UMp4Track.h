// One track of an MP4 file being written: its codec set-up, its edit, and the sample
// tables that the file's index (moov) is built from when the file closes.
//
// The tables cost a few bytes per sample: 4 for its size (none while every sample has
// the same size), 4 per sync sample, 12 per chunk; durations and composition offsets
// are kept as runs, so a track of fixed durations keeps one entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// An append-only array in blocks of fixed size: growing never moves what is stored and
// never needs twice the memory for a moment, as a doubling vector does.
template <typename T>
class TBlockArray {
 public:
  static constexpr size_t BlockLen = 16384;

  void Push(T AValue) {
    if (FCount == FBlocks.size() * BlockLen) FBlocks.emplace_back(new T[BlockLen]);
    FBlocks[FCount / BlockLen][FCount % BlockLen] = AValue;
    ++FCount;
  }
  size_t Size() const { return FCount; }
  T operator[](size_t AIndex) const { return FBlocks[AIndex / BlockLen][AIndex % BlockLen]; }
  T& Last() { return FBlocks[(FCount - 1) / BlockLen][(FCount - 1) % BlockLen]; }

 private:
  std::vector<std::unique_ptr<T[]>> FBlocks;
  size_t FCount = 0;
};

enum class TMp4TrackKind { Video, Audio };

// A run of equal values in a table: Count samples in a row carry Value.
template <typename T>
struct TMp4Run {
  uint32_t Count;
  T Value;
};

// The edit of a track: an optional empty stretch before the media starts (movie time
// scale), then the media from MediaStart on for MediaDuration (track time scale; all of
// the rest when MediaDuration is UINT64_MAX).
struct TMp4Edit {
  bool Set = false;
  uint64_t EmptyDuration = 0;
  uint64_t MediaStart = 0;
  uint64_t MediaDuration = UINT64_MAX;
};

// One sample description of a video track: the picture size and the parameter sets of the
// samples that use it.
struct TMp4VideoEntry {
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t ProfileIdc = 0;
  uint8_t ProfileCompatibility = 0;
  uint8_t LevelIdc = 0;
  std::vector<std::vector<uint8_t>> SequenceParameterSets;
  std::vector<std::vector<uint8_t>> PictureParameterSets;
};

class TMp4Track {
 public:
  TMp4Track(uint32_t AId, TMp4TrackKind AKind, uint32_t ATimeScale, uint64_t AFixedDuration);

  uint32_t Id() const { return FId; }
  TMp4TrackKind Kind() const { return FKind; }
  uint32_t TimeScale() const { return FTimeScale; }
  uint64_t FixedDuration() const { return FFixedDuration; }

  // Records a sample stored at AOffset of the file, described by sample description
  // ADescription (1-based). A sample that starts where the previous sample of this track
  // ended, with the same description, joins its chunk; any other opens a new chunk.
  void AddSample(uint64_t AOffset, uint32_t ASize, uint32_t ADuration, int32_t ARenderingOffset,
                 bool ASync, uint32_t ADescription = 1);

  // Changes the duration of the last sample recorded (its length is known only once the
  // next one comes); false when there is none.
  bool SetLastSampleDuration(uint32_t ADuration);

  size_t SampleCount() const { return FSampleCount; }
  uint64_t MediaDuration() const { return FMediaDuration; }
  uint64_t TotalBytes() const { return FTotalBytes; }
  uint32_t MaxSampleSize() const { return FMaxSampleSize; }
  // Most bits in any second of the track (the average when shorter than a second).
  uint32_t MaxBitrate() const;
  uint32_t AverageBitrate() const;

  // Sample sizes: SampleSize(i) for every sample; AllSameSize() when one size serves all.
  bool AllSameSize() const { return FSameSize; }
  uint32_t SampleSize(size_t AIndex) const { return FSameSize ? FFirstSize : FSizes[AIndex]; }
  const TBlockArray<uint32_t>& SyncSamples() const { return FSyncSamples; }  // 1-based
  bool AllSync() const { return FSyncSamples.Size() == FSampleCount; }
  const std::vector<TMp4Run<uint32_t>>& Durations() const { return FDurations; }
  // Composition offsets; empty when every sample has offset 0.
  const std::vector<TMp4Run<int32_t>>& RenderingOffsets() const { return FRenderingOffsets; }
  const TBlockArray<uint64_t>& ChunkOffsets() const { return FChunkOffsets; }
  const TBlockArray<uint32_t>& ChunkSampleCounts() const { return FChunkSamples; }
  // The sample description of each chunk, as runs over the chunks in order.
  const std::vector<TMp4Run<uint32_t>>& ChunkDescriptions() const { return FChunkDescriptions; }
  bool NeedsLargeOffsets() const { return FLargeOffsets; }

  // Video set-up: the sample descriptions in order. The first is made with the track and
  // gives the track its size; later ones describe changes of the parameter sets.
  std::vector<TMp4VideoEntry> VideoEntries = std::vector<TMp4VideoEntry>(1);
  uint8_t LengthSizeMinusOne = 3;
  // The description (1-based) that samples written from now on use.
  uint32_t CurrentDescription = 1;
  // Audio set-up.
  uint8_t AudioType = 0;
  std::vector<uint8_t> DecoderSpecificInfo;

  TMp4Edit Edit;

 private:
  uint32_t FId;
  TMp4TrackKind FKind;
  uint32_t FTimeScale;
  uint64_t FFixedDuration;

  size_t FSampleCount = 0;
  uint64_t FMediaDuration = 0;
  uint64_t FTotalBytes = 0;
  uint32_t FMaxSampleSize = 0;

  bool FSameSize = true;
  uint32_t FFirstSize = 0;
  TBlockArray<uint32_t> FSizes;  // filled once two sizes differ
  TBlockArray<uint32_t> FSyncSamples;
  std::vector<TMp4Run<uint32_t>> FDurations;
  std::vector<TMp4Run<int32_t>> FRenderingOffsets;
  TBlockArray<uint64_t> FChunkOffsets;
  TBlockArray<uint32_t> FChunkSamples;
  std::vector<TMp4Run<uint32_t>> FChunkDescriptions;
  uint32_t FLastDescription = 1;
  uint64_t FChunkEnd = UINT64_MAX;  // file offset just past the last sample
  bool FLargeOffsets = false;

  // Bit rate over one-second windows.
  uint64_t FWindowStart = 0;
  uint64_t FWindowBytes = 0;
  uint64_t FMaxWindowBytes = 0;
};
