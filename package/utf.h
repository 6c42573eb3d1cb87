// utf.h -- UTF-8 and UTF-16 conversion for the host-side code: the native
// build's file names, the authoring tool, the installer stand-in's rules
// and the tests.  Never in the device program.  Strict
// about what UTF-8 is (no overlong forms, no surrogates, nothing past
// U+10FFFF); what is not becomes U+FFFD, as does half a surrogate pair on
// the way to UTF-8, so the UTF-8 made here is always well formed.
#pragma once

#include <cstdint>
#include <string>

namespace velkor {

// One code point (at most U+10FFFF), as one code unit or a surrogate pair.
void AppendUtf16(std::u16string &out, uint32_t c);
// Appends s to out; returns the offset of the first byte that is not UTF-8
// (out then holds what came before it), or npos.
size_t DecodeUtf8(const std::string &s, std::u16string &out);
std::u16string Utf8ToUtf16(const std::string &s);
std::string Utf16ToUtf8(const std::u16string &s);
inline std::string U8(const std::u16string &s) { return Utf16ToUtf8(s); }
// s with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string ValidUtf8(const std::string &s);
// ASCII letters to lower case; other bytes (UTF-8 included) as they are.
std::string AsciiLower(std::string s);

}  // namespace velkor
