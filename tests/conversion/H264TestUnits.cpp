#include "H264TestUnits.h"

void TBitWriter::Bit(uint32_t ABit) {
  if (FBitCount % 8 == 0) FBytes.push_back(0);
  if (ABit) FBytes.back() |= static_cast<uint8_t>(0x80 >> (FBitCount % 8));
  ++FBitCount;
}

void TBitWriter::Bits(uint32_t AValue, int ACount) {
  for (int i = ACount - 1; i >= 0; --i) Bit((AValue >> i) & 1u);
}

void TBitWriter::Ue(uint32_t AValue) {
  uint64_t v = uint64_t{AValue} + 1;
  int len = 0;
  while ((v >> len) > 1) ++len;
  Bits(0, len);
  for (int i = len; i >= 0; --i) Bit(static_cast<uint32_t>((v >> i) & 1u));
}

void TBitWriter::Se(int32_t AValue) {
  Ue(AValue > 0 ? static_cast<uint32_t>(2 * AValue - 1) : static_cast<uint32_t>(-2 * int64_t{AValue}));
}

std::string TBitWriter::Nal(uint8_t AHeader) {
  Bit(1);
  while (FBitCount % 8 != 0) Bit(0);
  std::string nal(1, static_cast<char>(AHeader));
  int zeros = 0;
  for (uint8_t b : FBytes) {
    if (zeros >= 2 && b <= 3) {
      nal.push_back(3);
      zeros = 0;
    }
    nal.push_back(static_cast<char>(b));
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return nal;
}

std::string MakeSps(const TSpsSpec& ASpec) {
  TBitWriter w;
  w.Bits(ASpec.Profile, 8);
  w.Bits(ASpec.Constraints, 8);
  w.Bits(ASpec.Level, 8);
  w.Ue(ASpec.SpsId);
  if (ASpec.Profile == 100 || ASpec.Profile == 110 || ASpec.Profile == 122 || ASpec.Profile == 244) {
    w.Ue(ASpec.ChromaFormat);
    if (ASpec.ChromaFormat == 3) w.Bit(0);
    w.Ue(0);   // bit depth luma - 8
    w.Ue(0);   // bit depth chroma - 8
    w.Bit(0);  // transform bypass
    w.Bit(0);  // no scaling matrix
  }
  w.Ue(0);  // log2_max_frame_num - 4
  w.Ue(ASpec.PocType);
  if (ASpec.PocType == 0) w.Ue(2);
  w.Ue(1);  // reference frames
  w.Bit(0);
  w.Ue(ASpec.WidthMbs - 1);
  w.Ue(ASpec.HeightMbs - 1);
  w.Bit(ASpec.FrameMbsOnly ? 1 : 0);
  if (!ASpec.FrameMbsOnly) w.Bit(0);
  w.Bit(1);  // direct 8x8 inference
  bool crop = ASpec.CropRight || ASpec.CropBottom;
  w.Bit(crop ? 1 : 0);
  if (crop) {
    w.Ue(0);
    w.Ue(ASpec.CropRight);
    w.Ue(0);
    w.Ue(ASpec.CropBottom);
  }
  w.Bit(0);  // no VUI
  return w.Nal(0x67);
}

std::string MakePps(uint32_t APpsId, uint32_t ASpsId) {
  TBitWriter w;
  w.Ue(APpsId);
  w.Ue(ASpsId);
  w.Bit(0);  // CAVLC
  w.Bit(0);
  w.Ue(0);   // one slice group
  w.Ue(0);
  w.Ue(0);
  w.Bit(0);
  w.Bits(0, 2);
  w.Se(0);
  w.Se(0);
  w.Se(0);
  w.Bit(1);
  w.Bit(0);
  w.Bit(0);
  return w.Nal(0x68);
}

std::string MakeSlice(bool AIdr, uint32_t AFirstMb, size_t APayload, uint8_t AFill) {
  TBitWriter w;
  w.Ue(AFirstMb);
  w.Ue(AIdr ? 7 : 5);  // slice type I or P
  w.Ue(0);             // picture parameter set
  for (size_t i = 0; i < APayload; ++i) w.Bits(AFill, 8);
  return w.Nal(AIdr ? 0x65 : 0x41);
}

std::string MakeSei(size_t APayload) {
  std::string sei("\x06\x05", 2);  // user data unregistered
  sei.push_back(static_cast<char>(16 + APayload));
  sei += std::string(16 + APayload, '\x11');
  sei.push_back('\x80');
  return sei;
}

std::string MakeAud() { return std::string("\x09\xF0", 2); }
