#include "UVyrTimedRecording.h"

#include <algorithm>

namespace {

constexpr uint32_t AudioBlockSamples = 160;  // 20 ms

// A block of PCM: silence, with a full-scale click of 5 ms from sample AClickAt on (when it
// lies in the block).
std::vector<uint8_t> ClickBlock(int64_t AClickAt, uint32_t ASamples) {
  std::vector<uint8_t> pcm(static_cast<size_t>(ASamples) * 2, 0);
  for (int64_t s = std::max<int64_t>(AClickAt, 0); AClickAt >= 0 && s < AClickAt + 40 && s < ASamples; ++s) {
    const int16_t v = (s - AClickAt) % 4 < 2 ? 30000 : -30000;
    pcm[static_cast<size_t>(s) * 2] = static_cast<uint8_t>(v & 0xFF);
    pcm[static_cast<size_t>(s) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return pcm;
}

}  // namespace

TTimedRecording GenerateTimedRecording(const TRecordingSpec& ASpec, const TTimingSpec& ATiming,
                                       const TVideoPayloadSource& AVideo, TVyrRecordBuilder& ABuilder) {
  TTimedRecording out;
  const int64_t startMs = static_cast<int64_t>(ASpec.StartSecond) * 1000 + ASpec.StartMillisecond;
  int64_t pausedMs = 0;  // real time added by pauses so far
  int64_t stepMs = 0;    // what the clock was set by so far
  uint64_t audioReal = 0;  // audio position in samples of real time
  uint32_t audioFrameId = 1;
  const int64_t markerReal =
      ATiming.MarkerPicture >= 0 ? static_cast<int64_t>(ATiming.MarkerPicture) * 1000000 / ATiming.FrameRateMilli : -1;
  auto stampOf = [&](int64_t ARealMs, uint32_t& ASeconds, uint16_t& AMilli) {
    int64_t ms = startMs + ARealMs + stepMs;
    if (ms < 0) ms = 0;
    ASeconds = static_cast<uint32_t>(ms / 1000);
    AMilli = ATiming.SecondsOnly ? 0 : static_cast<uint16_t>(ms % 1000);
    return static_cast<int64_t>(ASeconds) * 1000 + AMilli;
  };
  auto audioUpTo = [&](int64_t ARealMs) {
    while (ASpec.AudioType != AUDIO_TYPE_NONE && static_cast<int64_t>(audioReal * 1000 / OmAudioSampleRate) < ARealMs) {
      const int64_t realMs = static_cast<int64_t>(audioReal * 1000 / OmAudioSampleRate);
      const bool paused = ATiming.AudioPauseFromMs >= 0 && realMs >= ATiming.AudioPauseFromMs &&
                          realMs < ATiming.AudioPauseFromMs + ATiming.AudioPauseMs;
      if (!paused) {
        TAudioBlockSpec a;
        a.FrameID = audioFrameId++;
        stampOf(realMs, a.SecTimeStamp, a.MiliTimeStamp);
        if (ATiming.MarkerPicture >= 0) {
          a.AudioType = AUDIO_TYPE_PCM;
          // The click where the marker picture's real time (with the pauses before it) falls.
          const int64_t at = (markerReal + pausedMs) * OmAudioSampleRate / 1000 - static_cast<int64_t>(audioReal);
          ABuilder.AddAudio(a, ClickBlock(at >= 0 && at < AudioBlockSamples ? at : -1, AudioBlockSamples));
        } else {
          a.AudioType = ASpec.AudioType;
          ABuilder.AddAudio(a, ToneAudioBlock(ASpec.AudioType, audioReal, AudioBlockSamples));
        }
        out.AudioSamples += AudioBlockSamples;
      }
      audioReal += AudioBlockSamples;
    }
  };

  size_t pause = 0, step = 0;
  for (uint32_t i = 0; i < ASpec.Frames; ++i) {
    const int64_t realMs = static_cast<int64_t>(i) * 1000000 / ATiming.FrameRateMilli + pausedMs;
    audioUpTo(realMs);
    const bool dropped = ATiming.DropEvery > 0 && i >= ATiming.DropFrom && i < ATiming.DropTo &&
                         (i - ATiming.DropFrom) % ATiming.DropEvery == ATiming.DropEvery - 1;
    bool key = false;
    std::vector<uint8_t> payload = AVideo(i, key);  // made even when dropped: the encoder's pictures stay in order
    if (!dropped && ASpec.VideoType >= 0) {
      TVideoBlockSpec v;
      v.VideoType = static_cast<uint8_t>(ASpec.VideoType);
      v.VideoMode = ASpec.VideoMode;
      v.FrameType = key ? OmFrameType_I : OmFrameType_P;
      v.FrameID = ATiming.ZeroFrameIds ? 0 : i + 1;
      const int64_t stamp = stampOf(realMs, v.SecTimeStamp, v.MiliTimeStamp);
      ABuilder.AddVideo(v, payload);
      out.PictureIndices.push_back(i);
      out.PictureStampsMs.push_back(stamp);
      if (static_cast<int32_t>(i) == ATiming.MarkerPicture) out.MarkerStampMs = stamp;
    }
    while (pause < ATiming.Pauses.size() && ATiming.Pauses[pause].first == i) {
      // Audio runs up to the pause, then nothing until the recorder starts again.
      const int64_t nextReal = static_cast<int64_t>(i + 1) * 1000000 / ATiming.FrameRateMilli + pausedMs;
      audioUpTo(nextReal);
      pausedMs += ATiming.Pauses[pause].second;
      audioReal += static_cast<uint64_t>(ATiming.Pauses[pause].second) * OmAudioSampleRate / 1000;
      ++pause;
    }
    while (step < ATiming.ClockSteps.size() && ATiming.ClockSteps[step].first == i) {
      stepMs += ATiming.ClockSteps[step].second;
      ++step;
    }
  }
  return out;
}
