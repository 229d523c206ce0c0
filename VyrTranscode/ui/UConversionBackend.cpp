#include "ui/UConversionBackend.h"

#include "conversion/UDmRecordToMP4.h"
#include "conversion/URawExport.h"
#include "conversion/URecordToMp4Task.h"

TConversionBackend CoreConversionBackend() {
  TConversionBackend b;
  b.RecordToMp4 = [](const std::string& ASrc, const std::string& AOut, std::atomic<int>& AProgress,
                     const std::atomic<bool>& ATerminated, TConversionOutcome* AOutcome) {
    if (!DmRecordToMP4) {  // no conversion task: nothing can be converted
      AProgress.store(101);
      return false;
    }
    return ExecRecordToMp4(*DmRecordToMP4, ASrc, AOut, AProgress, ATerminated, AOutcome);
  };
  b.RecordToRaw = [](const std::string& ASrc, const std::string& AOut, std::atomic<int>& AProgress,
                     TConversionOutcome* AOutcome, const std::atomic<bool>* AAbort) {
    ExecRecordToRawFile(ASrc, AOut, AProgress, AOutcome, AAbort);
  };
  return b;
}
