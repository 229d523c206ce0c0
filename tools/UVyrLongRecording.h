// Long recordings made fast. Encoding hours of pictures takes hours, so a short stretch
// of whole key intervals is encoded once and its payloads are written again and again;
// every repeat starts with a key picture and its parameter sets, so the stream stays
// decodable, while frame numbers, time stamps and the audio tone go on advancing as a
// recorder's do. The file is written block by block: memory stays the same whatever the
// length.
#pragma once

#include <cstdint>
#include <string>

#include "UVyrSampleGen.h"

// Frames of the repeated stretch for about ASeconds of ASpec's video: rounded up to
// whole key intervals, at least one, never more than the recording's frames.
uint32_t RepeatedStretchFrames(const TRecordingSpec& ASpec, uint32_t ASeconds);

// Takes the first AFrames payloads from AInner (asked once each, in order) and then serves
// frame i with the payload and key flag of frame i % AFrames.
TVideoPayloadSource RepeatingPayloadSource(TVideoPayloadSource AInner, uint32_t AFrames);

// Writes the recording GenerateRecording makes to AFileName, flushing after every frame.
// False when the file cannot be created or a write fails.
bool WriteRecordingFile(const TRecordingSpec& ASpec, const TVideoPayloadSource& AVideo,
                        const std::string& AFileName);
