// Placeholder expansion and the string helpers.
#include "testutil.h"
#include "text.h"
#include "rescanning.h"

#include <gtest/gtest.h>
#include <random>

namespace {

std::u16string Replace(const std::u16string &text, const std::u16string &pattern, const std::u16string &repl)
{
    VCHAR *r = ReplaceAll(text.c_str(), pattern.c_str(), repl.c_str());
    std::u16string s = U(r);
    VFree(r);
    return s;
}

std::u16string Reference(const std::u16string &text, const std::u16string &pattern, const std::u16string &repl)
{
    VCHAR *r = ReplaceAllRescanning(text.c_str(), pattern.c_str(), repl.c_str(), ReplaceStepLimit(text.size()));
    std::u16string s = U(r);
    VFree(r);
    return s;
}

std::u16string Expand(const std::u16string &text)
{
    VCHAR *r = ExpandText(text.c_str());
    std::u16string s = U(r);
    VFree(r);
    return s;
}

// Sets the names and variables that ExpandText reads.
struct ModelScope {
    std::vector<std::u16string> keep;
    std::vector<Variable> vars;
    ModelScope(std::u16string software, std::u16string company,
               std::vector<std::pair<std::u16string, std::u16string>> variables = {})
    {
        keep.reserve(2 + 2 * variables.size());
        keep.push_back(std::move(software));
        keep.push_back(std::move(company));
        Package = SetupPackage{};
        Package.SoftwareName = keep[0].data();
        Package.CompanyName = keep[1].data();
        for (auto &v : variables) {
            keep.push_back(v.first);
            VCHAR *name = keep.back().data();
            keep.push_back(v.second);
            vars.push_back({name, keep.back().data()});
        }
        Package.Variables = vars.data();
        Package.VariableCount = uint32_t(vars.size());
    }
    ~ModelScope() { Package = SetupPackage{}; }
};

}  // namespace

TEST(ReplaceAll, RescansFromTheLeft)
{
    EXPECT_EQ(Replace(u"Setup of %softwarename%", u"%SoftwareName%", u"Tool"), u"Setup of Tool");
    EXPECT_EQ(Replace(u"%X%X%", u"%X%", u"%"), u"%");
    EXPECT_EQ(Replace(u"aab", u"ab", u"b"), u"b");          // joined text is found again
    EXPECT_EQ(Replace(u"", u"%X%", u"y"), u"");
    EXPECT_EQ(Replace(u"no placeholders", u"%X%", u"y"), u"no placeholders");
}

TEST(ReplaceAll, EveryLengthAndCase)
{
    for (std::u16string repl : {u"", u"ab", u"abc", u"LONGER TEXT"}) {
        std::u16string expect = u"1" + repl + u"2" + repl + u"3" + repl;
        EXPECT_EQ(Replace(u"1%v%2%V%3%v%", u"%v%", repl), expect);
    }
    EXPECT_EQ(Replace(u"x %COMPANYNAME% y", u"%CompanyName%", u"ACME"), u"x ACME y");
    EXPECT_EQ(Replace(u"ÄÖÜ äöü", u"äöü", u"-"), u"- -");     // Latin-1 folds the same on every build
    EXPECT_EQ(Replace(u"ПРИВЕТ", u"привет", u"hi"), u"hi");
}

TEST(ReplaceAll, EndsWhereTheRuleWouldNot)
{
    EXPECT_EQ(Replace(u"a%X%b", u"%X%", u"<%x%>"), u"a<%x%>b");   // contains its own pattern
    EXPECT_EQ(Replace(u"%X%%X%", u"%X%", u"%X%"), u"%X%%X%");
    EXPECT_EQ(Replace(u"abc", u"", u"zz"), u"abc");               // empty pattern
    EXPECT_EQ(Replace(u"aab", u"ab", u"bbaa"), u"<null>");        // grows forever: gives up
    // The rule itself, as the tests use it for comparison.
    EXPECT_EQ(Reference(u"abc", u"", u"zz"), u"abc");
}

TEST(ReplaceAll, MatchesTheRescanningRuleOnRandomTexts)
{
    std::mt19937 rng(12345);
    const char16_t alphabet[] = u"abAB%";
    auto word = [&](size_t maxLen, size_t minLen) {
        std::u16string w;
        size_t n = minLen + rng() % (maxLen - minLen + 1);
        for (size_t i = 0; i < n; ++i)
            w += alphabet[rng() % 5];
        return w;
    };
    int compared = 0;
    for (int i = 0; i < 20000; ++i) {
        std::u16string pattern = word(3, 1), repl = word(4, 0), text = word(40, 0);
        VCHAR *folded = ReplaceAll(repl.c_str(), pattern.c_str(), u"");
        bool selfContaining = U(folded) != repl;
        VFree(folded);
        if (selfContaining)
            continue;   // the rule has no end there; covered above
        ASSERT_EQ(Replace(text, pattern, repl), Reference(text, pattern, repl))
            << "text " << velkor::Utf16ToUtf8(text) << " pattern " << velkor::Utf16ToUtf8(pattern)
            << " replacement " << velkor::Utf16ToUtf8(repl);
        ++compared;
    }
    EXPECT_GT(compared, 10000);
}

TEST(ReplaceAll, AllocationFailuresLeaveNothing)
{
    const std::u16string longRun(200, u'a'), longReplacement(100, u'r');
    const std::u16string selfContaining = std::u16string(60, u'<') + u"%X%" + std::u16string(60, u'>');
    struct {
        const char *name;
        std::u16string text, pattern, replacement;
        bool reference;   // the rescanning rule itself, which the tests compare with
    } cases[] = {
        {"short text", u"a %x% b %x% c", u"%x%", u"a much longer replacement text", false},
        // The output outgrows the block sized for the text while copying the
        // run behind a replacement.
        {"long run after a growing replacement", u"%x%" + longRun, u"%x%", longReplacement, false},
        // Inserted as it stands, past the room the text needed.
        {"replacement holding its pattern", u"%x% and %x%", u"%x%", selfContaining, false},
        {"rescanning rule", u"a %x% b %x% c", u"%x%", u"a much longer replacement text", true},
    };
    for (const auto &c : cases) {
        long before = VHeapLiveBlocks();
        auto run = [&] {
            return c.reference ? ReplaceAllRescanning(c.text.c_str(), c.pattern.c_str(), c.replacement.c_str(),
                                                      ReplaceStepLimit(c.text.size()))
                               : ReplaceAll(c.text.c_str(), c.pattern.c_str(), c.replacement.c_str());
        };
        VCHAR *whole = run();
        ASSERT_NE(whole, nullptr) << c.name;
        const std::u16string expect = U(whole);
        VFree(whole);
        for (unsigned long k = 1;; ++k) {
            VHeapFailAt(k);
            VCHAR *r = run();
            unsigned long used = VHeapAllocations();
            VHeapFailAt(0);
            if (k > used) {
                EXPECT_EQ(U(r), expect) << c.name;
                VFree(r);
                break;
            }
            EXPECT_EQ(r, nullptr) << c.name << " k=" << k;
            VFree(r);
            EXPECT_EQ(VHeapLiveBlocks(), before) << c.name << " k=" << k;
        }
    }
}

TEST(ReplaceAll, CaseIsIgnoredBeyondBasicLatin)
{
    // The device folds these pairs; letters with no one-to-one partner (the
    // dotted and dotless i, kra, long s) and signs that only look like
    // capitals stay as they are.
    struct {
        const char16_t *pattern, *text;
        bool matches;
    } cases[] = {
        {u"\u00C4\u00D6\u00DC", u"\u00E4\u00F6\u00FC", true},          // ÄÖÜ / äöü
        {u"\u00D7", u"\u00F7", false},                                  // × is no capital of ÷
        {u"\u0100\u0139\u017D", u"\u0101\u013A\u017E", true},           // Ā Ĺ Ž
        {u"\u0178", u"\u00FF", true},                                   // Ÿ / ÿ
        {u"\u0130", u"i", false},                                       // İ
        {u"\u0131", u"I", false},                                       // ı
        {u"\u017F", u"s", false},                                       // ſ
        {u"\u0138\u0149", u"\u0138\u0149", true},                         // ĸ ŉ as written
        {u"\u03A3\u039F\u03A6\u0399\u0391", u"\u03C3\u03BF\u03C6\u03B9\u03B1", true},   // ΣΟΦΙΑ
        {u"\u041F\u0420\u041E\u0413\u0420\u0410\u041C\u041C\u0410",
         u"\u043F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u0430", true},            // ПРОГРАММА
        {u"\u0401\u0416", u"\u0451\u0436", true},                         // ЁЖ / ёж
    };
    for (const auto &c : cases) {
        std::u16string text = std::u16string(u"[") + c.text + u"]";
        std::u16string lower = Replace(text, c.pattern, u"#");
        std::u16string upper = Replace(std::u16string(u"[") + c.pattern + u"]", c.text, u"#");
        EXPECT_EQ(lower == u"[#]", c.matches) << velkor::Utf16ToUtf8(c.pattern);
        EXPECT_EQ(upper == u"[#]", c.matches) << velkor::Utf16ToUtf8(c.pattern);
    }
    EXPECT_EQ(Reference(u"[\u03A3]", u"\u03C3", u"#"), u"[#]");
}

TEST(ExpandText, OrderOfPasses)
{
    {
        ModelScope m(u"Tool %CompanyName%", u"ACME %SoftwareName%");
        EXPECT_EQ(Expand(u"%softwarename% / %COMPANYNAME%"), u"Tool ACME %SoftwareName% / ACME %SoftwareName%");
    }
    {
        ModelScope m(u"", u"Co", {{u"$A", u"1 $B"}, {u"$B", u"2 $A"}});
        EXPECT_EQ(Expand(u"[%SoftwareName%] $a"), u"[] 1 2 $A");
    }
    {
        ModelScope m(u"X", u"Y", {{u"", u"never"}});
        EXPECT_EQ(Expand(u"keep"), u"keep");
    }
}

TEST(StringHelpers, AssignAppendAndPaths)
{
    VCHAR *s = nullptr;
    ASSERT_TRUE(AssignString(&s, u"\\A"));
    ASSERT_TRUE(AppendString(&s, u"\\B"));
    EXPECT_EQ(U(s), u"\\A\\B");
    CutAfterLastBackslash(s);
    EXPECT_EQ(U(s), u"\\A\\");
    CutAfterLastBackslash(s);
    EXPECT_EQ(U(s), u"\\A\\");
    DropTrailingBackslash(s);
    EXPECT_EQ(U(s), u"\\A");
    DropTrailingBackslash(s);
    EXPECT_EQ(U(s), u"\\A");
    ASSERT_TRUE(AssignString(&s, u"\\"));
    DropTrailingBackslash(s);
    EXPECT_EQ(U(s), u"");
    DropTrailingBackslash(s);
    CutAfterLastBackslash(s);
    EXPECT_EQ(U(s), u"");
    ASSERT_TRUE(AssignString(&s, u"AB"));
    CutAfterLastBackslash(s);
    EXPECT_EQ(U(s), u"AB");

    VHeapFailAt(1);
    EXPECT_FALSE(AppendString(&s, u"more"));
    VHeapFailAt(0);
    EXPECT_EQ(s, nullptr);
    VHeapFailAt(1);
    EXPECT_FALSE(AssignString(&s, u"x"));
    VHeapFailAt(0);
    EXPECT_EQ(s, nullptr);
    // Appending to none starts the string.
    ASSERT_TRUE(AppendString(&s, u"new"));
    EXPECT_EQ(U(s), u"new");
    VFree(s);
}
