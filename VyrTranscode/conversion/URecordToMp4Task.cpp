#include "conversion/URecordToMp4Task.h"

#include <chrono>
#include <new>

#include "conversion/URecordProbe.h"
#include "support/uFunctionsLib.h"

bool ExecRecordToMp4(TDmRecordToMP4& ATask, const std::string& ASrcFileName, const std::string& AOutFileName,
                     std::atomic<int>& ACurTaskProgress, const std::atomic<bool>& ATerminated,
                     TConversionOutcome* AOutcome, TRecordTiming ATiming) {
  if (ATask.IsWorking()) ATask.StopTask();
  ACurTaskProgress.store(0);
  ATask.ResetWorkProgress();
  const std::string mp4FileName = AOutFileName + ".mp4";
  TConversionOutcome outcome;
  outcome.OutFileName = mp4FileName;
  outcome.Status = TConversionStatus::OpenFailed;

  std::unique_ptr<TStream> record = TVyrRecordProbe::OpenVYRRecord(ASrcFileName, &outcome.Message);
  if (!record) {
    PrintDebugString("Open record failed: " + ASrcFileName);
    ACurTaskProgress.store(101);
    if (AOutcome) *AOutcome = outcome;
    return false;
  }
  bool probed = false;
  try {
    TVyrRecordProbe probe;
    probed = probe.GetVideoInfo(record.get());
    if (probed) {
      const bool stamps = ATiming == TRecordTiming::Stamps && probe.StampsUsable();
      if (ATiming == TRecordTiming::Stamps && !stamps)
        PrintDebugString("Time stamps unusable, constant rate: " + ASrcFileName);
      ATask.SetTiming(stamps ? TRecordTiming::Stamps : TRecordTiming::Rate);
      ATask.StartTask(static_cast<int32_t>(probe.FFrameWidth), static_cast<int32_t>(probe.FFrameHeight),
                      static_cast<int32_t>(probe.FFrameRate), mp4FileName, record.get());
      bool stopSent = false;
      while (ATask.IsWorking()) {
        if (ATerminated.load()) {
          if (!stopSent) ATask.StopTask();
          stopSent = true;
        } else if (ACurTaskProgress.load() != ATask.WorkProgress()) {
          ACurTaskProgress.store(ATask.WorkProgress());
        }
        ATask.WaitForEnd(RecordToMp4PollMs);
      }
      outcome = ATask.LastOutcome();
      PrintDebugString("Main Thread Finished write mp4: " + mp4FileName);
    }
  } catch (const std::bad_alloc&) {
    // The end mark below is set whatever happened.
    outcome.Status = TConversionStatus::OutOfMemory;
  } catch (...) {
    outcome.Status = TConversionStatus::Failed;
  }
  ACurTaskProgress.store(101);
  TVyrRecordProbe::CloseVYRRecord(record);
  if (AOutcome) *AOutcome = outcome;
  return probed;
}
