#include "cli/UJsonLine.h"

#include <cstdio>

#include "support/UText.h"

std::string JsonString(const std::string& AText) {
  std::string out = "\"";
  char buf[8];
  for (size_t i = 0; i < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    const size_t n = Utf8CharLength(AText, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(AText, i, n);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  return out + "\"";
}

std::string HexBytes(const std::string& AText) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : AText) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void TJsonObject::Key(const std::string& AKey) {
  if (!FBody.empty()) FBody += ",";
  FBody += JsonString(AKey) + ":";
}

TJsonObject& TJsonObject::Add(const std::string& AKey, const std::string& AValue) {
  Key(AKey);
  FBody += JsonString(AValue);
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& AKey, int64_t AValue) {
  Key(AKey);
  FBody += std::to_string(AValue);
  return *this;
}

TJsonObject& TJsonObject::Add(const std::string& AKey, double AValue, int ADecimals) {
  Key(AKey);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", ADecimals, AValue);
  FBody += buf;
  return *this;
}
