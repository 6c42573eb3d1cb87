// output_test.cpp -- build --json against what list reads back, one
// manifest built in several languages, --json output that stays valid
// UTF-8 whatever a package holds, and the UTF conversions under it.
#include "tooltest.h"

#include "format.h"
#include "manifest.h"
#include "utf.h"

#include <nlohmann/json.hpp>

using namespace tooltest;
using nlohmann::json;

namespace {

const std::string Languages = ManifestText(R"(["welcome", "ready"])", "Pocket")
                                   .Component()
                                   .Component("Help", "help.cab")
                                   .Texts("welcome_title = \"Welcome\"\nwelcome_body = \"<p>Hello</p>\"\n")
                                   .Texts("welcome_title = \"Willkommen\"\nready_body = \"<p>Fertig<b></p>\"\n", "de")
                                   .Texts("welcome_title = \"Bem-vindo\"\n", "pt-BR");

class OutputTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        WriteInputs(dir, "pocket.toml", Languages, Prose(200000), Noise(70000, 5));
    }
    json List(const std::string &file)
    {
        Result r = Velkor({"list", "--json", file}, dir);
        EXPECT_EQ(r.code, 0) << r.err;
        return json::parse(r.out);
    }
};

// What build --json says matches the file and what list reads from it.
void ExpectMatchesFile(const json &b, const json &listed, const fs::path &file)
{
    EXPECT_EQ(b["file_size"], fs::file_size(file));
    EXPECT_EQ(b["file_size"].get<uint64_t>(), b["stub_size"].get<uint64_t>() + b["header_size"].get<uint64_t>() +
                                                  b["stored_size"].get<uint64_t>() + TRAILER_SIZE);
    ASSERT_EQ(b["components"].size(), listed["components"].size());
    uint64_t chunks = 0;
    for (size_t i = 0; i < b["components"].size(); ++i) {
        const json &c = b["components"][i], &l = listed["components"][i];
        EXPECT_EQ(c["name"], l["name"]);
        EXPECT_EQ(c["unpacked_size"], l["unpacked_size"]);
        EXPECT_EQ(c["stored_size"], l["stored_size"]);
        EXPECT_EQ(c["chunk_count"], l["chunk_count"]);
        chunks += c["chunk_count"].get<uint64_t>();
    }
    EXPECT_EQ(b["chunk_count"], chunks);
}

TEST_F(OutputTest, BuildJsonAgreesWithTheFile)
{
    Result r = Velkor({"build", "pocket.toml", "--stub", "setup.exe", "-o", "out.exe", "--json"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    json b = json::parse(r.out);
    EXPECT_EQ(b["output"], "out.exe");
    EXPECT_TRUE(b["language"].is_null());
    EXPECT_EQ(b["unpacked_size"], fs::file_size(dir / "main.cab") + fs::file_size(dir / "help.cab"));
    EXPECT_EQ(b["components"][0]["chunk_count"], 4);   // 200000 bytes and a little, in 65536-byte chunks
    EXPECT_EQ(b["components"][1]["chunk_count"], 2);
    EXPECT_LT(b["components"][0]["ratio"].get<double>(), 0.5);   // prose compresses
    EXPECT_GT(b["components"][1]["ratio"].get<double>(), 0.99);  // noise does not
    ExpectMatchesFile(b, List("out.exe"), dir / "out.exe");
    // The German text's finding is a warning, at its place, in both forms.
    ASSERT_EQ(b["warnings"].size(), 1u);
    EXPECT_EQ(b["warnings"][0]["line"], 20);
    EXPECT_EQ(b["warnings"][0]["column"], 1);
    EXPECT_EQ(b["warnings"][0]["check"], "html");
    EXPECT_EQ(r.err.rfind("pocket.toml:20:1: warning: texts.de.ready_body is not well-formed HTML", 0), 0u) << r.err;
}

TEST_F(OutputTest, OneLanguageOrAll)
{
    Result de = Velkor({"build", "pocket.toml", "--stub", "setup.exe", "-o", "de.exe", "--lang", "de"}, dir);
    ASSERT_EQ(de.code, 0) << de.err;
    json l = List("de.exe");
    EXPECT_EQ(l["texts"][5]["text"], "Willkommen");
    EXPECT_EQ(l["texts"][6]["text"], "<p>Hello</p>");   // not given in German: the manifest's default text
    EXPECT_EQ(l["texts"].size(), 30u);

    Result all = Velkor({"build", "pocket.toml", "--stub", "setup.exe", "--all-languages", "-o", "dist", "--json"}, dir);
    ASSERT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(Listing(dir / "dist"), (std::vector<std::string>{"pocket-de.exe", "pocket-pt-BR.exe", "pocket.exe"}));
    json b = json::parse(all.out);
    ASSERT_EQ(b["outputs"].size(), 3u);
    const char *titles[] = {"Welcome", "Willkommen", "Bem-vindo"};
    for (size_t i = 0; i < 3; ++i) {
        const json &o = b["outputs"][i];
        std::string path = o["output"];
        SCOPED_TRACE(path);
        EXPECT_EQ(List(path)["texts"][5]["text"], titles[i]);
        ExpectMatchesFile(o, List(path), dir / path);
    }
    EXPECT_TRUE(b["outputs"][0]["language"].is_null());
    EXPECT_EQ(b["outputs"][2]["language"], "pt-BR");
    EXPECT_EQ(fs::file_size(dir / "de.exe"), fs::file_size(dir / "dist" / "pocket-de.exe"));
}

TEST_F(OutputTest, LanguageFailures)
{
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{"--lang", "fr", "-o", "x.exe"}, 2,
         "velkor: error: --lang fr: pocket.toml has no [texts.fr] table (its languages: de, pt-BR)\n"},
        {{"--lang", "de", "--all-languages", "-o", "x"}, 2, "velkor: error: --lang excludes --all-languages"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"build", "pocket.toml", "--stub", "setup.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = Velkor(args, dir);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.exe"));
    EXPECT_FALSE(fs::exists(dir / "x"));

    // The third file cannot be written: none of them appears.
    fs::create_directories(dir / "dist" / "pocket-pt-BR.exe.velkor-new");
    Result r = Velkor({"build", "pocket.toml", "--stub", "setup.exe", "--all-languages", "-o", "dist"}, dir);
    EXPECT_EQ(r.code, 8) << r.err;
    EXPECT_EQ(Listing(dir / "dist"), (std::vector<std::string>{"pocket-pt-BR.exe.velkor-new"}));
}

TEST_F(ToolTest, JsonStaysValidUtf8WhateverThePackageHolds)
{
    auto build = [&](const std::string &file, bool hostile) {
        velkor::PackageRecipe r;
        r.softwareName = hostile ? std::u16string(u"A\xD800" u"B") : u"AB";
        r.companyName = hostile ? std::u16string(u"\xDC00" u"C\xDBFF") : u"C";
        r.destination = u"\\Program Files\\AB";
        r.pageFlags = 0x01;
        r.texts = velkor::DefaultTexts();
        if (hostile) {
            r.texts[5] = std::u16string(u"t\x01\x1F\"\\\x7F" u"e", 7);
            r.texts[6] = u"\xD83D\xDE00 \xDE00\xD83D";   // a pair, then the two halves the wrong way round
            r.variables.push_back({u"%V%", std::u16string(u"a\0b", 3)});
        }
        Bytes cab = MakeCab(dir / "c.cab", Prose(100));
        r.components.push_back({hostile ? std::u16string(u"N\xDFFF") : u"N", cab, true, true});
        WriteBytes(dir / file, velkor::BuildPackage(Stub(), r, 1));
    };
    build("hostile.exe", true);
    build("plain.exe", false);

    const std::string fffd = "\xEF\xBF\xBD";
    std::vector<std::vector<std::string>> commands = {
        {"list", "--json", "hostile.exe"}, {"verify", "--json", "hostile.exe"}, {"lint", "--json", "hostile.exe"},
        {"diff", "--json", "plain.exe", "hostile.exe"}};
    for (const auto &args : commands) {
        SCOPED_TRACE(args[0]);
        Result r = Velkor(args, dir);
        json v;
        ASSERT_NO_THROW(v = json::parse(r.out)) << r.out;   // the parser refuses anything but UTF-8
        EXPECT_EQ(r.out.find("\xED"), std::string::npos);   // no surrogate written as three bytes
        if (args[0] == "list") {
            EXPECT_EQ(v["software_name"], "A" + fffd + "B");
            EXPECT_EQ(v["company_name"], fffd + "C" + fffd);
            EXPECT_EQ(v["components"][0]["name"], "N" + fffd);
            EXPECT_EQ(v["texts"][5]["text"], std::string("t\x01\x1F\"\\\x7F" "e"));
            EXPECT_EQ(v["texts"][6]["text"], "\xF0\x9F\x98\x80 " + fffd + fffd);
            EXPECT_NE(r.out.find("\\u0001\\u001f"), std::string::npos);
        }
        if (args[0] == "diff")
            EXPECT_EQ(v["identical"], false);
    }
}

TEST(Utf, WhatIsNotUtf8BecomesOneReplacementAByte)
{
    const std::string fffd = "\xEF\xBF\xBD";
    struct {
        std::string in, valid;
        size_t firstBad;
    } rows[] = {
        {"plain caf\xC3\xA9 \xF0\x9F\x98\x80", "plain caf\xC3\xA9 \xF0\x9F\x98\x80", std::string::npos},
        {"cut \xE2\x82", "cut " + fffd + fffd, 4},
        {"over\xC0\xAFlong", "over" + fffd + fffd + "long", 4},
        {"half \xED\xA0\x80 pair", "half " + fffd + fffd + fffd + " pair", 5},   // a surrogate written as UTF-8
        {"past \xF4\x90\x80\x80", "past " + fffd + fffd + fffd + fffd, 5},     // U+110000
        {"\xFF", fffd, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(velkor::ValidUtf8(row.in), row.valid);
        std::u16string strict;
        EXPECT_EQ(velkor::DecodeUtf8(row.in, strict), row.firstBad);
    }
}

TEST(Utf, HalfASurrogatePairBecomesOneReplacement)
{
    EXPECT_EQ(velkor::Utf16ToUtf8(u"A\xD800" u"B"), "A\xEF\xBF\xBD" "B");
    EXPECT_EQ(velkor::Utf16ToUtf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(velkor::Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(velkor::Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");
}

// Two names that differ only in half a surrogate pair print alike, but diff
// still sees that they differ.
TEST_F(ToolTest, DiffTellsApartTextsThatPrintAlike)
{
    auto build = [&](const std::string &file, char16_t half) {
        velkor::PackageRecipe r;
        r.softwareName = std::u16string(u"A") + half;
        r.companyName = u"C";
        r.destination = u"\\Program Files\\A";
        r.texts = velkor::DefaultTexts();
        r.components.push_back({u"N", MakeCab(dir / "c.cab", Prose(100)), true, true});
        WriteBytes(dir / file, velkor::BuildPackage(Stub(), r, 1));
    };
    build("a.exe", 0xD800);
    build("b.exe", 0xD801);
    Result r = Velkor({"diff", "a.exe", "b.exe"}, dir);
    EXPECT_EQ(r.code, 10) << r.out << r.err;
    EXPECT_NE(r.out.find("software_name"), std::string::npos) << r.out;
}

}  // namespace
