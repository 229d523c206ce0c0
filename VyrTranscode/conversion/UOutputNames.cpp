#include "conversion/UOutputNames.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "support/UPathParts.h"
#include "support/UText.h"
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

std::string GetVYRFileShortName(const std::string& AFullName) { return FileNamePart(AFullName); }

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

namespace {

// 32-bit FNV-1a: a short, stable fingerprint of a name.
uint32_t NameHash(const std::string& AText) {
  uint32_t h = 2166136261u;
  for (unsigned char c : AText) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

constexpr size_t WorkNameCutBytes = 200;
constexpr const char* WorkSuffix = ".part";

}  // namespace

std::string MakeWorkFileName(const std::string& AFinalName) {
  std::string work = AFinalName + WorkSuffix;
  if (work.size() <= MaxFileNameBytes) return work;
  size_t cut = std::min(AFinalName.size(), WorkNameCutBytes);
  // Never end inside a character: step back to the first byte of the one that is cut.
  if (cut < AFinalName.size())
    while (cut > 0 && (static_cast<unsigned char>(AFinalName[cut]) & 0xC0) == 0x80) --cut;
  char tag[16];
  std::snprintf(tag, sizeof tag, "~%08x", NameHash(AFinalName));
  return AFinalName.substr(0, cut) + tag + WorkSuffix;
}

bool SameOutputName(const std::string& A, const std::string& B) { return SameTextAscii(A, B); }
