#include "UAnnexBUnits.h"

std::vector<TNalUnit> SplitAnnexB(const uint8_t* AData, size_t ASize) {
  std::vector<TNalUnit> lUnits;
  size_t i = 0;
  while (i + 3 <= ASize) {
    // A start code is 00 00 01, possibly with a further 00 in front.
    if (AData[i] == 0 && AData[i + 1] == 0 && AData[i + 2] == 1) {
      const size_t lStart = (i > 0 && AData[i - 1] == 0) ? i - 1 : i;
      if (!lUnits.empty()) lUnits.back().Size = lStart - lUnits.back().Offset;
      TNalUnit lUnit{lStart, i + 3, 0, 0};
      if (lUnit.Offset < ASize) lUnit.Type = AData[lUnit.Offset] & 0x1F;
      lUnits.push_back(lUnit);
      i += 3;
    } else {
      ++i;
    }
  }
  if (!lUnits.empty()) lUnits.back().Size = ASize - lUnits.back().Offset;
  return lUnits;
}

std::vector<uint8_t> NalTypes(const std::vector<uint8_t>& AData) {
  std::vector<uint8_t> lTypes;
  for (const TNalUnit& u : SplitAnnexB(AData)) lTypes.push_back(u.Type);
  return lTypes;
}
