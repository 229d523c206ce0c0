// The binding of the H.264 encoder library (libQorraEncoder.so): its five exports, linked
// by name, its colour-space codes, and TQorraPictureEncoder, an owning wrapper for code
// that simply wants raw pictures encoded (tools that make recordings, benchmarks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Colour-space codes of QorraOpen (the encoder library's own numbering).
constexpr uint8_t X264_CSP_NONE = 0;
constexpr uint8_t X264_CSP_I420 = 1;
constexpr uint8_t X264_CSP_YV12 = 2;
constexpr uint8_t X264_CSP_NV12 = 3;
constexpr uint8_t X264_CSP_NV21 = 4;

// Encoder handle: the address of the library's encoder context, 0 = none.
using TQorraHandle = intptr_t;

extern "C" {
TQorraHandle QorraInit(void);
void QorraDestroy(TQorraHandle handle);
int32_t QorraOpen(TQorraHandle handle, int32_t width, int32_t height, int32_t fps, uint8_t csp);
void QorraClose(TQorraHandle handle);
int32_t QorraEncode(TQorraHandle handle, const uint8_t* data, int32_t dataLen, uint8_t* out,
                    int32_t outLen);
}

// One encoder handle, owned: opened for a picture size and frame rate, encoding planar
// 4:2:0 pictures to the NAL units of one H.264 picture each (Annex B, key pictures with
// parameter sets). The output room is large enough for any picture of the size.
class TQorraPictureEncoder {
 public:
  TQorraPictureEncoder();
  ~TQorraPictureEncoder();
  TQorraPictureEncoder(const TQorraPictureEncoder&) = delete;
  TQorraPictureEncoder& operator=(const TQorraPictureEncoder&) = delete;

  // False when the library could not make a handle.
  bool Valid() const { return FHandle != 0; }
  // Opens (or reopens) for pictures of AWidth x AHeight; false when refused (LastOpenResult
  // then tells QorraOpen's code). AOutputRoom: bytes of room for one encoded picture; 0 gives
  // room enough for any picture of the size.
  bool Open(int32_t AWidth, int32_t AHeight, int32_t AFps, uint8_t ACsp = X264_CSP_I420, size_t AOutputRoom = 0);
  int32_t LastOpenResult() const { return FLastOpenResult; }
  TQorraHandle Handle() const { return FHandle; }
  void Close();
  bool IsOpen() const { return FOpen; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Bytes of one input picture: width * height * 3 / 2.
  size_t PictureSize() const;

  // Encodes one picture of PictureSize() bytes. AOut receives the NAL units (empty when
  // there are none). The result is QorraEncode's: bytes written, 0, or a negative error.
  int32_t Encode(const uint8_t* APicture, size_t ASize, std::vector<uint8_t>& AOut);
  int32_t Encode(const std::vector<uint8_t>& APicture, std::vector<uint8_t>& AOut) {
    return Encode(APicture.data(), APicture.size(), AOut);
  }
  // Takes out a picture still held by the encoder, as Encode (QorraEncode's answer, also
  // when the encoder is not open).
  int32_t Drain(std::vector<uint8_t>& AOut);

 private:
  int32_t Finish(int32_t AResult, std::vector<uint8_t>& AOut);

  TQorraHandle FHandle;
  bool FOpen = false;
  int32_t FLastOpenResult = 0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::vector<uint8_t> FBuffer;
};
