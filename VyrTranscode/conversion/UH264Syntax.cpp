#include "conversion/UH264Syntax.h"

namespace {

// Reads bits of a NAL unit's payload (after the header byte), dropping the emulation
// prevention byte of every 00 00 03 sequence. Reading past the end sets a failure flag
// and yields zeros; the caller checks Ok() after a run of reads.
class TBitReader {
 public:
  TBitReader(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize), FPos(1) {}

  bool Ok() const { return !FFailed; }

  uint32_t ReadBit() {
    if (FBitsLeft == 0 && !LoadByte()) {
      FFailed = true;
      return 0;
    }
    --FBitsLeft;
    return (FCurrent >> FBitsLeft) & 1u;
  }

  uint32_t ReadBits(int ACount) {
    uint32_t v = 0;
    for (int i = 0; i < ACount; ++i) v = (v << 1) | ReadBit();
    return v;
  }

  // Unsigned Exp-Golomb code; values above 2^31 - 2 are refused as out of range.
  uint32_t ReadUe() {
    int zeros = 0;
    while (ReadBit() == 0) {
      if (FFailed || ++zeros > 31) {
        FFailed = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    uint32_t rest = ReadBits(zeros);
    uint64_t v = (uint64_t{1} << zeros) - 1 + rest;
    if (v > 0x7FFFFFFEu) {
      FFailed = true;
      return 0;
    }
    return static_cast<uint32_t>(v);
  }

  int32_t ReadSe() {
    uint32_t k = ReadUe();
    int64_t v = (k & 1u) ? (static_cast<int64_t>(k) + 1) / 2 : -static_cast<int64_t>(k / 2);
    return static_cast<int32_t>(v);
  }

 private:
  bool LoadByte() {
    if (FPos >= FSize) return false;
    uint8_t b = FData[FPos++];
    if (FZeros >= 2 && b == 3) {
      // Emulation prevention byte: skip it and take the next one.
      FZeros = 0;
      if (FPos >= FSize) return false;
      b = FData[FPos++];
    }
    FZeros = b == 0 ? FZeros + 1 : 0;
    FCurrent = b;
    FBitsLeft = 8;
    return true;
  }

  const uint8_t* FData;
  size_t FSize;
  size_t FPos;
  int FZeros = 0;
  uint8_t FCurrent = 0;
  int FBitsLeft = 0;
  bool FFailed = false;
};

bool SkipScalingList(TBitReader& AReader, int ASize) {
  int32_t last = 8, next = 8;
  for (int j = 0; j < ASize; ++j) {
    if (next != 0) {
      int32_t delta = AReader.ReadSe();
      if (!AReader.Ok() || delta < -128 || delta > 127) return false;
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
  return AReader.Ok();
}

bool HasType(const uint8_t* AData, size_t ASize, uint8_t AType) {
  return AData != nullptr && ASize >= 2 && (AData[0] & 0x1F) == AType;
}

}  // namespace

bool IsH264HighProfile(uint8_t AProfileIdc) {
  switch (AProfileIdc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118:
    case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

bool ReadH264SpsId(const uint8_t* AData, size_t ASize, uint32_t& ASpsId) {
  if (!HasType(AData, ASize, H264_NAL_SPS) || ASize < 5) return false;
  TBitReader r(AData, ASize);
  r.ReadBits(24);  // profile, constraint flags, level
  uint32_t id = r.ReadUe();
  if (!r.Ok() || id >= H264_MAX_SPS_COUNT) return false;
  ASpsId = id;
  return true;
}

bool ReadH264PpsId(const uint8_t* AData, size_t ASize, uint32_t& APpsId) {
  if (!HasType(AData, ASize, H264_NAL_PPS)) return false;
  TBitReader r(AData, ASize);
  uint32_t id = r.ReadUe();
  if (!r.Ok() || id >= H264_MAX_PPS_COUNT) return false;
  APpsId = id;
  return true;
}

bool IsH264FirstSliceOfPicture(const uint8_t* AData, size_t ASize) {
  // first_mb_in_slice is the first code of the slice header; it is 0 exactly when its
  // first bit is 1. The byte after the header can never be an emulation prevention byte.
  return AData != nullptr && ASize >= 2 && (AData[1] & 0x80) != 0;
}

bool ParseH264Sps(const uint8_t* AData, size_t ASize, TH264SpsInfo& AInfo) {
  if (!HasType(AData, ASize, H264_NAL_SPS) || ASize < 5) return false;
  TH264SpsInfo info;
  TBitReader r(AData, ASize);
  info.ProfileIdc = static_cast<uint8_t>(r.ReadBits(8));
  info.ConstraintFlags = static_cast<uint8_t>(r.ReadBits(8));
  info.LevelIdc = static_cast<uint8_t>(r.ReadBits(8));
  info.SpsId = r.ReadUe();
  if (!r.Ok() || info.SpsId >= H264_MAX_SPS_COUNT) return false;

  bool separateColourPlanes = false;
  if (IsH264HighProfile(info.ProfileIdc)) {
    info.ChromaFormatIdc = r.ReadUe();
    if (info.ChromaFormatIdc > 3) return false;
    if (info.ChromaFormatIdc == 3) separateColourPlanes = r.ReadBit() != 0;
    info.BitDepthLumaMinus8 = r.ReadUe();
    info.BitDepthChromaMinus8 = r.ReadUe();
    if (info.BitDepthLumaMinus8 > 6 || info.BitDepthChromaMinus8 > 6) return false;
    r.ReadBit();  // qpprime_y_zero_transform_bypass_flag
    if (r.ReadBit()) {  // seq_scaling_matrix_present_flag
      int lists = info.ChromaFormatIdc != 3 ? 8 : 12;
      for (int i = 0; i < lists; ++i) {
        if (r.ReadBit() && !SkipScalingList(r, i < 6 ? 16 : 64)) return false;
      }
    }
  }
  if (r.ReadUe() > 12) return false;  // log2_max_frame_num_minus4
  uint32_t pocType = r.ReadUe();
  if (pocType == 0) {
    if (r.ReadUe() > 12) return false;  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pocType == 1) {
    r.ReadBit();  // delta_pic_order_always_zero_flag
    r.ReadSe();   // offset_for_non_ref_pic
    r.ReadSe();   // offset_for_top_to_bottom_field
    uint32_t cycle = r.ReadUe();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle && r.Ok(); ++i) r.ReadSe();
  } else if (pocType != 2) {
    return false;
  }
  r.ReadUe();   // max_num_ref_frames
  r.ReadBit();  // gaps_in_frame_num_value_allowed_flag
  uint32_t widthMbs = r.ReadUe() + 1;
  uint32_t heightMapUnits = r.ReadUe() + 1;
  uint32_t frameMbsOnly = r.ReadBit();
  if (!frameMbsOnly) r.ReadBit();  // mb_adaptive_frame_field_flag
  r.ReadBit();                     // direct_8x8_inference_flag
  uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (r.ReadBit()) {
    cropLeft = r.ReadUe();
    cropRight = r.ReadUe();
    cropTop = r.ReadUe();
    cropBottom = r.ReadUe();
  }
  if (!r.Ok()) return false;
  // Larger than any level allows; also keeps the arithmetic below in range.
  if (widthMbs > 1024 || heightMapUnits > 1024) return false;

  uint32_t chromaArrayType = separateColourPlanes ? 0 : info.ChromaFormatIdc;
  uint32_t subWidthC = chromaArrayType == 3 ? 1 : 2;
  uint32_t subHeightC = chromaArrayType == 1 ? 2 : 1;
  uint32_t cropUnitX = chromaArrayType == 0 ? 1 : subWidthC;
  uint32_t cropUnitY = (chromaArrayType == 0 ? 1 : subHeightC) * (2 - frameMbsOnly);
  int64_t width = int64_t{widthMbs} * 16 - int64_t{cropUnitX} * (int64_t{cropLeft} + cropRight);
  int64_t height = int64_t{heightMapUnits} * 16 * (2 - frameMbsOnly) -
                   int64_t{cropUnitY} * (int64_t{cropTop} + cropBottom);
  if (width <= 0 || height <= 0) return false;
  info.Width = static_cast<int32_t>(width);
  info.Height = static_cast<int32_t>(height);
  AInfo = info;
  return true;
}
