#include "UPictureMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

size_t Yuv420Size(int AWidth, int AHeight) {
  return static_cast<size_t>(AWidth) * static_cast<size_t>(AHeight) * 3 / 2;
}

std::vector<uint8_t> MakeMovingPicture(int AWidth, int AHeight, int AIndex) {
  std::vector<uint8_t> lPic(Yuv420Size(AWidth, AHeight));
  uint8_t* lY = lPic.data();
  uint8_t* lCb = lY + static_cast<size_t>(AWidth) * AHeight;
  uint8_t* lCr = lCb + static_cast<size_t>(AWidth / 2) * (AHeight / 2);
  const int lSquare = std::max(8, std::min(AWidth, AHeight) / 4);
  const int lSx = (AIndex * 3) % std::max(1, AWidth - lSquare);
  const int lSy = (AIndex * 2) % std::max(1, AHeight - lSquare);
  for (int y = 0; y < AHeight; ++y) {
    for (int x = 0; x < AWidth; ++x) {
      int v = 40 + (150 * x) / AWidth + (40 * y) / AHeight;
      if (x >= lSx && x < lSx + lSquare && y >= lSy && y < lSy + lSquare) v = 220;
      lY[static_cast<size_t>(y) * AWidth + x] = static_cast<uint8_t>(v);
    }
  }
  for (int y = 0; y < AHeight / 2; ++y) {
    for (int x = 0; x < AWidth / 2; ++x) {
      const size_t i = static_cast<size_t>(y) * (AWidth / 2) + x;
      lCb[i] = static_cast<uint8_t>(80 + (96 * y) / (AHeight / 2) + (AIndex % 8));
      lCr[i] = static_cast<uint8_t>(170 - (80 * x) / (AWidth / 2));
    }
  }
  return lPic;
}

std::vector<uint8_t> MakeSplitPicture(int AWidth, int AHeight, TYCbCr ALeft, TYCbCr ARight) {
  std::vector<uint8_t> lPic(Yuv420Size(AWidth, AHeight));
  uint8_t* lY = lPic.data();
  uint8_t* lCb = lY + static_cast<size_t>(AWidth) * AHeight;
  uint8_t* lCr = lCb + static_cast<size_t>(AWidth / 2) * (AHeight / 2);
  for (int y = 0; y < AHeight; ++y) {
    for (int x = 0; x < AWidth; ++x) {
      lY[static_cast<size_t>(y) * AWidth + x] = x < AWidth / 2 ? ALeft.Y : ARight.Y;
    }
  }
  for (int y = 0; y < AHeight / 2; ++y) {
    for (int x = 0; x < AWidth / 2; ++x) {
      const size_t i = static_cast<size_t>(y) * (AWidth / 2) + x;
      const bool lLeft = x < AWidth / 4;
      lCb[i] = lLeft ? ALeft.Cb : ARight.Cb;
      lCr[i] = lLeft ? ALeft.Cr : ARight.Cr;
    }
  }
  return lPic;
}

std::vector<uint8_t> SwapChromaPlanes(const std::vector<uint8_t>& APicture, int AWidth,
                                      int AHeight) {
  std::vector<uint8_t> lOut(APicture);
  const size_t lLuma = static_cast<size_t>(AWidth) * AHeight;
  const size_t lChroma = lLuma / 4;
  if (APicture.size() < lLuma + 2 * lChroma) return lOut;
  std::memcpy(lOut.data() + lLuma, APicture.data() + lLuma + lChroma, lChroma);
  std::memcpy(lOut.data() + lLuma + lChroma, APicture.data() + lLuma, lChroma);
  return lOut;
}

std::vector<uint8_t> InterleaveChroma(const std::vector<uint8_t>& AI420, int AWidth, int AHeight,
                                      bool AInterleaveCrFirst) {
  std::vector<uint8_t> lOut(AI420);
  const size_t lLuma = static_cast<size_t>(AWidth) * AHeight;
  const size_t lChroma = lLuma / 4;
  if (AI420.size() < lLuma + 2 * lChroma) return lOut;
  const uint8_t* lCb = AI420.data() + lLuma;
  const uint8_t* lCr = lCb + lChroma;
  for (size_t i = 0; i < lChroma; ++i) {
    lOut[lLuma + 2 * i] = AInterleaveCrFirst ? lCr[i] : lCb[i];
    lOut[lLuma + 2 * i + 1] = AInterleaveCrFirst ? lCb[i] : lCr[i];
  }
  return lOut;
}

double Psnr(const uint8_t* A, const uint8_t* B, size_t ASize) {
  if (ASize == 0) return 0.0;
  double lSum = 0.0;
  for (size_t i = 0; i < ASize; ++i) {
    const double d = static_cast<double>(A[i]) - static_cast<double>(B[i]);
    lSum += d * d;
  }
  if (lSum == 0.0) return 99.0;
  const double lMse = lSum / static_cast<double>(ASize);
  return 10.0 * std::log10(255.0 * 255.0 / lMse);
}

double PicturePsnr(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  if (A.size() != B.size() || A.empty()) return 0.0;
  return Psnr(A.data(), B.data(), A.size());
}

double PlaneMean(const uint8_t* APlane, int APlaneWidth, int AX, int AY, int AW, int AH) {
  if (AW <= 0 || AH <= 0) return 0.0;
  double lSum = 0.0;
  for (int y = AY; y < AY + AH; ++y) {
    for (int x = AX; x < AX + AW; ++x) lSum += APlane[static_cast<size_t>(y) * APlaneWidth + x];
  }
  return lSum / (static_cast<double>(AW) * AH);
}
