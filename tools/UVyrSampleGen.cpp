#include "UVyrSampleGen.h"

#include <cmath>

namespace {

// Linear to G.711 A-law / mu-law, as a recorder's audio chip produces them.
uint8_t LinearToAlaw(int16_t APcm) {
  int pcm = APcm;
  int mask = 0xD5;
  if (pcm < 0) {
    mask = 0x55;
    pcm = -pcm - 1;
  }
  static const int segEnd[8] = {0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF};
  int seg = 0;
  while (seg < 8 && pcm > segEnd[seg]) ++seg;
  if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  int aval = seg << 4;
  aval |= (seg < 2) ? (pcm >> 4) & 0x0F : (pcm >> (seg + 3)) & 0x0F;
  return static_cast<uint8_t>(aval ^ mask);
}

uint8_t LinearToUlaw(int16_t APcm) {
  const int bias = 0x84, clip = 32635;
  int pcm = APcm;
  int sign = (pcm >> 8) & 0x80;
  if (sign) pcm = -pcm;
  if (pcm > clip) pcm = clip;
  pcm += bias;
  int exponent = 7;
  for (int mask = 0x4000; (pcm & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  int mantissa = (pcm >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

}  // namespace

std::vector<uint8_t> ToneAudioBlock(uint8_t AAudioType, uint64_t AFirstSample, uint32_t ASamples) {
  std::vector<uint8_t> out;
  out.reserve(AAudioType == AUDIO_TYPE_PCM ? ASamples * 2 : ASamples);
  const double pi = 3.14159265358979323846;
  for (uint32_t i = 0; i < ASamples; ++i) {
    double t = static_cast<double>(AFirstSample + i) / OmAudioSampleRate;
    auto s = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * pi * 440.0 * t)));
    if (AAudioType == AUDIO_TYPE_PCM) {
      out.push_back(static_cast<uint8_t>(s & 0xFF));
      out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    } else if (AAudioType == AUDIO_TYPE_G711A) {
      out.push_back(LinearToAlaw(s));
    } else {
      out.push_back(LinearToUlaw(s));
    }
  }
  return out;
}

TVideoPayloadSource PatternPayloadSource(const TRecordingSpec& ASpec, size_t APayloadSize) {
  uint32_t keyInterval = ASpec.KeyInterval ? ASpec.KeyInterval : 1;
  return [APayloadSize, keyInterval](uint32_t AIndex, bool& AKeyFrame) {
    AKeyFrame = AIndex % keyInterval == 0;
    std::vector<uint8_t> p = PatternBytes(APayloadSize, AIndex + 1);
    // An Annex B start code in front, as an H.264 recorder writes its frames.
    if (p.size() >= 5) {
      p[0] = 0;
      p[1] = 0;
      p[2] = 0;
      p[3] = 1;
      p[4] = AKeyFrame ? 0x65 : 0x41;
    }
    return p;
  };
}

bool GenerateRecording(const TRecordingSpec& ASpec, const TVideoPayloadSource& AVideo,
                       TVyrRecordBuilder& ABuilder, const TFrameWrittenHook& AAfterFrame) {
  const uint32_t fps = ASpec.FrameRate ? ASpec.FrameRate : 25;
  const uint64_t startMs = static_cast<uint64_t>(ASpec.StartSecond) * 1000 + ASpec.StartMillisecond;
  const uint32_t audioBlockSamples = 160;  // 20 ms
  uint64_t audioSample = 0;
  uint32_t audioFrameId = 1;
  for (uint32_t i = 0; i < ASpec.Frames; ++i) {
    uint64_t frameMs = startMs + static_cast<uint64_t>(i) * 1000 / fps;
    // Audio up to the time of this frame goes first.
    uint64_t frameSample = static_cast<uint64_t>(i) * OmAudioSampleRate / fps;
    while (ASpec.AudioType != AUDIO_TYPE_NONE && audioSample < frameSample) {
      uint64_t ms = startMs + audioSample * 1000 / OmAudioSampleRate;
      TAudioBlockSpec a;
      a.AudioType = ASpec.AudioType;
      a.FrameID = audioFrameId++;
      a.SecTimeStamp = static_cast<uint32_t>(ms / 1000);
      a.MiliTimeStamp = static_cast<uint16_t>(ms % 1000);
      ABuilder.AddAudio(a, ToneAudioBlock(ASpec.AudioType, audioSample, audioBlockSamples));
      audioSample += audioBlockSamples;
    }
    if (ASpec.VideoType >= 0) {
      bool key = false;
      std::vector<uint8_t> payload = AVideo(i, key);
      TVideoBlockSpec v;
      v.VideoType = static_cast<uint8_t>(ASpec.VideoType);
      v.VideoMode = ASpec.VideoMode;
      v.FrameType = key ? OmFrameType_I : OmFrameType_P;
      v.FrameID = i + 1;
      v.SecTimeStamp = static_cast<uint32_t>(frameMs / 1000);
      v.MiliTimeStamp = static_cast<uint16_t>(frameMs % 1000);
      ABuilder.AddVideo(v, payload);
    }
    if (AAfterFrame && !AAfterFrame(ABuilder)) return false;
  }
  return true;
}
