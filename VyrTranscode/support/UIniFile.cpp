#include "support/UIniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

EIniWriteError::EIniWriteError(const std::string& AFileName)
    : std::runtime_error("Unable to write to " + AFileName) {}

bool SameTextAscii(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// One line of the file: [Begin, ContentEnd) is its text without the line ending,
// [ContentEnd, End) the line ending itself ("\n", "\r\n" or nothing at the end).
struct TLine {
  size_t Begin, ContentEnd, End;
};

std::vector<TLine> SplitLines(const std::string& AText) {
  std::vector<TLine> lines;
  size_t pos = 0;
  // A UTF-8 byte order mark is kept but is not part of the first line's text.
  if (AText.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < AText.size()) {
    size_t nl = AText.find('\n', pos);
    size_t end = nl == std::string::npos ? AText.size() : nl + 1;
    size_t contentEnd = nl == std::string::npos ? AText.size() : nl;
    // "\r\n" ends a line as "\n" does; a lone "\r" is part of the text.
    if (nl != std::string::npos && contentEnd > pos && AText[contentEnd - 1] == '\r') --contentEnd;
    lines.push_back({pos, contentEnd, end});
    pos = end;
  }
  return lines;
}

enum class TLineKind { Other, Section, KeyValue };

struct TParsedLine {
  TLineKind Kind = TLineKind::Other;
  std::string Name;   // section name or key
  std::string Value;  // value of a key line
  size_t ValueBegin = 0, ValueEnd = 0;  // offsets of the value in the whole text
};

TParsedLine ParseLine(const std::string& AText, const TLine& ALine) {
  TParsedLine r;
  std::string content = AText.substr(ALine.Begin, ALine.ContentEnd - ALine.Begin);
  size_t first = 0;
  while (first < content.size() && IsBlank(content[first])) ++first;
  if (first == content.size()) return r;
  char c = content[first];
  if (c == ';' || c == '#') return r;
  if (c == '[') {
    size_t close = content.find(']', first + 1);
    if (close == std::string::npos) return r;
    r.Kind = TLineKind::Section;
    r.Name = Trim(content.substr(first + 1, close - first - 1));
    return r;
  }
  size_t eq = content.find('=');
  if (eq == std::string::npos) return r;
  r.Kind = TLineKind::KeyValue;
  r.Name = Trim(content.substr(0, eq));
  size_t vb = eq + 1, ve = content.size();
  while (vb < ve && IsBlank(content[vb])) ++vb;
  while (ve > vb && IsBlank(content[ve - 1])) --ve;
  r.Value = content.substr(vb, ve - vb);
  r.ValueBegin = ALine.Begin + vb;
  r.ValueEnd = ALine.Begin + ve;
  return r;
}

}  // namespace

TIniFile::TIniFile(std::string AFileName) : FFileName(std::move(AFileName)) {}

std::string TIniFile::LoadText() const {
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TIniFile::ValueFromText(const std::string& AText, const std::string& ASection,
                                    const std::string& AKey, bool* AFound) {
  bool inSection = false;
  for (const TLine& line : SplitLines(AText)) {
    TParsedLine p = ParseLine(AText, line);
    if (p.Kind == TLineKind::Section) {
      inSection = SameTextAscii(p.Name, ASection);
    } else if (p.Kind == TLineKind::KeyValue && inSection && SameTextAscii(p.Name, AKey)) {
      if (AFound) *AFound = true;
      return p.Value;
    }
  }
  if (AFound) *AFound = false;
  return std::string();
}

std::string TIniFile::SetValueInText(const std::string& AText, const std::string& ASection,
                                     const std::string& AKey, const std::string& AValue) {
  std::vector<TLine> lines = SplitLines(AText);
  // The line ending used for new lines follows the file's first line.
  std::string eol = "\n";
  for (const TLine& line : lines) {
    if (line.End > line.ContentEnd) {
      eol = AText.substr(line.ContentEnd, line.End - line.ContentEnd);
      break;
    }
  }
  bool inSection = false, sectionFound = false;
  size_t insertAt = std::string::npos;  // after the last key line of the section
  for (const TLine& line : lines) {
    TParsedLine p = ParseLine(AText, line);
    if (p.Kind == TLineKind::Section) {
      if (inSection) break;  // the section ended without the key
      inSection = SameTextAscii(p.Name, ASection);
      if (inSection) {
        sectionFound = true;
        insertAt = line.End;
      }
    } else if (inSection && p.Kind == TLineKind::KeyValue) {
      if (SameTextAscii(p.Name, AKey)) {
        std::string out = AText;
        out.replace(p.ValueBegin, p.ValueEnd - p.ValueBegin, AValue);
        return out;
      }
      insertAt = line.End;
    }
  }
  std::string newLine = AKey + "=" + AValue + eol;
  if (sectionFound) {
    std::string out = AText;
    // A section header on the file's last line without a line ending gets one first.
    if (insertAt == AText.size() && !AText.empty() && AText.back() != '\n') {
      out += eol;
      insertAt = out.size();
    }
    out.insert(insertAt, newLine);
    return out;
  }
  std::string out = AText;
  if (!out.empty() && out.back() != '\n') out += eol;
  out += "[" + ASection + "]" + eol + newLine;
  return out;
}

std::vector<std::pair<std::string, std::string>> TIniFile::SectionValuesFromText(
    const std::string& AText, const std::string& ASection) {
  std::vector<std::pair<std::string, std::string>> result;
  bool inSection = false;
  for (const TLine& line : SplitLines(AText)) {
    TParsedLine p = ParseLine(AText, line);
    if (p.Kind == TLineKind::Section) {
      inSection = SameTextAscii(p.Name, ASection);
    } else if (inSection && p.Kind == TLineKind::KeyValue) {
      result.emplace_back(p.Name, p.Value);
    }
  }
  return result;
}

std::vector<std::string> TIniFile::SectionsFromText(const std::string& AText) {
  std::vector<std::string> result;
  for (const TLine& line : SplitLines(AText)) {
    TParsedLine p = ParseLine(AText, line);
    if (p.Kind == TLineKind::Section) result.push_back(p.Name);
  }
  return result;
}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault) const {
  bool found = false;
  std::string v = ValueFromText(LoadText(), ASection, AKey, &found);
  return found ? v : ADefault;
}

int TIniFile::ReadInteger(const std::string& ASection, const std::string& AKey, int ADefault) const {
  std::string v = ReadString(ASection, AKey, std::string());
  if (v.empty()) return ADefault;
  const char* s = v.c_str();
  char* end = nullptr;
  errno = 0;
  // Decimal, or hexadecimal with a "0x" prefix.
  long long n = std::strtoll(s, &end, 0);
  if (errno != 0 || end != s + v.size() || n < INT_MIN || n > INT_MAX) return ADefault;
  return static_cast<int>(n);
}

void TIniFile::WriteString(const std::string& ASection, const std::string& AKey,
                           const std::string& AValue) {
  std::string text = SetValueInText(LoadText(), ASection, AKey, AValue);
  // Rewrite in place (keeps the file's owner and mode); a refused open or write raises.
  std::ofstream out(FFileName, std::ios::binary | std::ios::trunc);
  if (!out) throw EIniWriteError(FFileName);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (!out) throw EIniWriteError(FFileName);
}

void TIniFile::WriteInteger(const std::string& ASection, const std::string& AKey, int AValue) {
  WriteString(ASection, AKey, std::to_string(AValue));
}

bool TIniFile::SectionExists(const std::string& ASection) const {
  for (const std::string& s : SectionsFromText(LoadText()))
    if (SameTextAscii(s, ASection)) return true;
  return false;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    const std::string& ASection) const {
  return SectionValuesFromText(LoadText(), ASection);
}

std::vector<std::string> TIniFile::ReadSections() const { return SectionsFromText(LoadText()); }
