#include "conversion/UDmRecordToMP4.h"

#include <algorithm>
#include <exception>
#include <new>

#include "conversion/UFrameRate.h"
#include "conversion/UMp4Maker.h"
#include "conversion/URecordBlocks.h"
#include "conversion/USegmentCuts.h"
#include "conversion/USegmentTranscoder.h"
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
                             TWalkFailure AFailure, bool AEndedEarly) {
  TConversionOutcome o;
  o.OutFileName = AOutFileName;
  o.KeptFileName = AMaker.GetKeptFileName();
  o.VideoFrames = AMaker.GetVideoSampleCount();
  o.AudioFrames = AMaker.GetAudioSampleCount();
  // How long the file plays, as its index says.
  o.Duration = AMaker.GetDuration();
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
                                            std::atomic<int32_t>* AProgress, TRecordTiming ATiming, int ATranscoders) {
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
    int64_t damagedRegions = 0, damagedBytes = 0;
    // Transcoding in segments on several encoders (only for codecs that are transcoded).
    std::unique_ptr<TSegmentTranscoder> lSegments;
    std::unique_ptr<TSegmentCuts> lCuts;
    std::unique_ptr<TSegment> lCurrent, lBeforeCra;  // the segment being read; the one before a CRA
    bool lCraPending = false;
    try {
      lMp4Maker->StartWrite(AWidth, AHeight, AFrameRate, AOutFileName, ASource.Identity());
      lMp4Maker->SetUseTimeStamps(ATiming == TRecordTiming::Stamps);
      TStream& src = ASource;
      TRecordBlockReader reader(src);
      TOmBlock block;
      TOmDamage damage;

      // Reads the payload of an accepted block into lPayload. The reader accepts only
      // payloads that the file holds and that are at most OmMaxPayloadLength bytes, so no
      // length field can grow the buffer beyond what the file holds; false when the file
      // turned out shorter.
      auto readPayload = [&](const TOmBlock& ABlock) -> bool {
        const uint32_t length = ABlock.PayloadLength;
        if (lPayload.size() < length) lPayload.resize(length);
        return src.Seek(ABlock.PayloadOffset, TSeekOrigin::Begin) == ABlock.PayloadOffset &&
               src.Read(lPayload.data(), length) == length;
      };
      // The share of the recording that is in the file (or read, where nothing waits to be
      // written), so that a stop keeps what the progress showed.
      auto showProgress = [&](int64_t APosition) {
        if (!AProgress || reader.Size() <= 0) return;
        const int64_t pos = std::min(std::max<int64_t>(APosition, 0), reader.Size());
        AProgress->store(static_cast<int32_t>(pos * 100 / reader.Size()), std::memory_order_relaxed);
      };
      int64_t lSegmentsUnwritten = 0;  // handed to the transcoders and not yet written
      // Writes a transcoded segment: its pictures with their times, then its audio.
      auto writeSegment = [&](TSegment& ASegment) {
        for (const TTimedBytes& e : ASegment.Encoded) {
          lMp4Maker->SetVideoBlockTime(e.TimeMs, e.TimeValid);
          lMp4Maker->PushVideoX264Frame(e.Bytes.data(), static_cast<int32_t>(e.Bytes.size()), 0);
        }
        for (const TTimedBytes& a : ASegment.Audio) {
          lMp4Maker->SetAudioBlockTime(a.TimeMs, a.TimeValid);
          lMp4Maker->PushAudioFrame(a.Bytes.data(), static_cast<int32_t>(a.Bytes.size()), a.Type);
        }
        --lSegmentsUnwritten;
        showProgress(ASegment.SourceEnd);
      };
      auto submit = [&](std::unique_ptr<TSegment>& ASegment) {
        if (ASegment) {
          ++lSegmentsUnwritten;
          lSegments->Submit(std::move(ASegment), writeSegment);
        }
        ASegment.reset();
      };
      // Everything still read or under way goes into the file, in order.
      auto flushSegments = [&] {
        if (!lSegments) return;
        submit(lBeforeCra);
        submit(lCurrent);
        lCraPending = false;
        lSegments->Finish(writeSegment);
      };
      // A picture of a transcoded codec, in segment mode: a new segment starts at a picture
      // that a fresh decoder decodes as the sequential one would, once the segment spans 2 s
      // of stamps (50 pictures when the stamps do not count).
      auto addToSegment = [&](const TOmVideoDataHead& AHead, int64_t t, bool valid) {
        if (!lCuts) lCuts.reset(new TSegmentCuts(AHead.byVideoType));
        const uint8_t* data = lPayload.data();
        const size_t size = AHead.dwFrameLength;
        const TSegmentCut cut = lCuts->Look(data, size);
        if (lCraPending) {
          // The picture after a CRA: a RASL picture refers to pictures before the CRA, so the
          // segment that began there goes back to the one before it.
          lCraPending = false;
          if (lCuts->IsRasl(data, size)) {
            for (TTimedBytes& p : lCurrent->Pictures) lBeforeCra->Pictures.push_back(std::move(p));
            for (TTimedBytes& a : lCurrent->Audio) lBeforeCra->Audio.push_back(std::move(a));
            lCurrent = std::move(lBeforeCra);
          } else {
            submit(lBeforeCra);
          }
        }
        bool longEnough = false;
        if (lCurrent && !lCurrent->Pictures.empty()) {
          const TTimedBytes& first = lCurrent->Pictures.front();
          const int64_t span = t - first.TimeMs;
          // The stamps count while they go forward by less than an hour; else the pictures do.
          const bool stamps = ATiming == TRecordTiming::Stamps && first.TimeValid && valid && span >= 0 &&
                              span < ONE_HOUR_MS;
          longEnough = stamps ? span >= SEGMENT_MIN_MS : lCurrent->Pictures.size() >= SEGMENT_MIN_PICTURES;
          // However the stamps run, a segment never grows past a bounded size.
          longEnough = longEnough || lCurrent->Pictures.size() >= SEGMENT_MAX_PICTURES;
        }
        if (!lCurrent || (cut != TSegmentCut::None && longEnough)) {
          if (lCurrent && cut == TSegmentCut::CutUnlessRasl) {
            lBeforeCra = std::move(lCurrent);
            lCraPending = true;
          } else {
            submit(lCurrent);
          }
          lCurrent.reset(new TSegment());
          lCurrent->VideoType = AHead.byVideoType;
          TTimedBytes picture;
          picture.Bytes = lCuts->Prefix(data, size);
          picture.Bytes.insert(picture.Bytes.end(), data, data + size);
          picture.TimeMs = t;
          picture.TimeValid = valid;
          lCurrent->Pictures.push_back(std::move(picture));
          lCurrent->SourceEnd = reader.Position();
          return;
        }
        lCurrent->Pictures.push_back({std::vector<uint8_t>(data, data + size), t, valid, 0});
        lCurrent->SourceEnd = reader.Position();
      };

      // While segments are read or transcoded, the progress follows the written ones.
      auto publishProgress = [&] {
        if (!lCurrent && !lBeforeCra && lSegmentsUnwritten == 0) showProgress(reader.Position());
      };

      // A writer without a file has nothing to write to: the walk is skipped.
      bool endOfBlocks = !lMp4Maker->HasFile();
      while (!endOfBlocks && !aborted()) {
        const TOmReadItem item = reader.Next(block, damage);
        if (item == TOmReadItem::End) break;
        if (item == TOmReadItem::Damage) {
          // No half picture before the damage is glued to what follows it.
          lMp4Maker->EndPicture();
          publishProgress();
          continue;
        }
        // The file's cut last block ends the walk; its payload is not used.
        if (block.Cut) break;
        if (block.IsVideo()) {
          const TOmVideoDataHead& lVideoHead = block.Video;
          // An empty video block carries no picture; above all it is no request to drain.
          if (lVideoHead.dwFrameLength > 0) {
            const int64_t stampMs = block.StampMs();
            const bool stampValid = block.StampValid();
            if (!readPayload(block)) break;
            if (lVideoHead.byVideoType == OmVideoType_H264) {
              // Copied as it comes: whatever is transcoded before it goes first.
              flushSegments();
              lMp4Maker->SetVideoBlockTime(stampMs, stampValid);
              lMp4Maker->PushVideoX264Frame(lPayload.data(), static_cast<int32_t>(lVideoHead.dwFrameLength),
                                            lVideoHead.byFrameType);
            } else if (ATranscoders > 1 && !lVideoToX264) {
              if (!lSegments)
                lSegments.reset(new TSegmentTranscoder(SharedEncoderBudget(), ATranscoders, NominalFrameRate(AFrameRate), AAbort));
              addToSegment(lVideoHead, stampMs, stampValid);
              lSegments->WriteFinished(writeSegment);
            } else {
              if (!lVideoToX264) {
                lVideoToX264.reset(new TVideoToX264());
                lVideoToX264->SetFPS(NominalFrameRate(AFrameRate));
              }
              lMp4Maker->SetVideoBlockTime(stampMs, stampValid);
              if (lVideoToX264->TranscodeToX264(lPayload.data(), static_cast<int32_t>(lVideoHead.dwFrameLength),
                                                lVideoHead.byVideoType, lX264Buff) &&
                  !lX264Buff.empty()) {
                lMp4Maker->PushVideoX264Frame(lX264Buff.data(), static_cast<int32_t>(lX264Buff.size()), 0);
              }
            }
          }
        } else if (block.IsAudio()) {
          const TOmAudioDataHead& lAudioHead = block.Audio;
          if (lAudioHead.byAudioType == AUDIO_TYPE_NONE) continue;  // no progress update for a skipped block
          if (!readPayload(block)) break;
          if (lCurrent) {
            // With the segment it came in: written after the segment's pictures.
            lCurrent->Audio.push_back({std::vector<uint8_t>(lPayload.data(), lPayload.data() + lAudioHead.dwFrameLength),
                                       block.StampMs(), block.StampValid(), lAudioHead.byAudioType});
            lCurrent->SourceEnd = reader.Position();
            continue;
          }
          lMp4Maker->SetAudioBlockTime(block.StampMs(), block.StampValid());
          lMp4Maker->PushAudioFrame(lPayload.data(), static_cast<int32_t>(lAudioHead.dwFrameLength),
                                    lAudioHead.byAudioType);
        }
        publishProgress();
      }
      flushSegments();
      if (lSegments && lSegments->AllocationFailed()) failure = TWalkFailure::OutOfMemory;
      // Drain: no further block (end of file, a short head, or a block cut short). Pictures
      // that come out now have no block of their own: each lasts one nominal frame.
      lMp4Maker->SetVideoBlockTime(0, false);
      while (lVideoToX264 && lMp4Maker->HasFile() && !aborted()) {
        if (!lVideoToX264->TranscodeToX264(nullptr, 0, 0, lX264Buff) || lX264Buff.empty()) break;
        lMp4Maker->PushVideoX264Frame(lX264Buff.data(), static_cast<int32_t>(lX264Buff.size()), 0);
      }
      damagedRegions = reader.DamagedRegions();
      damagedBytes = reader.DamagedBytes();
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
    outcome = OutcomeOf(*lMp4Maker, AOutFileName, stopped, failure, ASource.EndedEarly());
    outcome.DamagedRegions = damagedRegions;
    outcome.DamagedBytes = damagedBytes;
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
    task->MarkEnded();
    return;
  }
  const TConversionOutcome outcome =
      ConvertRecordStreamToMp4(*FSrcFile, FFrameWidth, FFrameHeight, FFrameRate, FOutFileName, &FTerminated,
                               &task->FWorkProgress, FTiming, FTranscoders);
  task->FLastOutcome = outcome;
  task->FWorkProgress.store(100, std::memory_order_relaxed);
  task->MarkEnded();
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

void TDmRecordToMP4::MarkEnded() {
  {
    // Under the lock, so that a waiter between its test and its wait cannot miss it.
    std::lock_guard<std::mutex> guard(FEndLock);
    FIsWorking.store(false, std::memory_order_release);
  }
  FEnded.notify_all();
}

bool TDmRecordToMP4::WaitForEnd(int AMilliseconds) {
  std::unique_lock<std::mutex> lock(FEndLock);
  return FEnded.wait_for(lock, std::chrono::milliseconds(AMilliseconds), [this] { return !IsWorking(); });
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
  worker->FTiming = FTiming;
  worker->FTranscoders = FTranscoders;
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
    MarkEnded();
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
