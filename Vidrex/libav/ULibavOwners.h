// Owners of libavcodec's records: each frees its record the way libavcodec asks, so a
// record lives exactly as long as its owner. Shared by every user of libavcodec here (the
// decoding library, the AAC encoder, the recording generator's encoders).
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

struct TAvCodecContextFree {
  void operator()(AVCodecContext* AContext) const { avcodec_free_context(&AContext); }
};
struct TAvFrameFree {
  void operator()(AVFrame* AFrame) const { av_frame_free(&AFrame); }
};
struct TAvPacketFree {
  void operator()(AVPacket* APacket) const { av_packet_free(&APacket); }
};
struct TAvBufferFree {
  void operator()(AVBufferRef* ABuffer) const { av_buffer_unref(&ABuffer); }
};

using TAvCodecContextPtr = std::unique_ptr<AVCodecContext, TAvCodecContextFree>;
using TAvFramePtr = std::unique_ptr<AVFrame, TAvFrameFree>;
using TAvPacketPtr = std::unique_ptr<AVPacket, TAvPacketFree>;
using TAvBufferPtr = std::unique_ptr<AVBufferRef, TAvBufferFree>;
