// Reading the few H.264 syntax elements that the MP4 writer needs from NAL units: the
// picture size and chroma format in a sequence parameter set, the ids of parameter sets,
// and whether a slice is the first of its picture.
//
// Every function takes one NAL unit from its header byte on (no start code), reads only
// inside the given bytes, removes emulation prevention bytes as it goes, and reports a
// unit that ends too early or holds values out of range as unreadable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// What a sequence parameter set tells about the pictures.
struct TH264SpsInfo {
  uint8_t ProfileIdc = 0;
  uint8_t ConstraintFlags = 0;
  uint8_t LevelIdc = 0;
  uint32_t SpsId = 0;
  uint32_t ChromaFormatIdc = 1;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
  uint32_t BitDepthLumaMinus8 = 0;
  uint32_t BitDepthChromaMinus8 = 0;
  int32_t Width = 0;   // displayed size: coded size less the cropping
  int32_t Height = 0;
};

// The NAL unit types the writer tells apart.
enum : uint8_t {
  H264_NAL_SLICE = 1,
  H264_NAL_IDR_SLICE = 5,
  H264_NAL_SEI = 6,
  H264_NAL_SPS = 7,
  H264_NAL_PPS = 8,
  H264_NAL_AUD = 9,
};

constexpr uint32_t H264_MAX_SPS_COUNT = 32;
constexpr uint32_t H264_MAX_PPS_COUNT = 256;

// Parses a sequence parameter set (type 7) up to its frame cropping. False when the unit
// is not an SPS, ends early, or describes no picture.
bool ParseH264Sps(const uint8_t* AData, size_t ASize, TH264SpsInfo& AInfo);

// The seq_parameter_set_id of an SPS; false when unreadable.
bool ReadH264SpsId(const uint8_t* AData, size_t ASize, uint32_t& ASpsId);

// The pic_parameter_set_id of a PPS (type 8); false when unreadable.
bool ReadH264PpsId(const uint8_t* AData, size_t ASize, uint32_t& APpsId);

// True when the slice (type 1 or 5) has first_mb_in_slice = 0, that is, it starts a
// picture. A slice too short to tell gives false.
bool IsH264FirstSliceOfPicture(const uint8_t* AData, size_t ASize);

// True when a stored parameter set holds exactly the ASize bytes at AData.
inline bool SameBytes(const std::vector<uint8_t>& AStored, const uint8_t* AData, size_t ASize) {
  return AStored.size() == ASize && std::equal(AStored.begin(), AStored.end(), AData);
}

// Profiles whose decoder configuration record carries the chroma format and bit depths.
bool IsH264HighProfile(uint8_t AProfileIdc);
