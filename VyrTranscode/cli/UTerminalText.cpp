#include "cli/UTerminalText.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence of two to four bytes at AText[AAt], or 0.
size_t Utf8SequenceLength(const std::string& AText, size_t AAt) {
  const unsigned char lead = static_cast<unsigned char>(AText[AAt]);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (AAt + length > AText.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(AText[AAt + k]);
    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return length;
}

}  // namespace

std::string EscapeControlCharacters(const std::string& AText) {
  std::string out;
  out.reserve(AText.size());
  char buf[8];
  for (size_t i = 0; i < AText.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == 0x1B) {
      out += "\\e";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const size_t length = Utf8SequenceLength(AText, i)) {
      const unsigned char second = static_cast<unsigned char>(AText[i + 1]);
      if (c == 0xC2 && second <= 0x9F) {
        // A C1 control: terminals act on these as on ESC sequences.
        std::snprintf(buf, sizeof buf, "\\u%04x", second);
        out += buf;
      } else {
        out.append(AText, i, length);
      }
      i += length - 1;
    } else {
      // A byte that is no part of a character: a terminal in an 8-bit mode may take it
      // for a control.
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}
