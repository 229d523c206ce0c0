// Byte-level rules for text shared by the settings files, the names of outputs and the
// command line's output: where a UTF-8 character ends, and letters compared without case.
#pragma once

#include <cstddef>
#include <string_view>

// The length (1 to 4) of the well-formed UTF-8 character at AText[AAt]: no overlong forms,
// no surrogates, nothing above U+10FFFF. 0 when the bytes there are no character.
size_t Utf8CharLength(std::string_view AText, size_t AAt);

// True when the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view AText);

// Equal when ASCII letters are compared without case; every other byte must match.
bool SameTextAscii(std::string_view A, std::string_view B);
