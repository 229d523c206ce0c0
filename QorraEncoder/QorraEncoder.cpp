// The encoder library: one x264 encoder per handle, behind five C exports.

#include "QorraEncoder.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

extern "C" {
#include <x264.h>
}

namespace {

// Everything a handle owns. The x264 encoder exists between a successful open and the next
// close. The input picture owns no sample memory: its planes point into the caller's buffer
// for the length of one encode call, since x264 copies every input picture into a frame of
// its own before it returns.
struct EncoderContext {
  x264_t* encoder = nullptr;
  std::unique_ptr<x264_picture_t> picIn;
  std::unique_ptr<x264_picture_t> picOut;
  std::unique_ptr<x264_param_t> param;
  int32_t width = 0;
  int32_t height = 0;
  int32_t lumaSize = 0;
  // Whether the chroma of the open colour space is one interleaved plane (NV12, NV21).
  bool interleavedChroma = false;
};

EncoderContext* ContextOf(intptr_t handle) { return reinterpret_cast<EncoderContext*>(handle); }

// The x264 colour space for one of the library's codes; X264_CSP_NONE when unknown.
int X264ColourSpace(uint8_t csp) {
  switch (csp) {
    case QORRA_CSP_I420:
      return X264_CSP_I420;
    case QORRA_CSP_YV12:
      return X264_CSP_YV12;
    case QORRA_CSP_NV12:
      return X264_CSP_NV12;
    case QORRA_CSP_NV21:
      return X264_CSP_NV21;
    default:
      return X264_CSP_NONE;
  }
}

void CloseEncoder(EncoderContext& ctx) {
  if (ctx.encoder == nullptr) return;
  x264_encoder_close(ctx.encoder);
  ctx.encoder = nullptr;
}

// Points the encoder's input planes at the caller's picture (no copy: x264 only reads it).
void PointPicture(EncoderContext& ctx, const uint8_t* data) {
  x264_image_t& img = ctx.picIn->img;
  uint8_t* base = const_cast<uint8_t*>(data);
  const size_t luma = static_cast<size_t>(ctx.lumaSize);
  img.plane[0] = base;
  img.i_stride[0] = ctx.width;
  img.plane[1] = base + luma;
  if (ctx.interleavedChroma) {
    // Both chroma blocks follow the luma directly, as one interleaved plane.
    img.i_plane = 2;
    img.i_stride[1] = ctx.width;
    img.plane[2] = nullptr;
  } else {
    img.i_plane = 3;
    img.i_stride[1] = ctx.width / 2;
    img.plane[2] = base + luma + luma / 4;
    img.i_stride[2] = ctx.width / 2;
  }
}

}  // namespace

extern "C" {

QORRA_API intptr_t QorraInit(void) {
  std::unique_ptr<EncoderContext> ctx(new (std::nothrow) EncoderContext());
  if (!ctx) return 0;
  ctx->picIn.reset(new (std::nothrow) x264_picture_t());
  ctx->picOut.reset(new (std::nothrow) x264_picture_t());
  ctx->param.reset(new (std::nothrow) x264_param_t());
  if (!ctx->picIn || !ctx->picOut || !ctx->param) return 0;
  return reinterpret_cast<intptr_t>(ctx.release());
}

QORRA_API void QorraDestroy(intptr_t handle) {
  if (handle == 0) return;
  std::unique_ptr<EncoderContext> ctx(ContextOf(handle));
  // An encoder still open is closed rather than leaked.
  CloseEncoder(*ctx);
}

QORRA_API int32_t QorraOpen(intptr_t handle, int32_t width, int32_t height, int32_t fps,
                            uint8_t csp) {
  if (handle == 0) return 0;
  EncoderContext& ctx = *ContextOf(handle);
  // Opening an open handle replaces its encoder instead of leaking it.
  CloseEncoder(ctx);

  ctx.width = width;
  ctx.height = height;
  const int64_t luma = static_cast<int64_t>(width) * height;
  ctx.lumaSize = (width > 0 && height > 0 && luma <= std::numeric_limits<int32_t>::max())
                     ? static_cast<int32_t>(luma)
                     : 0;
  const int x264Csp = X264ColourSpace(csp);
  if (x264Csp == X264_CSP_NONE || ctx.lumaSize == 0) return -1;
  // Every colour space offered is 4:2:0, which needs even sizes. Refused here rather than by
  // x264, whose refusal loses the copy of the parameters it made for itself.
  if ((width % 2) != 0 || (height % 2) != 0) return -1;
  ctx.interleavedChroma = x264Csp == X264_CSP_NV12 || x264Csp == X264_CSP_NV21;

  x264_param_t& param = *ctx.param;
  x264_param_default_preset(&param, "veryfast", "zerolatency");
  // x264 prints informational lines at every open and close by default; only errors are
  // of interest to the program that uses this library.
  param.i_log_level = X264_LOG_ERROR;
  param.i_csp = x264Csp;
  param.i_width = width;
  param.i_height = height;
  param.b_vfr_input = 0;
  param.b_repeat_headers = 1;
  param.b_annexb = 1;
  param.i_fps_num = fps;
  param.i_fps_den = 1;
  param.i_threads = 1;
  param.i_slice_count = 1;
  param.i_slice_count_max = 1;
  param.rc.i_rc_method = X264_RC_CRF;
  param.rc.f_rf_constant = 24.0f;
  x264_param_apply_profile(&param, "baseline");

  ctx.encoder = x264_encoder_open(&param);
  if (ctx.encoder == nullptr) return -1;
  x264_picture_init(ctx.picOut.get());
  x264_picture_init(ctx.picIn.get());
  ctx.picIn->img.i_csp = x264Csp;
  return 0;
}

QORRA_API void QorraClose(intptr_t handle) {
  if (handle == 0) return;
  CloseEncoder(*ContextOf(handle));
}

QORRA_API int32_t QorraEncode(intptr_t handle, const uint8_t* data, int32_t dataLen,
                              uint8_t* out, int32_t outLen) {
  if (handle == 0) return 0;
  if (out == nullptr || outLen == 0) return QORRA_ERR_NO_OUTPUT_BUFFER;
  EncoderContext& ctx = *ContextOf(handle);
  if (ctx.encoder == nullptr) return QORRA_ERR_NOT_OPEN;

  x264_nal_t* nals = nullptr;
  int nalCount = 0;
  int ret;
  if (data == nullptr || dataLen == 0) {
    ret = x264_encoder_encode(ctx.encoder, &nals, &nalCount, nullptr, ctx.picOut.get());
    if (ret <= 0) return ret;
  } else {
    if (dataLen < (ctx.lumaSize / 2) * 3) return QORRA_ERR_SHORT_INPUT;
    PointPicture(ctx, data);
    ret = x264_encoder_encode(ctx.encoder, &nals, &nalCount, ctx.picIn.get(), ctx.picOut.get());
    if (ret < 0) return ret;
  }

  int64_t total = 0;
  for (int i = 0; i < nalCount; ++i) {
    const int payload = nals[i].i_payload;
    if (total + payload > outLen) return QORRA_ERR_OUTPUT_TOO_SMALL;
    std::memcpy(out + total, nals[i].p_payload, static_cast<size_t>(payload));
    total += payload;
  }
  return static_cast<int32_t>(total);
}

}  // extern "C"
