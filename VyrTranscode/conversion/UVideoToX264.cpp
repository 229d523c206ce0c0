#include "conversion/UVideoToX264.h"


#include "conversion/UVidrexLIB.h"
#include "support/uFunctionsLib.h"

TVideoToX264::TVideoToX264() {
  FCurInputEncType = 255;
  FFps = 30;
  FVidrexHandle = OMVEX_PLAY_SDK_Init();
  // The encoder handle is an address: it is logged whole.
  PrintDebugString(FormatStr("VideoToX264: Init Handle: %lld, %d",
                             static_cast<long long>(FEncoder.Handle()), FVidrexHandle));
  FYuvBuffer.resize(YUV_BUFFER_SIZE);
}

TVideoToX264::~TVideoToX264() {
  if (FVidrexHandle != 0) OMVEX_PLAY_SDK_Destory(FVidrexHandle);
}

void TVideoToX264::ResetX264Encoder(int32_t AWidth, int32_t AHeight) {
  if (!FEncoder.Valid()) return;
  // One byte per pixel is the room for one encoded picture.
  FEncoder.Open(AWidth, AHeight, FFps, X264_CSP_YV12, static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight));
  PrintDebugString(FormatStr("VideoToX264: open encoder[%d, %d], result: %d", AWidth, AHeight,
                             FEncoder.LastOpenResult()));
}

int32_t TVideoToX264::DecodeFrameToYUV(const uint8_t* FrameBuffer, int32_t ASize,
                                       uint8_t AInputEncType, bool& ASizeChanged) {
  ASizeChanged = false;
  if (FVidrexHandle == 0 || ASize <= 0 || FrameBuffer == nullptr) return 0;
  if (AInputEncType != FCurInputEncType) {
    OMVEX_PLAY_SDK_StopVideo(FVidrexHandle);
    OMVEX_PLAY_SDK_StartVideo(FVidrexHandle, 0, 0, 0, AInputEncType);
    FCurInputEncType = AInputEncType;
  }
  int32_t lWidth = 0;
  int32_t lHeight = 0;
  const int32_t n = OMVEX_PLAY_SDK_DecodeOneFrame(FVidrexHandle, FrameBuffer, ASize, 0,
                                                  FYuvBuffer.data(),
                                                  static_cast<int32_t>(FYuvBuffer.size()),
                                                  &lWidth, &lHeight);
  if (n <= 0) return 0;
  if (lWidth != FCurWidth || lHeight != FCurHeight) {
    ASizeChanged = true;
    FCurWidth = lWidth;
    FCurHeight = lHeight;
    PrintDebugString(
        FormatStr("VideoToX264: Decode Frame[%d, %d], size: %d", lWidth, lHeight, n));
  }
  return n;
}

bool TVideoToX264::TranscodeToX264(const uint8_t* FrameBuffer, int32_t ASize,
                                   uint8_t AInputEncType, std::vector<uint8_t>& AOutFrame) {
  if (!FEncoder.Valid()) return false;
  int32_t lRet;
  if (FrameBuffer == nullptr || ASize == 0) {
    lRet = FEncoder.Drain(FEncoded);
  } else {
    bool lChanged = false;
    const int32_t n = DecodeFrameToYUV(FrameBuffer, ASize, AInputEncType, lChanged);
    if (n <= 0) return false;
    if (lChanged) ResetX264Encoder(FCurWidth, FCurHeight);
    lRet = FEncoder.Encode(FYuvBuffer.data(), static_cast<size_t>(n), FEncoded);
  }
  if (lRet > 0) {
    AOutFrame.swap(FEncoded);
    return true;
  }
  PrintDebugString(FormatStr("VideoToX264: Encode No Out, ret=%d", lRet));
  return false;
}
