/*
 * htmlview.cpp -- parser and layout of our HTML view.  The parser follows
 * what browsers do with sloppy markup closely enough for setup texts:
 * unknown tags vanish, misnested inline tags close cleanly, unclosed
 * elements end with the document, and every loop only moves forward, so any
 * input finishes in time linear in its length.  It does not build a tree;
 * blocks come out flat, with their list and quote depth as an indent.
 */
#include "htmlview.h"

#include <string.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <unordered_map>

/* ------------------------------------------------------------------ */
/* Character references                                                */

namespace {

struct NamedEntity {
    const char *name;
    uint16_t code;
    bool legacy;                 /* also recognised without the semicolon */
};

/* Latin-1 U+00A0..U+00FF in code order; all of them are legacy names. */
const char *const Latin1Names[96] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect",
    "uml", "copy", "ordf", "laquo", "not", "shy", "reg", "macr",
    "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para", "middot",
    "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil",
    "Egrave", "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml",
    "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc", "Otilde", "Ouml", "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig",
    "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil",
    "egrave", "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml",
    "eth", "ntilde", "ograve", "oacute", "ocirc", "otilde", "ouml", "divide",
    "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml",
};

/* Capital Greek letters from U+0391; the small ones are 0x20 above. */
const char *const GreekNames[] = {
    "Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta", "Eta", "Theta",
    "Iota", "Kappa", "Lambda", "Mu", "Nu", "Xi", "Omicron", "Pi", "Rho",
    nullptr, "Sigma", "Tau", "Upsilon", "Phi", "Chi", "Psi", "Omega",
};

const NamedEntity OtherEntities[] = {
    {"amp", '&', true}, {"lt", '<', true}, {"gt", '>', true}, {"quot", '"', true},
    {"AMP", '&', true}, {"LT", '<', true}, {"GT", '>', true}, {"QUOT", '"', true},
    {"COPY", 0xA9, true}, {"REG", 0xAE, true}, {"apos", '\'', false},
    {"OElig", 0x152, false}, {"oelig", 0x153, false}, {"Scaron", 0x160, false},
    {"scaron", 0x161, false}, {"Yuml", 0x178, false}, {"fnof", 0x192, false},
    {"circ", 0x2C6, false}, {"tilde", 0x2DC, false}, {"sigmaf", 0x3C2, false},
    {"ensp", 0x2002, false}, {"emsp", 0x2003, false}, {"thinsp", 0x2009, false},
    {"zwnj", 0x200C, false}, {"zwj", 0x200D, false}, {"lrm", 0x200E, false},
    {"rlm", 0x200F, false}, {"ndash", 0x2013, false}, {"mdash", 0x2014, false},
    {"lsquo", 0x2018, false}, {"rsquo", 0x2019, false}, {"sbquo", 0x201A, false},
    {"ldquo", 0x201C, false}, {"rdquo", 0x201D, false}, {"bdquo", 0x201E, false},
    {"dagger", 0x2020, false}, {"Dagger", 0x2021, false}, {"bull", 0x2022, false},
    {"hellip", 0x2026, false}, {"permil", 0x2030, false}, {"prime", 0x2032, false},
    {"Prime", 0x2033, false}, {"lsaquo", 0x2039, false}, {"rsaquo", 0x203A, false},
    {"oline", 0x203E, false}, {"frasl", 0x2044, false}, {"euro", 0x20AC, false},
    {"trade", 0x2122, false}, {"larr", 0x2190, false}, {"uarr", 0x2191, false},
    {"rarr", 0x2192, false}, {"darr", 0x2193, false}, {"harr", 0x2194, false},
    {"minus", 0x2212, false}, {"infin", 0x221E, false}, {"asymp", 0x2248, false},
    {"ne", 0x2260, false}, {"le", 0x2264, false}, {"ge", 0x2265, false},
    {"loz", 0x25CA, false}, {"spades", 0x2660, false}, {"clubs", 0x2663, false},
    {"hearts", 0x2665, false}, {"diams", 0x2666, false}, {"check", 0x2713, false},
};

const size_t MaxEntityName = 32;

struct EntityTable {
    std::unordered_map<std::string, NamedEntity> byName;
    size_t longestLegacy = 0;

    EntityTable()
    {
        for (int i = 0; i < 96; ++i)
            Add({Latin1Names[i], (uint16_t)(0xA0 + i), true});
        for (size_t i = 0; i < sizeof GreekNames / sizeof GreekNames[0]; ++i) {
            if (!GreekNames[i])
                continue;
            Add({GreekNames[i], (uint16_t)(0x391 + i), false});
        }
        for (const NamedEntity &e : OtherEntities)
            Add(e);
        /* The small Greek letters: the capital's name with a lower-case
         * first letter. */
        for (size_t i = 0; i < sizeof GreekNames / sizeof GreekNames[0]; ++i) {
            if (!GreekNames[i])
                continue;
            std::string small = GreekNames[i];
            small[0] = (char)(small[0] + 32);
            byName[small] = NamedEntity{GreekNames[i], (uint16_t)(0x3B1 + i), false};
        }
    }

    void Add(const NamedEntity &e)
    {
        byName[e.name] = e;
        if (e.legacy)
            longestLegacy = std::max(longestLegacy, strlen(e.name));
    }

    const NamedEntity *Find(const std::string &name) const
    {
        auto it = byName.find(name);
        return it == byName.end() ? nullptr : &it->second;
    }
};

const EntityTable &Entities()
{
    static const EntityTable table;
    return table;
}

/* Windows-1252 meanings of the C1 range, which pages written on Windows
 * put into numeric references. */
const uint16_t Cp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

bool IsAsciiAlpha(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char16_t c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
bool IsHexDigit(char16_t c)
{
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char16_t c)
{
    if (IsAsciiDigit(c))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}
char16_t AsciiLower(char16_t c) { return (c >= 'A' && c <= 'Z') ? (char16_t)(c + 32) : c; }
bool IsHtmlSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

void AppendCodePoint(std::u16string *out, uint32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out->push_back((char16_t)(0xD800 + (cp >> 10)));
        out->push_back((char16_t)(0xDC00 + (cp & 0x3FF)));
    } else {
        out->push_back((char16_t)cp);
    }
}

size_t DecodeNumeric(const char16_t *s, size_t n, std::u16string *out)
{
    size_t i = 2;
    bool hex = false;
    if (i < n && (s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    }
    size_t digits = i;
    uint32_t value = 0;
    bool tooBig = false;
    while (i < n && (hex ? IsHexDigit(s[i]) : IsAsciiDigit(s[i]))) {
        if (!tooBig) {
            value = value * (hex ? 16 : 10) + (uint32_t)HexValue(s[i]);
            if (value > 0x10FFFF)
                tooBig = true;
        }
        ++i;
    }
    if (i == digits)
        return 0;                            /* "&#" or "&#x" with no digits: literal */
    if (i < n && s[i] == ';')
        ++i;
    if (tooBig || value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        value = 0xFFFD;
    else if (value >= 0x80 && value <= 0x9F)
        value = Cp1252High[value - 0x80];
    AppendCodePoint(out, value);
    return i;
}

} // namespace

size_t DecodeHtmlEntity(const char16_t *s, size_t n, bool inAttribute, std::u16string *out)
{
    if (n < 2 || s[0] != '&')
        return 0;
    if (s[1] == '#')
        return DecodeNumeric(s, n, out);

    std::string name;
    size_t i = 1;
    while (i < n && IsAsciiAlnum(s[i]) && name.size() < MaxEntityName)
        name.push_back((char)s[i++]);
    if (name.empty())
        return 0;
    const EntityTable &table = Entities();
    if (i < n && s[i] == ';') {
        if (const NamedEntity *e = table.Find(name)) {
            out->push_back((char16_t)e->code);
            return i + 1;
        }
    }
    /* Without a semicolon only the old Latin-1 names count, and the longest
     * one that starts the run wins ("&copy2" is "(c)2"). */
    size_t longest = std::min(name.size(), table.longestLegacy);
    for (size_t k = longest; k >= 2; --k) {
        const NamedEntity *e = table.Find(name.substr(0, k));
        if (!e || !e->legacy)
            continue;
        size_t end = 1 + k;
        if (inAttribute && end < n && (IsAsciiAlnum(s[end]) || s[end] == '='))
            return 0;                        /* "?a=1&copy=2" in a link stays as written */
        out->push_back((char16_t)e->code);
        if (end < n && s[end] == ';')
            ++end;
        return end;
    }
    return 0;
}

/* ------------------------------------------------------------------ */
/* Colours                                                             */

namespace {

struct NamedColor {
    const char *name;
    uint32_t rgb;
};

const NamedColor ColorNames[] = {
    {"black", 0x000000}, {"silver", 0xC0C0C0}, {"gray", 0x808080}, {"grey", 0x808080},
    {"white", 0xFFFFFF}, {"maroon", 0x800000}, {"red", 0xFF0000}, {"purple", 0x800080},
    {"fuchsia", 0xFF00FF}, {"magenta", 0xFF00FF}, {"green", 0x008000}, {"lime", 0x00FF00},
    {"olive", 0x808000}, {"yellow", 0xFFFF00}, {"navy", 0x000080}, {"blue", 0x0000FF},
    {"teal", 0x008080}, {"aqua", 0x00FFFF}, {"cyan", 0x00FFFF}, {"orange", 0xFFA500},
    {"brown", 0xA52A2A}, {"darkblue", 0x00008B}, {"darkgreen", 0x006400},
    {"darkred", 0x8B0000}, {"darkgray", 0xA9A9A9}, {"darkgrey", 0xA9A9A9},
    {"lightgray", 0xD3D3D3}, {"lightgrey", 0xD3D3D3}, {"gold", 0xFFD700},
    {"pink", 0xFFC0CB}, {"violet", 0xEE82EE}, {"indigo", 0x4B0082},
};

} // namespace

bool ParseHtmlColor(const char16_t *value, size_t length, uint32_t *color)
{
    size_t b = 0, e = length;
    while (b < e && IsHtmlSpace(value[b]))
        ++b;
    while (e > b && IsHtmlSpace(value[e - 1]))
        --e;
    if (b == e)
        return false;
    std::string lower;
    for (size_t i = b; i < e && lower.size() <= 16; ++i)
        lower.push_back((char)(value[i] < 0x80 ? AsciiLower(value[i]) : '?'));
    if (lower == "transparent")
        return false;
    for (const NamedColor &c : ColorNames) {
        if (lower == c.name) {
            *color = c.rgb;
            return true;
        }
    }
    if (e - b == 4 && value[b] == '#' && IsHexDigit(value[b + 1]) && IsHexDigit(value[b + 2]) &&
        IsHexDigit(value[b + 3])) {
        uint32_t r = (uint32_t)HexValue(value[b + 1]), g = (uint32_t)HexValue(value[b + 2]),
                 bl = (uint32_t)HexValue(value[b + 3]);
        *color = (r * 17) << 16 | (g * 17) << 8 | bl * 17;
        return true;
    }
    /* The legacy rule: anything else becomes hex digits, split in three. */
    std::string digits;
    if (value[b] == '#')
        ++b;
    for (size_t i = b; i < e && digits.size() < 128; ++i) {
        char16_t c = value[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < e) {
            digits += "00";                 /* a character beyond the BMP counts twice */
            ++i;
        } else {
            digits.push_back(IsHexDigit(c) ? (char)c : '0');
        }
    }
    if (digits.size() > 128)
        digits.resize(128);
    while (digits.empty() || digits.size() % 3 != 0)
        digits.push_back('0');
    size_t part = digits.size() / 3;
    std::string parts[3] = {digits.substr(0, part), digits.substr(part, part),
                            digits.substr(2 * part, part)};
    if (part > 8) {
        for (std::string &p : parts)
            p = p.substr(p.size() - 8);
        part = 8;
    }
    while (part > 2 && parts[0][0] == '0' && parts[1][0] == '0' && parts[2][0] == '0') {
        for (std::string &p : parts)
            p.erase(0, 1);
        --part;
    }
    uint32_t rgb = 0;
    for (std::string &p : parts) {
        if (p.size() > 2)
            p.resize(2);
        uint32_t v = 0;
        for (char c : p)
            v = v * 16 + (uint32_t)HexValue((char16_t)c);
        rgb = rgb << 8 | v;
    }
    *color = rgb;
    return true;
}

/* ------------------------------------------------------------------ */
/* Plain text                                                          */

std::u16string EscapePlainText(const char16_t *text, size_t length)
{
    std::u16string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char16_t c = text[i];
        switch (c) {
        case '&': out += u"&amp;"; break;
        case '<': out += u"&lt;"; break;
        case '>': out += u"&gt;"; break;
        case '\r':
            if (i + 1 < length && text[i + 1] == '\n')
                ++i;
            out += u"<br>";
            break;
        case '\n': out += u"<br>"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

/* ------------------------------------------------------------------ */
/* Parser                                                              */

namespace {

enum Tag : uint8_t {
    TagUnknown,
    /* inline */
    TagA, TagB, TagI, TagU, TagS, TagTt, TagBig, TagSmall, TagSub, TagFont,
    /* blocks */
    TagP, TagDiv, TagCenter, TagH1, TagH2, TagH3, TagH4, TagH5, TagH6, TagUl, TagOl,
    TagLi, TagDl, TagDt, TagDd, TagBlockquote, TagPre, TagAddress, TagTable, TagTr,
    TagTd, TagTh, TagSection,
    /* void */
    TagBr, TagHr, TagVoid,
    /* skipped with their content */
    TagScript, TagXmp,
    /* structure whose tags are dropped */
    TagBody, TagIgnored,
};

enum TagKind : uint8_t { KindInline, KindBlock, KindVoid, KindRaw, KindOther };

struct TagInfo {
    const char *name;
    Tag tag;
    uint8_t flags;               /* style flags it sets */
};

const TagInfo TagInfos[] = {
    {"a", TagA, 0}, {"b", TagB, HtmlBold}, {"strong", TagB, HtmlBold},
    {"i", TagI, HtmlItalic}, {"em", TagI, HtmlItalic}, {"cite", TagI, HtmlItalic},
    {"var", TagI, HtmlItalic}, {"dfn", TagI, HtmlItalic},
    {"u", TagU, HtmlUnderline}, {"ins", TagU, HtmlUnderline},
    {"s", TagS, HtmlStrike}, {"strike", TagS, HtmlStrike}, {"del", TagS, HtmlStrike},
    {"tt", TagTt, HtmlMonospace}, {"code", TagTt, HtmlMonospace},
    {"kbd", TagTt, HtmlMonospace}, {"samp", TagTt, HtmlMonospace},
    {"big", TagBig, 0}, {"small", TagSmall, 0}, {"sub", TagSub, 0}, {"sup", TagSub, 0},
    {"font", TagFont, 0},
    {"p", TagP, 0}, {"div", TagDiv, 0}, {"center", TagCenter, 0},
    {"h1", TagH1, HtmlBold}, {"h2", TagH2, HtmlBold}, {"h3", TagH3, HtmlBold},
    {"h4", TagH4, HtmlBold}, {"h5", TagH5, HtmlBold}, {"h6", TagH6, HtmlBold},
    {"ul", TagUl, 0}, {"menu", TagUl, 0}, {"dir", TagUl, 0}, {"ol", TagOl, 0},
    {"li", TagLi, 0}, {"dl", TagDl, 0}, {"dt", TagDt, 0}, {"dd", TagDd, 0},
    {"blockquote", TagBlockquote, 0}, {"pre", TagPre, HtmlMonospace},
    {"listing", TagPre, HtmlMonospace}, {"plaintext", TagPre, HtmlMonospace},
    {"address", TagAddress, HtmlItalic}, {"table", TagTable, 0}, {"tr", TagTr, 0},
    {"td", TagTd, 0}, {"th", TagTh, HtmlBold}, {"form", TagSection, 0},
    {"fieldset", TagSection, 0}, {"section", TagSection, 0}, {"article", TagSection, 0},
    {"header", TagSection, 0}, {"footer", TagSection, 0}, {"nav", TagSection, 0},
    {"aside", TagSection, 0}, {"main", TagSection, 0}, {"figure", TagSection, 0},
    {"caption", TagSection, 0}, {"hgroup", TagSection, 0}, {"details", TagSection, 0},
    {"summary", TagSection, 0}, {"figcaption", TagSection, 0},
    {"br", TagBr, 0}, {"hr", TagHr, 0},
    {"img", TagVoid, 0}, {"input", TagVoid, 0}, {"meta", TagVoid, 0}, {"link", TagVoid, 0},
    {"area", TagVoid, 0}, {"base", TagVoid, 0}, {"basefont", TagVoid, 0}, {"col", TagVoid, 0},
    {"wbr", TagVoid, 0}, {"param", TagVoid, 0}, {"embed", TagVoid, 0}, {"source", TagVoid, 0},
    {"track", TagVoid, 0}, {"frame", TagVoid, 0}, {"keygen", TagVoid, 0},
    {"isindex", TagVoid, 0}, {"spacer", TagVoid, 0}, {"image", TagVoid, 0},
    {"script", TagScript, 0}, {"style", TagScript, 0}, {"title", TagScript, 0},
    {"textarea", TagScript, 0}, {"noembed", TagScript, 0}, {"noframes", TagScript, 0},
    {"iframe", TagScript, 0}, {"template", TagScript, 0}, {"xmp", TagXmp, HtmlMonospace},
    {"body", TagBody, 0}, {"html", TagIgnored, 0}, {"head", TagIgnored, 0},
};

TagKind KindOf(Tag t)
{
    if (t >= TagA && t <= TagFont)
        return KindInline;
    if (t >= TagP && t <= TagSection)
        return KindBlock;
    if (t >= TagBr && t <= TagVoid)
        return KindVoid;
    if (t == TagScript || t == TagXmp)
        return KindRaw;
    return KindOther;
}

/* Blocks whose start ends an open <p>, as browsers do. */
bool ClosesParagraph(Tag t)
{
    return KindOf(t) == KindBlock && t != TagLi && t != TagDt && t != TagDd &&
           t != TagTd && t != TagTh && t != TagTr;
}

/* Cells and rows shape the table, but do not start new paragraphs by
 * themselves the way other blocks do. */
bool MakesBoundary(Tag t) { return KindOf(t) == KindBlock && t != TagTd && t != TagTh; }

bool IsHeading(Tag t) { return t >= TagH1 && t <= TagH6; }

/* Margin above and below, in half lines of the control's font. */
int BlockGap(Tag t, int listDepth)
{
    switch (t) {
    case TagP: case TagDl: case TagBlockquote: case TagPre: case TagXmp:
    case TagH1: case TagH2: case TagH3: case TagH4: case TagH5: case TagH6:
        return 2;
    case TagUl: case TagOl:
        return listDepth == 0 ? 2 : 0;
    default:
        return 0;
    }
}

struct Attribute {
    std::u16string name;
    std::u16string value;
};

const size_t MaxAttributes = 32;
const size_t MaxAttributeName = 32;
const size_t MaxTagName = 16;

struct TagToken {
    std::string name;            /* lower case ASCII; empty when not a known shape */
    bool end = false;
    std::vector<Attribute> attributes;

    const std::u16string *Find(const char16_t *attribute) const
    {
        for (const Attribute &a : attributes)
            if (a.name == attribute)
                return &a.value;
        return nullptr;
    }
};

/* One open element.  effect* describe what the element itself changes, so
 * that styles can be recomputed when a misnested close tag takes an element
 * out of the middle of the stack. */
struct Element {
    Tag tag = TagUnknown;
    uint8_t align = 0xFF;        /* 0xFF: not set here */
    uint8_t effectFlags = 0;
    int8_t sizeMode = 0;         /* 0 none, 1 absolute, 2 relative to current */
    int8_t sizeValue = 0;
    uint16_t effectFace = 0;
    uint32_t effectColor = HtmlDefaultColor;
    int32_t effectLink = -1;
    /* lists */
    uint8_t listType = 0;        /* '1', 'a', 'A', 'i', 'I', or 'd' disc, 'c' circle, 's' square */
    int32_t counter = 0;
    /* computed */
    HtmlStyle style;
    int32_t link = -1;
};

int32_t ParseInt(const std::u16string &s, bool *ok)
{
    size_t i = 0;
    while (i < s.size() && IsHtmlSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    size_t start = i;
    int64_t v = 0;
    while (i < s.size() && IsAsciiDigit(s[i])) {
        if (v < 1000000000)
            v = v * 10 + (s[i] - '0');
        ++i;
    }
    *ok = i > start;
    return (int32_t)(negative ? -v : v);
}

bool EqualsAscii(const std::u16string &s, const char *a)
{
    size_t n = strlen(a);
    if (s.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (AsciiLower(s[i]) != (char16_t)a[i])
            return false;
    return true;
}

uint8_t ParseAlign(const std::u16string *v)
{
    if (!v)
        return 0xFF;
    std::u16string t = *v;
    while (!t.empty() && IsHtmlSpace(t.back()))
        t.pop_back();
    while (!t.empty() && IsHtmlSpace(t.front()))
        t.erase(0, 1);
    if (EqualsAscii(t, "center") || EqualsAscii(t, "middle"))
        return HtmlAlignCenter;
    if (EqualsAscii(t, "right"))
        return HtmlAlignRight;
    if (EqualsAscii(t, "left") || EqualsAscii(t, "justify"))
        return HtmlAlignLeft;
    return 0xFF;
}

struct StyleHash {
    size_t operator()(const HtmlStyle &s) const
    {
        return (size_t)s.color * 31u + (size_t)s.flags * 7u + (size_t)s.size * 131u +
               (size_t)s.face * 1031u;
    }
};

class Parser {
public:
    Parser(const char16_t *s, size_t n, HtmlDocument *d) : src(s), len(n), doc(d) {}
    void Run();

private:
    const char16_t *src;
    size_t len;
    size_t pos = 0;
    HtmlDocument *doc;

    std::vector<Element> stack;
    std::unordered_map<HtmlStyle, uint32_t, StyleHash> styleIndex;

    bool blockOpen = false;
    bool anyBlock = false;       /* the first block gets no gap above it */
    bool lastWasSpace = true;
    bool skipNewline = false;    /* right after <pre> */
    int pendingGap = 0;
    std::u16string pendingMarker;
    uint32_t pendingMarkerStyle = 0;
    bool hasPendingMarker = false;
    int preDepth = 0;
    int column = 0;              /* in <pre>, for tab stops */
    bool bodySeen[7] = {};
    uint32_t currentStyle = 0;
    bool styleDirty = false;

    /* Tokenizer */
    void Text(size_t end);
    bool ReadTag(TagToken *tag);
    void SkipTo(char16_t c);
    void SkipRawText(const std::string &name, bool show);

    /* Tree building */
    void StartTag(const TagToken &t, Tag tag, uint8_t tagFlags);
    void StartBlock(const TagToken &t, Element e);
    void CloseImpliedBy(Tag tag);
    void BreakBefore(Tag tag);
    void BlockSettings(const TagToken &t, Element *e);
    Element *InnermostList();
    void StartInline(const TagToken &t, Element e);
    void LinkSettings(const TagToken &t, Element *e);
    void FontSettings(const TagToken &t, Element *e);
    void FontFace(const std::u16string &list, Element *e);
    void EndTag(Tag tag);
    void BodyAttributes(const TagToken &t);
    HtmlStyle CurrentStyle() const { return stack.empty() ? HtmlStyle() : stack.back().style; }
    uint32_t CurrentStyleIndex()
    {
        if (styleDirty) {
            currentStyle = Intern(CurrentStyle());
            styleDirty = false;
        }
        return currentStyle;
    }
    int32_t CurrentLink() const { return stack.empty() ? -1 : stack.back().link; }
    uint32_t Intern(const HtmlStyle &s);
    void Recompute(size_t from);
    void Push(Element e);
    void RemoveAt(size_t index);
    void RemoveFrom(size_t index);
    void CloseFrom(size_t index);
    int FindOpen(Tag tag, Tag stopAt1 = TagUnknown, Tag stopAt2 = TagUnknown) const;
    int ListDepth() const;
    void ClosePInScope();
    void CloseListItem(Tag item);
    void CloseCell(Tag which);

    /* Content */
    void EnsureBlock();
    void EndBlock(bool flushMarker);
    void AppendChar(char16_t c);
    void AppendContent(char16_t c);
    void AddBreak();
    void AddRule();
    void MakeMarker(Element *list, const TagToken &t);
};

uint32_t Parser::Intern(const HtmlStyle &s)
{
    auto it = styleIndex.find(s);
    if (it != styleIndex.end())
        return it->second;
    uint32_t index = (uint32_t)doc->styles.size();
    doc->styles.push_back(s);
    styleIndex.emplace(s, index);
    return index;
}

void Parser::Recompute(size_t from)
{
    for (size_t i = from; i < stack.size(); ++i) {
        Element &e = stack[i];
        HtmlStyle s = i == 0 ? HtmlStyle() : stack[i - 1].style;
        int32_t link = i == 0 ? -1 : stack[i - 1].link;
        s.flags |= e.effectFlags;
        if (e.sizeMode == 1)
            s.size = (uint8_t)e.sizeValue;
        else if (e.sizeMode == 2)
            s.size = (uint8_t)std::max(1, std::min(7, s.size + e.sizeValue));
        if (e.effectFace)
            s.face = e.effectFace;
        if (e.effectColor != HtmlDefaultColor)
            s.color = e.effectColor;
        if (e.effectLink >= 0)
            link = e.effectLink;
        e.style = s;
        e.link = link;
    }
    styleDirty = true;
    preDepth = 0;
    for (const Element &e : stack)
        if (e.tag == TagPre || e.tag == TagXmp)
            ++preDepth;
}

void Parser::Push(Element e)
{
    if (stack.size() >= HtmlMaxNesting)
        return;
    stack.push_back(e);
    Recompute(stack.size() - 1);
}

void Parser::RemoveAt(size_t index)
{
    stack.erase(stack.begin() + (ptrdiff_t)index);
    Recompute(index);
}

/* Takes out the element at index and the blocks opened inside it; inline
 * elements inside carry on, as browsers reopen them. */
void Parser::RemoveFrom(size_t index)
{
    size_t out = index;
    for (size_t i = index + 1; i < stack.size(); ++i) {
        if (KindOf(stack[i].tag) == KindInline)
            stack[out++] = stack[i];
    }
    stack.resize(out);
    Recompute(index);
}

int Parser::FindOpen(Tag tag, Tag stopAt1, Tag stopAt2) const
{
    for (size_t i = stack.size(); i-- > 0;) {
        if (stack[i].tag == tag)
            return (int)i;
        if (stack[i].tag == stopAt1 || stack[i].tag == stopAt2)
            return -1;
    }
    return -1;
}

int Parser::ListDepth() const
{
    int depth = 0;
    for (const Element &e : stack)
        if (e.tag == TagUl || e.tag == TagOl)
            ++depth;
    return depth;
}

/* Closes the element at index and the blocks opened inside it, the way an
 * end tag or an implied end does: the open paragraph ends, the margins of
 * everything closed collapse into the gap below, and a list item that never
 * got content still shows its marker. */
void Parser::CloseFrom(size_t index)
{
    int depth = 0;
    for (size_t i = 0; i < index; ++i)
        if (stack[i].tag == TagUl || stack[i].tag == TagOl)
            ++depth;
    bool flushMarker = false;
    bool boundary = false;
    int gap = 0;
    for (size_t i = index; i < stack.size(); ++i) {
        Tag t = stack[i].tag;
        if (KindOf(t) == KindInline)
            continue;
        gap = std::max(gap, BlockGap(t, depth));
        if (t == TagUl || t == TagOl)
            ++depth;
        if (t == TagLi || t == TagDt || t == TagDd || t == TagUl || t == TagOl || t == TagDl ||
            t == TagTable || t == TagTr)
            flushMarker = true;
        if (MakesBoundary(t) || t == TagXmp)
            boundary = true;
    }
    if (boundary)
        EndBlock(flushMarker);
    RemoveFrom(index);
    pendingGap = std::max(pendingGap, gap);
}

void Parser::ClosePInScope()
{
    for (size_t i = stack.size(); i-- > 0;) {
        Tag t = stack[i].tag;
        if (t == TagP) {
            CloseFrom(i);
            return;
        }
        if (t == TagTable || t == TagTd || t == TagTh)
            return;
    }
}

void Parser::CloseListItem(Tag item)
{
    for (size_t i = stack.size(); i-- > 0;) {
        Tag t = stack[i].tag;
        if (t == item || (item == TagDt && t == TagDd) || (item == TagDd && t == TagDt)) {
            CloseFrom(i);
            return;
        }
        if (t == TagUl || t == TagOl || t == TagDl || t == TagTable)
            return;
    }
}

void Parser::CloseCell(Tag which)
{
    for (size_t i = stack.size(); i-- > 0;) {
        Tag t = stack[i].tag;
        if (t == which || (which == TagTd && t == TagTh)) {
            CloseFrom(i);
            return;
        }
        if (t == TagTable)
            return;
    }
}

void Parser::EnsureBlock()
{
    if (blockOpen)
        return;
    HtmlBlock b;
    b.gapBefore = (uint16_t)(anyBlock ? pendingGap : 0);
    pendingGap = 0;
    int indent = 0;
    for (const Element &e : stack) {
        if (e.align != 0xFF)
            b.align = e.align;
        if (e.tag == TagUl || e.tag == TagOl || e.tag == TagBlockquote || e.tag == TagDd)
            ++indent;
    }
    b.indent = (uint8_t)std::min<int>(indent, (int)HtmlMaxIndent);
    b.preformatted = preDepth > 0;
    b.style = Intern(CurrentStyle());
    b.firstRun = (uint32_t)doc->runs.size();
    if (hasPendingMarker) {
        b.markerStart = (uint32_t)doc->text.size();
        b.markerLength = (uint32_t)pendingMarker.size();
        doc->text += pendingMarker;
        b.style = pendingMarkerStyle;
        hasPendingMarker = false;
    }
    doc->blocks.push_back(b);
    blockOpen = true;
    anyBlock = true;
    lastWasSpace = true;
    column = 0;
}

void Parser::EndBlock(bool flushMarker)
{
    if (!blockOpen && flushMarker && hasPendingMarker)
        EnsureBlock();                  /* an empty list item still shows its bullet */
    if (!blockOpen)
        return;
    HtmlBlock &b = doc->blocks.back();
    if (!b.preformatted && b.runCount > 0) {
        HtmlRun &last = doc->runs.back();
        if (last.kind == HtmlTextRun && last.length > 0 &&
            doc->text[last.start + last.length - 1] == ' ') {
            --last.length;
            doc->text.pop_back();
            if (last.length == 0) {
                doc->runs.pop_back();
                --b.runCount;
            }
        }
    }
    blockOpen = false;
    lastWasSpace = true;
}

void Parser::AppendContent(char16_t c)
{
    EnsureBlock();
    HtmlBlock &b = doc->blocks.back();
    uint32_t style = CurrentStyleIndex();
    int32_t link = CurrentLink();
    if (b.runCount > 0) {
        HtmlRun &last = doc->runs.back();
        if (last.kind == HtmlTextRun && last.style == style && last.link == link &&
            last.start + last.length == doc->text.size()) {
            doc->text.push_back(c);
            ++last.length;
            return;
        }
    }
    HtmlRun r;
    r.kind = HtmlTextRun;
    r.style = style;
    r.link = link;
    r.start = (uint32_t)doc->text.size();
    r.length = 1;
    doc->text.push_back(c);
    doc->runs.push_back(r);
    ++b.runCount;
}

void Parser::AddBreak()
{
    EnsureBlock();
    HtmlBlock &b = doc->blocks.back();
    if (!b.preformatted && b.runCount > 0) {
        /* The space before a break would hang at the end of the line. */
        HtmlRun &last = doc->runs.back();
        if (last.kind == HtmlTextRun && last.length > 0 && last.start + last.length == doc->text.size() &&
            doc->text.back() == ' ') {
            --last.length;
            doc->text.pop_back();
            if (last.length == 0) {
                doc->runs.pop_back();
                --b.runCount;
            }
        }
    }
    HtmlRun r;
    r.kind = HtmlLineBreak;
    r.style = Intern(CurrentStyle());
    r.start = (uint32_t)doc->text.size();
    doc->runs.push_back(r);
    ++b.runCount;
    lastWasSpace = true;
    column = 0;
}

void Parser::AddRule()
{
    EndBlock(true);
    pendingGap = std::max(pendingGap, 1);
    HtmlBlock b;
    b.kind = HtmlRule;
    b.gapBefore = (uint16_t)(anyBlock ? pendingGap : 0);
    b.style = Intern(CurrentStyle());
    b.firstRun = (uint32_t)doc->runs.size();
    doc->blocks.push_back(b);
    anyBlock = true;
    pendingGap = 1;
    lastWasSpace = true;
}

void Parser::AppendChar(char16_t c)
{
    if ((c < 0x20 && !IsHtmlSpace(c)) || c == 0x7F || c == 0xAD)
        return;                          /* controls and soft hyphens are never drawn */
    if (skipNewline) {
        skipNewline = false;
        if (c == '\n')
            return;
    }
    if (preDepth > 0) {
        if (c == '\r')
            return;                      /* "\r\n" and "\n" alike end the line */
        if (c == '\n') {
            AddBreak();
            return;
        }
        if (c == '\t' || c == '\f') {
            do {
                AppendContent(' ');
                ++column;
            } while (column % 8 != 0);
            return;
        }
        AppendContent(c);
        ++column;
        return;
    }
    if (IsHtmlSpace(c)) {
        if (blockOpen && !lastWasSpace) {
            AppendContent(' ');
            lastWasSpace = true;
        }
        return;
    }
    AppendContent(c);
    lastWasSpace = false;
}

/* Text up to end, with character references decoded and lone surrogates
 * made visible as U+FFFD. */
void Parser::Text(size_t end)
{
    std::u16string decoded;
    while (pos < end) {
        char16_t c = src[pos];
        if (c == '&') {
            decoded.clear();
            size_t used = DecodeHtmlEntity(src + pos, end - pos, false, &decoded);
            if (used > 0) {
                for (char16_t d : decoded)
                    AppendChar(d);
                pos += used;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (pos + 1 < end && src[pos + 1] >= 0xDC00 && src[pos + 1] <= 0xDFFF) {
                AppendChar(c);
                AppendChar(src[pos + 1]);
                pos += 2;
                continue;
            }
            c = 0xFFFD;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendChar(c);
        ++pos;
    }
}

void Parser::SkipTo(char16_t c)
{
    while (pos < len && src[pos] != c)
        ++pos;
    if (pos < len)
        ++pos;
}

/* Reads a start or end tag at pos (which is at '<').  Returns false when
 * the input ends inside the tag; browsers then drop it. */
bool Parser::ReadTag(TagToken *t)
{
    size_t i = pos + 1;
    if (src[i] == '/') {
        t->end = true;
        ++i;
    }
    std::string name;
    bool nameTooLong = false;
    while (i < len && !IsHtmlSpace(src[i]) && src[i] != '/' && src[i] != '>') {
        char16_t c = AsciiLower(src[i]);
        if (name.size() < MaxTagName && c < 0x80)
            name.push_back((char)c);
        else
            nameTooLong = true;
        ++i;
    }
    t->name = nameTooLong ? std::string() : name;
    for (;;) {
        while (i < len && (IsHtmlSpace(src[i]) || src[i] == '/'))
            ++i;
        if (i >= len)
            return false;
        if (src[i] == '>') {
            pos = i + 1;
            return true;
        }
        Attribute a;
        size_t nameStart = i;
        while (i < len && !IsHtmlSpace(src[i]) && src[i] != '/' && src[i] != '>' &&
               (src[i] != '=' || i == nameStart)) {
            if (a.name.size() < MaxAttributeName)
                a.name.push_back(AsciiLower(src[i]));
            ++i;
        }
        while (i < len && IsHtmlSpace(src[i]))
            ++i;
        if (i < len && src[i] == '=') {
            ++i;
            while (i < len && IsHtmlSpace(src[i]))
                ++i;
            if (i >= len)
                return false;
            size_t vstart, vend;
            if (src[i] == '"' || src[i] == '\'') {
                char16_t quote = src[i++];
                vstart = i;
                while (i < len && src[i] != quote)
                    ++i;
                if (i >= len)
                    return false;
                vend = i++;
            } else {
                vstart = i;
                while (i < len && !IsHtmlSpace(src[i]) && src[i] != '>')
                    ++i;
                vend = i;
            }
            bool keep = t->attributes.size() < MaxAttributes && !t->Find(a.name.c_str());
            for (size_t k = vstart; keep && k < vend;) {
                if (src[k] == '&') {
                    size_t used = DecodeHtmlEntity(src + k, vend - k, true, &a.value);
                    if (used > 0) {
                        k += used;
                        continue;
                    }
                }
                char16_t c = src[k++];
                if (c == 0 || (c >= 0xD800 && c <= 0xDFFF))
                    c = 0xFFFD;          /* a link target must stay one valid string */
                a.value.push_back(c);
            }
            if (keep)
                t->attributes.push_back(std::move(a));
        } else if (t->attributes.size() < MaxAttributes && !t->Find(a.name.c_str())) {
            t->attributes.push_back(std::move(a));
        }
    }
}

/* Skips (or, for <xmp>, shows literally) everything up to the matching end
 * tag; the content of <script> and its like is never markup. */
void Parser::SkipRawText(const std::string &name, bool show)
{
    size_t i = pos;
    for (; i < len; ++i) {
        if (src[i] != '<' || i + 1 >= len || src[i + 1] != '/')
            continue;
        size_t k = 0;
        while (k < name.size() && i + 2 + k < len && AsciiLower(src[i + 2 + k]) == (char16_t)name[k])
            ++k;
        if (k < name.size())
            continue;
        size_t after = i + 2 + k;
        if (after >= len || IsHtmlSpace(src[after]) || src[after] == '/' || src[after] == '>')
            break;
    }
    if (show) {
        for (size_t k = pos; k < i; ++k) {
            char16_t c = src[k];
            AppendChar((c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
        }
    }
    pos = i;
}

void Parser::BodyAttributes(const TagToken &t)
{
    /* A second <body> only adds what the first did not say. */
    static const char16_t *const names[7] = {u"bgcolor", u"text", u"link", u"topmargin",
                                             u"leftmargin", u"rightmargin", u"bottommargin"};
    for (int k = 0; k < 7; ++k) {
        const std::u16string *v = t.Find(names[k]);
        if (!v && k == 3)
            v = t.Find(u"marginheight");
        if (!v && (k == 4 || k == 5))
            v = t.Find(u"marginwidth");
        if (!v && k == 6)
            v = t.Find(u"marginheight");
        if (!v || bodySeen[k])
            continue;
        uint32_t color;
        bool ok;
        switch (k) {
        case 0:
            if (ParseHtmlColor(v->data(), v->size(), &color)) {
                doc->hasBackground = true;
                doc->background = color;
                bodySeen[k] = true;
            }
            break;
        case 1:
            if (ParseHtmlColor(v->data(), v->size(), &color)) {
                doc->textColor = color;
                bodySeen[k] = true;
            }
            break;
        case 2:
            if (ParseHtmlColor(v->data(), v->size(), &color)) {
                doc->linkColor = color;
                bodySeen[k] = true;
            }
            break;
        default: {
            int32_t m = ParseInt(*v, &ok);
            if (!ok)
                break;
            m = std::max(0, std::min(m, 200));
            int *target[4] = {&doc->topMargin, &doc->leftMargin, &doc->rightMargin,
                              &doc->bottomMargin};
            *target[k - 3] = m;
            bodySeen[k] = true;
        }
        }
    }
}

void Parser::MakeMarker(Element *list, const TagToken &t)
{
    std::u16string marker;
    uint8_t type = list ? list->listType : 'd';
    if (type == 'd' || type == 'c' || type == 's') {
        marker.push_back(type == 'd' ? 0x2022 : type == 'c' ? 0x25E6 : 0x25AA);
    } else {
        bool ok = false;
        int32_t value = 0;
        if (const std::u16string *v = t.Find(u"value"))
            value = ParseInt(*v, &ok);
        if (ok)
            list->counter = value;
        else if (list->counter < 2000000000)
            ++list->counter;
        int32_t n = list->counter;
        std::string digits;
        if ((type == 'a' || type == 'A') && n > 0) {
            while (n > 0) {
                --n;
                digits.insert(digits.begin(), (char)((type == 'a' ? 'a' : 'A') + n % 26));
                n /= 26;
            }
        } else if ((type == 'i' || type == 'I') && n > 0 && n < 4000) {
            static const char *const roman[13] = {"m", "cm", "d", "cd", "c", "xc", "l",
                                                  "xl", "x", "ix", "v", "iv", "i"};
            static const int values[13] = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
            for (int k = 0; k < 13; ++k)
                while (n >= values[k]) {
                    digits += roman[k];
                    n -= values[k];
                }
            if (type == 'I')
                for (char &c : digits)
                    c = (char)(c - 32);
        } else {
            digits = std::to_string(n);
        }
        for (char c : digits)
            marker.push_back((char16_t)c);
        marker.push_back('.');
    }
    pendingMarker = marker;
    pendingMarkerStyle = Intern(CurrentStyle());
    hasPendingMarker = true;
}

/* A <ul>'s bullet: by how deep the list is nested, unless its type names one. */
uint8_t BulletType(const TagToken &t, int depth)
{
    uint8_t type = depth == 0 ? 'd' : depth == 1 ? 'c' : 's';
    if (const std::u16string *v = t.Find(u"type")) {
        if (EqualsAscii(*v, "circle"))
            type = 'c';
        else if (EqualsAscii(*v, "square"))
            type = 's';
        else if (EqualsAscii(*v, "disc"))
            type = 'd';
    }
    return type;
}

/* An <ol>'s numbering style and the count before its first item. */
void Numbering(const TagToken &t, Element *e)
{
    e->listType = '1';
    if (const std::u16string *v = t.Find(u"type"))
        if (v->size() == 1 && (strchr("aAiI1", (char)(*v)[0]) && (*v)[0] < 0x80))
            e->listType = (uint8_t)(*v)[0];
    bool ok;
    int32_t start = 1;
    if (const std::u16string *v = t.Find(u"start")) {
        int32_t s = ParseInt(*v, &ok);
        if (ok)
            start = std::max(-1000000000, std::min(s, 1000000000));
    }
    e->counter = start - 1;
}

/* <font size>: 1 to 7, or a step from 3 when signed. */
void FontSize(const std::u16string &v, Element *e)
{
    bool ok;
    size_t i = 0;
    while (i < v.size() && IsHtmlSpace(v[i]))
        ++i;
    bool relative = i < v.size() && (v[i] == '+' || v[i] == '-');
    int32_t n = ParseInt(v, &ok);
    if (ok) {
        if (relative)
            n += 3;
        e->sizeMode = 1;
        e->sizeValue = (int8_t)std::max(1, std::min(7, n));
    }
}

void Parser::StartTag(const TagToken &t, Tag tag, uint8_t tagFlags)
{
    switch (tag) {
    case TagBody:
        BodyAttributes(t);
        return;
    case TagBr:
        AddBreak();
        return;
    case TagHr:
        ClosePInScope();
        AddRule();
        return;
    default:
        break;
    }
    TagKind kind = KindOf(tag);
    if (kind == KindVoid || kind == KindOther || tag == TagUnknown || tag == TagScript)
        return;

    Element e;
    e.tag = tag;
    e.effectFlags = tagFlags;
    if (kind == KindBlock || tag == TagXmp)
        StartBlock(t, e);
    else
        StartInline(t, e);
}

/* A block opens: it ends what its start implies, breaks from what came
 * before, and an item gets its marker. */
void Parser::StartBlock(const TagToken &t, Element e)
{
    Tag tag = e.tag;
    CloseImpliedBy(tag);
    BreakBefore(tag);
    pendingGap = std::max(pendingGap, BlockGap(tag, ListDepth()));
    BlockSettings(t, &e);
    if (tag == TagPre || tag == TagXmp)
        skipNewline = true;
    Push(e);
    if (tag == TagLi)
        MakeMarker(InnermostList(), t);
    if (tag == TagXmp)
        SkipRawText("xmp", true);
}

/* The open elements a block's start ends, as browsers end them. */
void Parser::CloseImpliedBy(Tag tag)
{
    if (ClosesParagraph(tag) || tag == TagXmp)
        ClosePInScope();
    if (tag == TagLi)
        CloseListItem(TagLi);
    if (tag == TagDt || tag == TagDd)
        CloseListItem(tag);
    if (tag == TagTd || tag == TagTh || tag == TagTr)
        CloseCell(TagTd);
    if (tag == TagTr)
        CloseCell(TagTr);
}

void Parser::BreakBefore(Tag tag)
{
    if (tag == TagLi || tag == TagDt || tag == TagDd) {
        EndBlock(true);              /* the previous item, even if empty */
    } else if (MakesBoundary(tag) || tag == TagXmp) {
        EndBlock(false);
    } else if (blockOpen && !lastWasSpace) {
        AppendContent(' ');          /* table cells side by side */
        lastWasSpace = true;
    }
}

/* Alignment, a heading's size, a list's markers. */
void Parser::BlockSettings(const TagToken &t, Element *e)
{
    e->align = ParseAlign(t.Find(u"align"));
    if (e->tag == TagCenter)
        e->align = HtmlAlignCenter;
    if (IsHeading(e->tag)) {
        static const int8_t sizes[6] = {6, 5, 4, 3, 2, 1};
        e->sizeMode = 1;
        e->sizeValue = sizes[e->tag - TagH1];
    }
    if (e->tag == TagUl)
        e->listType = BulletType(t, ListDepth());
    if (e->tag == TagOl)
        Numbering(t, e);
}

Element *Parser::InnermostList()
{
    for (size_t i = stack.size(); i-- > 0;)
        if (stack[i].tag == TagUl || stack[i].tag == TagOl)
            return &stack[i];
    return nullptr;
}

/* An inline element opens: a link, a size step or a font change, or only
 * the style flags of its tag. */
void Parser::StartInline(const TagToken &t, Element e)
{
    switch (e.tag) {
    case TagA:
        LinkSettings(t, &e);
        break;
    case TagBig:
    case TagSmall:
    case TagSub:
        e.sizeMode = 2;
        e.sizeValue = e.tag == TagBig ? 1 : -1;
        break;
    case TagFont:
        FontSettings(t, &e);
        break;
    default:
        break;
    }
    Push(e);
}

void Parser::LinkSettings(const TagToken &t, Element *e)
{
    int open = FindOpen(TagA);
    if (open >= 0)
        RemoveAt((size_t)open);     /* links do not nest */
    const std::u16string *href = t.Find(u"href");
    if (href) {
        e->effectLink = (int32_t)doc->links.size();
        doc->links.push_back(*href);
        e->effectColor = doc->linkColor;
        e->effectFlags |= HtmlUnderline;
    }
}

void Parser::FontSettings(const TagToken &t, Element *e)
{
    uint32_t color;
    if (const std::u16string *v = t.Find(u"color"))
        if (ParseHtmlColor(v->data(), v->size(), &color))
            e->effectColor = color;
    if (const std::u16string *v = t.Find(u"size"))
        FontSize(*v, e);
    if (const std::u16string *v = t.Find(u"face"))
        FontFace(*v, e);
}

/* The first face of the list, by its number among the document's faces,
 * which are capped. */
void Parser::FontFace(const std::u16string &list, Element *e)
{
    std::u16string face = list.substr(0, list.find(u','));
    while (!face.empty() && IsHtmlSpace(face.back()))
        face.pop_back();
    size_t b = 0;
    while (b < face.size() && IsHtmlSpace(face[b]))
        ++b;
    face.erase(0, b);
    if (face.empty() || face.size() >= 32)
        return;
    auto it = std::find(doc->faces.begin(), doc->faces.end(), face);
    if (it != doc->faces.end())
        e->effectFace = (uint16_t)(it - doc->faces.begin() + 1);
    else if (doc->faces.size() < HtmlMaxFaces) {
        doc->faces.push_back(face);
        e->effectFace = (uint16_t)doc->faces.size();
    }
}

void Parser::EndTag(Tag tag)
{
    TagKind kind = KindOf(tag);
    if (tag == TagBr) {
        AddBreak();                      /* "</br>" is a break to every browser */
        return;
    }
    if (kind == KindInline) {
        int open = FindOpen(tag);
        if (open >= 0)
            RemoveAt((size_t)open);
        return;
    }
    if (kind != KindBlock && tag != TagXmp)
        return;
    int open;
    if (tag == TagTd || tag == TagTh || tag == TagTr)
        open = FindOpen(tag, TagTable);
    else if (tag == TagLi)
        open = FindOpen(tag, TagUl, TagOl);
    else
        open = FindOpen(tag);
    if (open < 0) {
        if (tag == TagP) {
            EndBlock(false);             /* a stray </p> is an empty paragraph */
            pendingGap = std::max(pendingGap, 2);
        }
        return;
    }
    CloseFrom((size_t)open);
    if ((tag == TagTd || tag == TagTh) && blockOpen && !lastWasSpace) {
        AppendContent(' ');              /* cells of a row read as words */
        lastWasSpace = true;
    }
}

Tag LookUpTag(const std::string &name, uint8_t *flags)
{
    static const std::unordered_map<std::string, const TagInfo *> byName = [] {
        std::unordered_map<std::string, const TagInfo *> m;
        for (const TagInfo &info : TagInfos)
            m[info.name] = &info;
        return m;
    }();
    auto it = byName.find(name);
    if (it == byName.end()) {
        *flags = 0;
        return TagUnknown;
    }
    *flags = it->second->flags;
    return it->second->tag;
}

void Parser::Run()
{
    doc->styles.push_back(HtmlStyle());
    styleIndex.emplace(HtmlStyle(), 0);
    while (pos < len) {
        size_t next = pos;
        while (next < len && src[next] != '<')
            ++next;
        Text(next);
        if (pos >= len)
            break;
        /* pos is at '<' */
        char16_t c1 = pos + 1 < len ? src[pos + 1] : 0;
        if (IsAsciiAlpha(c1) || (c1 == '/' && pos + 2 < len && IsAsciiAlpha(src[pos + 2]))) {
            TagToken t;
            if (!ReadTag(&t)) {
                pos = len;                   /* the input ended inside a tag */
                break;
            }
            uint8_t flags;
            Tag tag = LookUpTag(t.name, &flags);
            if (t.end) {
                EndTag(tag);
            } else {
                StartTag(t, tag, flags);
                if (tag == TagScript)
                    SkipRawText(t.name, false);
            }
            continue;
        }
        if (c1 == '!') {
            if (pos + 3 < len && src[pos + 2] == '-' && src[pos + 3] == '-') {
                size_t i = pos + 4;
                /* "<!-->" and "<!--->" are complete, empty comments. */
                if (i < len && src[i] == '>') {
                    pos = i + 1;
                    continue;
                }
                if (i + 1 < len && src[i] == '-' && src[i + 1] == '>') {
                    pos = i + 2;
                    continue;
                }
                while (i + 2 < len && !(src[i] == '-' && src[i + 1] == '-' && src[i + 2] == '>'))
                    ++i;
                pos = i + 2 < len ? i + 3 : len;
                continue;
            }
            SkipTo('>');                     /* <!DOCTYPE ...> and the like */
            continue;
        }
        if (c1 == '?' || c1 == '/') {
            SkipTo('>');                     /* "<?xml ...>", "</>", "</ 3>" */
            continue;
        }
        AppendChar('<');                     /* a lone '<' is text */
        ++pos;
    }
    EndBlock(true);
}

} // namespace

bool ParseHtml(const char16_t *source, size_t length, HtmlDocument *document)
{
    *document = HtmlDocument();
    try {
        Parser parser(source, length, document);
        parser.Run();
        return true;
    } catch (const std::bad_alloc &) {
        *document = HtmlDocument();
        return false;
    } catch (const std::length_error &) {
        *document = HtmlDocument();
        return false;
    }
}

/* ------------------------------------------------------------------ */
/* Layout                                                              */

/* Widths grow with the prefix, so double until it no longer fits, then
 * halve the gap. */
size_t HtmlMeasurer::FitPrefix(const HtmlStyle &style, const char16_t *text, size_t length, int room,
                               int *width)
{
    size_t good = 0, bad = 0;
    int goodWidth = 0;
    for (size_t step = 8;; step *= 2) {
        size_t n = std::min(good + step, length);
        int w = TextWidth(style, text, n);
        if (w > room) {
            bad = n;
            break;
        }
        good = n;
        goodWidth = w;
        if (n == length)
            break;
    }
    while (bad > good + 1) {
        size_t mid = good + (bad - good) / 2;
        int w = TextWidth(style, text, mid);
        if (w <= room) {
            good = mid;
            goodWidth = w;
        } else {
            bad = mid;
        }
    }
    *width = goodWidth;
    return good;
}

namespace {

const size_t WholeWordLimit = 256;       /* longer words go straight to breaking */

class LineBuilder {
public:
    LineBuilder(const HtmlDocument &d, HtmlMeasurer &m, HtmlLayout *l) : doc(d), measurer(m), layout(l)
    {
        metrics.resize(doc.styles.size());
        known.resize(doc.styles.size());
        spaceWidth.assign(doc.styles.size(), -1);
    }

    void LayOut(int width);

private:
    const HtmlDocument &doc;
    HtmlMeasurer &measurer;
    HtmlLayout *layout;
    std::vector<HtmlFontMetrics> metrics;
    std::vector<bool> known;
    std::vector<int> spaceWidth;

    /* The line being filled. */
    int y = 0;
    int left = 0;
    int avail = 1;
    int x = 0;
    int trailing = 0;            /* width of spaces at the end, dropped when the line ends */
    bool hasWord = false;
    uint32_t lineStart = 0;
    uint8_t align = 0;
    bool pre = false;
    uint32_t blockStyle = 0;
    int linesInBlock = 0;
    const HtmlBlock *markerBlock = nullptr;

    const HtmlFontMetrics &Metrics(uint32_t style)
    {
        if (!known[style]) {
            HtmlFontMetrics m = measurer.Metrics(doc.styles[style]);
            m.ascent = std::max(0, m.ascent);
            m.descent = std::max(0, m.descent);
            metrics[style] = m;
            known[style] = true;
        }
        return metrics[style];
    }
    int Width(uint32_t style, uint32_t start, uint32_t length)
    {
        return std::max(0, measurer.TextWidth(doc.styles[style], doc.text.data() + start, length));
    }
    int SpaceWidth(uint32_t style)
    {
        if (spaceWidth[style] < 0)
            spaceWidth[style] = std::max(0, measurer.TextWidth(doc.styles[style], u" ", 1));
        return spaceWidth[style];
    }

    void AddBox(uint32_t style, int32_t link, uint32_t start, uint32_t length, int width);
    void AddWord(uint32_t style, int32_t link, uint32_t start, uint32_t length);
    void AddSpaces(uint32_t style, int32_t link, uint32_t start, uint32_t length);
    void FinishLine(bool force);
    uint32_t FitPrefix(uint32_t style, uint32_t start, uint32_t length, int room, int *width);
    void Block(const HtmlBlock &b, int marginLeft, int contentWidth, int halfLine, int indentStep);
};

void LineBuilder::AddBox(uint32_t style, int32_t link, uint32_t start, uint32_t length, int width)
{
    if (layout->boxes.size() > lineStart) {
        HtmlBox &last = layout->boxes.back();
        if (last.style == style && last.link == link && last.start + last.length == start) {
            last.length += length;
            last.width += width;
            x += width;
            return;
        }
    }
    HtmlBox b;
    b.x = x;
    b.width = width;
    b.style = style;
    b.link = link;
    b.start = start;
    b.length = length;
    layout->boxes.push_back(b);
    x += width;
}

/* The longest prefix (whole code points, at least one) that fits in room. */
uint32_t LineBuilder::FitPrefix(uint32_t style, uint32_t start, uint32_t length, int room, int *width)
{
    const char16_t *text = doc.text.data() + start;
    uint32_t window = std::min<uint32_t>(length, (uint32_t)HtmlFitWindow);
    int w = 0;
    size_t fit = measurer.FitPrefix(doc.styles[style], text, window, room, &w);
    if (fit > window)
        fit = window;
    bool splitsPair = fit > 0 && fit < length && text[fit] >= 0xDC00 && text[fit] <= 0xDFFF &&
                      text[fit - 1] >= 0xD800 && text[fit - 1] <= 0xDBFF;
    if (splitsPair)
        --fit;
    if (fit == 0) {
        bool pair = length > 1 && text[0] >= 0xD800 && text[0] <= 0xDBFF && text[1] >= 0xDC00 &&
                    text[1] <= 0xDFFF;
        fit = pair ? 2 : 1;
        splitsPair = true;               /* measure it below */
    }
    *width = splitsPair ? Width(style, start, (uint32_t)fit) : std::max(0, w);
    return (uint32_t)fit;
}

void LineBuilder::AddWord(uint32_t style, int32_t link, uint32_t start, uint32_t length)
{
    if (length <= WholeWordLimit) {
        int w = Width(style, start, length);
        if (x + w > avail && hasWord)
            FinishLine(false);
        if (x + w <= avail) {
            AddBox(style, link, start, length, w);
            trailing = 0;
            hasWord = true;
            return;
        }
    } else if (hasWord) {
        FinishLine(false);
    }
    /* Too long for a line of its own: break it where the line is full. */
    while (length > 0) {
        int w;
        uint32_t n = FitPrefix(style, start, length, avail - x, &w);
        bool full = n < std::min<uint32_t>(length, (uint32_t)HtmlFitWindow);
        AddBox(style, link, start, n, w);
        trailing = 0;
        hasWord = true;
        start += n;
        length -= n;
        if (length > 0 && (full || x >= avail))
            FinishLine(false);
    }
}

void LineBuilder::AddSpaces(uint32_t style, int32_t link, uint32_t start, uint32_t length)
{
    if (!hasWord && !pre)
        return;                          /* a wrapped line starts with its next word */
    int w = length == 1 ? SpaceWidth(style) : Width(style, start, length);
    AddBox(style, link, start, length, w);
    trailing += w;
    if (pre)
        hasWord = true;
}

void LineBuilder::FinishLine(bool force)
{
    size_t first = lineStart;
    if (trailing > 0 && layout->boxes.size() > first) {
        /* Drop the spaces the line ends with, box by box. */
        while (layout->boxes.size() > first) {
            HtmlBox &b = layout->boxes.back();
            uint32_t n = 0;
            while (n < b.length && doc.text[b.start + b.length - 1 - n] == ' ')
                ++n;
            if (n == 0)
                break;
            if (n == b.length) {
                x -= b.width;
                layout->boxes.pop_back();
                continue;
            }
            int w = Width(b.style, b.start, b.length - n);
            x -= b.width - w;
            b.width = w;
            b.length -= n;
            break;
        }
    }
    trailing = 0;
    bool empty = layout->boxes.size() == first;
    if (empty && !force && !(markerBlock && linesInBlock == 0)) {
        x = 0;
        hasWord = false;
        return;
    }
    int ascent = 0, descent = 0;
    if (empty) {
        ascent = Metrics(blockStyle).ascent;
        descent = Metrics(blockStyle).descent;
    }
    for (size_t i = first; i < layout->boxes.size(); ++i) {
        const HtmlFontMetrics &m = Metrics(layout->boxes[i].style);
        ascent = std::max(ascent, m.ascent);
        descent = std::max(descent, m.descent);
    }
    int shift = 0;
    if (align == HtmlAlignCenter && x < avail)
        shift = (avail - x) / 2;
    else if (align == HtmlAlignRight && x < avail)
        shift = avail - x;
    for (size_t i = first; i < layout->boxes.size(); ++i) {
        layout->boxes[i].x += left + shift;
        layout->boxes[i].baseline = y + ascent;
    }
    if (markerBlock && linesInBlock == 0 && markerBlock->markerLength > 0) {
        HtmlBox m;
        m.marker = 1;
        m.style = markerBlock->style;
        m.start = markerBlock->markerStart;
        m.length = markerBlock->markerLength;
        m.width = Width(m.style, m.start, m.length);
        int gap = std::max(3, Metrics(m.style).ascent / 2);
        m.x = std::max(0, left - gap - m.width);
        m.baseline = y + ascent;
        layout->boxes.insert(layout->boxes.begin() + (ptrdiff_t)first, m);
    }
    HtmlLine line;
    line.top = y;
    line.height = ascent + descent;
    line.firstBox = (uint32_t)first;
    line.boxCount = (uint32_t)(layout->boxes.size() - first);
    layout->lines.push_back(line);
    y += line.height;
    ++linesInBlock;
    lineStart = (uint32_t)layout->boxes.size();
    x = 0;
    hasWord = false;
}

void LineBuilder::Block(const HtmlBlock &b, int marginLeft, int contentWidth, int halfLine, int indentStep)
{
    y += b.gapBefore * halfLine;
    int indent = std::min(b.indent * indentStep, contentWidth / 2);
    left = marginLeft + indent;
    avail = std::max(1, contentWidth - indent);
    if (b.kind == HtmlRule) {
        HtmlRuleBox r;
        r.x = left;
        r.y = y + halfLine / 2;
        r.width = avail;
        layout->rules.push_back(r);
        y += halfLine;
        return;
    }
    align = b.align;
    pre = b.preformatted != 0;
    blockStyle = b.style;
    linesInBlock = 0;
    markerBlock = b.markerLength > 0 ? &b : nullptr;
    lineStart = (uint32_t)layout->boxes.size();
    x = 0;
    trailing = 0;
    hasWord = false;
    size_t end = (size_t)b.firstRun + b.runCount;
    for (size_t r = b.firstRun; r < end && r < doc.runs.size(); ++r) {
        const HtmlRun &run = doc.runs[r];
        if (run.kind == HtmlLineBreak) {
            FinishLine(true);
            continue;
        }
        uint32_t i = run.start, stop = run.start + run.length;
        while (i < stop) {
            uint32_t j = i;
            bool space = doc.text[i] == ' ';
            while (j < stop && (doc.text[j] == ' ') == space)
                ++j;
            if (space)
                AddSpaces(run.style, run.link, i, j - i);
            else
                AddWord(run.style, run.link, i, j - i);
            i = j;
        }
    }
    FinishLine(linesInBlock == 0 && markerBlock != nullptr);
    markerBlock = nullptr;
}

void LineBuilder::LayOut(int width)
{
    width = std::max(1, width);
    int marginTop = doc.topMargin >= 0 ? doc.topMargin : HtmlDefaultMargin;
    int marginLeft = doc.leftMargin >= 0 ? doc.leftMargin : HtmlDefaultMargin;
    int marginRight = doc.rightMargin >= 0 ? doc.rightMargin : marginLeft;
    int marginBottom = doc.bottomMargin >= 0 ? doc.bottomMargin : marginTop;
    if (marginLeft + marginRight > width - 1) {
        marginLeft = std::min(marginLeft, (width - 1) / 2);
        marginRight = std::min(marginRight, (width - 1) / 2);
    }
    int contentWidth = std::max(1, width - marginLeft - marginRight);
    const HtmlFontMetrics &base = Metrics(0);
    int lineHeight = std::max(1, base.ascent + base.descent);
    int halfLine = (lineHeight + 1) / 2;
    int indentStep = lineHeight * 3 / 2;

    layout->width = width;
    y = marginTop;
    for (const HtmlBlock &b : doc.blocks)
        Block(b, marginLeft, contentWidth, halfLine, indentStep);
    layout->height = y + marginBottom;
}

} // namespace

bool LayoutHtml(const HtmlDocument &document, HtmlMeasurer &measurer, int width, HtmlLayout *layout)
{
    *layout = HtmlLayout();
    try {
        if (document.styles.empty()) {
            layout->width = width;
            return true;
        }
        LineBuilder builder(document, measurer, layout);
        builder.LayOut(width);
        return true;
    } catch (const std::bad_alloc &) {
        *layout = HtmlLayout();
        return false;
    } catch (const std::length_error &) {
        *layout = HtmlLayout();
        return false;
    }
}

size_t HtmlFirstLineBelow(const HtmlLayout &layout, int y)
{
    auto it = std::upper_bound(layout.lines.begin(), layout.lines.end(), y,
                               [](int value, const HtmlLine &line) { return value < line.top + line.height; });
    return (size_t)(it - layout.lines.begin());
}

int HtmlLinkAt(const HtmlLayout &layout, int x, int y)
{
    size_t i = HtmlFirstLineBelow(layout, y);
    if (i >= layout.lines.size() || layout.lines[i].top > y)
        return -1;
    const HtmlLine &line = layout.lines[i];
    for (uint32_t k = 0; k < line.boxCount; ++k) {
        const HtmlBox &b = layout.boxes[line.firstBox + k];
        if (b.link >= 0 && x >= b.x && x < b.x + b.width)
            return b.link;
    }
    return -1;
}
