// vyrgen: writes generated record files.
//   vyrgen --samples DIR             the bundled sample recordings
//   vyrgen --out FILE [--video h264|mpeg4|mjpeg|h265|none] [--audio alaw|ulaw|pcm|none]
//          [--resolution N] [--fps N] [--seconds N] [--start-ms N] [--payload BYTES]
//          [--repeat-seconds N] [--grain N]
//   --payload BYTES writes recognisable bytes of that size instead of encoded video.
//   --repeat-seconds N encodes about N seconds of video (whole key intervals) once and
//   repeats it for the whole length, with frame numbers, time stamps and audio advancing:
//   hours of recording in the time it takes to write them.
//   --grain N adds noise of up to +-N to the pictures' luma (0..64): a higher bit rate,
//   as a camera's sensor noise makes.
// Files are written block by block; memory does not grow with the length.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "UVideoPayloadEncoders.h"
#include "UVyrLongRecording.h"
#include "UVyrSampleGen.h"

namespace {

bool ParseVideo(const std::string& s, int& v) {
  if (s == "mpeg4") v = OmVideoType_MPEG4;
  else if (s == "h264") v = OmVideoType_H264;
  else if (s == "mjpeg") v = OmVideoType_MJPEG;
  else if (s == "h265") v = OmVideoType_H265;
  else if (s == "none") v = -1;
  else return false;
  return true;
}

bool ParseAudio(const std::string& s, uint8_t& a) {
  if (s == "alaw") a = AUDIO_TYPE_G711A;
  else if (s == "ulaw") a = AUDIO_TYPE_G711U;
  else if (s == "pcm") a = AUDIO_TYPE_PCM;
  else if (s == "none") a = AUDIO_TYPE_NONE;
  else return false;
  return true;
}

// APayload > 0: recognisable bytes of that size instead of real video. ARepeatSeconds > 0:
// that much video made once and repeated.
bool Write(const TRecordingSpec& ASpec, size_t APayload, uint32_t ARepeatSeconds,
           const std::string& AFile) {
  TVideoPayloadSource source;
  if (APayload > 0 || ASpec.VideoType < 0) {
    source = PatternPayloadSource(ASpec, APayload);
  } else {
    std::string error;
    source = EncodedPayloadSource(ASpec, error);
    if (!source) {
      std::fprintf(stderr, "vyrgen: %s\n", error.c_str());
      return false;
    }
  }
  if (ARepeatSeconds > 0)
    source = RepeatingPayloadSource(std::move(source), RepeatedStretchFrames(ASpec, ARepeatSeconds));
  if (!WriteRecordingFile(ASpec, source, AFile)) {
    std::fprintf(stderr, "vyrgen: cannot write %s\n", AFile.c_str());
    return false;
  }
  return true;
}

int Usage() {
  std::fputs("usage: vyrgen --samples DIR\n"
             "       vyrgen --out FILE [--video h264|mpeg4|mjpeg|h265|none] [--audio alaw|ulaw|pcm|none]\n"
             "              [--resolution N] [--fps N] [--seconds N] [--start-ms N] [--payload BYTES]\n"
             "              [--repeat-seconds N] [--grain N]\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TRecordingSpec spec;
  std::string out, samples;
  size_t payload = 0;
  uint32_t seconds = 10;
  uint32_t repeatSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    if (a == "--out") out = v;
    else if (a == "--samples") samples = v;
    else if (a == "--video") { if (!ParseVideo(v, spec.VideoType)) return Usage(); }
    else if (a == "--audio") { if (!ParseAudio(v, spec.AudioType)) return Usage(); }
    else if (a == "--resolution") spec.VideoMode = static_cast<uint8_t>(std::atoi(v.c_str()));
    else if (a == "--fps") spec.FrameRate = static_cast<uint32_t>(std::atoi(v.c_str()));
    else if (a == "--seconds") seconds = static_cast<uint32_t>(std::atoi(v.c_str()));
    else if (a == "--start-ms") spec.StartMillisecond = static_cast<uint32_t>(std::atoi(v.c_str()));
    else if (a == "--payload") payload = static_cast<size_t>(std::atol(v.c_str()));
    else if (a == "--grain") {
      const int grain = std::atoi(v.c_str());
      if (grain < 0 || grain > 64) return Usage();
      spec.Grain = static_cast<uint8_t>(grain);
    } else if (a == "--repeat-seconds") repeatSeconds = static_cast<uint32_t>(std::atoi(v.c_str()));
    else return Usage();
  }
  if (spec.FrameRate == 0) spec.FrameRate = 25;
  spec.Frames = seconds * spec.FrameRate;
  spec.KeyInterval = spec.FrameRate * 2;

  if (!samples.empty()) {
    ::mkdir(samples.c_str(), 0777);
    struct Sample {
      const char* Name;
      int Video;
      uint8_t Audio;
      uint8_t Mode;
      uint32_t Fps;
      uint32_t StartMs;
    } const list[] = {
        {"cam1_h264_alaw.vyr", OmVideoType_H264, AUDIO_TYPE_G711A, OmResolution_CIF, 25, 0},
        {"cam2_h264_ulaw.vyr", OmVideoType_H264, AUDIO_TYPE_G711U, OmResolution_D1, 25, 400},
        {"cam3_mjpeg_pcm.vyr", OmVideoType_MJPEG, AUDIO_TYPE_PCM, OmResolution_CIF, 15, 0},
        {"cam4_h265_none.vyr", OmVideoType_H265, AUDIO_TYPE_NONE, OmResolution_720P, 20, 250},
    };
    for (const Sample& s : list) {
      TRecordingSpec one = spec;
      one.VideoType = s.Video;
      one.AudioType = s.Audio;
      one.VideoMode = s.Mode;
      one.FrameRate = s.Fps;
      one.StartMillisecond = s.StartMs;
      one.Frames = 10 * s.Fps;
      one.KeyInterval = 2 * s.Fps;
      if (!Write(one, payload, repeatSeconds, samples + "/" + s.Name)) return 1;
    }
    return 0;
  }
  if (out.empty()) return Usage();
  return Write(spec, payload, repeatSeconds, out) ? 0 : 1;
}
