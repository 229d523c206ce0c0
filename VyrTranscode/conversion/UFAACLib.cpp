#include "conversion/UFAACLib.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "ULibavOwners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace {

// Samples per channel in one AAC LC frame.
constexpr int AacFrameLength = 1024;
// The encoder never writes a frame larger than this per channel (its packet ceiling).
constexpr unsigned long AacMaxFrameBytesPerChannel = 8192;

// Sampling frequency index of ISO/IEC 14496-3, or -1 for a rate outside the table.
int SampleRateIndex(unsigned long ASampleRate) {
  static const unsigned long Rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                        22050, 16000, 12000, 11025, 8000,  7350};
  for (int i = 0; i < static_cast<int>(sizeof(Rates) / sizeof(Rates[0])); ++i)
    if (Rates[i] == ASampleRate) return i;
  return -1;
}

// libavcodec writes its own lines to standard error (statistics when an encoder closes,
// warnings); a library of the conversion core shows nothing, so only errors stay on. The
// level is the process's, shared with every other user of libavcodec: it is only lowered.
void QuietCodecLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
  });
}

// Opens libavcodec's AAC encoder with the given configuration; null when it cannot.
TAvCodecContextPtr OpenCodec(unsigned long ASampleRate, unsigned int ANumChannels,
                           const TFaacEncConfiguration& AConfig) {
  QuietCodecLog();
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) return nullptr;
  TAvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  ctx->sample_rate = static_cast<int>(ASampleRate);
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&ctx->ch_layout, static_cast<int>(ANumChannels));
  ctx->bit_rate = static_cast<int64_t>(AConfig.bitRate) * ANumChannels;
  ctx->cutoff = static_cast<int>(AConfig.bandWidth);
  ctx->profile = FF_PROFILE_AAC_LOW;
  ctx->time_base = AVRational{1, static_cast<int>(ASampleRate)};
  if (ctx->priv_data) av_opt_set_int(ctx->priv_data, "aac_tns", AConfig.useTns ? 1 : 0, 0);
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
  if (ctx->frame_size != AacFrameLength) return nullptr;
  return ctx;
}

bool ConfigurationSupported(const TFaacEncConfiguration& AConfig, unsigned long ASampleRate) {
  return AConfig.aacObjectType == FAAC_OBJTYPE_LOW &&
         (AConfig.mpegVersion == FAAC_MPEG4 || AConfig.mpegVersion == FAAC_MPEG2) &&
         AConfig.inputFormat == FAAC_INPUT_16BIT && AConfig.outputFormat == FAAC_OUTPUT_RAW &&
         AConfig.quantqual == 0 && AConfig.bitRate >= FAAC_MIN_BITRATE &&
         AConfig.bitRate <= FAAC_MAX_BITRATE && AConfig.bandWidth <= ASampleRate / 2;
}

}  // namespace

struct TFaacEncoder {
  unsigned long SampleRate = 0;
  unsigned int NumChannels = 0;
  TFaacEncConfiguration Config;   // the record handed out to the caller
  TFaacEncConfiguration Applied;  // what the encoder runs with
  // Opened once, with the configuration in force when it is first needed: by
  // faacEncSetConfiguration, or else by the first faacEncEncode or faacEncGetDelay.
  TAvCodecContextPtr Codec;
  TAvFramePtr Frame;
  TAvPacketPtr Packet;
  int64_t NextPts = 0;
  bool Started = false;   // a frame went in: the configuration is fixed
  bool Draining = false;  // the end of the input was signalled
  bool Drained = false;   // every frame has come out
  unsigned char SpecificInfo[2] = {0, 0};
};

faacEncHandle faacEncOpen(unsigned long ASampleRate, unsigned int ANumChannels,
                          unsigned long* AInputSamples, unsigned long* AMaxOutputBytes) {
  int rateIndex = SampleRateIndex(ASampleRate);
  if (rateIndex < 0 || ANumChannels < 1 || ANumChannels > 2) return nullptr;
  auto enc = std::make_unique<TFaacEncoder>();
  enc->SampleRate = ASampleRate;
  enc->NumChannels = ANumChannels;
  QuietCodecLog();
  if (!avcodec_find_encoder_by_name("aac")) return nullptr;
  enc->Frame.reset(av_frame_alloc());
  enc->Packet.reset(av_packet_alloc());
  if (!enc->Frame || !enc->Packet) return nullptr;
  enc->Frame->nb_samples = AacFrameLength;
  enc->Frame->format = AV_SAMPLE_FMT_FLTP;
  enc->Frame->sample_rate = static_cast<int>(ASampleRate);
  av_channel_layout_default(&enc->Frame->ch_layout, static_cast<int>(ANumChannels));
  if (av_frame_get_buffer(enc->Frame.get(), 0) < 0) return nullptr;

  // AudioSpecificConfig: object type (5 bits), frequency index (4), channel
  // configuration (4), then frame length 1024, no core coder, no extension (3 zero bits).
  unsigned int asc = (FAAC_OBJTYPE_LOW << 11) | (static_cast<unsigned int>(rateIndex) << 7) |
                     (ANumChannels << 3);
  enc->SpecificInfo[0] = static_cast<unsigned char>(asc >> 8);
  enc->SpecificInfo[1] = static_cast<unsigned char>(asc);

  if (AInputSamples) *AInputSamples = static_cast<unsigned long>(AacFrameLength) * ANumChannels;
  if (AMaxOutputBytes) *AMaxOutputBytes = AacMaxFrameBytesPerChannel * ANumChannels;
  return enc.release();
}

namespace {

// The open codec, opening it with the applied configuration on first use; null when it
// cannot be opened.
AVCodecContext* OpenedCodec(faacEncHandle AHandle) {
  if (!AHandle->Codec) AHandle->Codec = OpenCodec(AHandle->SampleRate, AHandle->NumChannels, AHandle->Applied);
  return AHandle->Codec.get();
}

}  // namespace

TFaacEncConfiguration* faacEncGetCurrentConfiguration(faacEncHandle AHandle) {
  return AHandle ? &AHandle->Config : nullptr;
}

int faacEncSetConfiguration(faacEncHandle AHandle, const TFaacEncConfiguration* AConfig) {
  if (!AHandle || !AConfig) return 0;
  // The caller usually changes the record that faacEncGetCurrentConfiguration handed out
  // and passes it back; a refused change leaves that record showing what is in force.
  TFaacEncConfiguration next = *AConfig;
  next.version = FAAC_CFG_VERSION;
  // A configuration is fixed once the codec runs; before that, a new one replaces the
  // codec opened for an earlier one.
  TAvCodecContextPtr codec;
  if (!AHandle->Started && ConfigurationSupported(next, AHandle->SampleRate))
    codec = OpenCodec(AHandle->SampleRate, AHandle->NumChannels, next);
  if (!codec) {
    AHandle->Config = AHandle->Applied;
    return 0;
  }
  AHandle->Codec = std::move(codec);
  AHandle->Applied = next;
  AHandle->Config = next;
  return 1;
}

int faacEncEncode(faacEncHandle AHandle, const int16_t* AInputBuffer, unsigned int ASamplesInput,
                  uint8_t* AOutputBuffer, unsigned int ABufferSize) {
  if (!AHandle || !AOutputBuffer) return -1;
  AVCodecContext* ctx = OpenedCodec(AHandle);
  if (!ctx) return -1;
  const unsigned int channels = AHandle->NumChannels;

  if (ASamplesInput == 0) {
    if (AHandle->Drained) return 0;
    if (!AHandle->Draining) {
      if (avcodec_send_frame(ctx, nullptr) < 0) return -1;
      AHandle->Draining = true;
      AHandle->Started = true;
    }
  } else {
    if (AHandle->Draining || !AInputBuffer) return -1;
    if (ASamplesInput > static_cast<unsigned int>(AacFrameLength) * channels) return -1;
    AVFrame* frame = AHandle->Frame.get();
    if (av_frame_make_writable(frame) < 0) return -1;
    const unsigned int perChannel = ASamplesInput / channels;
    constexpr float Scale = 1.0f / 32768.0f;
    for (unsigned int c = 0; c < channels; ++c) {
      auto* out = reinterpret_cast<float*>(frame->data[c]);
      const int16_t* in = AInputBuffer + c;
      unsigned int i = 0;
      for (; i < perChannel; ++i) out[i] = static_cast<float>(in[i * channels]) * Scale;
      for (; i < static_cast<unsigned int>(AacFrameLength); ++i) out[i] = 0.0f;
    }
    frame->pts = AHandle->NextPts;
    AHandle->NextPts += AacFrameLength;
    if (avcodec_send_frame(ctx, frame) < 0) return -1;
    AHandle->Started = true;
  }

  AVPacket* pkt = AHandle->Packet.get();
  int ret = avcodec_receive_packet(ctx, pkt);
  if (ret == AVERROR(EAGAIN)) return 0;
  if (ret == AVERROR_EOF) {
    AHandle->Drained = true;
    return 0;
  }
  if (ret < 0) return -1;
  int size = pkt->size;
  if (size < 0 || static_cast<unsigned int>(size) > ABufferSize) {
    av_packet_unref(pkt);
    return -1;
  }
  if (size > 0) std::memcpy(AOutputBuffer, pkt->data, static_cast<size_t>(size));
  av_packet_unref(pkt);
  return size;
}

int faacEncGetDecoderSpecificInfo(faacEncHandle AHandle, unsigned char** ABuffer,
                                  unsigned long* ASizeOfDecoderSpecificInfo) {
  if (!AHandle || !ABuffer || !ASizeOfDecoderSpecificInfo) return -1;
  *ABuffer = AHandle->SpecificInfo;
  *ASizeOfDecoderSpecificInfo = sizeof(AHandle->SpecificInfo);
  return 0;
}

int faacEncGetDelay(faacEncHandle AHandle) {
  if (!AHandle) return 0;
  AVCodecContext* ctx = OpenedCodec(AHandle);
  return ctx ? ctx->initial_padding : 0;
}

int faacEncClose(faacEncHandle AHandle) {
  delete AHandle;
  return 0;
}
