// One decoder handle of the library: a libavcodec decoder for one codec at a time that
// turns each compressed frame into a YV12 picture in the caller's buffer.
#pragma once

#include <cstdint>
#include <memory>

#include "ULibavOwners.h"
#include "UYv12Picture.h"

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

  TAvCodecContextPtr FContext;
  TAvFramePtr FFrame;
  TAvPacketPtr FPacket;
  // The current frame's bytes followed by the zero padding the decoders require; reused
  // from frame to frame while no decoder still holds it.
  TAvBufferPtr FInput;
  TYv12Picture FPicture;
};
