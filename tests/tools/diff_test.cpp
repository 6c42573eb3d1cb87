// diff_test.cpp -- `velkor diff`: identical packages, each kind of change
// (one change per case, and nothing else reported), the JSON shape, and
// bad inputs.
#include "tooltest.h"

#include "minijson.h"

#include <functional>
#include <map>
#include <set>
#include <tuple>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string BaseManifest = ManifestText(R"(["welcome", "components", "location", "destination", "ready"])")
                                      .Package("destination = '\\Program Files\\Tool'\n")
                                      .Variable("%A%", "1")
                                      .Variable("%B%", "2")
                                      .Component()
                                      .Component("Help", "help.cab", "selected = false\n")
                                      .Texts("welcome_title = \"Welcome to %A%\"\n");

// One reported difference: section, name, field (may be empty), change.
using Key = std::tuple<std::string, std::string, std::string, std::string>;

struct DiffCase {
    const char *name;
    std::function<void(const fs::path &dir)> arrange;   // changes the inputs of the second build
    std::set<Key> expected;
};

void PrintTo(const DiffCase &c, std::ostream *os) { *os << c.name; }

void Manifest(const fs::path &d, const std::string &from, const std::string &to)
{
    WriteText(d / "app.toml", Replace(BaseManifest, from, to));
}

const DiffCase DiffCases[] = {
    {"SoftwareName", [](const fs::path &d) { Manifest(d, "\"Tool\"", "\"Tool Pro\""); },
     {{"package", "software_name", "", "changed"}}},
    {"CompanyName", [](const fs::path &d) { Manifest(d, "\"Acme\"", "\"Acme Ltd\""); },
     {{"package", "company_name", "", "changed"}}},
    {"Destination", [](const fs::path &d) { Manifest(d, "'\\Program Files\\Tool'", "'\\Tool'"); },
     {{"package", "destination", "", "changed"}}},
    {"UseDefaultLocation",
     [](const fs::path &d) { Manifest(d, "pages =", "use_default_location = true\npages ="); },
     {{"package", "use_default_location", "", "changed"}}},
    {"RequireInstallArgument",
     [](const fs::path &d) { Manifest(d, "pages =", "require_install_argument = true\npages ="); },
     {{"package", "require_install_argument", "", "changed"}}},
    {"Pages", [](const fs::path &d) { Manifest(d, "\"welcome\", ", ""); },
     {{"package", "page_flags", "", "changed"}, {"package", "pages", "", "changed"}}},
    {"VariableValue", [](const fs::path &d) { Manifest(d, "value = \"1\"", "value = \"1.1\""); },
     {{"variable", "%A%", "", "changed"}}},
    {"VariableAdded",
     [](const fs::path &d) { Manifest(d, "[[component]]", "[[variable]]\nname = \"%C%\"\nvalue = \"3\"\n\n[[component]]"); },
     {{"variable", "%C%", "", "added"}}},
    {"VariableRemoved", [](const fs::path &d) { Manifest(d, "[[variable]]\nname = \"%B%\"\nvalue = \"2\"\n", ""); },
     {{"variable", "%B%", "", "removed"}}},
    {"VariablesReordered",
     [](const fs::path &d) {
         std::string m = Replace(BaseManifest, "[[variable]]\nname = \"%B%\"\nvalue = \"2\"\n", "");
         WriteText(d / "app.toml", Replace(m, "[[variable]]\nname = \"%A%\"",
                                           "[[variable]]\nname = \"%B%\"\nvalue = \"2\"\n\n[[variable]]\nname = \"%A%\""));
     },
     {{"variable", "(order)", "", "reordered"}}},
    {"ComponentAdded",
     [](const fs::path &d) {
         MakeCab(d / "extra.cab", Prose(77));
         Manifest(d, "[texts]", "[[component]]\nname = \"Extra\"\ncab = \"extra.cab\"\n\n[texts]");
     },
     {{"component", "Extra", "", "added"}}},
    {"ComponentRemoved",
     [](const fs::path &d) { Manifest(d, "[[component]]\nname = \"Help\"\ncab = \"help.cab\"\nselected = false\n", ""); },
     {{"component", "Help", "", "removed"}}},
    {"ComponentRenamedIsRemovedAndAdded", [](const fs::path &d) { Manifest(d, "\"Help\"", "\"Manual\""); },
     {{"component", "Help", "", "removed"}, {"component", "Manual", "", "added"}}},
    {"ComponentContentSameSize",
     [](const fs::path &d) {
         Bytes p = Prose(5000);
         p[2500] ^= 1;
         MakeCab(d / "main.cab", p);
     },
     {{"component", "Main", "sha256", "changed"}}},
    {"ComponentContentAndSize", [](const fs::path &d) { MakeCab(d / "main.cab", Prose(5001)); },
     {{"component", "Main", "sha256", "changed"}, {"component", "Main", "unpacked_size", "changed"}}},
    {"ComponentSelected", [](const fs::path &d) { Manifest(d, "selected = false", "selected = true"); },
     {{"component", "Help", "selected", "changed"}}},
    {"ComponentAcceptsDestination",
     [](const fs::path &d) { Manifest(d, "selected = false", "selected = false\naccepts_destination = false"); },
     {{"component", "Help", "accepts_destination", "changed"}}},
    {"ComponentsReordered",
     [](const fs::path &d) {
         std::string m = Replace(BaseManifest, "[[component]]\nname = \"Help\"\ncab = \"help.cab\"\nselected = false\n", "");
         WriteText(d / "app.toml", Replace(m, "[[component]]\nname = \"Main\"",
                                           "[[component]]\nname = \"Help\"\ncab = \"help.cab\"\nselected = false\n\n"
                                           "[[component]]\nname = \"Main\""));
     },
     {{"component", "(order)", "", "reordered"}}},
    {"Text", [](const fs::path &d) { Manifest(d, "welcome_title = \"Welcome to %A%\"", "welcome_title = \"Hello\""); },
     {{"text", "welcome_title", "", "changed"}}},
    {"TextBackToItsDefault",
     [](const fs::path &d) { Manifest(d, "welcome_title = \"Welcome to %A%\"", "ready_title = \"Ready to Install\""); },
     {{"text", "welcome_title", "", "changed"}}},
    {"SetupProgram",
     [](const fs::path &d) {
         Bytes stub = Stub();
         stub[100] ^= 1;
         WriteBytes(d / "setup.exe", stub);
     },
     {{"setup_program", "sha256", "", "changed"}}},
};

class DiffBase : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        WriteInputs(dir, "app.toml", BaseManifest, Prose(5000), Noise(70000, 2));
        Build("a.exe");
    }
    void Build(const std::string &out)
    {
        Result r = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", out}, dir);
        ASSERT_EQ(r.code, 0) << r.err;
    }
};

class DiffTest : public DiffBase, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(DiffTest, ReportsEachChangeAndNothingElse)
{
    const DiffCase &c = GetParam();
    c.arrange(dir);
    Build("b.exe");

    Result j = Velkor({"diff", "a.exe", "b.exe", "--json"}, dir);
    EXPECT_EQ(j.code, 10) << j.out << j.err;
    EXPECT_EQ(j.err, "");
    minijson::Value v = minijson::Parse(j.out);
    EXPECT_EQ(v["old"].string, "a.exe");
    EXPECT_EQ(v["new"].string, "b.exe");
    EXPECT_FALSE(v["identical"].boolean);
    EXPECT_EQ(v["difference_count"].number, double(v["differences"].size()));
    std::set<Key> found;
    for (const auto &d : v["differences"].array) {
        std::string field = d.Has("field") ? d["field"].string : "";
        found.insert(Key{d["section"].string, d["name"].string, field, d["change"].string});
        // Each side is present: null on the side where the item is missing.
        EXPECT_EQ(d["old"].kind == minijson::Value::Null, d["change"].string == "added");
        EXPECT_EQ(d["new"].kind == minijson::Value::Null, d["change"].string == "removed");
    }
    EXPECT_EQ(found, c.expected) << j.out;

    Result t = Velkor({"diff", "a.exe", "b.exe"}, dir);
    EXPECT_EQ(t.code, 10);
    std::string last = std::to_string(c.expected.size()) + (c.expected.size() == 1 ? " difference" : " differences") +
                       " between a.exe and b.exe\n";
    EXPECT_EQ(t.out.substr(t.out.size() - std::min(t.out.size(), last.size())), last) << t.out;
}

INSTANTIATE_TEST_SUITE_P(Diff, DiffTest, ::testing::ValuesIn(DiffCases),
                         [](const ::testing::TestParamInfo<DiffCase> &i) { return std::string(i.param.name); });

class DiffOutputTest : public DiffBase {};

TEST_F(DiffOutputTest, IdenticalPackages)
{
    Build("b.exe");   // the same inputs again
    for (const char *other : {"a.exe", "b.exe"}) {
        Result t = Velkor({"diff", "a.exe", other}, dir);
        EXPECT_EQ(t.code, 0) << t.out;
        EXPECT_EQ(t.out, std::string("a.exe and ") + other + " hold the same package\n");
        Result j = Velkor({"diff", "--json", "a.exe", other}, dir);
        EXPECT_EQ(j.code, 0);
        minijson::Value v = minijson::Parse(j.out);
        EXPECT_TRUE(v["identical"].boolean);
        EXPECT_EQ(v["difference_count"].number, 0);
        EXPECT_EQ(v["differences"].kind, minijson::Value::Array);
        EXPECT_EQ(v["differences"].size(), 0u);
    }
}

TEST_F(DiffOutputTest, ValuesOnBothSides)
{
    MakeCab(dir / "main.cab", Prose(6000));
    MakeCab(dir / "extra.cab", Prose(10));
    std::string m = Replace(BaseManifest, "welcome_title = \"Welcome to %A%\"", "welcome_title = \"Two\\nlines\"");
    m = Replace(m, "pages = [\"welcome\", ", "pages = [");
    m = Replace(m, "[texts]", "[[component]]\nname = \"Extra\"\ncab = \"extra.cab\"\n\n[texts]");
    WriteText(dir / "app.toml", m);
    Build("b.exe");

    Result j = Velkor({"diff", "a.exe", "b.exe", "--json"}, dir);
    minijson::Value v = minijson::Parse(j.out);
    std::map<std::string, const minijson::Value *> by;
    for (const auto &d : v["differences"].array)
        by[d["section"].string + "/" + d["name"].string + (d.Has("field") ? "/" + d["field"].string : "")] = &d;

    const minijson::Value &text = *by.at("text/welcome_title");
    EXPECT_EQ(text["index"].number, 5);
    EXPECT_EQ(text["old"].string, "Welcome to %A%");   // as stored: placeholders unexpanded
    EXPECT_EQ(text["new"].string, "Two\r\nlines");

    const minijson::Value &size = *by.at("component/Main/unpacked_size");
    EXPECT_EQ(size["new"].number - size["old"].number, 1000);
    const minijson::Value &sha = *by.at("component/Main/sha256");
    EXPECT_EQ(sha["old"].string.size(), 64u);
    EXPECT_NE(sha["old"].string, sha["new"].string);

    const minijson::Value &added = *by.at("component/Extra");
    EXPECT_EQ(added["change"].string, "added");
    EXPECT_EQ(added["new"]["position"].number, 3);
    EXPECT_EQ(added["new"]["unpacked_size"].number, double(ReadBytes(dir / "extra.cab").size()));
    EXPECT_TRUE(added["new"]["accepts_destination"].boolean);
    EXPECT_TRUE(added["new"]["selected"].boolean);
    EXPECT_EQ(added["new"]["sha256"].string.size(), 64u);

    const minijson::Value &flags = *by.at("package/page_flags");
    EXPECT_EQ(flags["old"].number, 0x3D);
    EXPECT_EQ(flags["new"].number, 0x3C);
    const minijson::Value &pages = *by.at("package/pages");
    EXPECT_EQ(pages["old"].size(), 5u);
    EXPECT_EQ(pages["new"][0].string, "components");

    // The text form puts a text's two values on lines of their own.
    Result t = Velkor({"diff", "a.exe", "b.exe"}, dir);
    EXPECT_NE(t.out.find("text welcome_title (5):\n  - \"Welcome to %A%\"\n  + \"Two\\r\\nlines\"\n"), std::string::npos)
        << t.out;
    EXPECT_NE(t.out.find("page_flags: 0x3D -> 0x3C\n"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("component 'Main' unpacked_size: 5"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("component 'Extra': added (position 3, unpacked_size "), std::string::npos) << t.out;
}

TEST_F(DiffOutputTest, BadInputs)
{
    Bytes damaged = ReadBytes(dir / "a.exe");
    PackageMap map = Map(damaged);
    damaged.at(map.chunks[1][0] + 9 + 6) ^= 0x55;   // inside Help's first chunk
    WriteBytes(dir / "damaged.exe", damaged);
    WriteText(dir / "text.txt", "not a package at all");

    const Refusal cases[] = {
        {{"diff", "a.exe"}, 2, "velkor: error: new is required"},
        {{"diff", "a.exe", "b.exe", "c.exe"}, 2, "velkor: error:"},
        {{"diff", "missing.exe", "a.exe"}, 3, "velkor: error: cannot read package 'missing.exe'"},
        {{"diff", "a.exe", "missing.exe"}, 3, "velkor: error: cannot read package 'missing.exe'"},
        {{"diff", "a.exe", "text.txt"}, 7, "velkor: error: text.txt: trailer at offset 16: the last 4 bytes are"},
        {{"diff", "damaged.exe", "a.exe"}, 7, "velkor: error: damaged.exe: component 2 'Help', chunk 1 at offset"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        ExpectRefused(Velkor(c.args, dir), c.code, c.message);
    }
}

}  // namespace
