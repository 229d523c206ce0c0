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
  // The output always lands inside the folder: a folder stored without its separator
  // (a hand-edited settings file) gets one, and of the name only its last part counts,
  // so a name given with folders in it cannot climb out.
  if (dir.back() != '/') dir += '/';
  const std::string name = GetVYRFileShortName(sVYRFileName);
  return dir + name.substr(0, LengthWithoutLastChars(name, 4));
}
