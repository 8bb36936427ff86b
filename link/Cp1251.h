// Conversion between the program's 8-bit text (code page 1251) and the UTF-8
// of the user interface.
#pragma once

#include <string>
#include <string_view>

namespace quorvik {

// The one byte cp1251 leaves undefined (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);
// A character cp1251 lacks, and each invalid UTF-8 sequence, becomes replacement.
std::string Utf8ToCp1251(std::string_view text, char replacement = '?');

// One character each way: the code point of a byte (U+FFFD for 0x98), and the
// byte of a code point, or -1 when cp1251 lacks it.
char32_t Cp1251CodePoint(unsigned char byte);
int Cp1251Byte(char32_t codePoint);

} // namespace quorvik
