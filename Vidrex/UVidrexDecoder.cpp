#include "UVidrexDecoder.h"

#include <cstring>

#include "Vidrex.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

constexpr int64_t MAX_PIXELS_MARGIN = 1 << 18;

AVCodecID CodecIdOf(uint8_t ACodec) {
  switch (ACodec) {
    case VIDREX_CODEC_MPEG4:
      return AV_CODEC_ID_MPEG4;
    case VIDREX_CODEC_H264:
      return AV_CODEC_ID_H264;
    case VIDREX_CODEC_MJPEG:
      return AV_CODEC_ID_MJPEG;
    case VIDREX_CODEC_H265:
      return AV_CODEC_ID_HEVC;
    default:
      return AV_CODEC_ID_NONE;
  }
}

}  // namespace

TVidrexDecoder::TVidrexDecoder() : FFrame(av_frame_alloc()), FPacket(av_packet_alloc()) {}

TVidrexDecoder::~TVidrexDecoder() { Stop(); }

int32_t TVidrexDecoder::Start(uint8_t ACodec) {
  Stop();
  const AVCodecID lId = CodecIdOf(ACodec);
  if (lId == AV_CODEC_ID_NONE) return VIDREX_ERR_CODEC;
  const AVCodec* lCodec = avcodec_find_decoder(lId);
  if (!lCodec) return VIDREX_ERR_CODEC;
  TAvCodecContextPtr lContext(avcodec_alloc_context3(lCodec));
  if (!lContext) return VIDREX_ERR_MEMORY;
  // A recorder's stream has no frame reordering: with low delay and a single thread each
  // frame's picture comes out of the call that decodes it.
  lContext->flags |= AV_CODEC_FLAG_LOW_DELAY;
  lContext->thread_count = 1;
  lContext->thread_type = 0;
  // The library never prints: the decoder's messages about damaged frames are moved
  // below the default log level (they show with a debug log level).
  lContext->log_level_offset = AV_LOG_DEBUG - AV_LOG_FATAL;
  if (avcodec_open2(lContext.get(), lCodec, nullptr) < 0) return VIDREX_ERR_CODEC;
  FContext = std::move(lContext);
  return 0;
}

void TVidrexDecoder::Stop() {
  FContext.reset();
  if (FFrame) av_frame_unref(FFrame.get());
  if (FPacket) av_packet_unref(FPacket.get());
}

bool TVidrexDecoder::CopyInput(const uint8_t* AFrame, int32_t AFrameSize) {
  const size_t lNeeded = static_cast<size_t>(AFrameSize) + AV_INPUT_BUFFER_PADDING_SIZE;
  if (!FInput || FInput->size < lNeeded || !av_buffer_is_writable(FInput.get())) {
    // Grow in steps, so a stream of slowly growing frames does not reallocate each time.
    const size_t lCapacity = lNeeded + lNeeded / 2;
    FInput.reset(av_buffer_alloc(lCapacity));
    if (!FInput) return false;
  }
  std::memcpy(FInput->data, AFrame, static_cast<size_t>(AFrameSize));
  std::memset(FInput->data + AFrameSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  return true;
}

bool TVidrexDecoder::SendInput() {
  int lRet = avcodec_send_packet(FContext.get(), FPacket.get());
  if (lRet == AVERROR(EAGAIN)) {
    // Pictures of earlier frames are still waiting: the newest frame wins.
    while (avcodec_receive_frame(FContext.get(), FFrame.get()) >= 0) av_frame_unref(FFrame.get());
    lRet = avcodec_send_packet(FContext.get(), FPacket.get());
  }
  av_packet_unref(FPacket.get());
  return lRet >= 0;
}

int32_t TVidrexDecoder::Decode(const uint8_t* AFrame, int32_t AFrameSize, uint8_t* AOut,
                               int32_t AOutCapacity, int32_t* AWidth, int32_t* AHeight) {
  if (!FContext) return VIDREX_ERR_NOT_STARTED;
  if (!AFrame || AFrameSize <= 0 || !AOut || AOutCapacity <= 0 || !AWidth || !AHeight) {
    return VIDREX_ERR_ARGUMENT;
  }
  if (!CopyInput(AFrame, AFrameSize)) return 0;
  AVPacket* lPacket = FPacket.get();
  lPacket->buf = av_buffer_ref(FInput.get());
  if (!lPacket->buf) return 0;
  lPacket->data = FInput->data;
  lPacket->size = AFrameSize;
  lPacket->flags = 0;

  // A frame that claims a picture far larger than the caller can take is refused before
  // the decoder allocates anything for it. The bound leaves room for the padding decoders
  // add to their pictures; a picture just too large is decoded and then refused below.
  FContext->max_pixels = static_cast<int64_t>(AOutCapacity) * 2 + MAX_PIXELS_MARGIN;
  if (!SendInput()) return 0;
  AVFrame* lFrame = FFrame.get();
  if (avcodec_receive_frame(FContext.get(), lFrame) < 0) return 0;

  const int lWidth = lFrame->width & ~1;
  const int lHeight = lFrame->height & ~1;
  const int64_t lBytes = static_cast<int64_t>(lWidth) * lHeight * 3 / 2;
  int32_t lResult = 0;
  if (lWidth > 0 && lHeight > 0 && lBytes <= AOutCapacity &&
      FPicture.Write(*lFrame, lWidth, lHeight, AOut)) {
    *AWidth = lWidth;
    *AHeight = lHeight;
    lResult = static_cast<int32_t>(lBytes);
  }
  av_frame_unref(lFrame);
  return lResult;
}
