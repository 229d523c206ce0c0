// Writes a decoded picture into a caller's buffer as YV12: the luma plane, then Cr, then
// Cb, rows packed, limited ("TV") range, as the H.264 encoder downstream expects.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

class TYv12Picture {
 public:
  TYv12Picture();
  ~TYv12Picture();
  TYv12Picture(const TYv12Picture&) = delete;
  TYv12Picture& operator=(const TYv12Picture&) = delete;

  // Converts the top-left AWidth x AHeight pixels (both even, at most the frame's size) of
  // AFrame into AOut, which must hold AWidth * AHeight * 3 / 2 bytes. False when the
  // frame's pixel format cannot be converted.
  bool Write(const AVFrame& AFrame, int AWidth, int AHeight, uint8_t* AOut);

 private:
  bool WriteScaled(const AVFrame& AFrame, int AWidth, int AHeight, uint8_t* AOut);

  struct TSwsFree {
    void operator()(SwsContext* AContext) const;
  };
  std::unique_ptr<SwsContext, TSwsFree> FSws;
  uint8_t FFullToLimitedLuma[256];
  uint8_t FFullToLimitedChroma[256];
};
