// A small INI file layer: "[Section]" lines and "Key=Value" lines, UTF-8 text.
//
// Sections and keys match without regard to the case of ASCII letters; blanks around
// keys and values are not part of them; values are otherwise read as stored (no quote or
// escape processing). Every read looks into the file at the moment of the request and
// every write reaches the file at once, so changes another program makes meanwhile are
// seen. A write changes only its own line (or adds one) and keeps every other byte of
// the file: other sections, keys, comments, blank lines, order and line endings.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Raised when the file cannot be written; the message is "Unable to write to <path>".
class EIniWriteError : public std::runtime_error {
 public:
  explicit EIniWriteError(const std::string& AFileName);
};

class TIniFile {
 public:
  explicit TIniFile(std::string AFileName);

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(const std::string& ASection, const std::string& AKey,
                         const std::string& ADefault) const;
  // A value that is not a whole integer gives the default.
  int ReadInteger(const std::string& ASection, const std::string& AKey, int ADefault) const;
  // Throws EIniWriteError when the file cannot be written.
  void WriteString(const std::string& ASection, const std::string& AKey, const std::string& AValue);
  void WriteInteger(const std::string& ASection, const std::string& AKey, int AValue);

  bool SectionExists(const std::string& ASection) const;
  // The key=value pairs of a section, in file order (keys as stored).
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& ASection) const;
  // The section names, in file order.
  std::vector<std::string> ReadSections() const;

  // Parsing and editing on text, without touching a file (the file functions use these;
  // the fuzzer and the tests call them directly).
  static std::string ValueFromText(const std::string& AText, const std::string& ASection,
                                   const std::string& AKey, bool* AFound);
  static std::string SetValueInText(const std::string& AText, const std::string& ASection,
                                    const std::string& AKey, const std::string& AValue);
  static std::vector<std::pair<std::string, std::string>> SectionValuesFromText(
      const std::string& AText, const std::string& ASection);
  static std::vector<std::string> SectionsFromText(const std::string& AText);

 private:
  std::string LoadText() const;
  std::string FFileName;
};

// Case-insensitive comparison of ASCII letters, as sections and keys match.
bool SameTextAscii(const std::string& A, const std::string& B);
