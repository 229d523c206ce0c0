// The conversion task: turns one opened record file into one MP4 file on a worker thread.
// H.264 video goes to the MP4 writer unchanged, video of other codecs through the video
// transcoder, audio to the MP4 writer (which encodes it to AAC). The task publishes
// whether it is working and how far it has come; its caller polls both.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion/UConversionOutcome.h"
#include "conversion/UEncoderBudget.h"
#include "conversion/UStreams.h"

class TDmRecordToMP4;

// How the pictures of an MP4 file are timed: by the recording's time stamps, or each one
// frame of the probed rate long.
enum class TRecordTiming { Stamps, Rate };

// One conversion as the worker runs it, over any record stream: creates the MP4 file
// AOutFileName, walks ASource block by block (TOmBlockReader: damaged regions are skipped
// and counted in the outcome) and closes the file on every way out. H.264 video goes to
// the MP4 writer unchanged, video of other codecs through a transcoder made at the first
// such block and drained at the end, audio to the writer; empty video blocks, audio blocks
// of type 0 and blocks of other commands are stepped over. The walk ends at the end of the
// stream, at the file's cut last block, or before the next block once AAbort (may be null)
// is set; nothing is allocated for a payload that the stream does not hold. The MP4 file
// may not replace the stream's own file. AProgress (may be null) receives position x 100
// div size after each block. Never throws; the outcome tells what was written (Stopped
// when AAbort ended the walk; then the file replaces an existing one only when it was the
// first of its name). A failed conversion (memory, write error) and one that wrote nothing
// keep no file.
// ATiming: Stamps times pictures and audio by the blocks' stamps (see TMP4Maker), Rate
// gives every picture one frame of AFrameRate. ATranscoders above 1: video that is
// transcoded is cut into segments that up to that many encoders (of the process's shared
// budget) encode at once (see TSegmentTranscoder); 1: one transcoder, picture after picture.
TConversionOutcome ConvertRecordStreamToMp4(TStream& ASource, int32_t AWidth, int32_t AHeight, int32_t AFrameRate,
                                            const std::string& AOutFileName, const std::atomic<bool>* AAbort = nullptr,
                                            std::atomic<int32_t>* AProgress = nullptr,
                                            TRecordTiming ATiming = TRecordTiming::Stamps, int ATranscoders = 1);

// A segment of transcoded video spans at least this much of the stamps, or this many
// pictures when the stamps do not count.
constexpr int64_t SEGMENT_MIN_MS = 2000;
constexpr size_t SEGMENT_MIN_PICTURES = 50;
// However its stamps run, a segment is cut at the first place it may be once it holds this
// many pictures (memory stays bounded).
constexpr size_t SEGMENT_MAX_PICTURES = 600;

// The worker thread: walks the record file block by block. Created by StartTask, started
// explicitly; its body polls the termination request once per block.
class TRecordToMp4Thread {
 public:
  TRecordToMp4Thread() = default;
  ~TRecordToMp4Thread();  // waits for the thread
  TRecordToMp4Thread(const TRecordToMp4Thread&) = delete;
  TRecordToMp4Thread& operator=(const TRecordToMp4Thread&) = delete;

  void Start();
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.load(); }
  void WaitFor();

  // Set by StartTask before the thread starts.
  TDmRecordToMP4* FDmRecordToMP4 = nullptr;
  TStream* FSrcFile = nullptr;  // owned by the caller, never closed here
  std::string FOutFileName;
  int32_t FFrameWidth = 0;
  int32_t FFrameHeight = 0;
  int32_t FFrameRate = 0;
  TRecordTiming FTiming = TRecordTiming::Stamps;
  int FTranscoders = 1;

 private:
  void Run();      // Execute, with the end marking that nothing may skip
  void Execute();  // the body
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
};

class TDmRecordToMP4 {
 public:
  TDmRecordToMP4() = default;
  // Stops a running worker and waits for every worker it started.
  ~TDmRecordToMP4();
  TDmRecordToMP4(const TDmRecordToMP4&) = delete;
  TDmRecordToMP4& operator=(const TDmRecordToMP4&) = delete;

  // Starts a worker for an opened record file. The caller keeps the stream and must not
  // use or close it until IsWorking() is false again.
  void StartTask(int32_t AWidth, int32_t AHeight, int32_t AFrameRate, const std::string& AOutFileName,
                 TStream* ASrcFileStream);
  // Asks the running worker to stop after its current block; does not wait.
  void StopTask();
  // How the workers started from now on time their pictures (the recording's stamps until
  // set otherwise).
  void SetTiming(TRecordTiming ATiming) { FTiming = ATiming; }
  // How many encoders a worker may use at once for video it transcodes (from the process's
  // shared budget); the machine's cores until set. 1: one, picture after picture.
  void SetTranscoders(int ATranscoders) { FTranscoders = ATranscoders < 1 ? 1 : ATranscoders; }
  int Transcoders() const { return FTranscoders; }

  bool IsWorking() const { return FIsWorking.load(std::memory_order_acquire); }
  // Waits until the worker has ended, at most AMilliseconds; true when it has. The end cuts
  // the wait short, so a caller that polls the progress loses no time to its poll.
  bool WaitForEnd(int AMilliseconds);
  int32_t WorkProgress() const { return FWorkProgress.load(std::memory_order_relaxed); }
  // What the last worker achieved; valid once IsWorking() is false.
  TConversionOutcome LastOutcome() const { return FLastOutcome; }
  // The MP4 task body resets the published progress before it starts a file.
  void ResetWorkProgress() { FWorkProgress.store(0, std::memory_order_relaxed); }

 private:
  friend class TRecordToMp4Thread;
  void JoinFinishedWorkers();

  // Marks the end of a worker: FIsWorking false, and the waiters woken.
  void MarkEnded();

  std::atomic<bool> FIsWorking{false};
  std::mutex FEndLock;
  std::condition_variable FEnded;
  std::atomic<int32_t> FWorkProgress{0};
  // Written by the worker before it clears FIsWorking (release), read after IsWorking()
  // returned false (acquire).
  TConversionOutcome FLastOutcome;
  TRecordToMp4Thread* FWorkThread = nullptr;  // the worker started last; null after StopTask
  TRecordTiming FTiming = TRecordTiming::Stamps;
  int FTranscoders = MachineCores();
  std::vector<std::unique_ptr<TRecordToMp4Thread>> FWorkers;  // every worker not yet joined
};

// The program-wide conversion task, created by the program entry.
extern TDmRecordToMP4* DmRecordToMP4;
