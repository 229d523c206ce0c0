// The INI layer's parsing and editing over any text: a write changes only its own value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/UIniFile.h"
#include "support/UText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  std::string text(reinterpret_cast<const char*>(AData), ASize);
  TIniFile::SectionsFromText(text);
  TIniFile::IsUtf8Text(text);
  // The key-line walk sees in a section what the section's listing holds, in order.
  const auto strings = TIniFile::SectionValuesFromText(text, "Strings");
  size_t next = 0;
  TIniFile::ForEachKeyLine(text, [&](std::string_view ASection, std::string_view AKey, std::string_view AValue) {
    if (!SameTextAscii(ASection, "Strings")) return;
    if (next >= strings.size() || strings[next].first != AKey || strings[next].second != AValue) __builtin_trap();
    ++next;
  });
  if (next != strings.size()) __builtin_trap();
  std::string edited = TIniFile::SetValueInText(text, "Section", "Key", "Value");
  bool found = false;
  // What was written reads back, whatever the text held before.
  if (TIniFile::ValueFromText(edited, "Section", "Key", &found) != "Value" || !found) {
    // A key line earlier in a duplicate section of the same name may shadow it; only
    // text without such a duplicate must read back.
    size_t sections = 0;
    for (const std::string& s : TIniFile::SectionsFromText(edited)) sections += SameTextAscii(s, "Section");
    if (sections <= 1) __builtin_trap();
  }
  return 0;
}
