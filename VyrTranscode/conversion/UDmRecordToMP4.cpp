#include "conversion/UDmRecordToMP4.h"

#include <exception>
#include <new>

#include "conversion/UMp4Maker.h"
#include "conversion/UVideoToX264.h"
#include "protocol/UOmCamProtocol.h"
#include "support/uFunctionsLib.h"

TDmRecordToMP4* DmRecordToMP4 = nullptr;

// ---- TRecordToMp4Thread ------------------------------------------------------------

TRecordToMp4Thread::~TRecordToMp4Thread() { WaitFor(); }

void TRecordToMp4Thread::Start() { FThread = std::thread([this] { Run(); }); }

void TRecordToMp4Thread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TRecordToMp4Thread::Run() {
  try {
    Execute();
  } catch (...) {
    // Execute marks the end itself on every way out; nothing may escape the thread.
  }
  FFinished.store(true);
}

namespace {

// How a walk ended besides its normal end.
enum class TWalkFailure { None, OutOfMemory, Other };

// What the writer achieved, as the caller sees it.
TConversionOutcome OutcomeOf(const TMP4Maker& AMaker, const std::string& AOutFileName, bool AStopped,
                             int32_t AFrameRate, TWalkFailure AFailure, bool AEndedEarly) {
  TConversionOutcome o;
  o.OutFileName = AOutFileName;
  o.KeptFileName = AMaker.GetKeptFileName();
  o.VideoFrames = AMaker.GetVideoSampleCount();
  o.AudioFrames = AMaker.GetAudioSampleCount();
  int32_t fps = AFrameRate > 0 ? AFrameRate : 25;
  double video = static_cast<double>(o.VideoFrames) * (90000 / fps) / 90000.0;
  double audio = static_cast<double>(o.AudioFrames) * 1024.0 / OmAudioSampleRate;
  o.Duration = video > audio ? video : audio;
  if (!AMaker.IsFileCreated()) {
    o.Status = TConversionStatus::OutputFailed;
    o.Message = AMaker.GetCreateError();
  } else if (AFailure == TWalkFailure::OutOfMemory || AMaker.HasAllocationFailure()) {
    o.Status = TConversionStatus::OutOfMemory;
  } else if (AFailure == TWalkFailure::Other) {
    o.Status = TConversionStatus::Failed;
  } else if (AMaker.HasWriteError()) {
    o.Status = TConversionStatus::WriteFailed;
    o.Message = AMaker.GetCreateError();
  } else if (o.VideoFrames == 0 && o.AudioFrames == 0) {
    o.Status = TConversionStatus::NothingWritten;
  } else if (AStopped) {
    o.Status = TConversionStatus::Stopped;
  } else {
    o.Status = TConversionStatus::Converted;
  }
  if (AEndedEarly && o.Succeeded()) o.Warning = RecordEndedEarlyWarning;
  return o;
}

}  // namespace

TConversionOutcome ConvertRecordStreamToMp4(TStream& ASource, int32_t AWidth, int32_t AHeight, int32_t AFrameRate,
                                            const std::string& AOutFileName, const std::atomic<bool>* AAbort,
                                            std::atomic<int32_t>* AProgress) {
  auto aborted = [AAbort] { return AAbort && AAbort->load(); };
  TConversionOutcome outcome;
  outcome.OutFileName = AOutFileName;
  outcome.Status = TConversionStatus::Failed;
  try {
    if (AProgress) AProgress->store(0, std::memory_order_relaxed);
    std::unique_ptr<TMP4Maker> lMp4Maker(new TMP4Maker());
    std::unique_ptr<TVideoToX264> lVideoToX264;
    std::vector<uint8_t> lPayload;  // grows to the largest payload met, never shrinks
    std::vector<uint8_t> lX264Buff;
    TWalkFailure failure = TWalkFailure::None;
    try {
      lMp4Maker->StartWrite(AWidth, AHeight, AFrameRate, AOutFileName, ASource.Identity());
      TStream& src = ASource;
      src.Seek(0, TSeekOrigin::Begin);
      const int64_t fileSize = src.Size();
      uint8_t headBytes[OmHeadSize];
      uint8_t subBytes[OmDataHeadSize];

      // Reads a payload of ALength bytes into lPayload; false when the end of the file
      // cuts it short. The length is checked against what the file still holds and against
      // the largest real payload before anything is allocated, so a damaged length field
      // cannot grow the buffer.
      auto readPayload = [&](uint32_t ALength) -> bool {
        if (ALength > OmMaxPayloadLength) {
          PrintDebugString(FormatStr("Damaged block: payload length %u", ALength));
          return false;
        }
        if (static_cast<int64_t>(ALength) > fileSize - src.Position()) return false;
        if (lPayload.size() < ALength) lPayload.resize(ALength);
        return src.Read(lPayload.data(), ALength) == ALength;
      };

      // A writer without a file has nothing to write to: the walk is skipped.
      while (lMp4Maker->HasFile() && !aborted()) {
        bool endOfBlocks = true;
        if (src.Position() < fileSize && src.Read(headBytes, OmHeadSize) == OmHeadSize) {
          TOmHead lMsgHead = DecodeOmHead(headBytes);
          if (lMsgHead.INF != stHeadINF) break;  // no drain after a wrong magic
          endOfBlocks = false;
          if (lMsgHead.nCmd == OmCmdSendVideoData) {
            if (src.Read(subBytes, OmDataHeadSize) < OmDataHeadSize) {
              endOfBlocks = true;
            } else {
              TOmVideoDataHead lVideoHead = DecodeOmVideoHead(subBytes);
              if (!readPayload(lVideoHead.dwFrameLength)) {
                endOfBlocks = true;
              } else if (lVideoHead.byVideoType == OmVideoType_H264) {
                lMp4Maker->PushVideoX264Frame(lPayload.data(), static_cast<int32_t>(lVideoHead.dwFrameLength),
                                              lVideoHead.byFrameType);
              } else {
                if (!lVideoToX264) {
                  lVideoToX264.reset(new TVideoToX264());
                  lVideoToX264->SetFPS(AFrameRate);
                }
                if (lVideoToX264->TranscodeToX264(lPayload.data(), static_cast<int32_t>(lVideoHead.dwFrameLength),
                                                  lVideoHead.byVideoType, lX264Buff) &&
                    !lX264Buff.empty()) {
                  lMp4Maker->PushVideoX264Frame(lX264Buff.data(), static_cast<int32_t>(lX264Buff.size()), 0);
                }
              }
            }
          } else if (lMsgHead.nCmd == OmCmdSendAudioData) {
            if (src.Read(subBytes, OmDataHeadSize) < OmDataHeadSize) {
              endOfBlocks = true;
            } else {
              TOmAudioDataHead lAudioHead = DecodeOmAudioHead(subBytes);
              if (lAudioHead.byAudioType == AUDIO_TYPE_NONE) {
                src.Seek(lAudioHead.dwFrameLength, TSeekOrigin::Current);
                continue;  // no progress update for a skipped block
              }
              if (!readPayload(lAudioHead.dwFrameLength)) {
                endOfBlocks = true;
              } else {
                lMp4Maker->PushAudioFrame(lPayload.data(), static_cast<int32_t>(lAudioHead.dwFrameLength),
                                          lAudioHead.byAudioType);
              }
            }
          } else {
            src.Seek(lMsgHead.length, TSeekOrigin::Current);
          }
        }
        if (!endOfBlocks) {
          int64_t pos = src.Position();
          if (pos > fileSize) pos = fileSize;
          if (AProgress) AProgress->store(static_cast<int32_t>(pos * 100 / fileSize), std::memory_order_relaxed);
          continue;
        }
        // Drain: no further block (end of file, a short head, or a block cut short).
        if (!lVideoToX264) break;
        if (!lVideoToX264->TranscodeToX264(nullptr, 0, 0, lX264Buff) || lX264Buff.empty()) break;
        lMp4Maker->PushVideoX264Frame(lX264Buff.data(), static_cast<int32_t>(lX264Buff.size()), 0);
      }
    } catch (const std::bad_alloc&) {
      PrintDebugString("Record to mp4 failed: out of memory");
      failure = TWalkFailure::OutOfMemory;
    } catch (const std::exception& e) {
      PrintDebugString(std::string("Record to mp4 failed: ") + e.what());
      failure = TWalkFailure::Other;
    } catch (...) {
      PrintDebugString("Record to mp4 failed");
      failure = TWalkFailure::Other;
    }
    // Clean-up on every way out of the walk. A failed conversion keeps no file.
    const bool stopped = aborted();
    lMp4Maker->StopWrite(failure != TWalkFailure::None || lMp4Maker->HasAllocationFailure()
                             ? TOutputCloseMode::Discard
                             : stopped ? TOutputCloseMode::Stopped : TOutputCloseMode::Finish);
    outcome = OutcomeOf(*lMp4Maker, AOutFileName, stopped, AFrameRate, failure, ASource.EndedEarly());
    lMp4Maker.reset();
    lVideoToX264.reset();
    lX264Buff.clear();
  } catch (...) {
    // Even a failure of the clean-up itself ends with an outcome.
  }
  return outcome;
}

void TRecordToMp4Thread::Execute() {
  TDmRecordToMP4* task = FDmRecordToMP4;
  if (!task) return;
  if (!FSrcFile || FOutFileName.empty()) {
    task->FLastOutcome = TConversionOutcome();
    task->FLastOutcome.Status =
        FOutFileName.empty() ? TConversionStatus::OutputFailed : TConversionStatus::OpenFailed;
    task->FWorkProgress.store(-1, std::memory_order_relaxed);
    task->FIsWorking.store(false, std::memory_order_release);
    return;
  }
  const TConversionOutcome outcome = ConvertRecordStreamToMp4(*FSrcFile, FFrameWidth, FFrameHeight, FFrameRate,
                                                              FOutFileName, &FTerminated, &task->FWorkProgress);
  task->FLastOutcome = outcome;
  task->FWorkProgress.store(100, std::memory_order_relaxed);
  task->FIsWorking.store(false, std::memory_order_release);
  PrintDebugString("Finished write mp4: " + FOutFileName);
}

// ---- TDmRecordToMP4 ----------------------------------------------------------------

TDmRecordToMP4::~TDmRecordToMP4() {
  StopTask();
  for (auto& w : FWorkers) {
    w->Terminate();
    w->WaitFor();
  }
}

void TDmRecordToMP4::JoinFinishedWorkers() {
  for (auto it = FWorkers.begin(); it != FWorkers.end();) {
    if ((*it)->Finished()) {
      if (FWorkThread == it->get()) FWorkThread = nullptr;
      (*it)->WaitFor();
      it = FWorkers.erase(it);
    } else {
      ++it;
    }
  }
}

void TDmRecordToMP4::StartTask(int32_t AWidth, int32_t AHeight, int32_t AFrameRate,
                               const std::string& AOutFileName, TStream* ASrcFileStream) {
  StopTask();
  JoinFinishedWorkers();
  auto worker = std::make_unique<TRecordToMp4Thread>();
  worker->FDmRecordToMP4 = this;
  worker->FSrcFile = ASrcFileStream;
  worker->FOutFileName = AOutFileName;
  worker->FFrameWidth = AWidth;
  worker->FFrameHeight = AHeight;
  worker->FFrameRate = AFrameRate;
  FIsWorking.store(true, std::memory_order_release);
  try {
    worker->Start();
  } catch (...) {
    // No thread could be made: end the task as a worker would have.
    PrintDebugString("Start worker failed: " + AOutFileName);
    FLastOutcome = TConversionOutcome();
    FLastOutcome.OutFileName = AOutFileName;
    FLastOutcome.Status = TConversionStatus::OutputFailed;
    FWorkProgress.store(100, std::memory_order_relaxed);
    FIsWorking.store(false, std::memory_order_release);
    return;
  }
  FWorkThread = worker.get();
  FWorkers.push_back(std::move(worker));
}

void TDmRecordToMP4::StopTask() {
  if (FWorkThread && !FWorkThread->Finished()) {
    PrintDebugString("Stop Current Task");
    FWorkThread->Terminate();
    FWorkThread = nullptr;
  }
}
