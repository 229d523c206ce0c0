// Keeping the MP4 files that the fuzz targets produce, for a read-back by ffprobe. When
// the environment variable VYR_FUZZ_KEEP_MP4 names a folder, each MP4 a target made is
// copied there as "<n>.mp4", with "<n>.counts" ("<video samples> <audio samples>", what
// the writer reported) and "<n>.in" (the input that made it), n counting from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The folder named by VYR_FUZZ_KEEP_MP4; empty when the files are not kept.
const std::string& FuzzKeepFolder();

// Copies AMp4File and writes the counts and the input beside it. Does nothing when the
// files are not kept.
void KeepFuzzMp4(const std::string& AMp4File, int64_t AVideoSamples, int64_t AAudioSamples, const uint8_t* AData,
                 size_t ASize);
