// The record probe: opens a record file and walks its block heads to find the picture
// size, the codecs and the frame rate before a conversion starts. It reads heads only and
// steps over payloads, so its cost grows with the number of blocks, not with their size,
// and no length field makes it allocate anything. Damaged regions are skipped (see
// TOmBlockReader); the counts run on across them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "conversion/UStreams.h"

class TVyrRecordProbe {
 public:
  // Opens a record file for reading (other processes may keep using it). Null when it
  // cannot be opened: missing, unreadable, or not a regular file (a FIFO or a device is
  // refused at once); AError (may be null) then says why.
  static std::unique_ptr<TStream> OpenVYRRecord(const std::string& AFileName, std::string* AError = nullptr);
  // Closes and frees the stream; a null stream is ignored.
  static void CloseVYRRecord(std::unique_ptr<TStream>& AFileStream);

  // Scans the whole stream and fills the results below. False only for a null stream
  // (then nothing is touched). Leaves the position where the scan stopped.
  bool GetVideoInfo(TStream* AFileStream);

  // Width and height of a resolution code; false, 0 x 0 and the log line
  // "Unkown Resolution: <code>" for a code outside the table.
  static bool GetVideoWidthHeight(uint8_t AResolution, uint32_t& AWidth, uint32_t& AHeight);

  // Results of the last GetVideoInfo. 255 marks "no such block".
  uint8_t FVideoResolution = 255;
  uint8_t FVideoEncType = 255;
  uint8_t FAudioEncType = 255;
  uint32_t FFrameWidth = 0;
  uint32_t FFrameHeight = 0;
  // Frames per second measured on the whole seconds of the recording (see the .cpp);
  // 0 when the file gives no usable rate.
  uint32_t FFrameRate = 0;
  // Changes of dwFrameID and of dwSecTimeStamp between consecutive video blocks (the
  // second count is at least 1).
  uint32_t FFrameCount = 0;
  uint32_t FSecCount = 0;
  // Blocks walked, for diagnostics and benchmarks.
  uint64_t FBlockCount = 0;
  // The recording's clock: the first and the last stamp (ms) of its pictures (of its audio
  // when it has no video; FHasStamps false when it has neither), and the steps between
  // consecutive pictures, of which FBadStampSteps were 0 or negative.
  bool FHasStamps = false;
  int64_t FFirstStampMs = 0;
  int64_t FLastStampMs = 0;
  uint64_t FStampSteps = 0;
  uint64_t FBadStampSteps = 0;
  // The stamps can time the pictures: no more than one step in ten is 0 or negative.
  bool StampsUsable() const { return FBadStampSteps * 10 <= FStampSteps; }
  // Damaged regions skipped, and their bytes.
  int64_t FDamagedRegions = 0;
  int64_t FDamagedBytes = 0;
};

// Highest frame rate taken as real; above it the probe reports 0.
constexpr uint32_t MaxProbeFrameRate = 240;
