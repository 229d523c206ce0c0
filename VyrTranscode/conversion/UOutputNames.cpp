#include "conversion/UOutputNames.h"

#include "support/uFunctionsLib.h"

namespace {

// Length of AText without its last ACount UTF-8 characters (0 when it has fewer).
size_t LengthWithoutLastChars(const std::string& AText, size_t ACount) {
  size_t end = AText.size();
  for (size_t i = 0; i < ACount && end > 0; ++i) {
    --end;
    // Step back over continuation bytes to the first byte of the character.
    while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) --end;
  }
  return end;
}

}  // namespace

std::string GetVYRFileShortName(const std::string& AFullName) {
  size_t slash = AFullName.rfind('/');
  return slash == std::string::npos ? AFullName : AFullName.substr(slash + 1);
}

std::string DefaultOutputDir() { return GetHomeDir() + "/VyrRecord/"; }

std::string MakeOutputFileName(const std::string& AOutDir, const std::string& sVYRFileName) {
  std::string dir = AOutDir.empty() ? DefaultOutputDir() : AOutDir;
  return dir + sVYRFileName.substr(0, LengthWithoutLastChars(sVYRFileName, 4));
}
