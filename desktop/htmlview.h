/*
 * htmlview.h -- the document model behind our HTML view: a forgiving parser
 * that turns an HTML fragment into styled blocks, and a word-wrapping layout
 * that places them at a given width.  Portable on purpose (no windows.h):
 * text measurement comes in through HtmlMeasurer, and the Win32 window in
 * htmlview_win.cpp only measures and draws.  No scripts, images or tables
 * beyond "one row per line".
 */
#ifndef VELKOR_HTMLVIEW_H
#define VELKOR_HTMLVIEW_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

/* Colours are 0xRRGGBB; this one means "the document's text colour". */
const uint32_t HtmlDefaultColor = 0xFFFFFFFFu;

enum HtmlStyleFlag {
    HtmlBold = 1,
    HtmlItalic = 2,
    HtmlUnderline = 4,
    HtmlStrike = 8,
    HtmlMonospace = 16
};

/* What a piece of text looks like.  size is the HTML font size 1..7, 3 being
 * the control's own font; face 0 is the control's font, otherwise an index
 * + 1 into HtmlDocument::faces. */
struct HtmlStyle {
    uint8_t flags = 0;
    uint8_t size = 3;
    uint16_t face = 0;
    uint32_t color = HtmlDefaultColor;

    bool operator==(const HtmlStyle &o) const
    {
        return flags == o.flags && size == o.size && face == o.face && color == o.color;
    }
};

enum HtmlRunKind { HtmlTextRun = 0, HtmlLineBreak = 1 };

/* A stretch of text in one style (whitespace already collapsed), or a forced
 * line break.  link is an index into HtmlDocument::links, -1 for none. */
struct HtmlRun {
    uint8_t kind = HtmlTextRun;
    uint32_t style = 0;
    int32_t link = -1;
    uint32_t start = 0;
    uint32_t length = 0;
};

enum HtmlAlign { HtmlAlignLeft = 0, HtmlAlignCenter = 1, HtmlAlignRight = 2 };
enum HtmlBlockKind { HtmlParagraph = 0, HtmlRule = 1 };

/* One paragraph-like box.  gapBefore is the collapsed margin above it in
 * half lines of the control's font; indent counts list and quote levels.
 * A list item's first block carries the bullet or number in its marker. */
struct HtmlBlock {
    uint8_t kind = HtmlParagraph;
    uint8_t align = HtmlAlignLeft;
    uint8_t preformatted = 0;
    uint8_t indent = 0;
    uint16_t gapBefore = 0;
    uint32_t style = 0;          /* for empty lines and the marker */
    uint32_t firstRun = 0;
    uint32_t runCount = 0;
    uint32_t markerStart = 0;
    uint32_t markerLength = 0;
};

struct HtmlDocument {
    std::u16string text;                 /* every run's characters, and the markers */
    std::vector<HtmlRun> runs;
    std::vector<HtmlBlock> blocks;
    std::vector<HtmlStyle> styles;       /* styles[0] is the plain style */
    std::vector<std::u16string> links;   /* href of each <a>, as written */
    std::vector<std::u16string> faces;   /* <font face>: first family name */

    /* <body> attributes; -1 / false when the document does not say. */
    bool hasBackground = false;
    uint32_t background = 0xFFFFFF;
    uint32_t textColor = HtmlDefaultColor;
    uint32_t linkColor = 0x0000FF;
    int topMargin = -1;
    int leftMargin = -1;
    int rightMargin = -1;
    int bottomMargin = -1;
};

/* Limits that keep hostile input linear: deeper nesting than this is
 * ignored, and more distinct font faces fall back to the control's font. */
const size_t HtmlMaxNesting = 256;
const size_t HtmlMaxFaces = 64;
const size_t HtmlMaxIndent = 8;

/* Parses length code units of HTML (NULs and lone surrogates allowed).
 * Never fails on content; returns false only when memory ran out, leaving
 * *document empty. */
bool ParseHtml(const char16_t *source, size_t length, HtmlDocument *document);

/* Decodes one character reference starting at source[0] == '&'.  Returns the
 * number of code units consumed (0: not a reference, keep the '&') and
 * appends the decoded text to *out.  inAttribute applies the stricter rule
 * for references without a semicolon. */
size_t DecodeHtmlEntity(const char16_t *source, size_t length, bool inAttribute,
                        std::u16string *out);

/* HTML colour value (names, #rgb, #rrggbb and the legacy forms browsers
 * accept).  Returns false for an empty or "transparent" value. */
bool ParseHtmlColor(const char16_t *value, size_t length, uint32_t *color);

/* ---- layout ---- */

struct HtmlFontMetrics {
    int ascent;
    int descent;
};

class HtmlMeasurer {
public:
    virtual ~HtmlMeasurer() {}
    virtual HtmlFontMetrics Metrics(const HtmlStyle &style) = 0;
    virtual int TextWidth(const HtmlStyle &style, const char16_t *text, size_t length) = 0;
    /* How many leading code units of text fit in room pixels (0 when not
     * even one does), with their width in *width.  The default searches
     * with TextWidth; a platform with a fitting call of its own does it in
     * one.  Layout never passes more than HtmlFitWindow units. */
    virtual size_t FitPrefix(const HtmlStyle &style, const char16_t *text, size_t length, int room,
                             int *width);
};

const size_t HtmlFitWindow = 64;

/* A piece of one line in one style: drawn with its baseline at y. */
struct HtmlBox {
    uint8_t marker = 0;          /* a list item's bullet or number */
    int x = 0;
    int baseline = 0;
    int width = 0;
    uint32_t style = 0;
    int32_t link = -1;
    uint32_t start = 0;          /* into HtmlDocument::text */
    uint32_t length = 0;
};

struct HtmlLine {
    int top = 0;
    int height = 0;
    uint32_t firstBox = 0;
    uint32_t boxCount = 0;
};

/* A horizontal rule from <hr>. */
struct HtmlRuleBox {
    int x = 0;
    int y = 0;
    int width = 0;
};

struct HtmlLayout {
    int width = 0;
    int height = 0;              /* content height, margins included */
    std::vector<HtmlLine> lines;
    std::vector<HtmlBox> boxes;
    std::vector<HtmlRuleBox> rules;
};

/* Default page margin in pixels where <body> names none. */
const int HtmlDefaultMargin = 4;

/* Lays the document out for a view width in pixels.  Lines are in
 * top-to-bottom order, boxes left to right within a line.  Returns false
 * only when memory ran out. */
bool LayoutHtml(const HtmlDocument &document, HtmlMeasurer &measurer, int width,
                HtmlLayout *layout);

/* The link under the point, or -1. */
int HtmlLinkAt(const HtmlLayout &layout, int x, int y);

/* Index of the first line whose bottom lies below y (binary search). */
size_t HtmlFirstLineBelow(const HtmlLayout &layout, int y);

/* Escapes plain text so that it reads the same when parsed as HTML; line
 * ends become <br>. */
std::u16string EscapePlainText(const char16_t *text, size_t length);

#endif
