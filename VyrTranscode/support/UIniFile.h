// A small INI file layer: "[Section]" lines and "Key=Value" lines, UTF-8 text.
//
// Sections and keys match without regard to the case of ASCII letters; blanks around
// keys and values are not part of them; values are otherwise read as stored (no quote or
// escape processing). Every read looks into the file at the moment of the request and
// every write reaches the file at once, so changes another program makes meanwhile are
// seen. A write changes only its own line (or adds one) and keeps every other byte of
// the file: other sections, keys, comments, blank lines, order and line endings.
//
// Reading follows links, reads regular files only (a FIFO, a device or a folder reads as
// a missing file, without waiting for a writer) and reads at most IniReadLimit bytes: a
// larger file is read up to its last whole line within the limit, with a log line.
//
// Writing never damages the file it replaces:
//  - the new text goes to a temporary file beside the file (beside a link's target, the
//    link itself is kept), created exclusively under a unique name, synced to disk, given
//    the file's mode and owner, and renamed over the file; on any failure it is removed
//    and the file is left as it was;
//  - a file with several hard links, or one whose owner the new file cannot keep, or one
//    in a folder where no new file may be created, is rewritten in place instead, after
//    its new size is reserved on the disk;
//  - refused, with EIniWriteError, are: a file that is read-only (no write permission bit
//    set, or not writable by this process), that is not a regular file, that is larger
//    than IniReadLimit (it was read only in part) or would become larger, that is not
//    UTF-8 text (binary data, UTF-16), a link that leads nowhere, and a section, key or
//    value that holds a line break, a NUL byte or bytes that are not UTF-8.
// A missing file is created (mode 0666 less the umask), never through a link.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Raised when the file cannot be written; the message is "Unable to write to <path>".
class EIniWriteError : public std::runtime_error {
 public:
  explicit EIniWriteError(const std::string& AFileName);
};

// The most of a file that the layer reads (1 MiB).
inline constexpr size_t IniReadLimit = 1024 * 1024;

class TIniFile {
 public:
  explicit TIniFile(std::string AFileName);

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(const std::string& ASection, const std::string& AKey,
                         const std::string& ADefault) const;
  // A value that is not a whole integer gives the default.
  int ReadInteger(const std::string& ASection, const std::string& AKey, int ADefault) const;
  // Throws EIniWriteError when the file cannot be written (see above).
  void WriteString(const std::string& ASection, const std::string& AKey, const std::string& AValue);
  void WriteInteger(const std::string& ASection, const std::string& AKey, int AValue);

  bool SectionExists(const std::string& ASection) const;
  // The key=value pairs of a section, in file order (keys as stored).
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& ASection) const;
  // The section names, in file order.
  std::vector<std::string> ReadSections() const;
  // The text that every read sees: the file's bytes, within IniReadLimit as described
  // above; empty when the file is missing or is not a regular file.
  std::string ReadText() const;

  // Parsing and editing on text, without touching a file (the file functions use these;
  // the fuzzer and the tests call them directly). Their extra memory does not grow with
  // the number of lines.
  static std::string ValueFromText(const std::string& AText, const std::string& ASection,
                                   const std::string& AKey, bool* AFound);
  static std::string SetValueInText(const std::string& AText, const std::string& ASection,
                                    const std::string& AKey, const std::string& AValue);
  static std::vector<std::pair<std::string, std::string>> SectionValuesFromText(
      const std::string& AText, const std::string& ASection);
  static std::vector<std::string> SectionsFromText(const std::string& AText);
  // Calls AVisit for every key line that lies in a section, in file order, with the name
  // of that section. The views point into AText.
  using TKeyLineVisitor =
      std::function<void(std::string_view ASection, std::string_view AKey, std::string_view AValue)>;
  static void ForEachKeyLine(const std::string& AText, const TKeyLineVisitor& AVisit);
  // True when the text is well-formed UTF-8 without NUL bytes: the only text a write
  // accepts in a file.
  static bool IsUtf8Text(std::string_view AText);

 private:
  std::string FFileName;
};
