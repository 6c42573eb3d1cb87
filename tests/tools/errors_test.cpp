// errors_test.cpp -- every bad input gives its one-line message and exit
// code and leaves no output (and no temporary file) behind; --help works for
// every command; extracted files never land outside the chosen folder.
#include "errors.h"
#include "manifest.h"
#include "tooltest.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string GoodManifest = ManifestText(R"(["welcome", "agreement", "ready"])")
                                      .Component()
                                      .Texts("agreement_body = { file = \"eula.txt\" }\n");

// Makes a sparse file of `size` bytes that starts with `head`.
void Sparse(const fs::path &p, const std::string &head, uint64_t size)
{
    WriteText(p, head);
    fs::resize_file(p, size);
}

struct BadInput {
    const char *name;
    std::function<void(const fs::path &dir)> arrange;   // spoils the good setup
    std::vector<std::string> args;                       // empty: the usual build
    int code;
    const char *message;
};

void Manifest(const fs::path &dir, const std::string &from, const std::string &to)
{
    WriteText(dir / "app.toml", Replace(GoodManifest, from, to));
}

const BadInput BadInputs[] = {
    {"MissingManifest", [](const fs::path &d) { fs::remove(d / "app.toml"); }, {}, 3, "cannot read manifest 'app.toml'"},
    {"ManifestIsAFolder", [](const fs::path &d) { fs::remove(d / "app.toml"); fs::create_directory(d / "app.toml"); },
     {}, 3, "not a regular file"},
    {"MissingStub", [](const fs::path &d) { fs::remove(d / "setup.exe"); }, {}, 3, "cannot read stub 'setup.exe'"},
    {"MissingCab", [](const fs::path &d) { fs::remove(d / "main.cab"); }, {}, 3,
     "app.toml:8:7: error: cannot read CAB file 'main.cab': No such file or directory [component 1 'Main']"},
    {"MissingTextFile", [](const fs::path &d) { fs::remove(d / "eula.txt"); }, {}, 3,
     "app.toml:11:27: error: cannot read text file 'eula.txt': No such file or directory [texts.agreement_body]"},
    {"TomlSyntax", [](const fs::path &d) { Manifest(d, "[texts]", "[texts"); }, {}, 4, "app.toml:10:7: error: Error while parsing table header: expected ']'"},
    {"WrongType", [](const fs::path &d) { Manifest(d, "company = \"Acme\"", "company = 7"); }, {}, 4,
     "app.toml:3:11: error: package.company: expected a string, found an integer"},
    {"UnknownKey", [](const fs::path &d) { Manifest(d, "cab =", "cabfile ="); }, {}, 4,
     "app.toml:8:1: error: component.cabfile: unknown key"},
    {"MissingKey", [](const fs::path &d) { Manifest(d, "name = \"Tool\"\n", ""); }, {}, 4,
     "app.toml:1:1: error: package.name: missing"},
    {"UnknownPage", [](const fs::path &d) { Manifest(d, "\"ready\"", "\"finish\""); }, {}, 4,
     "app.toml:4:34: error: package.pages: unknown page 'finish'"},
    {"PageTwice", [](const fs::path &d) { Manifest(d, "\"ready\"", "\"welcome\""); }, {}, 4,
     "app.toml:4:34: error: package.pages: page 'welcome' is listed twice"},
    {"UnknownText", [](const fs::path &d) { Manifest(d, "agreement_body", "agreement_text"); }, {}, 4,
     "app.toml:11:1: error: texts.agreement_text: unknown text"},
    {"NoComponent", [](const fs::path &d) { Manifest(d, "[[component]]\nname = \"Main\"\ncab = \"main.cab\"\n", ""); },
     {}, 4, "app.toml:1:1: error: component: missing"},
    {"TextFileNotUtf8", [](const fs::path &d) { WriteText(d / "eula.txt", "caf\xE9 au lait"); }, {}, 4,
     "app.toml:11:27: error: texts.agreement_body: text file 'eula.txt' is not UTF-8 (bad byte at offset 3)"},
    {"NotACab", [](const fs::path &d) { WriteText(d / "main.cab", std::string(100, 'Z')); }, {}, 5,
     "app.toml:8:7: error: 'main.cab' is not a CAB file (it does not start with \"MSCF\")"},
    {"TruncatedCab", [](const fs::path &d) { fs::resize_file(d / "main.cab", 60); }, {}, 5,
     "app.toml:8:7: error: CAB file 'main.cab' is truncated: its header states"},
    {"StubNotAProgram", [](const fs::path &d) { WriteText(d / "setup.exe", "#!/bin/sh\n"); }, {}, 5,
     "stub 'setup.exe' is not a Windows program"},
    {"StubHasAPackage", [](const fs::path &d) {
         ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "built.exe"}, d).code, 0);
         fs::rename(d / "built.exe", d / "setup.exe"); },
     {}, 5, "already carries a package"},
    {"PackagePast4GiB",
     [](const fs::path &d) {
         Bytes stub = Stub();
         Sparse(d / "setup.exe", std::string(stub.begin(), stub.end()), 0xFFFFFF00ull);
     },
     {}, 6,
     "the package would be larger than 4 GiB"},
    {"CabPast4GiB", [](const fs::path &d) {
         Bytes cab = ReadBytes(d / "main.cab");
         Sparse(d / "main.cab", std::string(cab.begin(), cab.end()), 0x100000010ull); },
     {}, 6, "app.toml:8:7: error: CAB file 'main.cab' is larger than 4 GiB"},
    {"OutputFolderMissing", nullptr, {"build", "app.toml", "--stub", "setup.exe", "-o", "no/such/out.exe"}, 8,
     "cannot create output 'no/such/out.exe'"},
    {"JobsNotANumber", nullptr, {"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe", "--jobs", "many"}, 2,
     "--jobs"},
    {"UnknownCommand", nullptr, {"make", "app.toml"}, 2, "error:"},
    {"NoCommand", nullptr, {"--json"}, 2, "error:"},
    {"ListMissing", nullptr, {"list", "gone.exe"}, 3, "cannot read package 'gone.exe'"},
    {"VerifyMissing", nullptr, {"verify", "gone.exe"}, 3, "cannot read package 'gone.exe'"},
    {"ExtractMissing", nullptr, {"extract", "gone.exe", "-o", "x"}, 3, "cannot read package 'gone.exe'"},
    {"ListNotAPackage", nullptr, {"list", "setup.exe"}, 7, "setup.exe: trailer at offset 4092: the last 4 bytes are"},
    {"VerifyEmptyFile", [](const fs::path &d) { WriteText(d / "empty.exe", ""); }, {"verify", "empty.exe"}, 7,
     "file at offset 0: only 0 bytes, too short for a package trailer"},
    {"ExtractNotAPackage", nullptr, {"extract", "setup.exe", "-o", "x"}, 7, "trailer at offset"},
};

class BadInputTest : public ToolTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, MessageCodeAndNothingLeftBehind)
{
    const BadInput &c = GetParam();
    WriteSpoiledInputs(dir, GoodManifest, 5000, c.arrange);
    std::vector<std::string> before = Listing(dir);

    std::vector<std::string> args = c.args;
    if (args.empty())
        args = {"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"};
    Result r = Velkor(args, dir);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << "expected \"" << c.message << "\" in: " << r.err;
    // A fault at a place in the manifest is reported at that place.
    if (std::string(c.message).rfind("app.toml:", 0) == 0)
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    else
        EXPECT_EQ(r.err.rfind("velkor: error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(Listing(dir), before);   // no output, no temporary file, no folder
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTest, ::testing::ValuesIn(BadInputs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ToolTest, HelpForEveryCommand)
{
    struct {
        std::vector<std::string> args;
        const char *mentions;
    } cases[] = {
        {{"--help"}, "extract"},
        {{"build", "--help"}, "--stub"},
        {{"list", "--help"}, "--json"},
        {{"verify", "--help"}, "--json"},
        {{"extract", "--help"}, "-o,--output"},
        {{"--help"}, "lint"},
        {{"--help"}, "preview"},
        {{"lint", "--help"}, "9 findings"},
        {{"diff", "--help"}, "10 different"},
        {{"preview", "--help"}, "--win-bin"},
        {{"init", "--help"}, "--force"},
        {{"try", "--help"}, "12 the installation did not succeed"},
    };
    for (const auto &c : cases) {
        Result r = Velkor(c.args, dir);
        EXPECT_EQ(r.code, 0) << c.args[0];
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Exit codes:"), std::string::npos) << r.out;
    }
}

TEST_F(ToolTest, WarningsDoNotFailTheBuild)
{
    WriteBytes(dir / "setup.exe", Stub());
    MakeCab(dir / "main.cab", Prose(10));
    WriteText(dir / "app.toml", Replace(GoodManifest, "[texts]\nagreement_body = { file = \"eula.txt\" }\n", ""));
    Result r = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"}, dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("app.toml:4:1: warning: the agreement page is selected but texts.agreement_body"),
              std::string::npos) << r.err;
}

TEST_F(ToolTest, InterruptedBuildLeavesNothing)
{
    WriteBytes(dir / "setup.exe", Stub());
    MakeCab(dir / "main.cab", Prose(48 << 20));
    WriteText(dir / "eula.txt", "Terms.\n");
    WriteText(dir / "app.toml", GoodManifest);
    int pid = StartVelkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe", "--jobs", "1"}, dir);
    ASSERT_GT(pid, 0);
    // Signal once the temporary output exists, so the signal lands mid-write.
    bool writing = false;
    for (int i = 0; i < 3000 && !writing; ++i) {
        for (const auto &name : Listing(dir))
            writing = writing || name.rfind("out.exe.tmp-", 0) == 0;
        if (!writing)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(writing);
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 130);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"app.toml", "eula.txt", "main.cab", "setup.exe"}));
}

TEST_F(ToolTest, ExtractedNamesStayInsideTheFolder)
{
    // Names no manifest would give, written with the library builder.
    velkor::PackageRecipe recipe;
    recipe.texts = velkor::DefaultTexts();
    const char16_t *names[] = {u"../../escape", u"/etc/passwd", u"C:\\Windows\\x", u"..", u"", u"Same", u"same",
                               u"Caf\u00e9 \u2603", u"  .hidden"};
    for (const char16_t *n : names)
        recipe.components.push_back({n, Bytes{'M', 'S', 'C', 'F'}, true, true});
    WriteBytes(dir / "odd.exe", velkor::BuildPackage(Stub(), recipe, 1));

    fs::create_directory(dir / "inner");
    Result r = Velkor({"extract", "../odd.exe", "-o", "out"}, dir / "inner");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Listing(dir / "inner" / "out"),
              (std::vector<std::string>{"C_Windows_x.cab", "Caf.cab", "Same.cab", "component-4.cab", "component-5.cab",
                                        "escape.cab", "etc_passwd.cab", "hidden.cab", "same-2.cab"}));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"inner", "odd.exe"}));
    EXPECT_EQ(Listing(dir / "inner"), (std::vector<std::string>{"out"}));
}

}  // namespace

// Non-ASCII characters where the TOML reader looks for whitespace once fell
// into branches its tables mark as unreachable.
TEST(ManifestText, NonAsciiWhereWhitespaceMayStand)
{
    const std::string head = "[package]\nname = \"Tool\"\ncompany = \"Acme\"\npages = [\"welcome\"]\n"
                             "[[component]]\nname = \"Main\"\ncab = \"main.cab\"\n[texts]\n";
    // After a line-ending backslash the next line's leading blanks go, the
    // rest stays: U+00E9 and U+3001 are not blanks, U+3000 is.
    velkor::Manifest m = velkor::ParseManifest(
        head + "welcome_body = \"\"\"caf\\\n  \u3000\u00e9 \u3001x\"\"\"\n", "/none/app.toml");
    EXPECT_TRUE(m.recipe.texts[6] == u"caf\u00e9 \u3001x");
    for (const char *where : {"\u00e9", "\u0400", "\u3001", "\u2e00"}) {
        try {
            velkor::ParseManifest(head + "welcome_title = \"a\" " + where + "\n", "/none/app.toml");
            ADD_FAILURE() << "accepted a stray character";
        } catch (const velkor::Failure &e) {
            EXPECT_EQ(e.code, 4) << e.what();
        }
    }
}

// The manifest's strict UTF-8 reader and the tool's lenient one give the
// same code units at each length's edges, surrogate pairs included.
TEST(ManifestText, CodePointsAtTheEdgesOfEachLength)
{
    const std::string text = "A\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    const std::u16string want = u"A\x80\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
    EXPECT_TRUE(velkor::Utf8ToUtf16(text) == want);
    velkor::Manifest m = velkor::ParseManifest(
        std::string(ManifestText(R"(["welcome"])").Component().Texts("welcome_body = \"" + text + "\"\n")),
        "/none/app.toml");
    EXPECT_TRUE(m.recipe.texts[6] == want);
}
