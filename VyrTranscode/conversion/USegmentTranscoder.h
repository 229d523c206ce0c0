// Transcoding of one recording in segments on several encoders at once: the walker of the
// recording cuts its pictures into segments (see TSegmentCuts), hands each full segment over,
// and a pool of transcoders, each with a decoder and an encoder of its own, encodes segments
// side by side. The segments come back in their order, each picture with its time, together
// with the audio blocks that came while the segment was read, for the one thread that writes
// the MP4 file.
//
// Memory stays bounded: no more segments are under way than there are transcoders (a new one
// waits for the oldest to be written), so at most one encoded segment per transcoder waits for
// its turn. A stop ends every transcoder after its current picture; nothing more is handed back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "conversion/UEncoderBudget.h"

struct TTimedBytes {
  std::vector<uint8_t> Bytes;
  int64_t TimeMs = 0;
  bool TimeValid = false;
  uint8_t Type = 0;  // the audio type of an audio block
};

struct TSegment {
  uint8_t VideoType = 0;
  std::vector<TTimedBytes> Pictures;  // compressed, in file order; the first may carry a prefix
  std::vector<TTimedBytes> Audio;     // audio blocks read while the segment was read
  // Filled by the transcoder: the H.264 pictures, each with the time of its input picture.
  std::vector<TTimedBytes> Encoded;
  bool Complete = false;  // every picture went through (false after a stop)
  // How far the recording had been read when the segment's last block was added.
  int64_t SourceEnd = 0;
  // Where the segment is, under the transcoder's lock.
  bool Taken = false;
  bool Finished = false;
};

class TSegmentTranscoder {
 public:
  // ATranscoders encoders at most, each taken from ABudget for the time of a segment; AFps is
  // given to the encoders. AAbort (may be null) stops everything.
  TSegmentTranscoder(TEncoderBudget& ABudget, int ATranscoders, int32_t AFps, const std::atomic<bool>* AAbort);
  // Stops the transcoders and waits for them.
  ~TSegmentTranscoder();
  TSegmentTranscoder(const TSegmentTranscoder&) = delete;
  TSegmentTranscoder& operator=(const TSegmentTranscoder&) = delete;

  using TWrite = std::function<void(TSegment&)>;
  // Hands a segment over. While as many segments as there are transcoders are under way, it
  // waits for the oldest and writes it (and every finished one after it) through AWrite.
  void Submit(std::unique_ptr<TSegment> ASegment, const TWrite& AWrite);
  // Writes the finished segments at the front through AWrite, without waiting.
  void WriteFinished(const TWrite& AWrite) { WriteReady(AWrite, false); }
  // Writes every segment under way through AWrite, in order, waiting for each. After a stop,
  // only the segments finished in order before it are written.
  void Finish(const TWrite& AWrite);
  // A transcoder ran out of memory.
  bool AllocationFailed() const { return FAllocationFailed.load(); }

 private:
  void Run();
  bool Stopping() const { return FQuit.load() || FCutShort.load() || (FAbort && FAbort->load()); }
  // Writes finished segments from the front; waits for the front one when AWait.
  void WriteReady(const TWrite& AWrite, bool AWait);

  TEncoderBudget& FBudget;
  const int FTranscoders;
  const int32_t FFps;
  const std::atomic<bool>* FAbort;
  std::mutex FLock;
  std::condition_variable FWork;  // a segment waits for a transcoder
  std::condition_variable FDone;  // a segment is finished
  std::deque<std::unique_ptr<TSegment>> FUnderWay;  // in order, written from the front
  std::atomic<bool> FQuit{false};
  std::atomic<bool> FAllocationFailed{false};
  std::atomic<bool> FCutShort{false};  // a segment could not be transcoded whole
  std::vector<std::thread> FThreads;
};
