/* htmltest.h -- helpers shared by the HTML view tests: UTF-8 <-> UTF-16, a
 * compact text form of a parsed document, and a measurer with fixed widths. */
#ifndef VELKOR_HTMLTEST_H
#define VELKOR_HTMLTEST_H

#include "htmlview.h"
#include "utf.h"

#include <stdio.h>
#include <string>

/* Lenient UTF-8: what does not decode (a stray or cut-short sequence)
 * passes through byte by byte, and encoded surrogates stay as they are, so
 * fuzz input can still reach lone surrogates and zeros. */
inline std::u16string DecodeLenient(const uint8_t *data, size_t size)
{
    std::u16string out;
    for (size_t i = 0; i < size;) {
        uint8_t c = data[i];
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra == 0 || i + (size_t)extra >= size) {
            out.push_back(c);
            ++i;
            continue;
        }
        uint32_t cp = c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            cp = cp << 6 | (data[i + k] & 0x3F);
        i += (size_t)extra + 1;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back((char16_t)(0xD800 + (cp >> 10)));
            out.push_back((char16_t)(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back((char16_t)cp);
        }
    }
    return out;
}

inline std::u16string U16(const std::string &utf8)
{
    return DecodeLenient((const uint8_t *)utf8.data(), utf8.size());
}

using velkor::U8;

inline HtmlDocument Parse(const std::string &html)
{
    std::u16string source = U16(html);
    HtmlDocument doc;
    ParseHtml(source.data(), source.size(), &doc);
    return doc;
}

/* One line per document: blocks joined by " | ", each starting with its
 * gap (^n), alignment (=c, =r), indent (>n), "pre" and marker.  Plain runs
 * are bare text; styled ones "(recipe:text)" where recipe has b i u s m for the
 * flags, the size when not 3, #rrggbb, fN for a face and @N for a link.
 * A line break is "/", a rule "---". */
inline std::string StyleSpec(const HtmlDocument &doc, uint32_t style, int32_t link)
{
    const HtmlStyle &s = doc.styles[style];
    std::string recipe;
    if (s.size != 3)
        recipe += std::to_string(s.size);
    const char letters[] = "bisum";
    const int bits[] = {HtmlBold, HtmlItalic, HtmlStrike, HtmlUnderline, HtmlMonospace};
    for (int k = 0; k < 5; ++k)
        if (s.flags & bits[k])
            recipe.push_back(letters[k]);
    if (s.color != HtmlDefaultColor) {
        char hex[8];
        snprintf(hex, sizeof hex, "#%06x", (unsigned)s.color);
        recipe += hex;
    }
    if (s.face)
        recipe += "f" + std::to_string(s.face);
    if (link >= 0)
        recipe += "@" + std::to_string(link);
    return recipe;
}

inline std::string Dump(const HtmlDocument &doc)
{
    std::string out;
    for (size_t k = 0; k < doc.blocks.size(); ++k) {
        const HtmlBlock &b = doc.blocks[k];
        if (k)
            out += " | ";
        if (b.gapBefore)
            out += "^" + std::to_string(b.gapBefore) + " ";
        if (b.align == HtmlAlignCenter)
            out += "=c ";
        if (b.align == HtmlAlignRight)
            out += "=r ";
        if (b.indent)
            out += ">" + std::to_string(b.indent) + " ";
        if (b.preformatted)
            out += "pre ";
        if (b.kind == HtmlRule) {
            out += "---";
            continue;
        }
        if (b.markerLength)
            out += U8(doc.text.substr(b.markerStart, b.markerLength)) + " ";
        for (uint32_t r = b.firstRun; r < b.firstRun + b.runCount; ++r) {
            const HtmlRun &run = doc.runs[r];
            if (run.kind == HtmlLineBreak) {
                out += "/";
                continue;
            }
            std::string text = U8(doc.text.substr(run.start, run.length));
            std::string recipe = StyleSpec(doc, run.style, run.link);
            out += recipe.empty() ? text : "(" + recipe + ":" + text + ")";
        }
    }
    return out;
}

inline std::string DumpHtml(const std::string &html) { return Dump(Parse(html)); }

/* Widths and heights in whole pixels that grow with the HTML size: size 3
 * gives 6-pixel characters on 9 + 3 pixel lines.  Bold adds a pixel per
 * character so that style changes show in the positions. */
class FixedMeasurer : public HtmlMeasurer {
public:
    int calls = 0;
    HtmlFontMetrics Metrics(const HtmlStyle &style) override
    {
        return HtmlFontMetrics{3 * style.size, style.size};
    }
    int TextWidth(const HtmlStyle &style, const char16_t *text, size_t length) override
    {
        ++calls;
        int per = 2 * style.size + ((style.flags & HtmlBold) ? 1 : 0);
        int w = 0;
        for (size_t i = 0; i < length; ++i)
            if (!(text[i] >= 0xDC00 && text[i] <= 0xDFFF))   /* a pair is one character */
                w += per;
        return w;
    }
};

#endif
