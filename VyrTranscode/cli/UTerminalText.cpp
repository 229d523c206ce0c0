#include "cli/UTerminalText.h"

#include <cstdio>

#include "support/UText.h"

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
    } else if (const size_t length = Utf8CharLength(AText, i)) {
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
