#include "conversion/UAudioToAAC.h"

#include <algorithm>
#include <cstring>

#include "support/uFunctionsLib.h"

namespace {

// G.711 expansion constants.
constexpr int SIGN_BIT = 0x80;    // sign bit of a code byte
constexpr int QUANT_MASK = 0x0F;  // quantisation field
constexpr int SEG_MASK = 0x70;    // segment field
constexpr int SEG_SHIFT = 4;      // left shift of the segment field
constexpr int BIAS = 0x84;        // bias of u-law linear values
[[maybe_unused]] constexpr int NSEGS = 8;  // segments of either law

// Sample rate and channels the recordings' audio always has.
constexpr unsigned long AacSampleRate = OmAudioSampleRate;
constexpr unsigned int AacChannels = OmAudioChannels;

// A G.711 block is decoded in pieces of this many bytes, so a block of any size needs
// only a small PCM buffer.
constexpr int32_t G711PieceSize = 4096;

// Frames the encoder can still hold at the end; draining stops after this many.
constexpr int MaxDrainFrames = 16;

uint8_t LawOfType(uint8_t AG711Type) {
  return (AG711Type == AUDIO_TYPE_G711A || AG711Type == 2) ? AUDIO_TYPE_G711A : AUDIO_TYPE_G711U;
}

}  // namespace

// ---- TG711Decoder ------------------------------------------------------------------

TG711Decoder::TG711Decoder() = default;

int32_t TG711Decoder::alaw2linear(uint8_t a_val) {
  int a = a_val ^ 0x55;
  int t = a & QUANT_MASK;
  int seg = (a & SEG_MASK) >> SEG_SHIFT;
  if (seg != 0) t = (t * 2 + 33) << (seg + 2);
  else t = (t * 2 + 1) << 3;
  return (a & SIGN_BIT) ? t : -t;
}

int32_t TG711Decoder::ulaw2linear(uint8_t u_val) {
  int u = ~u_val & 0xFF;
  int t = ((u & QUANT_MASK) << 3) + BIAS;
  t <<= (u & SEG_MASK) >> SEG_SHIFT;
  return (u & SIGN_BIT) ? (BIAS - t) : (t - BIAS);
}

void TG711Decoder::ResetDecoderTable(uint8_t AG711Type) {
  PrintDebugString("Reset G711 Decoder Table: " + std::to_string(AG711Type));
  for (int c = 0; c < 256; ++c) {
    int32_t v = AG711Type == AUDIO_TYPE_G711A ? alaw2linear(static_cast<uint8_t>(c))
                                              : ulaw2linear(static_cast<uint8_t>(c));
    FPcmTable[c] = static_cast<int16_t>(v);
  }
}

bool TG711Decoder::G711ToPCM(const uint8_t* AInputBuff, int32_t AInputSize, uint8_t AG711Type,
                             std::vector<uint8_t>& AOutData) {
  if (!AInputBuff || AInputSize <= 0) return false;
  uint8_t law = LawOfType(AG711Type);
  if (law != FInputG711Type) {
    FInputG711Type = law;
    ResetDecoderTable(law);
  }
  // In size_t: twice a 32-bit size does not fit in 32 bits.
  const size_t count = static_cast<size_t>(AInputSize);
  AOutData.resize(count * 2);
  uint8_t* out = AOutData.data();
  for (size_t i = 0; i < count; ++i) {
    auto v = static_cast<uint16_t>(FPcmTable[AInputBuff[i]]);
    out[2 * i] = static_cast<uint8_t>(v);
    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return true;
}

// ---- TAACFrameList -----------------------------------------------------------------

void TAACFrameList::Clear() {
  Bytes.clear();
  Sizes.clear();
}

size_t TAACFrameList::Count() const { return Sizes.size(); }

void TAACFrameList::Append(const uint8_t* AData, int32_t ASize) {
  if (ASize <= 0) return;
  Bytes.insert(Bytes.end(), AData, AData + ASize);
  Sizes.push_back(ASize);
}

// ---- TAACMaker ---------------------------------------------------------------------

class TAACMaker::TEncodeLock {
 public:
  explicit TEncodeLock(TAACMaker& AOwner) : FOwner(AOwner) { FOwner.LockEncode(); }
  ~TEncodeLock() { FOwner.UnLockEncode(); }
  TEncodeLock(const TEncodeLock&) = delete;
  TEncodeLock& operator=(const TEncodeLock&) = delete;

 private:
  TAACMaker& FOwner;
};

TAACMaker::TAACMaker() = default;

TAACMaker::~TAACMaker() { CloseAACEncode(); }

void TAACMaker::LockEncode() { FCsEncode.lock(); }

void TAACMaker::UnLockEncode() { FCsEncode.unlock(); }

bool TAACMaker::StartAACEncode() {
  TEncodeLock lock(*this);
  if (FEncoderHndl) CloseAACEncode();

  FSampleRate = AacSampleRate;
  FNumChannels = AacChannels;
  unsigned long inputSamples = 0, maxOutputBytes = 0;
  FEncoderHndl.reset(faacEncOpen(FSampleRate, FNumChannels, &inputSamples, &maxOutputBytes));
  if (!FEncoderHndl) {
    PrintDebugString("FAAC Enc Open failed");
    return false;
  }
  FInputSamples = static_cast<uint32_t>(inputSamples);
  FMaxOutputBytes = static_cast<uint32_t>(maxOutputBytes);
  FPcmFrameSize = static_cast<int32_t>(FInputSamples * 2);
  PrintDebugString(FormatStr("FAAC Enc Open: InputSamples[%d], PCMFrameSize[%d], MaxOutputBytes[%d]",
                             static_cast<int>(FInputSamples), static_cast<int>(FPcmFrameSize),
                             static_cast<int>(FMaxOutputBytes)));

  TFaacEncConfiguration* config = faacEncGetCurrentConfiguration(FEncoderHndl.get());
  if (!config) {
    PrintDebugString("FAAC get cur config failed");
    return false;
  }
  PrintDebugString(FormatStr("Cur Config: Version[%d], quantqual[%d], mpegVersion[%d], inputFormat[%d], "
                             "outputFormat[%d]",
                             config->version, static_cast<int>(config->quantqual),
                             static_cast<int>(config->mpegVersion), static_cast<int>(config->inputFormat),
                             static_cast<int>(config->outputFormat)));
  config->aacObjectType = FAAC_OBJTYPE_LOW;
  config->inputFormat = FAAC_INPUT_16BIT;
  config->outputFormat = FAAC_OUTPUT_RAW;
  int result = faacEncSetConfiguration(FEncoderHndl.get(), config);
  PrintDebugString(FormatStr("Set new config result<%d>: quantqual[%d], mpegVersion[%d], inputFormat[%d], "
                             "outputFormat[%d]",
                             result, static_cast<int>(config->quantqual), static_cast<int>(config->mpegVersion),
                             static_cast<int>(config->inputFormat), static_cast<int>(config->outputFormat)));

  FPcmInBuff.assign(static_cast<size_t>(FPcmFrameSize), 0);
  FAACOutBuff.assign(FMaxOutputBytes, 0);
  FFrameSamples.assign(FInputSamples, 0);
  FPcmInputSize = 0;
  FEncoderDelay = faacEncGetDelay(FEncoderHndl.get());
  FPcmBytesTaken = 0;
  FFramesEncoded = 0;
  FFlushed = false;
  return true;
}

void TAACMaker::CloseAACEncode() {
  TEncodeLock lock(*this);
  if (FEncoderHndl) {
    FEncoderHndl.reset();
    PrintDebugString("FAAC Encode Close.");
  }
  FG711Decoder.reset();
  FPcmInputSize = 0;
}

bool TAACMaker::IsOpen() const {
  std::lock_guard<std::recursive_mutex> g(FCsEncode);
  return FEncoderHndl != nullptr;
}

void TAACMaker::EncodePcmFrame(const uint8_t* APcm, TAACFrameList& AOutFrames) {
  for (uint32_t i = 0; i < FInputSamples; ++i)
    FFrameSamples[i] = static_cast<int16_t>(static_cast<uint16_t>(APcm[2 * i] | (APcm[2 * i + 1] << 8)));
  int size = faacEncEncode(FEncoderHndl.get(), FFrameSamples.data(), FInputSamples, FAACOutBuff.data(),
                           static_cast<unsigned int>(FAACOutBuff.size()));
  ++FFramesEncoded;
  if (size > 0) AOutFrames.Append(FAACOutBuff.data(), size);
  else if (size < 0) PrintDebugString(FormatStr("FAAC Encode failed: %d", size));
}

void TAACMaker::AppendPcm(const uint8_t* APcm, size_t ASize, TAACFrameList& AOutFrames) {
  FPcmBytesTaken += static_cast<int64_t>(ASize);
  const size_t frameSize = static_cast<size_t>(FPcmFrameSize);
  while (ASize > 0) {
    if (FPcmInputSize == 0 && ASize >= frameSize) {
      // A whole frame of the input: encode it where it lies.
      EncodePcmFrame(APcm, AOutFrames);
      APcm += frameSize;
      ASize -= frameSize;
      continue;
    }
    size_t copy = std::min(ASize, frameSize - static_cast<size_t>(FPcmInputSize));
    std::memcpy(FPcmInBuff.data() + FPcmInputSize, APcm, copy);
    FPcmInputSize += static_cast<int32_t>(copy);
    APcm += copy;
    ASize -= copy;
    if (FPcmInputSize == FPcmFrameSize) {
      EncodePcmFrame(FPcmInBuff.data(), AOutFrames);
      FPcmInputSize = 0;
    }
  }
}

bool TAACMaker::EncodeAudio(const uint8_t* AInputBuff, int32_t AInputSize, uint8_t AInputEncType,
                            TAACFrameList& AOutFrames) {
  AOutFrames.Clear();
  if (!AInputBuff || AInputSize <= 0) return false;
  TEncodeLock lock(*this);
  if (!FEncoderHndl || FPcmFrameSize <= 0 || FPcmInBuff.size() < static_cast<size_t>(FPcmFrameSize) ||
      FAACOutBuff.size() < FMaxOutputBytes)
    return false;
  if (FFlushed) {
    PrintDebugString("AAC encoder already flushed, audio block dropped: " + std::to_string(AInputSize));
    return false;
  }

  if (AInputEncType == AUDIO_TYPE_PCM) {
    AppendPcm(AInputBuff, static_cast<size_t>(AInputSize), AOutFrames);
  } else {
    if (!FG711Decoder) FG711Decoder = std::make_unique<TG711Decoder>();
    for (int32_t offset = 0; offset < AInputSize; offset += G711PieceSize) {
      int32_t piece = std::min(G711PieceSize, AInputSize - offset);
      FG711Decoder->G711ToPCM(AInputBuff + offset, piece, AInputEncType, FPcmPiece);
      AppendPcm(FPcmPiece.data(), FPcmPiece.size(), AOutFrames);
    }
  }
  return AOutFrames.Count() > 0;
}

bool TAACMaker::FlushAudio(TAACFrameList& AOutFrames) {
  AOutFrames.Clear();
  TEncodeLock lock(*this);
  if (!FEncoderHndl || FFlushed || FPcmFrameSize <= 0 ||
      FPcmInBuff.size() < static_cast<size_t>(FPcmFrameSize))
    return false;
  int32_t padded = 0;
  if (FPcmInputSize > 0) {
    padded = FPcmFrameSize - FPcmInputSize;
    std::memset(FPcmInBuff.data() + FPcmInputSize, 0, static_cast<size_t>(padded));
    EncodePcmFrame(FPcmInBuff.data(), AOutFrames);
    FPcmInputSize = 0;
  }
  for (int i = 0; i < MaxDrainFrames; ++i) {
    int size = faacEncEncode(FEncoderHndl.get(), nullptr, 0, FAACOutBuff.data(),
                             static_cast<unsigned int>(FAACOutBuff.size()));
    if (size < 0) PrintDebugString(FormatStr("FAAC Encode failed: %d", size));
    if (size <= 0) break;
    AOutFrames.Append(FAACOutBuff.data(), size);
  }
  FFlushed = true;
  PrintDebugString(FormatStr("FAAC Encode Flush: PaddedBytes[%d], Frames[%d]", padded,
                             static_cast<int>(AOutFrames.Count())));
  return AOutFrames.Count() > 0;
}

bool TAACMaker::GetDecoderSpecificInfo(std::vector<uint8_t>& AInfo) {
  TEncodeLock lock(*this);
  if (!FEncoderHndl) return false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  faacEncGetDecoderSpecificInfo(FEncoderHndl.get(), &buffer, &size);
  if (!buffer || size == 0) return false;
  AInfo.assign(buffer, buffer + size);
  std::string line = "AAC Specific Info: ";
  for (size_t i = 0; i < AInfo.size(); ++i)
    line += FormatStr("[%d]: %d, ", static_cast<int>(i), static_cast<int>(AInfo[i]));
  PrintDebugString(line);
  return true;
}

int32_t TAACMaker::GetEncoderDelay() const {
  std::lock_guard<std::recursive_mutex> g(FCsEncode);
  return FEncoderDelay;
}

int64_t TAACMaker::GetInputSampleCount() const {
  std::lock_guard<std::recursive_mutex> g(FCsEncode);
  return FPcmBytesTaken / 2;
}

int32_t TAACMaker::GetPcmWaiting() const {
  std::lock_guard<std::recursive_mutex> g(FCsEncode);
  return FPcmInputSize;
}

int64_t TAACMaker::GetEncodedFrameCount() const {
  std::lock_guard<std::recursive_mutex> g(FCsEncode);
  return FFramesEncoded;
}
