#include "conversion/USegmentCuts.h"

#include "protocol/UOmCamProtocol.h"

namespace {

// Calls AVisit(unitStart, unitEnd) for every Annex B unit (the bytes after a 00 00 01 start
// code, up to the next start code); AVisit returns false to stop.
template <typename TVisit>
void ForEachUnit(const uint8_t* AData, size_t ASize, TVisit AVisit) {
  size_t i = 0;
  auto nextStart = [&](size_t AFrom) {
    for (size_t k = AFrom; k + 3 <= ASize; ++k)
      if (AData[k] == 0 && AData[k + 1] == 0 && AData[k + 2] == 1) return k;
    return ASize;
  };
  i = nextStart(0);
  while (i < ASize) {
    const size_t begin = i + 3;
    size_t next = nextStart(begin);
    size_t end = next;
    // The zero byte of a 4-byte start code belongs to the next unit.
    if (next < ASize && end > begin && AData[end - 1] == 0) --end;
    if (begin < end && !AVisit(begin, end)) return;
    i = next;
  }
}

constexpr uint8_t HevcVps = 32, HevcSps = 33, HevcPps = 34;
constexpr uint8_t HevcRaslN = 8, HevcRaslR = 9, HevcIdrW = 19, HevcIdrN = 20, HevcCra = 21;

uint8_t HevcType(const uint8_t* AData, size_t AAt) { return (AData[AAt] >> 1) & 0x3F; }

void Keep(std::vector<uint8_t>& ATo, const uint8_t* AData, size_t ABegin, size_t AEnd) {
  ATo.assign({0, 0, 0, 1});
  ATo.insert(ATo.end(), AData + ABegin, AData + AEnd);
}

// MPEG-4 start code values.
constexpr uint8_t Mpeg4Vop = 0xB6;
bool IsMpeg4Header(uint8_t ACode) { return ACode <= 0x2F || ACode == 0xB0 || ACode == 0xB5; }
bool IsMpeg4Vol(uint8_t ACode) { return ACode >= 0x20 && ACode <= 0x2F; }

}  // namespace

TSegmentCut TSegmentCuts::Look(const uint8_t* APayload, size_t ASize) {
  if (FVideoType == OmVideoType_MJPEG) return TSegmentCut::Cut;
  TSegmentCut cut = TSegmentCut::None;
  if (FVideoType == OmVideoType_H265) {
    bool seenPicture = false;
    ForEachUnit(APayload, ASize, [&](size_t ABegin, size_t AEnd) {
      if (AEnd - ABegin < 2) return true;
      const uint8_t type = HevcType(APayload, ABegin);
      if (type == HevcVps) Keep(FVps, APayload, ABegin, AEnd);
      else if (type == HevcSps) Keep(FSps, APayload, ABegin, AEnd);
      else if (type == HevcPps) Keep(FPps, APayload, ABegin, AEnd);
      else if (type < 32 && !seenPicture) {
        seenPicture = true;
        if (type == HevcIdrW || type == HevcIdrN) cut = TSegmentCut::Cut;
        else if (type == HevcCra) cut = TSegmentCut::CutUnlessRasl;
        return false;  // the parameter sets of a picture come before its first slice
      }
      return true;
    });
    return cut;
  }
  if (FVideoType == OmVideoType_MPEG4) {
    size_t headerStart = ASize;
    bool hasVol = false;
    ForEachUnit(APayload, ASize, [&](size_t ABegin, size_t AEnd) {
      const uint8_t code = APayload[ABegin];
      if (IsMpeg4Header(code) && headerStart == ASize) headerStart = ABegin - 3;
      if (IsMpeg4Vol(code)) hasVol = true;
      if (code == Mpeg4Vop) {
        if (hasVol && headerStart < ABegin - 3) FVolHeader.assign(APayload + headerStart, APayload + ABegin - 3);
        if (AEnd > ABegin + 1 && (APayload[ABegin + 1] >> 6) == 0) cut = TSegmentCut::Cut;
        return false;
      }
      return true;
    });
    return cut;
  }
  return cut;
}

bool TSegmentCuts::IsRasl(const uint8_t* APayload, size_t ASize) const {
  if (FVideoType != OmVideoType_H265) return false;
  bool rasl = false;
  ForEachUnit(APayload, ASize, [&](size_t ABegin, size_t AEnd) {
    if (AEnd - ABegin < 2) return true;
    const uint8_t type = HevcType(APayload, ABegin);
    if (type >= 32) return true;
    rasl = type == HevcRaslN || type == HevcRaslR;
    return false;
  });
  return rasl;
}

std::vector<uint8_t> TSegmentCuts::Prefix(const uint8_t* APayload, size_t ASize) const {
  std::vector<uint8_t> prefix;
  if (FVideoType == OmVideoType_H265) {
    bool vps = false, sps = false, pps = false;
    ForEachUnit(APayload, ASize, [&](size_t ABegin, size_t AEnd) {
      if (AEnd - ABegin < 2) return true;
      const uint8_t type = HevcType(APayload, ABegin);
      vps |= type == HevcVps;
      sps |= type == HevcSps;
      pps |= type == HevcPps;
      return type >= 32;  // up to the first picture unit
    });
    if (!(vps && sps && pps)) {
      for (const std::vector<uint8_t>* set : {&FVps, &FSps, &FPps}) prefix.insert(prefix.end(), set->begin(), set->end());
    }
  } else if (FVideoType == OmVideoType_MPEG4) {
    bool vol = false;
    ForEachUnit(APayload, ASize, [&](size_t ABegin, size_t) {
      vol |= IsMpeg4Vol(APayload[ABegin]);
      return APayload[ABegin] != Mpeg4Vop;
    });
    if (!vol) prefix = FVolHeader;
  }
  return prefix;
}
