// Hand-made H.264 NAL units for tests: sequence parameter sets of a chosen size and
// profile, picture parameter sets, slices that do or do not start a picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes bits, Exp-Golomb codes, and the RBSP trailing bits; adds emulation prevention
// bytes when asked for the NAL unit.
class TBitWriter {
 public:
  void Bit(uint32_t ABit);
  void Bits(uint32_t AValue, int ACount);
  void Ue(uint32_t AValue);
  void Se(int32_t AValue);
  // The NAL unit: header byte, then the payload with trailing bits and emulation
  // prevention.
  std::string Nal(uint8_t AHeader);

 private:
  std::vector<uint8_t> FBytes;
  int FBitCount = 0;
};

struct TSpsSpec {
  uint8_t Profile = 66;
  uint8_t Constraints = 0xC0;
  uint8_t Level = 30;
  uint32_t SpsId = 0;
  uint32_t WidthMbs = 11;   // 176 pixels
  uint32_t HeightMbs = 9;   // 144 lines
  uint32_t CropRight = 0, CropBottom = 0;  // in crop units (2 pixels for 4:2:0)
  uint32_t ChromaFormat = 1;                 // written for high profiles only
  bool FrameMbsOnly = true;
  uint32_t PocType = 2;
};
std::string MakeSps(const TSpsSpec& ASpec);
std::string MakePps(uint32_t APpsId = 0, uint32_t ASpsId = 0);
// A slice: first_mb_in_slice, then some payload bytes (AIdr: type 5, else type 1).
std::string MakeSlice(bool AIdr, uint32_t AFirstMb, size_t APayload = 20, uint8_t AFill = 0x5A);
std::string MakeSei(size_t APayload = 8);
std::string MakeAud();
