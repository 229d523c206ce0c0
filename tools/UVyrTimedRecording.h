// Recordings whose clock is not a steady frame rate, for tests of timing: a recorder that
// paused, a camera that dropped pictures or runs at a fractional rate, a clock that was set
// backwards or forwards, stamps in whole seconds only, audio that paused while the video
// went on, and a marker (a white picture and a click in the audio at the same stamp).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "UVyrSampleGen.h"

struct TTimingSpec {
  // Pictures per 1000 seconds (12500: 12.5 fps).
  uint32_t FrameRateMilli = 25000;
  // After picture AfterPicture, the recorder paused for Ms: no pictures and no audio, and the
  // stamps go on from the real time after the pause.
  std::vector<std::pair<uint32_t, int64_t>> Pauses;
  // Of the pictures DropFrom to DropTo - 1, every DropEvery-th is missing (the camera dropped
  // it); the others keep their times.
  uint32_t DropFrom = 0, DropTo = 0, DropEvery = 0;
  // After picture AfterPicture the clock is set by Ms (back when negative): stamps jump,
  // pictures and audio go on without a pause.
  std::vector<std::pair<uint32_t, int64_t>> ClockSteps;
  // Stamps in whole seconds only (the millisecond part always 0).
  bool SecondsOnly = false;
  // Every picture's frame number 0.
  bool ZeroFrameIds = false;
  // The audio is missing from AudioPauseFromMs (real time from the start) for AudioPauseMs,
  // while the pictures go on.
  int64_t AudioPauseFromMs = -1, AudioPauseMs = 0;
  // A white picture (the video source must draw it: TRecordingSpec::FlashFrame) and a click
  // in the audio at the same time; the audio is otherwise silent. -1: none.
  int32_t MarkerPicture = -1;
};

// What was written: the stamp of every picture in the file, in file order, and the marker's.
struct TTimedRecording {
  std::vector<uint32_t> PictureIndices;
  std::vector<int64_t> PictureStampsMs;
  int64_t MarkerStampMs = -1;
  uint64_t AudioSamples = 0;  // samples in the audio blocks written
};

// Writes the blocks of the recording into ABuilder, audio and pictures interleaved in real
// time. ASpec gives the codecs, the number of pictures (Frames), the start stamp and the
// key interval; AVideo makes the payloads.
TTimedRecording GenerateTimedRecording(const TRecordingSpec& ASpec, const TTimingSpec& ATiming,
                                       const TVideoPayloadSource& AVideo, TVyrRecordBuilder& ABuilder);
