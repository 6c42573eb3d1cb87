/* html_parse_test.cpp -- what the HTML view's parser makes of the fragments
 * the setup program sends, of character references, whitespace, nesting,
 * and of damaged or hostile markup. */
#include "htmltest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

namespace {

struct Case {
    const char *name;
    std::string html;
    std::string expected;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

/* The four pieces the page furniture sends, joined as the view joins them. */
std::string PanelDocument(const std::string &color, const std::string &body)
{
    return std::string("<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"") + color + "\">" + body;
}

TEST(HtmlParse, WelcomeTextAsTheProgramSendsIt)
{
    HtmlDocument doc = Parse(PanelDocument(
        "#ffffff",
        "<p><b>Welcome to the Velkor Demo 2.1 Setup Wizard</b></p>"
        "<p>This wizard will install Velkor Demo on your device.</p>\r\n"
        "<p>Tap Next to continue.</p>"));
    EXPECT_TRUE(doc.hasBackground);
    EXPECT_EQ(0xFFFFFFu, doc.background);
    EXPECT_EQ(0, doc.topMargin);
    EXPECT_EQ(0, doc.leftMargin);
    EXPECT_EQ(-1, doc.rightMargin);
    EXPECT_EQ("(b:Welcome to the Velkor Demo 2.1 Setup Wizard)"
              " | ^2 This wizard will install Velkor Demo on your device."
              " | ^2 Tap Next to continue.",
              Dump(doc));
}

TEST(HtmlParse, PanelWithEmptyTextShowsOnlyTheBackground)
{
    HtmlDocument doc = Parse(PanelDocument("#d4d0c8", ""));
    EXPECT_TRUE(doc.hasBackground);
    EXPECT_EQ(0xD4D0C8u, doc.background);
    EXPECT_TRUE(doc.blocks.empty());
}

TEST(HtmlParse, BodyAttributes)
{
    HtmlDocument doc = Parse("<body bgcolor=\"#abc\" text=navy link=red topmargin=5 leftmargin='7'"
                             " rightmargin=x>a <a href=\"t\">b</a>"
                             "<body bgcolor=black bottommargin=999>");
    EXPECT_EQ(0xAABBCCu, doc.background);          /* the first <body> wins */
    EXPECT_EQ(0x000080u, doc.textColor);
    EXPECT_EQ(0xFF0000u, doc.linkColor);
    EXPECT_EQ(5, doc.topMargin);
    EXPECT_EQ(7, doc.leftMargin);
    EXPECT_EQ(-1, doc.rightMargin);                  /* not a number */
    EXPECT_EQ(200, doc.bottomMargin);                /* a later <body> adds what was missing, capped */
    EXPECT_EQ("a (u#ff0000@0:b)", Dump(doc));
}

class ParseTable : public ::testing::TestWithParam<Case> {};

TEST_P(ParseTable, Dump)
{
    EXPECT_EQ(GetParam().expected, DumpHtml(GetParam().html)) << GetParam().html;
}

const Case Formatting[] = {
    {"bold", "<b>x</b><strong>y</strong>", "(b:xy)"},
    {"italic", "<i>a</i><em>b</em><cite>c</cite>", "(i:abc)"},
    {"underline_strike", "<u>a</u><s>b</s><del>c</del>", "(u:a)(s:bc)"},
    {"code", "<tt>a</tt><code>b</code>", "(m:ab)"},
    {"headings", "<h1>A</h1><h3>C</h3><h6>F</h6>x", "(6b:A) | ^2 (4b:C) | ^2 (1b:F) | ^2 x"},
    {"heading_keeps_text_style", "<h2><i>A</i></h2>", "(5bi:A)"},
    {"big_small", "<big>a<big>b</big></big><small>c<small>d</small></small>", "(4:a)(5:b)(2:c)(1:d)"},
    {"font_color_size", "<font color=red size=5>a</font><font color=\"#00ff00\" size=\"-1\">b</font>",
     "(5#ff0000:a)(2#00ff00:b)"},
    {"font_size_limits", "<font size=9>a</font><font size=-7>b</font><font size=x>c</font>",
     "(7:a)(1:b)c"},
    {"font_face", "<font face=\" Courier New , monospace\">a</font><font face=Arial>b</font>"
                  "<font face='Courier New'>c</font>",
     "(f1:a)(f2:b)(f1:c)"},
    {"link", "go <a href=\"http://example.com/x?a=1&amp;b=2\">here</a> now",
     "go (u#0000ff@0:here) now"},
    {"anchor_without_href", "<a name=top>top</a>", "top"},
    {"links_do_not_nest", "<a href=1>a<a href=2>b</a>c", "(u#0000ff@0:a)(u#0000ff@1:b)c"},
    {"font_inside_link", "<a href=1><font color=green>a</font></a>", "(u#008000@0:a)"},
    {"center", "<center>a</center>b", "=c a | b"},
    {"align", "<p align=right>a</p><div align=\"CENTER\">b<p>c</p></div><h1 align=center>d</h1>",
     "=r a | ^2 =c b | ^2 =c c | ^2 =c (6b:d)"},
    {"paragraphs", "<p>a<p>b</p>c", "a | ^2 b | ^2 c"},
    {"div_has_no_gap", "<div>a</div><div>b</div>", "a | b"},
    {"line_breaks", "a<br>b<br/>c<br />d", "a/b/c/d"},
    {"end_br_is_a_break", "a</br>b", "a/b"},
    {"rule", "a<hr>b", "a | ^1 --- | ^1 b"},
    {"unordered", "<ul><li>one<li>two</li></ul>after",
     ">1 \xE2\x80\xA2 one | >1 \xE2\x80\xA2 two | ^2 after"},
    {"ordered", "<ol><li>a<li>b<li value=10>c<li>d</ol>", ">1 1. a | >1 2. b | >1 10. c | >1 11. d"},
    {"ordered_start_type", "<ol start=\"27\" type=a><li>x<li>y</ol><ol type=I start=4><li>z</ol>",
     ">1 aa. x | >1 ab. y | ^2 >1 IV. z"},
    {"nested_lists", "<ul><li>a<ul><li>b<ol><li>c</ol></ul><li>d</ul>",
     ">1 \xE2\x80\xA2 a | >2 \xE2\x97\xA6 b | >3 1. c | >1 \xE2\x80\xA2 d"},
    {"empty_item_keeps_bullet", "<ul><li><li>b</ul>", ">1 \xE2\x80\xA2  | >1 \xE2\x80\xA2 b"},
    {"item_with_paragraph", "<ul><li><p>a</p></li></ul>", ">1 \xE2\x80\xA2 a"},
    {"item_outside_list", "<li>x", "\xE2\x80\xA2 x"},
    {"definition_list", "<dl><dt>term<dd>meaning</dl>", "term | >1 meaning"},
    {"blockquote", "<blockquote>q</blockquote>", ">1 q"},
    {"pre", "<pre>\n a  b\n\tc</pre>d", "pre (m: a  b)/(m:        c) | ^2 d"},
    {"xmp_shows_markup", "<xmp><b>&amp;</b></xmp>", "pre (m:<b>&amp;</b>)"},
    {"table_rows", "<table><tr><td>a<td>b<tr><th>c</th><td>d</td></table>e",
     "a b | (b:c) d | e"},
    {"misnested_inline", "<b>a<i>b</b>c</i>d", "(b:a)(bi:b)(i:c)d"},
    {"inline_survives_block_end", "<p><b>a</p>b</b>c", "(b:a) | ^2 (b:b)c"},
    {"block_end_closes_inner_blocks", "<div align=center><p>a</div>b", "=c a | ^2 b"},
    {"stray_end_tags", "a</b></i></a></ul></li></td>b", "ab"},
    {"stray_end_p_is_a_paragraph", "a</p>b", "a | ^2 b"},
};
INSTANTIATE_TEST_SUITE_P(Formatting, ParseTable, ::testing::ValuesIn(Formatting),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

const Case Whitespace[] = {
    {"collapses_runs", "  a \n\t b  \r\n c ", "a b c"},
    {"trims_paragraph_ends", "<p>  lead and trail  </p>", "lead and trail"},
    {"one_space_across_tags", "a<i> </i> b", "a(i: )b"},
    {"space_inside_bold", "a<b> b </b> c", "a(b: b )c"},
    {"no_space_added_between_tags", "a<b>b</b>c", "a(b:b)c"},
    {"nbsp_kept", "a&nbsp;&nbsp;b &nbsp; c", "a\xC2\xA0\xC2\xA0" "b \xC2\xA0 c"},
    {"around_break", "a <br> b", "a/b"},
    {"blank_lines", "a<br><br>b", "a//b"},
    {"leading_break", "<br>a", "/a"},
    {"after_block", "<div>a</div> b", "a | b"},
    {"only_spaces", " \n\t ", ""},
    {"pre_keeps_spaces", "<pre>a  \r\n  b</pre>", "pre (m:a  )/(m:  b)"},
    {"controls_dropped", "a\x01\x7f" "b", "ab"},
    {"soft_hyphen_dropped", "ab&shy;cd\xC2\xAD" "ef", "abcdef"},
};
INSTANTIATE_TEST_SUITE_P(Whitespace, ParseTable, ::testing::ValuesIn(Whitespace),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

const Case Skipped[] = {
    {"comment", "a<!-- <b>no</b> -->b", "ab"},
    {"empty_comments", "a<!-->b<!--->c", "abc"},
    {"script_with_markup", "a<script>if (a<b) x=\"</p>\";</script>b", "ab"},
    {"script_end_case", "a<SCRIPT type=x>y</Script >b", "ab"},
    {"style", "a<style>p { color: red }</style>b", "ab"},
    {"title", "<head><title>T &amp; T</title></head><body>b", "b"},
    {"doctype", "<!DOCTYPE html><html>a</html>", "a"},
    {"processing_instruction", "<?xml version=\"1.0\"?>a", "a"},
    {"unknown_tags", "<blink>a</blink><foo bar=\"<b>\">b</foo><o:p>c</o:p>", "abc"},
    {"void_tags", "a<img src=x alt=y>b<input type=checkbox>c", "abc"},
    {"span_is_transparent", "<span style=\"color:red\">a</span>", "a"},
};
INSTANTIATE_TEST_SUITE_P(Skipped, ParseTable, ::testing::ValuesIn(Skipped),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

const Case Malformed[] = {
    {"lone_less_than", "a < b", "a < b"},
    {"less_than_digit", "a <3 b", "a <3 b"},
    {"double_less_than", "<<b>>", "<(b:>)"},
    {"unclosed_bold", "<b>unclosed", "(b:unclosed)"},
    {"end_inside_tag", "a<b", "a"},
    {"end_inside_attribute", "a<a href=\"unterminated", "a"},
    {"end_after_equals", "a<font color=", "a"},
    {"end_inside_end_tag", "a</b", "a"},
    {"unclosed_comment", "a<!-- never closed", "a"},
    {"unclosed_script", "a<script>b", "a"},
    {"unclosed_doctype", "a<!DOCTYPE", "a"},
    {"empty_end_tag", "a</>b", "ab"},
    {"bogus_end_tag", "a</ 3>b", "ab"},
    {"greater_than_alone", "a > b", "a > b"},
    {"attribute_junk", "<b =x \"y\" 'z' a=b=c>t</b>", "(b:t)"},
    {"quotes_hide_end", "<font color=\"red>\">t</font>", "(#0ed000:t)"},
    {"long_tag_name", "<" + std::string(5000, 'b') + ">t", "t"},
    {"many_attributes", "<font " + [] {
         std::string s;
         for (int i = 0; i < 2000; ++i)
             s += "a" + std::to_string(i) + "=1 ";
         return s;
     }() + "color=red>t", "t"},
    {"empty_list", "<ul></ul><ol></ol>x", "x"},
    {"close_list_in_item", "<ul><li>a</ul></li>b", ">1 \xE2\x80\xA2 a | ^2 b"},
    {"table_without_rows", "<td>a</td><td>b</td>", "a b"},
};
INSTANTIATE_TEST_SUITE_P(Malformed, ParseTable, ::testing::ValuesIn(Malformed),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

/* ---- character references ---- */

struct EntityCase {
    const char *name;
    const char *html;
    const char *expected;          /* UTF-8 */
};

void PrintTo(const EntityCase &c, std::ostream *os) { *os << c.name; }

class EntityTable : public ::testing::TestWithParam<EntityCase> {};

TEST_P(EntityTable, DecodesInText)
{
    HtmlDocument doc = Parse(GetParam().html);
    EXPECT_EQ(GetParam().expected, U8(doc.text)) << GetParam().html;
}

const EntityCase Entities[] = {
    {"basic", "&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
    {"capitals", "&AMP;&LT;&COPY;", "&<\xC2\xA9"},
    {"nbsp", "&nbsp;", "\xC2\xA0"},
    {"decimal_hex", "&#65;&#x42;&#X43;&#0068;", "ABCD"},
    {"without_semicolon", "&#65B &amp &lt3", "AB & <3"},
    {"latin1", "&eacute;t&eacute; &Auml;&szlig;&yuml;", "\xC3\xA9t\xC3\xA9 \xC3\x84\xC3\x9F\xC3\xBF"},
    {"legacy_prefix", "&copy2024 &notit;", "\xC2\xA9" "2024 \xC2\xAC" "it;"},
    {"punctuation", "&euro;&hellip;&mdash;&ndash;&lsquo;&rdquo;&bull;&trade;",
     "\xE2\x82\xAC\xE2\x80\xA6\xE2\x80\x94\xE2\x80\x93\xE2\x80\x98\xE2\x80\x9D\xE2\x80\xA2\xE2\x84\xA2"},
    {"greek", "&alpha;&Omega;&sigmaf;", "\xCE\xB1\xCE\xA9\xCF\x82"},
    {"astral", "&#x1F600;&#128512;", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
    {"unknown_name", "&unknown; &foo", "&unknown; &foo"},
    {"modern_name_needs_semicolon", "&hellip &euro", "&hellip &euro"},
    {"no_digits", "&#; &#x; &#xg; &# 1", "&#; &#x; &#xg; &# 1"},
    {"bare_ampersand", "a & b &", "a & b &"},
    {"zero", "&#0;", "\xEF\xBF\xBD"},
    {"too_big", "&#99999999999999999999; &#x110000;", "\xEF\xBF\xBD \xEF\xBF\xBD"},
    {"surrogate_value", "&#xD800;&#xdfff;", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"windows_1252_range", "&#128;&#x93;&#x94;&#150;", "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\x93"},
    {"control_dropped", "a&#1;b&#x7f;c", "abc"},
    {"long_name", "&aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;", "&aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;"},
};
INSTANTIATE_TEST_SUITE_P(Entities, EntityTable, ::testing::ValuesIn(Entities),
                         [](const ::testing::TestParamInfo<EntityCase> &i) { return std::string(i.param.name); });

TEST(HtmlParse, ReferencesInLinkTargets)
{
    HtmlDocument doc = Parse("<a href=\"a?x=1&copy=2&amp;y=&lt;3&#47;\">l</a>"
                             "<a href='b?c&copy;d'>m</a><a href=c&notit>n</a>");
    ASSERT_EQ(3u, doc.links.size());
    EXPECT_EQ("a?x=1&copy=2&y=<3/", U8(doc.links[0]));   /* "&copy=" is a parameter, not (c) */
    EXPECT_EQ("b?c\xC2\xA9" "d", U8(doc.links[1]));
    EXPECT_EQ("c&notit", U8(doc.links[2]));
}

TEST(HtmlParse, FirstDuplicateAttributeWins)
{
    HtmlDocument doc = Parse("<a href=first href=second>x</a>");
    ASSERT_EQ(1u, doc.links.size());
    EXPECT_EQ(u"first", doc.links[0]);
}

/* ---- colours ---- */

TEST(HtmlParse, Colors)
{
    struct {
        const char *value;
        bool ok;
        uint32_t rgb;
    } rows[] = {
        {"#ffffff", true, 0xFFFFFF}, {"#FFF", true, 0xFFFFFF}, {"#1a2B3c", true, 0x1A2B3C},
        {"ffffff", true, 0xFFFFFF},  {"red", true, 0xFF0000}, {" Navy ", true, 0x000080},
        {"#12345", true, 0x123450},  {"chucknorris", true, 0xC00000},
        {"#1234567890ab", true, 0x125690}, {"#0000000000ff", true, 0x0000FF},
        {"", false, 0}, {"   ", false, 0}, {"transparent", false, 0}, {"#", true, 0x000000},
    };
    for (const auto &row : rows) {
        std::u16string v = U16(row.value);
        uint32_t rgb = 0xDEADBEEF;
        EXPECT_EQ(row.ok, ParseHtmlColor(v.data(), v.size(), &rgb)) << row.value;
        if (row.ok)
            EXPECT_EQ(row.rgb, rgb) << row.value;
        else
            EXPECT_EQ(0xDEADBEEFu, rgb) << row.value;
    }
}

TEST(HtmlParse, BadBackgroundLeavesTheDefault)
{
    HtmlDocument doc = Parse("<body bgcolor=\"\">x");
    EXPECT_FALSE(doc.hasBackground);
}

/* ---- code units that cannot come through a window message ---- */

TEST(HtmlParse, EmbeddedZerosAndLoneSurrogates)
{
    const char16_t raw[] = {'a', 0, 'b', 0xD800, 'c', 0xDC00, 'd', 0xD83D, 0xDE00, 'e',
                            '<', 'a', ' ', 'h', 'r', 'e', 'f', '=', 0xDBFF, 0, '>', 'l', 0xD800};
    HtmlDocument doc;
    ASSERT_TRUE(ParseHtml(raw, sizeof raw / sizeof raw[0], &doc));
    EXPECT_EQ(u"ab\uFFFDc\uFFFDd\U0001F600el\uFFFD", doc.text);
    ASSERT_EQ(1u, doc.links.size());
    EXPECT_EQ(u"\uFFFD\uFFFD", doc.links[0]);
}

TEST(HtmlParse, EscapedPlainTextReadsBackUnchanged)
{
    std::u16string plain = u"if a<b && c>d\r\nthen \"x\"\nelse\r<y>";
    std::u16string html = EscapePlainText(plain.data(), plain.size());
    HtmlDocument doc;
    ParseHtml(html.data(), html.size(), &doc);
    EXPECT_EQ("if a<b && c>d/then \"x\"/else/<y>", Dump(doc));
}

/* ---- nesting and size limits ---- */

TEST(HtmlParse, DeepNestingIsCapped)
{
    std::string html;
    for (int i = 0; i < 100000; ++i)
        html += "<ul><li><b><font size=+1>";
    html += "x";
    // A time is only reported: on a loaded machine any limit is a coin
    // toss.  ctest's time limit still catches a parse that never ends.
    auto start = std::chrono::steady_clock::now();
    HtmlDocument doc = Parse(html);
    std::cout << "[time] " << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s\n";
    ASSERT_FALSE(doc.blocks.empty());
    for (const HtmlBlock &b : doc.blocks)
        EXPECT_LE(b.indent, HtmlMaxIndent);
    EXPECT_EQ(u'x', doc.text.back());
}

TEST(HtmlParse, DistinctFacesAreCapped)
{
    std::string html;
    for (int i = 0; i < 200; ++i)
        html += "<font face=F" + std::to_string(i) + ">x</font>";
    HtmlDocument doc = Parse(html);
    EXPECT_EQ(HtmlMaxFaces, doc.faces.size());
    EXPECT_EQ(0, doc.styles[doc.runs.back().style].face);
}

TEST(HtmlParse, HostileRepetitionsFinishFast)
{
    const char *units[] = {"<", "&", "&#", "<b>", "</b>", "<p>", "</p>", "<li>", "<a href=x>",
                           "<!--", "<br>", "<td>", "&amp", "<hr>", "<pre>\n"};
    for (const char *unit : units) {
        std::string html;
        while (html.size() < (1u << 20))
            html += unit;
        auto start = std::chrono::steady_clock::now();
        HtmlDocument doc = Parse(html);
        std::cout << "[time] " << unit << ": "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n";
        EXPECT_FALSE(doc.styles.empty()) << unit;
    }
}

} // namespace
