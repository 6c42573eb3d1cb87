/* html_layout_test.cpp -- word wrap, alignment, margins, markers, link hit
 * testing and the cost of laying out big documents, measured with fixed
 * character widths (6 pixels, 7 in bold, 12-pixel lines at size 3). */
#include "htmltest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <vector>

namespace {

const std::string NoMargins = "<body leftmargin=0 topmargin=0>";

struct Laid {
    HtmlDocument doc;
    HtmlLayout layout;
    FixedMeasurer measurer;
};

std::unique_ptr<Laid> Lay(const std::string &html, int width)
{
    auto l = std::make_unique<Laid>();
    std::u16string source = U16(html);
    EXPECT_TRUE(ParseHtml(source.data(), source.size(), &l->doc));
    EXPECT_TRUE(LayoutHtml(l->doc, l->measurer, width, &l->layout));
    return l;
}

/* The text of each line, boxes joined; a list marker shows as "[m]". */
std::vector<std::string> Lines(const Laid &l)
{
    std::vector<std::string> out;
    for (const HtmlLine &line : l.layout.lines) {
        std::string s;
        for (uint32_t k = 0; k < line.boxCount; ++k) {
            const HtmlBox &b = l.layout.boxes[line.firstBox + k];
            std::string text = U8(l.doc.text.substr(b.start, b.length));
            bool marker = false;
            for (const HtmlBlock &block : l.doc.blocks)
                if (block.markerLength && block.markerStart == b.start)
                    marker = true;
            s += marker && line.boxCount > 1 ? "[" + text + "]" : text;
        }
        out.push_back(s);
    }
    return out;
}

using Strings = std::vector<std::string>;

TEST(HtmlLayout, WrapsAtSpaces)
{
    struct {
        int width;
        Strings lines;
    } rows[] = {
        {1000, {"aaa bbb ccc"}},
        {42, {"aaa bbb", "ccc"}},       /* exactly full */
        {41, {"aaa", "bbb", "ccc"}},
        {18, {"aaa", "bbb", "ccc"}},
        {17, {"aa", "a", "bb", "b", "cc", "c"}},
    };
    for (const auto &row : rows) {
        auto l = Lay(NoMargins + "aaa bbb ccc", row.width);
        EXPECT_EQ(row.lines, Lines(*l)) << row.width;
    }
}

TEST(HtmlLayout, LinesDropTheirTrailingSpaces)
{
    auto l = Lay(NoMargins + "<b>aaa </b>bbb <i>ccc </i>", 30);
    ASSERT_EQ((Strings{"aaa", "bbb", "ccc"}), Lines(*l));
    for (const HtmlLine &line : l->layout.lines) {
        const HtmlBox &b = l->layout.boxes[line.firstBox + line.boxCount - 1];
        EXPECT_NE(u' ', l->doc.text[b.start + b.length - 1]);
    }
    EXPECT_EQ(21, l->layout.boxes[0].width);     /* three bold characters, no space */
}

TEST(HtmlLayout, StylesShareALine)
{
    auto l = Lay(NoMargins + "a<b>b</b> <i>c</i>", 200);
    ASSERT_EQ(1u, l->layout.lines.size());
    ASSERT_EQ(4u, l->layout.lines[0].boxCount);  /* a, bold b, plain space, italic c */
    std::vector<int> xs;
    for (const HtmlBox &b : l->layout.boxes)
        xs.push_back(b.x);
    EXPECT_EQ((std::vector<int>{0, 6, 13, 19}), xs);
}

TEST(HtmlLayout, LongWordsBreakWhereTheLineIsFull)
{
    auto l = Lay(NoMargins + "xx abcdefghij", 24);
    EXPECT_EQ((Strings{"xx", "abcd", "efgh", "ij"}), Lines(*l));

    std::string word(1000, 'w');
    l = Lay(NoMargins + word, 60);
    ASSERT_EQ(100u, l->layout.lines.size());
    size_t total = 0;
    for (const HtmlBox &b : l->layout.boxes) {
        EXPECT_LE(b.width, 60);
        total += b.length;
    }
    EXPECT_EQ(1000u, total);
}

TEST(HtmlLayout, SurrogatePairsStayWhole)
{
    auto l = Lay(NoMargins + "a\xF0\x9F\x98\x80" "b", 6);
    EXPECT_EQ((Strings{"a", "\xF0\x9F\x98\x80", "b"}), Lines(*l));
}

TEST(HtmlLayout, NarrowAndDegenerateWidths)
{
    for (int width : {1, 0, -50}) {
        auto l = Lay(NoMargins + "ab cd", width);
        EXPECT_EQ((Strings{"a", "b", "c", "d"}), Lines(*l)) << width;
    }
    /* Margins wider than the view give way to at least one pixel of text. */
    auto l = Lay("<body leftmargin=100 rightmargin=100>ab", 20);
    ASSERT_FALSE(l->layout.boxes.empty());
    EXPECT_LT(l->layout.boxes[0].x, 20);
}

TEST(HtmlLayout, Alignment)
{
    struct {
        const char *html;
        int x;
    } rows[] = {
        {"ab", 0},
        {"<center>ab</center>", 24},
        {"<p align=center>ab</p>", 24},
        {"<div align=right>ab</div>", 48},
        {"<div align=right>" "aaaaaaaaaaaaaaaaaaaaaa</div>", 0},   /* wider than the view */
    };
    for (const auto &row : rows) {
        auto l = Lay(NoMargins + row.html, 60);
        ASSERT_FALSE(l->layout.boxes.empty()) << row.html;
        EXPECT_EQ(row.x, l->layout.boxes[0].x) << row.html;
    }
}

TEST(HtmlLayout, Margins)
{
    auto l = Lay("ab", 100);
    EXPECT_EQ(HtmlDefaultMargin, l->layout.boxes[0].x);
    EXPECT_EQ(HtmlDefaultMargin, l->layout.lines[0].top);
    EXPECT_EQ(2 * HtmlDefaultMargin + 12, l->layout.height);

    l = Lay("<body leftmargin=10 topmargin=3 bottommargin=7>aaaa bbbb", 70);
    EXPECT_EQ(10, l->layout.boxes[0].x);
    EXPECT_EQ(3, l->layout.lines[0].top);
    EXPECT_EQ((Strings{"aaaa", "bbbb"}), Lines(*l));   /* the right margin follows the left */
    EXPECT_EQ(3 + 24 + 7, l->layout.height);

    l = Lay(NoMargins, 100);
    EXPECT_TRUE(l->layout.lines.empty());
    EXPECT_EQ(0, l->layout.height);
}

TEST(HtmlLayout, MixedSizesShareABaseline)
{
    auto l = Lay(NoMargins + "a<font size=6>B</font><small>c</small>", 200);
    ASSERT_EQ(1u, l->layout.lines.size());
    EXPECT_EQ(18 + 6, l->layout.lines[0].height);
    for (const HtmlBox &b : l->layout.boxes)
        EXPECT_EQ(18, b.baseline);
}

TEST(HtmlLayout, GapsAndBreaks)
{
    struct {
        const char *html;
        std::vector<int> tops;
    } rows[] = {
        {"<p>a</p><p>b</p>", {0, 24}},
        {"a<br>b", {0, 12}},
        {"a<br><br>b", {0, 12, 24}},
        {"a<br>", {0}},
        {"<br>", {0}},
        {"<h1>T</h1>x", {0, 24 + 12}},           /* the heading's line is 24 high */
        {"a<hr>b", {0, 12 + 6 + 6 + 6}},
        {"<ul><li>a</ul>b", {0, 24}},
    };
    for (const auto &row : rows) {
        auto l = Lay(NoMargins + row.html, 200);
        std::vector<int> tops;
        for (const HtmlLine &line : l->layout.lines)
            tops.push_back(line.top);
        EXPECT_EQ(row.tops, tops) << row.html;
    }
}

TEST(HtmlLayout, RuleSpansTheContent)
{
    auto l = Lay("<body leftmargin=5>a<hr>b", 100);
    ASSERT_EQ(1u, l->layout.rules.size());
    EXPECT_EQ(5, l->layout.rules[0].x);
    EXPECT_EQ(90, l->layout.rules[0].width);
    EXPECT_GT(l->layout.rules[0].y, l->layout.lines[0].top + l->layout.lines[0].height);
    EXPECT_LT(l->layout.rules[0].y, l->layout.lines[1].top);
}

TEST(HtmlLayout, ListMarkersHangLeftOfTheText)
{
    auto l = Lay(NoMargins + "<ul><li>one two<li></ul><ol><li>x</ol>", 50);
    EXPECT_EQ((Strings{"[\xE2\x80\xA2]one", "two", "\xE2\x80\xA2", "[1.]x"}), Lines(*l));
    const HtmlBox &marker = l->layout.boxes[0];
    const HtmlBox &text = l->layout.boxes[1];
    EXPECT_EQ(18, text.x);
    EXPECT_EQ(18 - 4 - 6, marker.x);    /* half the ascent apart */
    EXPECT_EQ(text.baseline, marker.baseline);
    EXPECT_EQ(-1, marker.link);
    const HtmlBox &second = l->layout.boxes[l->layout.lines[1].firstBox];
    EXPECT_EQ(18, second.x);                     /* continuation lines keep the indent */
}

TEST(HtmlLayout, IndentNeverTakesMoreThanHalf)
{
    std::string html = NoMargins;
    for (int i = 0; i < 50; ++i)
        html += "<blockquote>";
    auto l = Lay(html + "abc", 60);
    ASSERT_FALSE(l->layout.boxes.empty());
    EXPECT_LE(l->layout.boxes[0].x, 30);
}

TEST(HtmlLayout, PreformattedKeepsSpaces)
{
    auto l = Lay(NoMargins + "<pre>a   b\n  c</pre>", 200);
    EXPECT_EQ((Strings{"a   b", "  c"}), Lines(*l));
    EXPECT_EQ(30, l->layout.boxes[0].width);
}

TEST(HtmlLayout, LinkHitTesting)
{
    auto l = Lay(NoMargins + "x <a href=t>link</a> y<p><a href=u>one two</a>", 40);
    ASSERT_EQ((Strings{"x link", "y", "one", "two"}), Lines(*l));
    struct {
        int x, y, link;
    } rows[] = {
        {20, 5, 0}, {12, 0, 0}, {35, 11, 0},     /* inside "link" */
        {5, 5, -1},                              /* "x" */
        {36, 5, -1},                             /* right of the link */
        {20, -1, -1},                            /* above everything */
        {3, 15, -1},                             /* "y" */
        {3, 12 + 12 + 12 + 3, 1}, {3, 12 + 12 + 24 + 3, 1},   /* both lines of the wrapped link */
        {3, 1000, -1},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.link, HtmlLinkAt(l->layout, row.x, row.y)) << row.x << "," << row.y;
}

TEST(HtmlLayout, FirstLineBelow)
{
    auto l = Lay(NoMargins + "a<br>b<br>c", 100);          /* tops 0, 12, 24 */
    struct {
        int y;
        size_t line;
    } rows[] = {{-5, 0}, {0, 0}, {11, 0}, {12, 1}, {35, 2}, {36, 3}};
    for (const auto &row : rows)
        EXPECT_EQ(row.line, HtmlFirstLineBelow(l->layout, row.y)) << row.y;
}

/* ---- big documents ---- */

/* Times are only reported: on a loaded machine any limit is a coin toss.
 * The measurement counts bound the work instead, and ctest's time limit
 * catches a layout that never ends. */
void ReportSeconds(std::chrono::steady_clock::time_point start)
{
    std::cout << "[time] " << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s\n";
}

TEST(HtmlLayout, OneMebibyteOfMarkupFinishesFast)
{
    std::string html = "<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"#ffffff\">";
    for (int i = 0; html.size() < (1u << 20); ++i)
        html += "<p><b>Section " + std::to_string(i) + "</b><br>Some <i>text</i> with a "
                "<a href=\"http://example.com/" + std::to_string(i) + "\">link</a>, "
                "&quot;entities&quot; &amp; <font color=red size=+1>colour</font>.</p>"
                "<ul><li>one<li>two</ul>\r\n";
    auto start = std::chrono::steady_clock::now();
    auto l = Lay(html, 228);
    ReportSeconds(start);
    EXPECT_GT(l->layout.lines.size(), 20000u);
    EXPECT_GT(l->doc.links.size(), 5000u);
    /* One measurement per word or space run at most, not per character. */
    EXPECT_LT((size_t)l->measurer.calls, html.size() / 4);
    for (size_t i = 1; i < l->layout.lines.size(); ++i)
        ASSERT_GE(l->layout.lines[i].top, l->layout.lines[i - 1].top + l->layout.lines[i - 1].height);
}

TEST(HtmlLayout, OneMebibyteWordFinishesFast)
{
    std::string html = NoMargins + std::string(1u << 20, 'm');
    auto start = std::chrono::steady_clock::now();
    auto l = Lay(html, 228);
    ReportSeconds(start);
    /* Linear: one measurement per line's worth of characters, not per character. */
    EXPECT_LT((size_t)l->measurer.calls, html.size() / 4);
    EXPECT_EQ(((1u << 20) + 37) / 38, l->layout.lines.size());   /* 38 six-pixel characters a line */
}

} // namespace
