// Splits an H.264 Annex B byte stream into its NAL units, to tell parameter sets, key
// pictures and other slices apart; and the same units as strings, for tests that cut
// streams apart and join them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// H.264 NAL unit types that matter here.
constexpr uint8_t NAL_SLICE = 1;
constexpr uint8_t NAL_IDR_SLICE = 5;
constexpr uint8_t NAL_SEI = 6;
constexpr uint8_t NAL_SPS = 7;
constexpr uint8_t NAL_PPS = 8;

struct TNalUnit {
  size_t StartCode;  // offset of the start code
  size_t Offset;     // offset of the NAL unit header, after the start code
  size_t Size;       // bytes from the header to the next start code or the end
  uint8_t Type;
};

// The NAL units in order. Bytes before the first start code are not a unit.
std::vector<TNalUnit> SplitAnnexB(const uint8_t* AData, size_t ASize);
inline std::vector<TNalUnit> SplitAnnexB(const std::vector<uint8_t>& AData) {
  return SplitAnnexB(AData.data(), AData.size());
}
// Just the types, in order.
std::vector<uint8_t> NalTypes(const std::vector<uint8_t>& AData);

// The NAL units of an Annex B stream, start codes and the zero bytes before a start code
// removed; units that hold nothing are left out.
std::vector<std::string> SplitAnnexB(const std::string& AStream);
// Joins NAL units with 4-byte start codes.
std::string JoinAnnexB(const std::vector<std::string>& AUnits);
inline int NalType(const std::string& AUnit) { return AUnit.empty() ? -1 : (AUnit[0] & 0x1F); }
