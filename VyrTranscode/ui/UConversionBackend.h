// What the queue's task thread runs for one file: the core's MP4 task body or its raw
// stream export. The window holds them as functions so that the queue's tests can also
// drive it with a task whose progress they control.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "conversion/UConversionOutcome.h"

struct TConversionBackend {
  // Converts ASrcFileName to AOutBaseName + ".mp4"; AProgress 0..100 then 101 on every way
  // out; ATerminated asks for a stop. Returns the probe's result.
  std::function<bool(const std::string& ASrcFileName, const std::string& AOutBaseName,
                     std::atomic<int>& AProgress, const std::atomic<bool>& ATerminated,
                     TConversionOutcome* AOutcome)>
      RecordToMp4;
  // Copies the video stream of ASrcFileName to AOutBaseName + its codec's extension;
  // AProgress as above. A user's stop does not shorten it; AAbort (program exit) does.
  std::function<void(const std::string& ASrcFileName, const std::string& AOutBaseName,
                     std::atomic<int>& AProgress, TConversionOutcome* AOutcome,
                     const std::atomic<bool>* AAbort)>
      RecordToRaw;
};

// The conversion core: the MP4 task body with the program-wide task DmRecordToMP4, and the
// raw stream export.
TConversionBackend CoreConversionBackend();
