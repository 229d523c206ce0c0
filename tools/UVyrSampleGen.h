// Generates recordings as a recorder makes them: one video frame per block, audio blocks
// of 20 ms interleaved in time order, second and millisecond time stamps that advance
// with the frames, frame numbers counting from 1.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "UVyrRecordBuilder.h"

struct TRecordingSpec {
  int VideoType = OmVideoType_H264;  // -1: no video
  uint8_t VideoMode = OmResolution_CIF;
  uint8_t AudioType = AUDIO_TYPE_G711A;  // AUDIO_TYPE_NONE: no audio
  uint32_t FrameRate = 25;
  uint32_t Frames = 250;
  uint32_t StartSecond = 1700000000;  // the recorder's clock at the first frame
  uint32_t StartMillisecond = 0;      // 0: the recording starts on a whole second
  uint32_t KeyInterval = 50;          // frames between key frames
  // Noise of up to +-Grain added to the test picture's luma, as a camera's sensor adds
  // it: the encoders spend bits on it, so a larger grain makes a higher bit rate.
  uint8_t Grain = 0;
  // A picture drawn white all over (a flash, to find in the decoded video); -1: none.
  int64_t FlashFrame = -1;
  // Each picture carries its number (its index, 16 bits) in the top left corner, as
  // ReadPictureNumber reads it back from the decoded picture.
  bool NumberPictures = false;
};

// Produces the payload of frame AIndex (0-based) and tells whether it is a key frame.
using TVideoPayloadSource =
    std::function<std::vector<uint8_t>(uint32_t AIndex, bool& AKeyFrame)>;

// A payload source that writes recognisable bytes, no real video.
TVideoPayloadSource PatternPayloadSource(const TRecordingSpec& ASpec, size_t APayloadSize);

// G.711 / PCM samples of a 440 Hz tone for the block starting at sample AFirstSample.
std::vector<uint8_t> ToneAudioBlock(uint8_t AAudioType, uint64_t AFirstSample, uint32_t ASamples);

// Called after each frame's blocks (its audio, then its video) were added to the
// builder; false stops the recording there (a write that failed).
using TFrameWrittenHook = std::function<bool(TVyrRecordBuilder& ABuilder)>;

// Adds the blocks of the whole recording to ABuilder. False when AAfterFrame stopped it.
bool GenerateRecording(const TRecordingSpec& ASpec, const TVideoPayloadSource& AVideo,
                       TVyrRecordBuilder& ABuilder, const TFrameWrittenHook& AAfterFrame = nullptr);
