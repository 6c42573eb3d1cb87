// Placeholder expansion and the string helpers.
#include "testutil.h"
#include "text.h"

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
    long before = VHeapLiveBlocks();
    for (unsigned long k = 1; k < 50; ++k) {
        VHeapFailAt(k);
        VCHAR *r = ReplaceAll(u"a %x% b %x% c", u"%x%", u"a much longer replacement text");
        VHeapFailAt(0);
        VFree(r);
        EXPECT_EQ(VHeapLiveBlocks(), before);
    }
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
}
