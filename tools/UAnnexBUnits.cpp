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

std::vector<std::string> SplitAnnexB(const std::string& AStream) {
  const auto* lData = reinterpret_cast<const uint8_t*>(AStream.data());
  const std::vector<TNalUnit> lFound = SplitAnnexB(lData, AStream.size());
  std::vector<std::string> lUnits;
  for (size_t i = 0; i < lFound.size(); ++i) {
    size_t lEnd = lFound[i].Offset + lFound[i].Size;
    // Zero bytes before the next start code belong to no unit (the last unit keeps its own).
    if (i + 1 < lFound.size())
      while (lEnd > lFound[i].Offset && lData[lEnd - 1] == 0) --lEnd;
    if (lEnd > lFound[i].Offset) lUnits.push_back(AStream.substr(lFound[i].Offset, lEnd - lFound[i].Offset));
  }
  return lUnits;
}

std::string JoinAnnexB(const std::vector<std::string>& AUnits) {
  std::string lStream;
  for (const std::string& u : AUnits) lStream += std::string("\0\0\0\1", 4) + u;
  return lStream;
}
