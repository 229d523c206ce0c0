// Text from outside (file names) made safe to print on a terminal.
#pragma once

#include <string>

// AText with every control character written as an escape: the C0 controls and DEL as
// "\n", "\t", "\r", "\e" or "\xHH", the C1 controls (U+0080 to U+009F in UTF-8) as "\u0080"
// to "\u009f", bytes that are not part of a valid UTF-8 character as "\xHH", and a
// backslash as "\\". Every other character stays as it is.
std::string EscapeControlCharacters(const std::string& AText);
