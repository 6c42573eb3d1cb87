// init_test.cpp -- `velkor init`: the manifest it writes from the sample's
// device CABs builds as it stands, without a warning, with every text at
// its default; plain CABs, shared application names and folders that name
// the product or its maker; refusing to overwrite; and every bad input
// with its message, its exit code and nothing written.
#include "tooltest.h"

#include "../support/setupinfo_writer.h"

#include "manifest.h"
#include "pkgwrite.h"

#include <functional>

using namespace tooltest;
using velkor::Bytes;

namespace {

// A device CAB whose .000 installs one file into the folder made of
// `parts` under %CE1% (or %CE5% when `docs`).
Bytes DeviceCab(const fs::path &cab, const std::string &app, const std::string &provider,
                const std::vector<std::string> &parts, bool docs = false)
{
    testcab::SetupInfoSpec s;
    s.appName = app;
    s.provider = provider;
    s.strings.push_back({1, docs ? "%CE5%" : "%CE1%"});
    std::vector<uint16_t> ids{1};
    for (size_t i = 0; i < parts.size(); ++i) {
        s.strings.push_back({uint16_t(i + 2), parts[i]});
        ids.push_back(uint16_t(i + 2));
    }
    s.dirs.push_back({1, ids});
    s.files.push_back({1, 1, 0, "readme.txt"});
    return MakeCabOf(cab, {{"APP.000", testcab::WriteSetupInfo(s)}, {"APP.001", Prose(300)}});
}

TEST_F(ToolTest, InitFromTheSampleCabsBuildsAsItStands)
{
    ASSERT_TRUE(CopySample(dir / "sample")) << "no sample in " VELKOR_SAMPLE_DIR " (the ctest fixture sample_cabs makes it)";
    fs::create_directory(dir / "out");
    Result r = Velkor({"init", "sample/cabs/notes.cab", "sample/cabs/help.cab", "sample/cabs/dictionary.cab",
                       "sample/cabs/samples.cab", "-o", "out/app.toml"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "wrote out/app.toml: 4 components, 4 of them with setup information\n"
                     "next: velkor build out/app.toml -o setup.exe\n");
    std::string m = ReadText(dir / "out" / "app.toml");
    for (const char *line : {
             "name = \"Pocket Notes\"", "company = \"Velkor Samples\"",
             "destination = '\\Program Files\\%SoftwareName%'",
             "pages = [\"welcome\", \"components\", \"location\", \"destination\", \"ready\"]",
             "# Pocket Notes by Velkor Samples: 4 files into \\Program Files\\Pocket Notes\n",
             "# Pocket Notes Help by Velkor Samples: 5 files into \\Program Files\\Pocket Notes\\Help\n",
             "name = \"Pocket Notes Dictionary\"", "cab = \"../sample/cabs/dictionary.cab\"",
             "# Pocket Notes Samples by Velkor Samples: 3 files into \\My Documents\\Notes\n"
             "# They stay there whatever folder the user picks.\n[[component]]\n"
             "name = \"Pocket Notes Samples\"\n"
             "cab = \"../sample/cabs/samples.cab\"\naccepts_destination = false",
             "# the ready page's text (HTML)\nready_body = ",
             "# question when Cancel is tapped while installing\nconfirm_cancel = \"Do you want to cancel the installation?\"",
         })
        EXPECT_NE(m.find(line), std::string::npos) << line << "\nin:\n" << m;

    // Every text at its default, all four components, as written.
    velkor::Manifest parsed = velkor::LoadManifest((dir / "out" / "app.toml").string());
    EXPECT_EQ(parsed.recipe.texts, velkor::DefaultTexts());
    ASSERT_EQ(parsed.recipe.components.size(), 4u);
    EXPECT_TRUE(parsed.recipe.components[2].acceptsDestination);
    EXPECT_FALSE(parsed.recipe.components[3].acceptsDestination);

    WriteBytes(dir / "setup.exe", Stub());
    Result b = Velkor({"build", "out/app.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir);
    EXPECT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(b.err, "");   // not one lint warning
    Result l = Velkor({"lint", "out/app.toml"}, dir);
    EXPECT_EQ(l.code, 0) << l.out;
}

TEST_F(ToolTest, InitNamesPlainCabsAfterTheirFilesAndKeepsNamesApart)
{
    MakeCabOf(dir / "readme-pack.cab", {{"readme.txt", Prose(100)}, {"notes.txt", Prose(50)}});
    DeviceCab(dir / "a.cab", "Tool", "Acme", {"Acme", "Tool"});
    DeviceCab(dir / "b.cab", "Tool", "Acme", {"Tool Extras"});
    Result r = Velkor({"init", "readme-pack.cab", "a.cab", "b.cab"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    std::string m = ReadText(dir / "manifest.toml");
    for (const char *line : {
             // A plain first CAB names the product; the maker comes from the first that says.
             "name = \"readme-pack\"", "company = \"Acme\"",
             "destination = '\\Program Files\\%SoftwareName%'",
             "# A plain CAB (2 files; no setup information): named after its file.\n",
             "name = \"Tool\"", "name = \"Tool (2)\"", "cab = \"a.cab\"",
             "# Tool by Acme: 1 file into \\Program Files\\Acme\\Tool\n",
         })
        EXPECT_NE(m.find(line), std::string::npos) << line << "\nin:\n" << m;
    WriteBytes(dir / "setup.exe", Stub());
    Result b = Velkor({"build", "manifest.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir);
    EXPECT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(b.err.find("duplicate-component"), std::string::npos) << b.err;
}

TEST_F(ToolTest, InitFillsInTheProductAndMakerInTheDestination)
{
    struct {
        std::vector<std::string> parts;
        bool docs;
        const char *destination;
        const char *pages;
    } cases[] = {
        {{"Acme", "Tool"}, false, "destination = '\\Program Files\\%CompanyName%\\%SoftwareName%'",
         "pages = [\"welcome\", \"location\", \"destination\", \"ready\"]"},
        {{"TOOL", "Bin"}, false, "destination = '\\Program Files\\%SoftwareName%\\Bin'", nullptr},
        {{"Toolbox"}, false, "destination = '\\Program Files\\Toolbox'", nullptr},
        // Nothing a user could move: no location or destination page.
        {{"Tool"}, true, "destination = '\\My Documents\\%SoftwareName%'", "pages = [\"welcome\", \"ready\"]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.destination);
        DeviceCab(dir / "t.cab", "Tool", "Acme", c.parts, c.docs);
        Result r = Velkor({"init", "t.cab", "--force"}, dir);
        ASSERT_EQ(r.code, 0) << r.err;
        std::string m = ReadText(dir / "manifest.toml");
        EXPECT_NE(m.find(c.destination), std::string::npos) << m;
        if (c.pages)
            EXPECT_NE(m.find(c.pages), std::string::npos) << m;
        WriteBytes(dir / "setup.exe", Stub());
        Result b = Velkor({"build", "manifest.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir);
        EXPECT_EQ(b.code, 0) << b.err;
        EXPECT_EQ(b.err, "");
    }
}

// Each product keeps its own folder: a CAB installing neither into the first
// CAB's folder nor inside it is another product, and the user's folder does
// not apply to it.  CABs of one product share the user's folder.
TEST_F(ToolTest, InitKeepsASecondProductInItsOwnFolder)
{
    struct Cab {
        const char *app;                  // nullptr: a plain CAB
        std::vector<std::string> parts;   // its folder under \Program Files
    };
    const char *const why = "neither the first CAB's (\\Program Files\\Tool) nor inside it";
    struct {
        const char *name;
        std::vector<Cab> cabs;
        std::vector<bool> accepts;
        std::vector<bool> otherProduct;   // the comment that says why
    } cases[] = {
        {"two products", {{"Tool", {"Tool"}}, {"Other", {"Other"}}}, {true, false}, {false, true}},
        {"one product: the same folder, in other capitals, and a subfolder",
         {{"Tool", {"Tool"}}, {"Tool Help", {"TOOL"}}, {"Tool Extras", {"Tool", "Extras"}}},
         {true, true, true},
         {false, false, false}},
        {"a folder whose name only begins like the first's", {{"Tool", {"Tool"}}, {"Toolbox", {"Toolbox"}}},
         {true, false},
         {false, true}},
        {"the first's parent folder", {{"Tool", {"Tool"}}, {"Any", {}}}, {true, false}, {false, true}},
        {"a third CAB inside the first's after another product",
         {{"Tool", {"Tool"}}, {"Other", {"Other"}}, {"Tool Help", {"Tool", "Help"}}},
         {true, false, true},
         {false, true, false}},
        {"a plain first CAB names no folder to keep apart from", {{nullptr, {}}, {"Other", {"Other"}}},
         {true, true},
         {false, false}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"init"};
        bool plain = false;
        for (size_t i = 0; i < c.cabs.size(); ++i) {
            std::string file = "c" + std::to_string(i) + ".cab";
            if (c.cabs[i].app)
                DeviceCab(dir / file, c.cabs[i].app, "Acme", c.cabs[i].parts);
            else
                MakeCabOf(dir / file, {{"readme.txt", Prose(100)}});
            plain = plain || !c.cabs[i].app;
            args.push_back(file);
        }
        args.push_back("--force");
        Result r = Velkor(args, dir);
        ASSERT_EQ(r.code, 0) << r.err;
        std::string m = ReadText(dir / "manifest.toml");
        velkor::Manifest parsed = velkor::LoadManifest((dir / "manifest.toml").string());
        ASSERT_EQ(parsed.recipe.components.size(), c.accepts.size());
        for (size_t i = 0; i < c.accepts.size(); ++i) {
            EXPECT_EQ(parsed.recipe.components[i].acceptsDestination, c.accepts[i]) << i << "\n" << m;
            // The comment stands just above its own component.
            std::string block = m.substr(0, m.find("cab = \"c" + std::to_string(i) + ".cab\""));
            block = block.substr(block.rfind("\n\n"));
            EXPECT_EQ(block.find(why) != std::string::npos, c.otherProduct[i]) << i << "\n" << block;
        }
        WriteBytes(dir / "setup.exe", Stub());
        Result b = Velkor({"build", "manifest.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir);
        EXPECT_EQ(b.code, 0) << b.err;
        if (!plain)
            EXPECT_EQ(b.err, "");   // not one lint warning
    }
}

TEST_F(ToolTest, InitRefusesToReplaceAManifestWithoutForce)
{
    MakeCab(dir / "main.cab", Prose(100));
    WriteText(dir / "manifest.toml", "# mine\n");
    Result r = Velkor({"init", "main.cab"}, dir);
    EXPECT_EQ(r.code, 8);
    EXPECT_EQ(r.err, "velkor: error: 'manifest.toml' exists; give --force to replace it\n");
    EXPECT_EQ(ReadText(dir / "manifest.toml"), "# mine\n");
    r = Velkor({"init", "main.cab", "--force"}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(ReadText(dir / "manifest.toml").find("name = \"Tool\""), std::string::npos);
}

struct InitBadInput {
    const char *name;
    std::function<void(const fs::path &dir)> arrange;
    std::vector<std::string> args;
    int code;
    const char *message;
};

Bytes Info(std::function<void(testcab::SetupInfoSpec &)> change = nullptr)
{
    testcab::SetupInfoSpec s;
    s.strings = {{1, "%CE1%"}, {2, "Tool"}};
    s.dirs = {{1, {1, 2}}};
    s.files = {{1, 1, 0, "tool.exe"}};
    if (change)
        change(s);
    return testcab::WriteSetupInfo(s);
}

const InitBadInput InitBadInputs[] = {
    {"MissingCab", nullptr, {"init", "gone.cab"}, 3, "cannot read CAB file 'gone.cab'"},
    {"CabIsAFolder", [](const fs::path &d) { fs::create_directory(d / "dir.cab"); }, {"init", "dir.cab"}, 3,
     "not a regular file"},
    {"NotACab", [](const fs::path &d) { WriteText(d / "text.cab", std::string(200, 'Z')); }, {"init", "good.cab", "text.cab"},
     5, "text.cab: is not a cabinet that can be read: "},
    {"TruncatedCab", [](const fs::path &d) {
         Bytes b = ReadBytes(d / "good.cab");
         b.resize(50);
         WriteBytes(d / "cut.cab", b); },
     {"init", "cut.cab"}, 5, "cut.cab: is not a cabinet that can be read"},
    {"MalformedSetupInfo", [](const fs::path &d) {
         Bytes info = Info();
         testcab::Set32(info, testcab::SiOffsets + 4 * testcab::TabFiles, 60000);   // FILES past the end
         MakeCabOf(d / "bad.cab", {{"APP.000", info}, {"APP.001", Prose(10)}}); },
     {"init", "bad.cab"}, 5, "bad.cab: its setup information 'APP.000' is malformed: "},
    {"SetupInfoNotMsce", [](const fs::path &d) { MakeCabOf(d / "bad.cab", {{"APP.000", Prose(400)}}); },
     {"init", "bad.cab"}, 5, "lacks its MSCE signature"},
    {"FileMissingFromCab", [](const fs::path &d) { MakeCabOf(d / "bad.cab", {{"APP.000", Info()}}); },
     {"init", "bad.cab"}, 5, "bad.cab: its setup information 'APP.000' cannot be installed by the device's installer: "},
    {"TwoSetupInfos", [](const fs::path &d) {
         MakeCabOf(d / "two.cab", {{"A.000", Info()}, {"B.000", Info()}, {"A.001", Prose(10)}}); },
     {"init", "two.cab"}, 5, "two.cab: has 2 setup-information members"},
    {"NoCab", nullptr, {"init"}, 2, "cabs is required"},
    {"OutputFolderMissing", nullptr, {"init", "good.cab", "-o", "no/such/app.toml"}, 8, "no/such/app.toml"},
};

// A folder compressed in a way velkor does not decode is no fault of the
// CAB: init names the component after its file and says why, as lint notes
// it, rather than refusing.
TEST_F(ToolTest, InitNotesSetupInfoItCannotDecode)
{
    Bytes cab = testcab::WriteCab({{"APP.000", Info()}, {"APP.001", Prose(10)}});
    testcab::Set16(cab, 42, 7);   // CFFOLDER's compression: no known type
    WriteBytes(dir / "odd.cab", cab);
    Result r = Velkor({"init", "odd.cab"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("odd.cab: its setup information 'APP.000' was not read (its folder names an unknown compression (7))"),
              std::string::npos)
        << r.err;
    std::string m = ReadText(dir / "manifest.toml");
    EXPECT_NE(m.find("name = \"odd\""), std::string::npos) << m;
    EXPECT_NE(m.find("# A plain CAB (2 files; its setup information 'APP.000' was not read"), std::string::npos) << m;
}

class InitBadInputTest : public ToolTest, public ::testing::WithParamInterface<InitBadInput> {};

TEST_P(InitBadInputTest, MessageCodeAndNothingWritten)
{
    const InitBadInput &c = GetParam();
    MakeCab(dir / "good.cab", Prose(500));
    if (c.arrange)
        c.arrange(dir);
    std::vector<std::string> before = Listing(dir);
    Result r = Velkor(c.args, dir);
    ExpectRefused(r, c.code, c.message);
    EXPECT_EQ(r.err.rfind("velkor: error: ", 0), 0u) << r.err;
    EXPECT_EQ(Listing(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Inputs, InitBadInputTest, ::testing::ValuesIn(InitBadInputs),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
