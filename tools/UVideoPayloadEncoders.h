// Real video payloads for generated recordings: a moving test picture, encoded frame by
// frame as a recorder does it (no B-frames, a key frame every ASpec.KeyInterval frames,
// parameter sets in front of every key frame, one compressed frame per block).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UVyrSampleGen.h"

// The test picture of frame AIndex in planar 4:2:0 (I420: Y, then Cb, then Cr), with
// moving bars and a moving box, so every frame differs and errors show.
void DrawTestPicture(int AWidth, int AHeight, uint32_t AIndex, std::vector<uint8_t>& AI420);

// Draws AIndex (16 bits) into the top left corner of a picture: sixteen 8 x 8 squares in a
// row, white for a 1, black for a 0, most significant first. The picture must be at least 128
// pixels wide and 8 high.
void DrawPictureNumber(int AWidth, uint32_t AIndex, std::vector<uint8_t>& AI420);
// Reads the number back from a decoded picture's luma (AWidth bytes a row), or -1 when a
// square is neither white nor black enough.
int ReadPictureNumber(const uint8_t* ALuma, int AWidth);

// Adds noise of up to +-AAmplitude to the luma of an I420 picture, different for every
// frame index and the same for the same index; values stay within 16..235.
void AddPictureGrain(int AWidth, int AHeight, uint32_t AIndex, uint8_t AAmplitude,
                     std::vector<uint8_t>& AI420);

// A payload source that encodes the test picture in ASpec.VideoType at the size of
// ASpec.VideoMode. Empty function and a message in AError when the codec cannot be opened.
TVideoPayloadSource EncodedPayloadSource(const TRecordingSpec& ASpec, std::string& AError);

// Writes a whole recording with EncodedPayloadSource's pictures to APath. AAfterFrame is
// called as by GenerateRecording; the blocks added until it stops are written. False, with
// a message in AError, when the codec cannot be opened or the file cannot be written.
bool SaveEncodedRecording(const TRecordingSpec& ASpec, const std::string& APath, std::string& AError,
                          const TFrameWrittenHook& AAfterFrame = nullptr);
