#include "conversion/UMp4Track.h"

#include <algorithm>

namespace {
template <typename T>
void AppendRun(std::vector<TMp4Run<T>>& ARuns, T AValue) {
  if (!ARuns.empty() && ARuns.back().Value == AValue && ARuns.back().Count < UINT32_MAX) {
    ++ARuns.back().Count;
  } else {
    ARuns.push_back({1, AValue});
  }
}
}  // namespace

TMp4Track::TMp4Track(uint32_t AId, TMp4TrackKind AKind, uint32_t ATimeScale, uint64_t AFixedDuration)
    : FId(AId), FKind(AKind), FTimeScale(ATimeScale), FFixedDuration(AFixedDuration) {}

void TMp4Track::AddSample(uint64_t AOffset, uint32_t ASize, uint32_t ADuration,
                          int32_t ARenderingOffset, bool ASync, uint32_t ADescription) {
  // Sizes: one value while all agree, the full table from the first difference on.
  if (FSampleCount == 0) {
    FFirstSize = ASize;
  } else if (FSameSize && ASize != FFirstSize) {
    FSameSize = false;
    for (size_t i = 0; i < FSampleCount; ++i) FSizes.Push(FFirstSize);
  }
  if (!FSameSize) FSizes.Push(ASize);

  if (ASync) FSyncSamples.Push(static_cast<uint32_t>(FSampleCount + 1));
  AppendRun(FDurations, ADuration);
  if (ARenderingOffset != 0 && FRenderingOffsets.empty() && FSampleCount > 0) {
    // The samples before the first offset had none.
    for (size_t left = FSampleCount; left > 0;) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(left, UINT32_MAX));
      FRenderingOffsets.push_back({n, 0});
      left -= n;
    }
  }
  if (ARenderingOffset != 0 || !FRenderingOffsets.empty()) AppendRun(FRenderingOffsets, ARenderingOffset);

  if (AOffset == FChunkEnd && ADescription == FLastDescription && FChunkSamples.Last() < UINT32_MAX) {
    ++FChunkSamples.Last();
  } else {
    FChunkOffsets.Push(AOffset);
    FChunkSamples.Push(1);
    AppendRun(FChunkDescriptions, ADescription);
    if (AOffset > UINT32_MAX) FLargeOffsets = true;
  }
  FLastDescription = ADescription;
  FChunkEnd = AOffset + ASize;

  if (FMediaDuration >= FWindowStart + FTimeScale) {
    FMaxWindowBytes = std::max(FMaxWindowBytes, FWindowBytes);
    FWindowStart = FMediaDuration;
    FWindowBytes = 0;
  }
  FWindowBytes += ASize;

  ++FSampleCount;
  FMediaDuration += ADuration;
  FTotalBytes += ASize;
  FMaxSampleSize = std::max(FMaxSampleSize, ASize);
}

bool TMp4Track::SetLastSampleDuration(uint32_t ADuration) {
  if (FSampleCount == 0 || FDurations.empty()) return false;
  TMp4Run<uint32_t>& last = FDurations.back();
  const uint32_t old = last.Value;
  if (old == ADuration) return true;
  if (last.Count == 1) {
    FDurations.pop_back();
  } else {
    --last.Count;
  }
  AppendRun(FDurations, ADuration);
  FMediaDuration = FMediaDuration - old + ADuration;
  return true;
}

uint32_t TMp4Track::AverageBitrate() const {
  if (FMediaDuration == 0) return 0;
  long double bits = static_cast<long double>(FTotalBytes) * 8.0L * FTimeScale / FMediaDuration;
  return bits > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bits);
}

uint32_t TMp4Track::MaxBitrate() const {
  if (FMediaDuration < FTimeScale) return AverageBitrate();
  uint64_t bytes = std::max(FMaxWindowBytes, FWindowBytes);
  uint64_t bits = bytes * 8;
  return std::max<uint32_t>(AverageBitrate(),
                            bits > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bits));
}
