#include "conversion/USegmentTranscoder.h"

#include <new>
#include <utility>

#include "conversion/UVideoToX264.h"
#include "support/uFunctionsLib.h"

TSegmentTranscoder::TSegmentTranscoder(TEncoderBudget& ABudget, int ATranscoders, int32_t AFps,
                                       const std::atomic<bool>* AAbort)
    : FBudget(ABudget), FTranscoders(ATranscoders < 1 ? 1 : ATranscoders), FFps(AFps), FAbort(AAbort) {
  for (int i = 0; i < FTranscoders; ++i) FThreads.emplace_back([this] { Run(); });
}

TSegmentTranscoder::~TSegmentTranscoder() {
  FQuit.store(true);
  FWork.notify_all();
  for (std::thread& t : FThreads) t.join();
}

void TSegmentTranscoder::Run() {
  for (;;) {
    TSegment* segment = nullptr;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FWork.wait_for(lock, std::chrono::milliseconds(50), [&] {
        if (Stopping()) return true;
        for (auto& s : FUnderWay)
          if (!s->Taken) return true;
        return false;
      });
      if (FQuit.load()) return;
      for (auto& s : FUnderWay) {
        if (!s->Taken) {
          s->Taken = true;
          segment = s.get();
          break;
        }
      }
    }
    if (!segment) continue;
    // One encoder of the budget for the time of the segment; a fresh decoder and encoder,
    // so the segment starts with a key picture and its parameter sets.
    bool complete = false;
    if (FBudget.Acquire([this] { return Stopping(); })) {
      try {
        TVideoToX264 transcoder;
        transcoder.SetFPS(FFps);
        std::vector<uint8_t> out;
        complete = true;
        for (const TTimedBytes& p : segment->Pictures) {
          if (Stopping()) {
            complete = false;
            break;
          }
          if (transcoder.TranscodeToX264(p.Bytes.data(), static_cast<int32_t>(p.Bytes.size()), segment->VideoType,
                                         out) &&
              !out.empty()) {
            segment->Encoded.push_back({std::move(out), p.TimeMs, p.TimeValid, 0});
          }
        }
        // Pictures the encoder still holds have no input picture of their own.
        while (complete && transcoder.TranscodeToX264(nullptr, 0, 0, out) && !out.empty())
          segment->Encoded.push_back({std::move(out), 0, false, 0});
      } catch (const std::bad_alloc&) {
        PrintDebugString("Segment transcoder: out of memory");
        FAllocationFailed.store(true);
        complete = false;
      } catch (...) {
        complete = false;
      }
      FBudget.Release();
    }
    {
      std::lock_guard<std::mutex> guard(FLock);
      segment->Complete = complete;
      segment->Finished = true;
    }
    FDone.notify_all();
  }
}

void TSegmentTranscoder::WriteReady(const TWrite& AWrite, bool AWait) {
  for (;;) {
    std::unique_ptr<TSegment> front;
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (FUnderWay.empty()) return;
      while (AWait && !FUnderWay.front()->Finished && !Stopping())
        FDone.wait_for(lock, std::chrono::milliseconds(50));
      if (!FUnderWay.front()->Finished || Stopping()) {
        // After a stop nothing more starts, and nothing more is written.
        if (Stopping())
          for (auto& s : FUnderWay) s->Taken = true;
        return;
      }
      front = std::move(FUnderWay.front());
      FUnderWay.pop_front();
    }
    FWork.notify_all();
    if (!front->Complete) {
      // Cut short: nothing after it can follow it into the file; everything winds down.
      FCutShort.store(true);
      std::lock_guard<std::mutex> guard(FLock);
      for (auto& s : FUnderWay) s->Taken = true;
      return;
    }
    AWrite(*front);
    AWait = false;
  }
}

void TSegmentTranscoder::Submit(std::unique_ptr<TSegment> ASegment, const TWrite& AWrite) {
  WriteReady(AWrite, false);
  for (;;) {
    if (Stopping()) return;  // a stop drops the segment
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (static_cast<int>(FUnderWay.size()) < FTranscoders) break;
    }
    WriteReady(AWrite, true);
  }
  {
    std::lock_guard<std::mutex> guard(FLock);
    FUnderWay.push_back(std::move(ASegment));
  }
  FWork.notify_one();
}

void TSegmentTranscoder::Finish(const TWrite& AWrite) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FUnderWay.empty()) return;
    }
    if (Stopping()) {
      std::lock_guard<std::mutex> guard(FLock);
      for (auto& s : FUnderWay) s->Taken = true;
      return;
    }
    WriteReady(AWrite, true);
  }
}
