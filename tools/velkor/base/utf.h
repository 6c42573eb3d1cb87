// utf.h -- UTF-8 and UTF-16 conversion for the host-side code (the
// authoring tool, the installer stand-in's rules and the tests).
#pragma once

#include <cstdint>
#include <string>

namespace velkor {

// One code point (at most U+10FFFF), as one code unit or a surrogate pair.
void AppendUtf16(std::u16string &out, uint32_t c);
std::u16string Utf8ToUtf16(const std::string &s);
std::string Utf16ToUtf8(const std::u16string &s);
// ASCII letters to lower case; other bytes (UTF-8 included) as they are.
std::string AsciiLower(std::string s);

}  // namespace velkor
