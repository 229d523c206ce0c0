// One decoder handle of the library: a libavcodec decoder for one codec at a time that
// turns each compressed frame into a YV12 picture in the caller's buffer.
#pragma once

#include <cstdint>
#include <memory>

#include "UYv12Picture.h"

struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVBufferRef;

class TVidrexDecoder {
 public:
  TVidrexDecoder();
  ~TVidrexDecoder();
  TVidrexDecoder(const TVidrexDecoder&) = delete;
  TVidrexDecoder& operator=(const TVidrexDecoder&) = delete;

  // False when the frame and packet records could not be allocated.
  bool Valid() const { return FFrame && FPacket; }

  // Starts decoding one codec (VIDREX_CODEC_*), stopping the current one. 0 or a negative
  // VIDREX_ERR_* code.
  int32_t Start(uint8_t ACodec);
  void Stop();

  // As OMVEX_PLAY_SDK_DecodeOneFrame.
  int32_t Decode(const uint8_t* AFrame, int32_t AFrameSize, uint8_t* AOut, int32_t AOutCapacity,
                 int32_t* AWidth, int32_t* AHeight);

 private:
  bool CopyInput(const uint8_t* AFrame, int32_t AFrameSize);
  bool SendInput();

  struct TContextFree {
    void operator()(AVCodecContext* AContext) const;
  };
  struct TFrameFree {
    void operator()(AVFrame* AFrame) const;
  };
  struct TPacketFree {
    void operator()(AVPacket* APacket) const;
  };
  struct TBufferFree {
    void operator()(AVBufferRef* ABuffer) const;
  };
  std::unique_ptr<AVCodecContext, TContextFree> FContext;
  std::unique_ptr<AVFrame, TFrameFree> FFrame;
  std::unique_ptr<AVPacket, TPacketFree> FPacket;
  // The current frame's bytes followed by the zero padding the decoders require; reused
  // from frame to frame while no decoder still holds it.
  std::unique_ptr<AVBufferRef, TBufferFree> FInput;
  TYv12Picture FPicture;
};
