#include "conversion/UQorraLib.h"

#include <algorithm>
#include <cstring>
#include <limits>

// Included here only, so the compiler checks the declarations above against the library.
#include "QorraEncoder.h"

static_assert(X264_CSP_NONE == QORRA_CSP_NONE, "colour-space codes differ from the library");
static_assert(X264_CSP_I420 == QORRA_CSP_I420, "colour-space codes differ from the library");
static_assert(X264_CSP_YV12 == QORRA_CSP_YV12, "colour-space codes differ from the library");
static_assert(X264_CSP_NV12 == QORRA_CSP_NV12, "colour-space codes differ from the library");
static_assert(X264_CSP_NV21 == QORRA_CSP_NV21, "colour-space codes differ from the library");

TQorraPictureEncoder::TQorraPictureEncoder() : FHandle(QorraInit()) {}

TQorraPictureEncoder::~TQorraPictureEncoder() {
  if (FHandle == 0) return;
  QorraClose(FHandle);
  QorraDestroy(FHandle);
}

bool TQorraPictureEncoder::Open(int32_t AWidth, int32_t AHeight, int32_t AFps, uint8_t ACsp, size_t AOutputRoom) {
  Close();
  FLastOpenResult = QORRA_ERR_NOT_OPEN;
  if (FHandle == 0) return false;
  // A picture never needs more than its raw size plus the headers; twice the luma size
  // plus a margin leaves room to spare.
  const int64_t lRoom = AOutputRoom > 0 ? static_cast<int64_t>(AOutputRoom)
                                        : static_cast<int64_t>(AWidth) * AHeight * 2 + 65536;
  FLastOpenResult = QorraOpen(FHandle, AWidth, AHeight, AFps, ACsp);
  if (FLastOpenResult != 0 || lRoom > std::numeric_limits<int32_t>::max()) return false;
  FOpen = true;
  FWidth = AWidth;
  FHeight = AHeight;
  FBuffer.resize(static_cast<size_t>(lRoom));
  return true;
}

void TQorraPictureEncoder::Close() {
  if (!FOpen) return;
  QorraClose(FHandle);
  FOpen = false;
}

size_t TQorraPictureEncoder::PictureSize() const {
  return static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) / 2 * 3;
}

int32_t TQorraPictureEncoder::Encode(const uint8_t* APicture, size_t ASize,
                                     std::vector<uint8_t>& AOut) {
  if (!FOpen) return Finish(QORRA_ERR_NOT_OPEN, AOut);
  if (APicture == nullptr || ASize < PictureSize()) return Finish(QORRA_ERR_SHORT_INPUT, AOut);
  const int32_t lSize = static_cast<int32_t>(PictureSize());
  return Finish(QorraEncode(FHandle, APicture, lSize, FBuffer.data(),
                            static_cast<int32_t>(FBuffer.size())),
                AOut);
}

int32_t TQorraPictureEncoder::Drain(std::vector<uint8_t>& AOut) {
  // The library's own answer, also before the first open (no output room yet: -1).
  return Finish(QorraEncode(FHandle, nullptr, 0, FBuffer.data(), static_cast<int32_t>(FBuffer.size())), AOut);
}

int32_t TQorraPictureEncoder::Finish(int32_t AResult, std::vector<uint8_t>& AOut) {
  if (AResult > 0) {
    AOut.assign(FBuffer.begin(), FBuffer.begin() + AResult);
  } else {
    AOut.clear();
  }
  return AResult;
}
