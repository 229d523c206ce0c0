#include "UYv12Picture.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Limited range spans 219 luma and 224 chroma steps.
constexpr uint16_t LUMA_SCALE = 219;
constexpr uint16_t CHROMA_SCALE = 224;

// Pixel formats of the JPEG family are the full-range twins of the planar YUV formats.
AVPixelFormat WithoutFullRangeAlias(AVPixelFormat AFormat, bool& AFullRange) {
  switch (AFormat) {
    case AV_PIX_FMT_YUVJ420P:
      AFullRange = true;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      AFullRange = true;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      AFullRange = true;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      AFullRange = true;
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      AFullRange = true;
      return AV_PIX_FMT_YUV411P;
    default:
      return AFormat;
  }
}

void CopyPlane(const uint8_t* ASrc, int ASrcStride, uint8_t* ADst, int AWidth, int AHeight) {
  for (int y = 0; y < AHeight; ++y) {
    std::memcpy(ADst + static_cast<size_t>(y) * AWidth, ASrc + static_cast<ptrdiff_t>(y) * ASrcStride,
                static_cast<size_t>(AWidth));
  }
}

// 16 samples at a time, in 16-bit lanes.
typedef uint8_t TBytes16 __attribute__((vector_size(16)));
typedef uint16_t TWords16 __attribute__((vector_size(32)));

// Full range to limited range: 16 + round(v * AScale / 255), with AScale 219 for luma and
// 224 for chroma. The division by 255 is exact for every value here:
// x / 255 == (x + 1 + (x >> 8)) >> 8 for x < 65535.
inline TBytes16 ToLimited16(TBytes16 AValues, uint16_t AScale) {
  TWords16 x = __builtin_convertvector(AValues, TWords16) * AScale + 127;
  x = ((x + 1 + (x >> 8)) >> 8) + 16;
  return __builtin_convertvector(x, TBytes16);
}

void MapPlane(const uint8_t* ASrc, int ASrcStride, uint8_t* ADst, int AWidth, int AHeight,
              uint16_t AScale, const uint8_t* ATable) {
  for (int y = 0; y < AHeight; ++y) {
    const uint8_t* s = ASrc + static_cast<ptrdiff_t>(y) * ASrcStride;
    uint8_t* d = ADst + static_cast<size_t>(y) * AWidth;
    int x = 0;
    for (; x + 16 <= AWidth; x += 16) {
      TBytes16 lIn;
      std::memcpy(&lIn, s + x, sizeof lIn);
      const TBytes16 lOut = ToLimited16(lIn, AScale);
      std::memcpy(d + x, &lOut, sizeof lOut);
    }
    for (; x < AWidth; ++x) d[x] = ATable[s[x]];
  }
}

}  // namespace

void TYv12Picture::TSwsFree::operator()(SwsContext* AContext) const { sws_freeContext(AContext); }

TYv12Picture::TYv12Picture() {
  for (int v = 0; v < 256; ++v) {
    FFullToLimitedLuma[v] = static_cast<uint8_t>(16 + (v * LUMA_SCALE + 127) / 255);
    FFullToLimitedChroma[v] = static_cast<uint8_t>(16 + (v * CHROMA_SCALE + 127) / 255);
  }
}

TYv12Picture::~TYv12Picture() = default;

bool TYv12Picture::Write(const AVFrame& AFrame, int AWidth, int AHeight, uint8_t* AOut) {
  bool lFullRange = AFrame.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat lFormat =
      WithoutFullRangeAlias(static_cast<AVPixelFormat>(AFrame.format), lFullRange);
  if (lFormat != AV_PIX_FMT_YUV420P) return WriteScaled(AFrame, AWidth, AHeight, AOut);

  // Planar 4:2:0 already: the planes are copied (or mapped to the limited range) in
  // YV12 order.
  const size_t lLuma = static_cast<size_t>(AWidth) * AHeight;
  uint8_t* lCr = AOut + lLuma;
  uint8_t* lCb = lCr + lLuma / 4;
  const int cw = AWidth / 2, ch = AHeight / 2;
  if (lFullRange) {
    MapPlane(AFrame.data[0], AFrame.linesize[0], AOut, AWidth, AHeight, LUMA_SCALE,
             FFullToLimitedLuma);
    MapPlane(AFrame.data[2], AFrame.linesize[2], lCr, cw, ch, CHROMA_SCALE, FFullToLimitedChroma);
    MapPlane(AFrame.data[1], AFrame.linesize[1], lCb, cw, ch, CHROMA_SCALE, FFullToLimitedChroma);
  } else {
    CopyPlane(AFrame.data[0], AFrame.linesize[0], AOut, AWidth, AHeight);
    CopyPlane(AFrame.data[2], AFrame.linesize[2], lCr, cw, ch);
    CopyPlane(AFrame.data[1], AFrame.linesize[1], lCb, cw, ch);
  }
  return true;
}

bool TYv12Picture::WriteScaled(const AVFrame& AFrame, int AWidth, int AHeight, uint8_t* AOut) {
  bool lFullRange = AFrame.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat lFormat =
      WithoutFullRangeAlias(static_cast<AVPixelFormat>(AFrame.format), lFullRange);
  if (lFormat == AV_PIX_FMT_NONE || !sws_isSupportedInput(lFormat)) return false;
  SwsContext* lSws = sws_getCachedContext(FSws.release(), AWidth, AHeight, lFormat, AWidth,
                                          AHeight, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                          nullptr, nullptr);
  FSws.reset(lSws);
  if (!lSws) return false;
  // Keep the source's colour matrix; only the range changes, to limited.
  int* lInvTable = nullptr;
  int* lTable = nullptr;
  int lSrcRange = 0, lDstRange = 0, lBrightness = 0, lContrast = 0, lSaturation = 0;
  if (sws_getColorspaceDetails(lSws, &lInvTable, &lSrcRange, &lTable, &lDstRange, &lBrightness,
                               &lContrast, &lSaturation) >= 0) {
    sws_setColorspaceDetails(lSws, lInvTable, lFullRange ? 1 : 0, lTable, 0, lBrightness,
                             lContrast, lSaturation);
  }
  const size_t lLuma = static_cast<size_t>(AWidth) * AHeight;
  uint8_t* lDst[4] = {AOut, AOut + lLuma + lLuma / 4, AOut + lLuma, nullptr};
  const int lDstStride[4] = {AWidth, AWidth / 2, AWidth / 2, 0};
  const int lRows = sws_scale(lSws, AFrame.data, AFrame.linesize, 0, AHeight, lDst, lDstStride);
  return lRows > 0;
}
