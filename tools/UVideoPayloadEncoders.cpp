#include "UVideoPayloadEncoders.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "conversion/UQorraLib.h"
#include "conversion/URecordProbe.h"
#include "ULibavOwners.h"

void DrawTestPicture(int AWidth, int AHeight, uint32_t AIndex, std::vector<uint8_t>& AI420) {
  const int cw = AWidth / 2, ch = AHeight / 2;
  AI420.resize(static_cast<size_t>(AWidth) * AHeight + 2 * static_cast<size_t>(cw) * ch);
  uint8_t* y = AI420.data();
  uint8_t* u = y + static_cast<size_t>(AWidth) * AHeight;
  uint8_t* v = u + static_cast<size_t>(cw) * ch;
  const int shift = static_cast<int>(AIndex * 4);
  const int boxSize = AHeight / 5;
  const int boxX = static_cast<int>((AIndex * 7) % static_cast<uint32_t>(AWidth - boxSize));
  const int boxY = static_cast<int>((AIndex * 3) % static_cast<uint32_t>(AHeight - boxSize));
  for (int r = 0; r < AHeight; ++r) {
    for (int c = 0; c < AWidth; ++c) {
      int value = 16 + (((c + shift) * 219 / AWidth) + r * 60 / AHeight) % 220;
      bool inBox = c >= boxX && c < boxX + boxSize && r >= boxY && r < boxY + boxSize;
      y[static_cast<size_t>(r) * AWidth + c] = static_cast<uint8_t>(inBox ? 235 : value);
    }
  }
  for (int r = 0; r < ch; ++r) {
    for (int c = 0; c < cw; ++c) {
      int band = ((c + shift / 2) * 8 / cw) % 8;
      u[static_cast<size_t>(r) * cw + c] = static_cast<uint8_t>(64 + band * 16);
      v[static_cast<size_t>(r) * cw + c] = static_cast<uint8_t>(200 - (r * 128 / ch));
    }
  }
}

void DrawPictureNumber(int AWidth, uint32_t AIndex, std::vector<uint8_t>& AI420) {
  for (int bit = 0; bit < 16; ++bit) {
    const uint8_t value = (AIndex >> (15 - bit)) & 1 ? 235 : 16;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) AI420[static_cast<size_t>(r) * AWidth + bit * 8 + c] = value;
  }
}

int ReadPictureNumber(const uint8_t* ALuma, int AWidth) {
  int number = 0;
  for (int bit = 0; bit < 16; ++bit) {
    int sum = 0;
    for (int r = 2; r < 6; ++r)
      for (int c = 2; c < 6; ++c) sum += ALuma[r * AWidth + bit * 8 + c];
    const int mean = sum / 16;
    if (mean > 96 && mean < 160) return -1;
    number = number * 2 + (mean >= 160 ? 1 : 0);
  }
  return number;
}

// A picture white all over (limited-range luma, no colour).
void WhitePicture(int AWidth, int AHeight, std::vector<uint8_t>& AI420) {
  const size_t luma = static_cast<size_t>(AWidth) * AHeight;
  std::fill(AI420.begin(), AI420.begin() + static_cast<long>(luma), 235);
  std::fill(AI420.begin() + static_cast<long>(luma), AI420.end(), 128);
}

void AddPictureGrain(int AWidth, int AHeight, uint32_t AIndex, uint8_t AAmplitude,
                     std::vector<uint8_t>& AI420) {
  if (AAmplitude == 0) return;
  const size_t luma = static_cast<size_t>(AWidth) * AHeight;
  const uint32_t span = 2u * AAmplitude + 1;
  uint32_t x = AIndex * 2654435761u + 977u;
  for (size_t i = 0; i < luma && i < AI420.size(); ++i) {
    x = x * 1664525u + 1013904223u;
    int v = AI420[i] + static_cast<int>((x >> 16) % span) - AAmplitude;
    AI420[i] = static_cast<uint8_t>(v < 16 ? 16 : v > 235 ? 235 : v);
  }
}

namespace {

// One libavcodec encoder (Motion JPEG, MPEG-4 part 2, H.265) producing one packet per picture.
class TAvPayloadEncoder {
 public:
  bool Open(const TRecordingSpec& ASpec, int AWidth, int AHeight, std::string& AError) {
    FWidth = AWidth;
    FHeight = AHeight;
    FKeyInterval = ASpec.KeyInterval ? ASpec.KeyInterval : 1;
    FGrain = ASpec.Grain;
    FFlash = ASpec.FlashFrame;
    FNumber = ASpec.NumberPictures;
    const AVCodec* codec = nullptr;
    AVPixelFormat pix = AV_PIX_FMT_YUV420P;
    if (ASpec.VideoType == OmVideoType_MJPEG) {
      codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
      pix = AV_PIX_FMT_YUVJ420P;
      FFullRange = true;
    } else if (ASpec.VideoType == OmVideoType_MPEG4) {
      codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    } else if (ASpec.VideoType == OmVideoType_H265) {
      codec = avcodec_find_encoder_by_name("libx265");
    }
    if (!codec) {
      AError = "no encoder for video type " + std::to_string(ASpec.VideoType);
      return false;
    }
    FContext.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = FContext.get();
    c->width = AWidth;
    c->height = AHeight;
    c->pix_fmt = pix;
    c->time_base = AVRational{1, static_cast<int>(ASpec.FrameRate ? ASpec.FrameRate : 25)};
    c->framerate = AVRational{static_cast<int>(ASpec.FrameRate ? ASpec.FrameRate : 25), 1};
    c->gop_size = static_cast<int>(FKeyInterval);
    c->max_b_frames = 0;
    c->thread_count = 1;
    if (ASpec.VideoType == OmVideoType_MJPEG) {
      c->qmin = c->qmax = 2;
    } else if (ASpec.VideoType == OmVideoType_MPEG4) {
      c->bit_rate = 0;
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = FF_QP2LAMBDA * 2;
    } else if (ASpec.VideoType == OmVideoType_H265) {
      av_opt_set(c->priv_data, "preset", "ultrafast", 0);
      av_opt_set(c->priv_data, "tune", "zerolatency", 0);
      av_opt_set(c->priv_data, "x265-params",
                 ("log-level=error:bframes=0:repeat-headers=1:keyint=" + std::to_string(FKeyInterval) +
                  ":min-keyint=" + std::to_string(FKeyInterval) + ":scenecut=0:crf=16")
                     .c_str(),
                 0);
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
      AError = std::string("cannot open the encoder ") + codec->name;
      return false;
    }
    FFrame.reset(av_frame_alloc());
    FFrame->format = pix;
    FFrame->width = AWidth;
    FFrame->height = AHeight;
    if (av_frame_get_buffer(FFrame.get(), 0) < 0) {
      AError = "cannot allocate a picture";
      return false;
    }
    FPacket.reset(av_packet_alloc());
    return true;
  }

  std::vector<uint8_t> Encode(uint32_t AIndex, bool& AKeyFrame) {
    DrawTestPicture(FWidth, FHeight, AIndex, FPicture);
    AddPictureGrain(FWidth, FHeight, AIndex, FGrain, FPicture);
    if (static_cast<int64_t>(AIndex) == FFlash) WhitePicture(FWidth, FHeight, FPicture);
    if (FNumber) DrawPictureNumber(FWidth, AIndex, FPicture);
    av_frame_make_writable(FFrame.get());
    const uint8_t* planes[3] = {FPicture.data(), FPicture.data() + static_cast<size_t>(FWidth) * FHeight,
                                FPicture.data() + static_cast<size_t>(FWidth) * FHeight * 5 / 4};
    const int widths[3] = {FWidth, FWidth / 2, FWidth / 2};
    const int heights[3] = {FHeight, FHeight / 2, FHeight / 2};
    for (int p = 0; p < 3; ++p)
      for (int r = 0; r < heights[p]; ++r)
        std::memcpy(FFrame->data[p] + static_cast<ptrdiff_t>(r) * FFrame->linesize[p],
                    planes[p] + static_cast<size_t>(r) * widths[p], static_cast<size_t>(widths[p]));
    if (FFullRange) {
      // Motion JPEG codes full-range samples: the same picture in that scale.
      for (int p = 0; p < 3; ++p)
        for (int r = 0; r < heights[p]; ++r) {
          uint8_t* row = FFrame->data[p] + static_cast<ptrdiff_t>(r) * FFrame->linesize[p];
          for (int c = 0; c < widths[p]; ++c) {
            int v = p == 0 ? (row[c] - 16) * 255 / 219 : (row[c] - 128) * 255 / 224 + 128;
            row[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
          }
        }
    }
    FFrame->pts = AIndex;
    bool key = AIndex % FKeyInterval == 0;
    FFrame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    FFrame->key_frame = key ? 1 : 0;
    std::vector<uint8_t> out;
    AKeyFrame = key;
    if (avcodec_send_frame(FContext.get(), FFrame.get()) < 0) return out;
    while (avcodec_receive_packet(FContext.get(), FPacket.get()) == 0) {
      out.insert(out.end(), FPacket->data, FPacket->data + FPacket->size);
      AKeyFrame = (FPacket->flags & AV_PKT_FLAG_KEY) != 0;
      av_packet_unref(FPacket.get());
    }
    return out;
  }

 private:
  TAvCodecContextPtr FContext;
  TAvFramePtr FFrame;
  TAvPacketPtr FPacket;
  std::vector<uint8_t> FPicture;
  int FWidth = 0, FHeight = 0;
  uint32_t FKeyInterval = 1;
  uint8_t FGrain = 0;
  int64_t FFlash = -1;
  bool FNumber = false;
  bool FFullRange = false;
};

// H.264 as the recorder's own encoder library makes it. Its set-up is fixed, so a key
// frame is forced by opening the encoder anew, which starts with an IDR picture and its
// parameter sets.
class TQorraPayloadEncoder {
 public:
  bool Open(const TRecordingSpec& ASpec, int AWidth, int AHeight, std::string& AError) {
    FWidth = AWidth;
    FHeight = AHeight;
    FFps = static_cast<int32_t>(ASpec.FrameRate ? ASpec.FrameRate : 25);
    FKeyInterval = ASpec.KeyInterval ? ASpec.KeyInterval : 1;
    FGrain = ASpec.Grain;
    FFlash = ASpec.FlashFrame;
    FNumber = ASpec.NumberPictures;
    if (!FEncoder.Valid() || !FEncoder.Open(AWidth, AHeight, FFps, X264_CSP_I420)) {
      AError = "cannot open the H.264 encoder library";
      return false;
    }
    return true;
  }

  std::vector<uint8_t> Encode(uint32_t AIndex, bool& AKeyFrame) {
    AKeyFrame = AIndex % FKeyInterval == 0;
    if (AKeyFrame && AIndex > 0) {
      FEncoder.Close();
      FEncoder.Open(FWidth, FHeight, FFps, X264_CSP_I420);
    }
    DrawTestPicture(FWidth, FHeight, AIndex, FPicture);
    AddPictureGrain(FWidth, FHeight, AIndex, FGrain, FPicture);
    if (static_cast<int64_t>(AIndex) == FFlash) WhitePicture(FWidth, FHeight, FPicture);
    if (FNumber) DrawPictureNumber(FWidth, AIndex, FPicture);
    std::vector<uint8_t> out;
    FEncoder.Encode(FPicture, out);
    return out;
  }

 private:
  TQorraPictureEncoder FEncoder;
  std::vector<uint8_t> FPicture;
  int FWidth = 0, FHeight = 0;
  int32_t FFps = 25;
  uint32_t FKeyInterval = 1;
  uint8_t FGrain = 0;
  int64_t FFlash = -1;
  bool FNumber = false;
};

}  // namespace

TVideoPayloadSource EncodedPayloadSource(const TRecordingSpec& ASpec, std::string& AError) {
  av_log_set_level(AV_LOG_ERROR);
  uint32_t w = 0, h = 0;
  if (!TVyrRecordProbe::GetVideoWidthHeight(ASpec.VideoMode, w, h)) {
    AError = "unknown resolution code " + std::to_string(ASpec.VideoMode);
    return nullptr;
  }
  if (ASpec.VideoType == OmVideoType_H264) {
    auto qorra = std::make_shared<TQorraPayloadEncoder>();
    if (!qorra->Open(ASpec, static_cast<int>(w), static_cast<int>(h), AError)) return nullptr;
    return [qorra](uint32_t AIndex, bool& AKeyFrame) { return qorra->Encode(AIndex, AKeyFrame); };
  }
  auto encoder = std::make_shared<TAvPayloadEncoder>();
  if (!encoder->Open(ASpec, static_cast<int>(w), static_cast<int>(h), AError)) return nullptr;
  return [encoder](uint32_t AIndex, bool& AKeyFrame) { return encoder->Encode(AIndex, AKeyFrame); };
}

bool SaveEncodedRecording(const TRecordingSpec& ASpec, const std::string& APath, std::string& AError,
                          const TFrameWrittenHook& AAfterFrame) {
  TVideoPayloadSource source = EncodedPayloadSource(ASpec, AError);
  if (!source) return false;
  TVyrRecordBuilder builder;
  GenerateRecording(ASpec, source, builder, AAfterFrame);
  if (builder.SaveToFile(APath)) return true;
  AError = "cannot write " + APath;
  return false;
}
