// How the conversion that wrote an MP4 file ended, as the file's user-data item records it
// (moov/udta/vyrc: "finished" or "stopped"), for a run that resumes a batch.
#pragma once

#include <string>

enum class TMp4ConversionState {
  Unknown,   // not a file of ours, no item, or it cannot be read
  Finished,  // the conversion went through the whole recording
  Stopped,   // the conversion was stopped; the file holds a part of the recording
};

// Reads the item from the file's index; only box heads and the small item are read.
TMp4ConversionState ReadMp4ConversionState(const std::string& AFileName);
