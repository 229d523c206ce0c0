// The frame rate a recording is converted at.
#pragma once

#include <cstdint>

// The rate recorders write when nothing else is known.
constexpr int32_t DefaultFrameRate = 25;

// The probe's frame rate, or DefaultFrameRate when the probe found none (0) or the value
// is no rate at all (below 0). Timing, the encoder and time estimates all use this one.
constexpr int32_t NominalFrameRate(int64_t AProbedRate) {
  return AProbedRate > 0 && AProbedRate <= INT32_MAX ? static_cast<int32_t>(AProbedRate) : DefaultFrameRate;
}
