// The video transcoder: turns compressed record video frames of codecs other than H.264
// into H.264 for the MP4 writer. Each frame is decoded into a YV12 picture by the decoding
// library and encoded by the encoder library; the encoder is opened at the first picture
// and reopened whenever the picture size changes.
//
// Created, used and freed by one thread; it has no locks. Failures are logged and
// reported as "no output", never raised.
#pragma once

#include <cstdint>
#include <vector>

#include "conversion/UQorraLib.h"

class TVideoToX264 {
 public:
  TVideoToX264();
  ~TVideoToX264();
  TVideoToX264(const TVideoToX264&) = delete;
  TVideoToX264& operator=(const TVideoToX264&) = delete;

  // Transcodes one compressed frame of codec AInputEncType (the record's video encoding
  // type). True when AOutFrame now holds the Annex B NAL units of one encoded picture;
  // false leaves AOutFrame as it was. A null FrameBuffer or an ASize of 0 is a drain call,
  // which takes out a picture still held by the encoder (AInputEncType is then ignored).
  bool TranscodeToX264(const uint8_t* FrameBuffer, int32_t ASize, uint8_t AInputEncType,
                       std::vector<uint8_t>& AOutFrame);

  // Frame rate given to the encoder at every open; 30 until set. Set it before the first
  // frame.
  int32_t FPS() const { return FFps; }
  void SetFPS(int32_t AValue) { FFps = AValue; }

  // Size of the decode buffer: the largest picture the transcoder takes.
  static constexpr size_t YUV_BUFFER_SIZE = 16777216;

 private:
  void ResetX264Encoder(int32_t AWidth, int32_t AHeight);
  int32_t DecodeFrameToYUV(const uint8_t* FrameBuffer, int32_t ASize, uint8_t AInputEncType,
                           bool& ASizeChanged);

  std::vector<uint8_t> FYuvBuffer;
  TQorraPictureEncoder FEncoder;
  std::vector<uint8_t> FEncoded;
  int32_t FVidrexHandle = 0;
  uint8_t FCurInputEncType = 255;
  int32_t FCurWidth = 0;
  int32_t FCurHeight = 0;
  int32_t FFps = 30;
};
