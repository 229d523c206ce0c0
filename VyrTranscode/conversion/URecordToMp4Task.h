// The MP4 task body: what a task thread of the window's queue, or vyrconvert, runs for one
// record file when the output is MP4. It opens and probes the file, hands it to the
// conversion task and polls the task every 50 ms until the worker has ended; the worker's
// end cuts a poll's wait short.
#pragma once

#include <atomic>
#include <string>

#include "conversion/UConversionOutcome.h"
#include "conversion/UDmRecordToMP4.h"

// Interval at which the task body polls the conversion task (at most: the end of the
// worker ends the wait at once).
constexpr int RecordToMp4PollMs = 50;

// Converts ASrcFileName to AOutFileName + ".mp4" with ATask. ACurTaskProgress: 0 at the
// start, then the task's 0..100, and 101 on every way out. ATerminated asks the running
// conversion to stop (its MP4 is closed properly). Returns the probe's result (false when
// the file could not be opened). AOutcome (may be null) receives what was achieved.
// ATiming: Stamps times the pictures by the recording's stamps, unless the probe finds
// them unusable as a whole (more than one step in ten 0 or negative), then by the rate as
// Rate always does.
bool ExecRecordToMp4(TDmRecordToMP4& ATask, const std::string& ASrcFileName, const std::string& AOutFileName,
                     std::atomic<int>& ACurTaskProgress, const std::atomic<bool>& ATerminated,
                     TConversionOutcome* AOutcome = nullptr, TRecordTiming ATiming = TRecordTiming::Stamps);
