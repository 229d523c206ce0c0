#include "support/UText.h"

size_t Utf8CharLength(std::string_view AText, size_t AAt) {
  if (AAt >= AText.size()) return 0;
  const unsigned char lead = static_cast<unsigned char>(AText[AAt]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (AText.size() - AAt < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(AText[AAt + k]);
    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return length;
}

bool IsUtf8(std::string_view AText) {
  for (size_t i = 0; i < AText.size();) {
    const size_t length = Utf8CharLength(AText, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}
