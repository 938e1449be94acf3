#pragma once

#include <string>
#include <string_view>

namespace vela::cp1252 {

// Windows-1252, the 8-bit code page of the databases' strings, the run log file and
// maquinas.txt. The five bytes the code page leaves undefined map to the C1 controls of the same
// value, as Windows itself maps them, so every byte survives a round trip.
char16_t toUnicode(unsigned char byte);
// '?' for a character the code page cannot hold.
unsigned char fromUnicode(char16_t ch);

std::string toUtf8(std::string_view bytes);
// UTF-16 as the window toolkit holds text: out has room for bytes.size() units.
void toUtf16(std::string_view bytes, char16_t* out);
std::string fromUtf16(std::u16string_view text);
std::string fromUtf8(std::string_view utf8);

} // namespace vela::cp1252
