// Raw stream export: the payloads of all video blocks of a record file, written back to
// back and unchanged into one elementary-stream file named after the codec (".H264",
// ".MJPG", ".H265", no extension for other codecs). Audio and blocks of other commands
// are stepped over.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "conversion/UConversionOutcome.h"
#include "conversion/UOutputFile.h"

// The extension of the raw stream of a video codec code; empty for MPEG-4, unknown codes
// and 255 (no video).
std::string GetRawStreamExtension(uint8_t AVideoEncType);

// How a walk over a record stream ended.
struct TRawWalkResult {
  int64_t VideoPayloads = 0;  // video blocks reached (a cut payload and empty ones included)
  int64_t BytesWritten = 0;   // payload bytes handed to the output
  bool CutShort = false;      // the last video payload was cut by the end of the stream
  bool WriteFailed = false;   // the output refused a write
  bool Aborted = false;       // AAbort ended the walk early
  int64_t DamagedRegions = 0;  // damaged regions skipped, and their bytes
  int64_t DamagedBytes = 0;
};

// Walks ASource from offset 0 to its end, block by block (TOmBlockReader: damaged regions
// are skipped, none of their bytes is copied), and writes the payload of every video
// block to AOut through bounded copies (no length field makes it allocate anything).
// Audio blocks and blocks of other commands are stepped over. The file's cut last payload:
// the bytes that are there are written and the walk ends. AProgress (may be null)
// receives position x 100 div size after each block; AAbort (may be null) ends the walk
// before the next block when set.
TRawWalkResult WalkRecordToRaw(TStream& ASource, TFileWriter& AOut, std::atomic<int>* AProgress = nullptr,
                               const std::atomic<bool>* AAbort = nullptr);

// Raw export of one record file. AProgress: 0 at the start, 0..100 while running, 101 at
// the end whatever happened. AAbort (may be null) is NOT the user's stop (a user's stop
// never shortens an export); it is set only when the program exits, and then the export
// ends early with its partial file closed (outcome Stopped). AOutcome (may be null)
// receives what happened, and is complete before AProgress becomes 101: OpenFailed,
// OutputFailed (also when the output would be the record file itself), WriteFailed,
// NothingWritten (the recording has no video bytes: the empty output file is still made),
// Converted; OutFileName; VideoFrames = payloads copied; BytesWritten.
void ExecRecordToRawFile(const std::string& ASrcFileName, const std::string& AOutFileName,
                         std::atomic<int>& AProgress, TConversionOutcome* AOutcome = nullptr,
                         const std::atomic<bool>* AAbort = nullptr);
