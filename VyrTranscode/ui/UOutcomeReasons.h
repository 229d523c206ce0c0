// What the list shows for a file once its conversion has ended: the row's mark and the
// tooltip that tells the user why, in the loaded language, from the conversion's outcome:
// the recording cannot be opened (with the system's reason), the output folder is missing
// or not writable, the disk is full, no video and no audio was found, damaged data was
// skipped, the recording ended early, the user stopped it (and which file holds the part
// converted so far).
#pragma once

#include <QString>

#include "conversion/UConversionOutcome.h"
#include "ui/UFileListModel.h"

struct TRowVerdict {
  TRowMark Mark = TRowMark::None;
  QString Tip;
};

// ARaw: the outcome is that of a raw stream export.
TRowVerdict JudgeOutcome(const TConversionOutcome& AOutcome, bool ARaw);

// A file name as the user sees it (the file system's bytes, decoded).
QString ShownName(const std::string& AName);
