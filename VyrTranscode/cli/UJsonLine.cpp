#include "cli/UJsonLine.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at AText[AAt], or 0.
size_t Utf8Length(const std::string& AText, size_t AAt) {
  const unsigned char lead = static_cast<unsigned char>(AText[AAt]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
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

std::string JsonString(const std::string& AText, bool* AValid) {
  std::string out = "\"";
  bool valid = true;
  char buf[8];
  for (size_t i = 0; i < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    const size_t n = Utf8Length(AText, i);
    if (n == 0) {
      out += "\\ufffd";
      valid = false;
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
  if (AValid) *AValid = valid;
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
