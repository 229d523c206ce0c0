// What the conversion of one record file achieved, kept for the caller (the window's queue
// and vyrconvert), so that a file whose output could not be made is never shown as
// converted. The progress protocol (0..100, then the end mark) is separate from this.
#pragma once

#include <cstdint>
#include <string>

enum class TConversionStatus {
  NotRun,          // nothing has been converted yet
  Converted,       // output created, written whole, and it holds something
  Stopped,         // the user stopped it; the partial output was closed properly and kept
  OpenFailed,      // the record file could not be opened
  OutputFailed,    // the output file could not be created
  WriteFailed,     // a write to the output failed (full disk, I/O error)
  NothingWritten,  // the recording gave nothing to write (an MP4 file is then not kept)
  OutOfMemory,     // memory for the conversion could not be had; the output was removed
  Failed,          // the conversion failed for another reason; the output was removed
};

struct TConversionOutcome {
  TConversionStatus Status = TConversionStatus::NotRun;
  std::string OutFileName;  // the output file (final name)
  // The file that holds the output: OutFileName, or its work name for a stopped output that
  // did not replace an existing file; empty when no file was kept.
  std::string KeptFileName;
  // Why the output failed, in words for the user, where more is known than the status says
  // ("... exists and is not a regular file", "another converter is writing ...").
  std::string Message;
  // Something the user should know about a conversion that succeeded.
  std::string Warning;
  int64_t VideoFrames = 0;  // pictures written (MP4) or video payloads copied (raw)
  int64_t AudioFrames = 0;  // AAC frames written (MP4)
  int64_t BytesWritten = 0;
  double Duration = 0;      // seconds of media written, where known
  // Damaged regions of the recording that were skipped, and their bytes.
  int64_t DamagedRegions = 0;
  int64_t DamagedBytes = 0;

  // Converted, or stopped by the user with a properly closed output.
  bool Succeeded() const {
    return Status == TConversionStatus::Converted || Status == TConversionStatus::Stopped;
  }
};

// The warning of a recording that held fewer bytes than its size when it was opened.
constexpr const char* RecordEndedEarlyWarning = "the recording ended early";

// A short English description of a status, for messages that name the recording first
// ("cam1.vyr: cannot open the recording"). A raw video export that found no video says so
// (ARawVideo). Given the output's name as it is to be shown (AOutput), the description
// names the output where the status concerns it.
inline std::string DescribeConversionStatus(TConversionStatus AStatus, bool ARawVideo = false,
                                            const std::string& AOutput = std::string()) {
  const bool named = !AOutput.empty();
  switch (AStatus) {
    case TConversionStatus::NotRun: return "not converted";
    case TConversionStatus::Converted: return "converted";
    case TConversionStatus::Stopped: return "stopped";
    case TConversionStatus::OpenFailed: return "cannot open the recording";
    case TConversionStatus::OutputFailed:
      return named ? "cannot create the output file " + AOutput : "cannot create the output file";
    case TConversionStatus::WriteFailed:
      return named ? "writing " + AOutput + " failed (disk full or I/O error)" : "writing the output failed";
    case TConversionStatus::NothingWritten:
      if (ARawVideo) return named ? "holds no video (" + AOutput + " is empty)" : "the recording holds no video";
      return named ? "holds nothing to convert (no file written)" : "the recording holds nothing to convert";
    case TConversionStatus::OutOfMemory: return "not enough memory to convert the recording";
    case TConversionStatus::Failed: return "the conversion failed";
  }
  return "unknown";
}
