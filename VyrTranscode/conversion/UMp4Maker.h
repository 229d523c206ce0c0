// TMP4Maker writes one MP4 file from the H.264 video (Annex B byte streams) and the audio
// blocks of a recording. Video is cut into NAL units and gathered into access units, one
// sample per picture; the video track is created at the first sequence parameter set,
// which together with the first picture parameter set goes into the track's decoder
// configuration. Audio goes through the AAC encoder; every AAC frame is one sample.
//
// Video samples last 90000 div frame rate ticks of a 90 kHz clock, audio samples 1024
// ticks at 8000 Hz. The audio track skips the encoder's priming samples, and when the
// file has audio, pictures dropped before the first SPS delay the video track by as many
// frame durations, so the two stay in step in players.
//
// With the recording's time stamps (SetUseTimeStamps, the blocks' times given before they
// are pushed): a picture lasts until the next picture's time, exact to the millisecond
// (a step of 0 or less, of an hour or more, or from or to a stamp whose millisecond part is
// 1000 or more lasts one nominal frame instead; so does the last picture); silence fills a
// gap of more than one AAC frame between the audio written and an audio block's stamp (up
// to an hour; audio ahead of its stamps is never cut); and the track that starts later by
// the stamps starts later by an empty edit. The first picture's stamp, when it falls in
// 2000-2100, is the file's creation time.
//
// One writer is used by one thread from StartWrite to StopWrite.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/UAudioToAAC.h"
#include "conversion/UH264Syntax.h"
#include "conversion/UMp4v2Lib.h"
#include "conversion/UOutputFile.h"

// One NAL unit found in a buffer; it points into the buffer and is not copied.
struct TEncNaluUnit {
  uint8_t byType = 0;           // nal_unit_type: the header byte AND 0x1F
  int32_t iDataSize = 0;        // bytes from the header byte on, start code excluded
  const uint8_t* pData = nullptr;  // at the header byte
};

constexpr uint32_t TIME_SCALE = 90000;
// Smallest capacity of the video sample buffer, and the room added when a sample
// outgrows it.
constexpr int32_t MIN_TMP_BUFF_LEN = 1048576;
constexpr int32_t TMP_BUFF_GROW_LEN = 524288;
// No real picture comes near this; a stream that never ends a picture cannot make the
// writer gather more.
constexpr int32_t MAX_VIDEO_SAMPLE_LEN = 128 * 1024 * 1024;
// The recording's clock: steps of an hour or more are clock steps, not pauses; a gap in the
// audio is filled when it is longer than one AAC frame; a first picture stamped in
// 2000-2100 gives the file its creation time.
constexpr int64_t ONE_HOUR_MS = 3600 * 1000;
constexpr int64_t AAC_FRAME_SAMPLES = 1024;
constexpr int64_t FIRST_CREATION_SECOND = 946684800;  // 2000-01-01
constexpr int64_t END_CREATION_SECOND = 4102444800;   // 2100-01-01
// Sample descriptions of the video track at most; later changes of the parameter sets stay
// in the stream only.
constexpr int MAX_SAMPLE_DESCRIPTIONS = 16;

class TMP4Maker {
 public:
  TMP4Maker();
  ~TMP4Maker();
  TMP4Maker(const TMP4Maker&) = delete;
  TMP4Maker& operator=(const TMP4Maker&) = delete;

  // Creates the MP4 file (a file still open is finished first). The size is used only
  // when the first SPS cannot be read; a frame rate of 0 or less stands for 25. Nothing is
  // reported: a file that cannot be created leaves the writer without one (GetCreateError
  // says why), and every push is then dropped. AInput (when valid) is the recording being
  // converted, which the MP4 file may not replace.
  void StartWrite(int32_t AWidth, int32_t AHeight, int32_t AFrameRate, const std::string& AOutFileName,
                  const TFileIdentity& AInput = {});
  // Takes Annex B H.264: any run of whole NAL units (a picture, part of one, or several).
  // AFrameType is not used; key pictures are found from the NAL units.
  void PushVideoX264Frame(const uint8_t* FrameBuffer, int32_t ASize, uint8_t AFrameType);
  // The recording's clock: see the top of this file. Off until set.
  void SetUseTimeStamps(bool AUse) { FUseStamps = AUse; }
  // The stamp, in ms, of the video block pushed next: a picture that starts in it takes this
  // time. AValid false: no usable stamp (the millisecond part is 1000 or more, or none).
  void SetVideoBlockTime(int64_t ATimeMs, bool AValid) {
    FBlockTimeMs = ATimeMs;
    FBlockTimeValid = AValid;
  }
  // The stamp, in ms, of the audio block pushed next.
  void SetAudioBlockTime(int64_t ATimeMs, bool AValid) {
    FAudioBlockTimeMs = ATimeMs;
    FAudioBlockTimeValid = AValid;
  }
  // Takes one block of record audio (G.711 or PCM; type 0 means no audio).
  void PushAudioFrame(const uint8_t* FrameBuffer, int32_t ASize, uint8_t AAudioType);
  // Writes what is still pending (the last picture, the encoder's last audio), the edits
  // and the index, and closes the file as AMode says: Finish; Stopped (the conversion was
  // stopped before the end of the recording: the file replaces an existing one of its name
  // only when it was the first of that name); Discard (the conversion failed: the file is
  // removed). A file that holds no sample is removed too. Never throws; twice is harmless.
  void StopWrite(TOutputCloseMode AMode = TOutputCloseMode::Finish);
  // Ends the picture being gathered (it is written as it is), so that what is pushed next
  // starts a picture of its own: called where the recording is damaged.
  void EndPicture() { EndAccessUnit(); }
  // NAL units found in pushed video since the file was started, written or not.
  int32_t GetPushCount() const { return FTotalPushCount; }

  // What the writer achieved, kept after StopWrite until the next StartWrite.
  bool IsFileCreated() const { return FFileCreated; }
  bool HasFile() const { return FMp4Hndl != MP4_INVALID_FILE_HANDLE; }
  int64_t GetVideoSampleCount() const { return FVideoSampleCount; }
  int64_t GetAudioSampleCount() const { return FAudioSampleCount; }
  bool HasWriteError() const { return FWriteError; }
  // Memory for a picture could not be had: pictures were lost.
  bool HasAllocationFailure() const { return FAllocationFailed; }
  // Why the file could not be created, or why closing it failed; empty when neither.
  const std::string& GetCreateError() const { return FFileError; }
  // After StopWrite: where the file is kept (its name, or its work name after a stop), empty
  // when it was removed.
  const std::string& GetKeptFileName() const { return FKeptFileName; }
  // After StopWrite: how long the file plays, in seconds, as its index says.
  double GetDuration() const { return FDuration; }
  // Pictures dropped because they came before the first SPS.
  int64_t GetDroppedPictureCount() const { return FDroppedPictures; }
  // Capacity of the video sample buffer.
  int32_t GetSampleBufferLen() const { return FTmpBufferLen; }

  // Finds the first NAL unit of a buffer. AEndOffSet receives where the next start code
  // begins (ASize when the unit runs to the end). False when the buffer holds no start
  // code followed by at least one byte. Reads nothing outside the buffer.
  static bool CheckNalu(const uint8_t* FrameBuffer, int32_t ASize, TEncNaluUnit& ANaluUnit,
                        int32_t& AEndOffSet);

 private:
  void ResetSDKStatus();
  // Makes the sample buffer hold at least ANewFrameSize bytes, keeping the sample being
  // gathered. False when it cannot.
  bool CheckTmpFrameBuffer(int64_t ANewFrameSize);
  void ProcessNalu(const TEncNaluUnit& ANalu);
  uint32_t AddVideoTrackID(const TEncNaluUnit& ANalu);
  // The picture size as an SPS codes it; the probe's size when the SPS is unreadable.
  void CodedSize(const uint8_t* ASps, size_t ASize, int32_t& AWidth, int32_t& AHeight) const;
  bool WriteSPSData(const TEncNaluUnit& ANalu);
  bool WritePPSData(const TEncNaluUnit& ANalu);
  // Adds a slice or SEI unit to the access unit being gathered.
  bool WriteFrameData(const TEncNaluUnit& ANalu);
  // Keeps an SPS or PPS that changes the decoder's set-up in the stream, at the start of
  // the next sample; drops one that repeats what the decoder has.
  void KeepChangedParameterSet(const TEncNaluUnit& ANalu);
  bool AppendToAccessUnit(const TEncNaluUnit& ANalu);
  // Gives the picture about to be written the sample description of the parameter sets in
  // force: one already made for the same sets, or a new one (up to MAX_SAMPLE_DESCRIPTIONS).
  void SelectSampleDescription();
  // Writes the gathered picture as one sample (or counts it as dropped) and starts anew.
  void EndAccessUnit();
  bool VideoTrackReady() const { return FVideoTrackID != MP4_INVALID_TRACK_ID && FFoundSPS; }

  // Writes the frames in FAACFrames as samples, creating the audio track at the first.
  void WriteAudioFrames();
  // Drains the encoder into the file and sets the edit that skips its priming samples.
  void FinishAudio();
  // Writes the last picture and, when pictures were dropped, delays the video.
  void FinishVideo();
  // The duration of a picture at AFrom (ms) followed by one at ATo, in 90 kHz ticks.
  MP4Duration StepDuration(int64_t AFrom, bool AFromValid, int64_t ATo, bool AToValid) const;
  // Feeds ASamples of silence to the audio encoder, in bounded pieces.
  void FillAudioSilence(int64_t ASamples);
  // With stamps: how much later than the other each track starts (ms); both 0 when the
  // stamps do not tell.
  void StampStartDelays(int64_t& AVideoDelayMs, int64_t& AAudioDelayMs) const;

  int32_t FTotalPushCount = 0;
  MP4FileHandle FMp4Hndl = MP4_INVALID_FILE_HANDLE;
  MP4TrackId FVideoTrackID = MP4_INVALID_TRACK_ID;
  MP4TrackId FAudioTrackID = MP4_INVALID_TRACK_ID;
  bool FFoundSPS = false;
  bool FFoundPPS = false;
  int32_t FFrameWidth = 0;
  int32_t FFrameHeight = 0;
  int32_t FFrameRate = 0;
  std::unique_ptr<uint8_t[]> FTmpFrameBuffer;
  int32_t FTmpBufferLen = 0;
  std::unique_ptr<TAACMaker> FAACMaker;
  TAACFrameList FAACFrames;  // reused for every block

  // The access unit being gathered in FTmpFrameBuffer.
  int32_t FSampleLen = 0;
  bool FSampleHasSlice = false;
  bool FSampleIsSync = false;
  bool FSampleDropped = false;  // a picture from before the first SPS: counted, not kept
  MP4Duration FVideoSampleDuration = 0;
  int64_t FDroppedPictures = 0;

  // Parameter sets: those in the decoder configuration, and those the decoder holds now
  // (by id), to tell a changed set from a repeated one.
  std::vector<uint8_t> FStoredSps, FStoredPps;
  uint32_t FStoredSpsId = 0, FStoredPpsId = 0;
  std::array<std::vector<uint8_t>, H264_MAX_SPS_COUNT> FActiveSps;
  std::array<std::vector<uint8_t>, H264_MAX_PPS_COUNT> FActivePps;
  // The parameter sets of each sample description (index + 1), the one in use, and whether
  // the sets in force changed since it was chosen.
  struct TDescribedSets {
    std::vector<std::vector<uint8_t>> Sps, Pps;
  };
  std::vector<TDescribedSets> FDescriptions;
  uint32_t FCurrentDescription = 1;
  bool FDescriptionChanged = false;
  bool FDescriptionsFullLogged = false;

  // The recording's clock.
  bool FUseStamps = false;
  int64_t FBlockTimeMs = 0;
  bool FBlockTimeValid = false;
  int64_t FAudioBlockTimeMs = 0;
  bool FAudioBlockTimeValid = false;
  int64_t FSampleTimeMs = 0;  // of the picture being gathered
  bool FSampleTimeValid = false;
  int64_t FLastVideoTimeMs = 0;  // of the last picture written
  bool FLastVideoTimeValid = false;
  bool FHaveLastVideo = false;
  int64_t FFirstVideoTimeMs = 0;
  bool FFirstVideoTimeValid = false;
  int64_t FAudioStartMs = 0;  // the stamp at which the audio written so far began
  bool FAudioTimeStarted = false;
  int64_t FFirstAudioTimeMs = 0;

  bool FFileCreated = false;
  bool FWriteError = false;
  bool FAllocationFailed = false;
  std::string FFileError;
  std::string FKeptFileName;
  double FDuration = 0;
  int64_t FVideoSampleCount = 0;
  int64_t FAudioSampleCount = 0;
};
