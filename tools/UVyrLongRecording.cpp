#include "UVyrLongRecording.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct TFileCloser {
  void operator()(std::FILE* AFile) const { std::fclose(AFile); }
};

// The payloads of the stretch, filled as the recording first passes through it.
struct TRepeatedStretch {
  TVideoPayloadSource Inner;
  std::vector<std::vector<uint8_t>> Payloads;
  std::vector<bool> KeyFrames;
};

}  // namespace

uint32_t RepeatedStretchFrames(const TRecordingSpec& ASpec, uint32_t ASeconds) {
  const uint64_t keyInterval = ASpec.KeyInterval ? ASpec.KeyInterval : 1;
  const uint64_t fps = ASpec.FrameRate ? ASpec.FrameRate : 25;
  uint64_t frames = static_cast<uint64_t>(ASeconds) * fps;
  frames = (frames + keyInterval - 1) / keyInterval * keyInterval;
  if (frames < keyInterval) frames = keyInterval;
  if (frames > ASpec.Frames) frames = ASpec.Frames;
  return static_cast<uint32_t>(frames ? frames : 1);
}

TVideoPayloadSource RepeatingPayloadSource(TVideoPayloadSource AInner, uint32_t AFrames) {
  auto stretch = std::make_shared<TRepeatedStretch>();
  stretch->Inner = std::move(AInner);
  const uint32_t frames = AFrames ? AFrames : 1;
  return [stretch, frames](uint32_t AIndex, bool& AKeyFrame) {
    const uint32_t slot = AIndex % frames;
    // Frames are asked in order; the stretch is encoded on the first pass only.
    while (stretch->Payloads.size() <= slot) {
      bool key = false;
      const auto index = static_cast<uint32_t>(stretch->Payloads.size());
      stretch->Payloads.push_back(stretch->Inner(index, key));
      stretch->KeyFrames.push_back(key);
    }
    AKeyFrame = stretch->KeyFrames[slot];
    return stretch->Payloads[slot];
  };
}

bool WriteRecordingFile(const TRecordingSpec& ASpec, const TVideoPayloadSource& AVideo,
                        const std::string& AFileName) {
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(AFileName.c_str(), "wb"));
  if (!file) return false;
  TVyrRecordBuilder builder;
  bool ok = GenerateRecording(ASpec, AVideo, builder,
                              [&file](TVyrRecordBuilder& ABuilder) { return ABuilder.FlushTo(file.get()); });
  ok = ok && builder.FlushTo(file.get());
  return (std::fclose(file.release()) == 0) && ok;
}
