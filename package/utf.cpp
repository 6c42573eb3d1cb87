// utf.cpp -- UTF-8 and UTF-16 conversion for the host-side code.
#include "utf.h"

namespace velkor {

namespace {

const uint32_t Replacement = 0xFFFD;

// The code point of the UTF-8 sequence at s[i] into *c, and its length; 0
// when the bytes there are not UTF-8 (an overlong form, a surrogate, a
// value past U+10FFFF, a sequence cut short or a stray byte).
size_t NextUtf8(const std::string &s, size_t i, uint32_t *c)
{
    uint8_t b = uint8_t(s[i]);
    size_t extra;
    if (b < 0x80)
        *c = b, extra = 0;
    else if (b >= 0xC2 && b < 0xE0)
        *c = b & 0x1F, extra = 1;
    else if (b >= 0xE0 && b < 0xF0)
        *c = b & 0x0F, extra = 2;
    else if (b >= 0xF0 && b < 0xF5)
        *c = b & 0x07, extra = 3;
    else
        return 0;
    if (extra > s.size() - i - 1)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        uint8_t cont = uint8_t(s[i + k]);
        if ((cont & 0xC0) != 0x80)
            return 0;
        *c = (*c << 6) | (cont & 0x3F);
    }
    static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (*c < least[extra] || *c > 0x10FFFF || (*c >= 0xD800 && *c < 0xE000))
        return 0;
    return extra + 1;
}

}  // namespace

void AppendUtf16(std::u16string &out, uint32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(char16_t(0xD800 + (c >> 10)));
        out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(char16_t(c));
    }
}

size_t DecodeUtf8(const std::string &s, std::u16string &out)
{
    for (size_t i = 0; i < s.size();) {
        uint32_t c;
        size_t n = NextUtf8(s, i, &c);
        if (!n)
            return i;
        AppendUtf16(out, c);
        i += n;
    }
    return std::string::npos;
}

std::u16string Utf8ToUtf16(const std::string &s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        uint32_t c;
        size_t n = NextUtf8(s, i, &c);
        AppendUtf16(out, n ? c : Replacement);
        i += n ? n : 1;
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = Replacement;   // half a pair has no UTF-8 form
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string ValidUtf8(const std::string &s) { return Utf16ToUtf8(Utf8ToUtf16(s)); }

std::string AsciiLower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return s;
}

}  // namespace velkor
