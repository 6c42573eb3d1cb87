// build_test.cpp -- `velkor build`: round trips at the chunk-size edges,
// the same bytes whatever --jobs, the same bytes as the library's
// BuildPackage, and what the setup program's loader reads back.
#include "tooltest.h"

#include "package.h"

using namespace tooltest;
using velkor::Bytes;

namespace {

// A manifest with one component per CAB, named "Part 1", "Part 2", ...
std::string ManifestFor(size_t cabs, const std::string &extra = "")
{
    ManifestText m(R"(["welcome", "components", "ready"])");
    for (size_t i = 0; i < cabs; ++i)
        m.Component("Part " + std::to_string(i + 1), "cab" + std::to_string(i + 1) + ".cab");
    return std::string(m) + extra;
}

class BuildTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        WriteBytes(dir / "setup.exe", Stub());
    }
    Result Build(const std::vector<std::string> &more = {}, const std::string &out = "out.exe")
    {
        std::vector<std::string> args{"build", "app.toml", "--stub", "setup.exe", "-o", out};
        args.insert(args.end(), more.begin(), more.end());
        return Velkor(args, dir);
    }
};

TEST_F(BuildTest, RoundTripAtChunkEdges)
{
    // One component per size where chunking bugs live: a tiny CAB, one byte
    // short of a chunk, a chunk, a byte over, and many chunks.
    std::vector<Bytes> cabs;
    cabs.push_back(MakeCab(dir / "cab1.cab", Bytes{'x'}));
    cabs.push_back(MakeCabOfSize(dir / "cab2.cab", 65535, 2));
    cabs.push_back(MakeCabOfSize(dir / "cab3.cab", 65536, 3));
    cabs.push_back(MakeCabOfSize(dir / "cab4.cab", 65537, 4));
    cabs.push_back(MakeCab(dir / "cab5.cab", Prose(9 * 65536 + 77)));
    ASSERT_EQ(cabs[1].size(), 65535u);
    ASSERT_EQ(cabs[2].size(), 65536u);
    ASSERT_EQ(cabs[3].size(), 65537u);
    WriteText(dir / "app.toml", ManifestFor(cabs.size()));

    Result b = Build();
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(b.err, "");

    Result v = Velkor({"verify", "out.exe"}, dir);
    EXPECT_EQ(v.code, 0) << v.err;

    Bytes file = ReadBytes(dir / "out.exe");
    PackageMap map = Map(file);
    ASSERT_EQ(map.chunks.size(), cabs.size());
    for (size_t i = 0; i < cabs.size(); ++i) {
        SCOPED_TRACE("component " + std::to_string(i + 1) + ", " + std::to_string(cabs[i].size()) + " bytes");
        EXPECT_EQ(map.chunks[i].size(), (cabs[i].size() + 65535) / 65536);
        // Every chunk states 65536 decoded bytes but the last.
        for (size_t k = 0; k < map.chunks[i].size(); ++k) {
            uint32_t stated = GetU32(file, map.chunks[i][k] + 5);
            EXPECT_EQ(file[map.chunks[i][k]], 1) << "chunk " << k;
            EXPECT_EQ(stated, k + 1 < map.chunks[i].size() ? 65536u : cabs[i].size() - 65536 * k) << "chunk " << k;
        }
    }

    Result x = Velkor({"extract", "out.exe", "-o", "unpacked"}, dir);
    ASSERT_EQ(x.code, 0) << x.err;
    for (size_t i = 0; i < cabs.size(); ++i)
        EXPECT_EQ(ReadBytes(dir / "unpacked" / ("Part " + std::to_string(i + 1) + ".cab")), cabs[i]) << "Part " << i + 1;
    EXPECT_EQ(Listing(dir / "unpacked").size(), cabs.size());
}

TEST_F(BuildTest, SameBytesWhateverTheJobs)
{
    MakeCab(dir / "cab1.cab", Noise(11 * 65536 + 3, 1));
    MakeCab(dir / "cab2.cab", Prose(300000));
    MakeCab(dir / "cab3.cab", Bytes{'a', 'b'});
    WriteText(dir / "app.toml", ManifestFor(3));

    ASSERT_EQ(Build({"--jobs", "1"}, "one.exe").code, 0);
    ASSERT_EQ(Build({"--jobs", "4"}, "four.exe").code, 0);
    ASSERT_EQ(Build({}, "cores.exe").code, 0);
    Bytes one = ReadBytes(dir / "one.exe");
    EXPECT_GT(one.size(), 11u * 65536);
    EXPECT_EQ(ReadBytes(dir / "four.exe"), one);
    EXPECT_EQ(ReadBytes(dir / "cores.exe"), one);
}

TEST_F(BuildTest, SameBytesAsTheLibraryBuilder)
{
    // The streaming writer and BuildPackage must agree to the byte: header
    // offsets, text blocks, chunk blocks and trailer.
    Bytes a = MakeCab(dir / "cab1.cab", Noise(200000, 5));
    Bytes b = MakeCab(dir / "cab2.cab", Prose(1000));
    WriteText(dir / "app.toml", ManifestFor(2, "[[variable]]\nname = \"%Version%\"\nvalue = \"2.1\"\n"
                                               "[texts]\nwelcome_title = \"Hello %Version%\"\n"));
    ASSERT_EQ(Build().code, 0);

    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Tool";
    recipe.companyName = u"Acme";
    recipe.destination = u"\\Program Files\\%SoftwareName%";
    recipe.useDefaultLocation = 0;
    recipe.pageFlags = PageWelcome | PageComponents | PageReady;
    recipe.variables = {{u"%Version%", u"2.1"}};
    recipe.components = {{u"Part 1", a, true, true}, {u"Part 2", b, true, true}};
    recipe.texts = velkor::DefaultTexts();
    recipe.texts[TextWelcomeTitle] = u"Hello %Version%";
    EXPECT_EQ(ReadBytes(dir / "out.exe"), velkor::BuildPackage(Stub(), recipe, 1));
}

TEST_F(BuildTest, ProgramLoadsWhatTheManifestSays)
{
    Bytes a = MakeCab(dir / "main.cab", Prose(5000));
    Bytes b = MakeCab(dir / "help.cab", Prose(70000));
    fs::create_directories(dir / "text");
    WriteText(dir / "text" / "eula.txt", "\xEF\xBB\xBF" "First line\nSecond line \xC3\xA9\r\nThird\n");
    WriteText(dir / "app.toml", R"(# every key the manifest knows
[package]
name = "Pocket Notes"
company = "Velkor Samples"
destination = '\Storage Card\%CompanyName%\%SoftwareName%'
use_default_location = true
require_install_argument = true
pages = ["ready", "location", "destination", "agreement"]

[[variable]]
name = "%Version%"
value = "1.4"

[[variable]]
name = "<build>"
value = "207"

[[component]]
name = "Notes %Version%"
cab = "main.cab"
accepts_destination = false

[[component]]
name = "Help"
cab = "help.cab"
selected = false

[texts]
window_title = "%SoftwareName% %Version% (<build>) Setup"
agreement_body = { file = "text/eula.txt" }
confirm_cancel = """Stop installing
%SoftwareName%?"""
)");
    Result built = Build();
    ASSERT_EQ(built.code, 0) << built.err;

    Bytes file = ReadBytes(dir / "out.exe");
    UseMemoryPackage(file.data(), file.size());
    ASSERT_EQ(LoadPackage(), LoadSucceeded);
    UseFilePackages();
    EXPECT_EQ(std::u16string(Package.SoftwareName), u"Pocket Notes");
    EXPECT_EQ(std::u16string(Package.DestinationPath), u"\\Storage Card\\Velkor Samples\\Pocket Notes");
    EXPECT_EQ(Package.UseDefaultLocation, 1);
    EXPECT_EQ(Package.RequireInstallArgument, 1);
    EXPECT_EQ(Package.PageFlags, PageAgreement | PageLocation | PageDestination | PageReady);
    EXPECT_EQ(Package.FirstPage, PageAgreement);
    EXPECT_EQ(Package.LastPage, PageReady);
    ASSERT_EQ(Package.VariableCount, 2u);
    EXPECT_EQ(std::u16string(Package.Variables[0].Name), u"%Version%");
    EXPECT_EQ(std::u16string(Package.Variables[1].Name), u"<build>");
    ASSERT_EQ(Package.ComponentCount, 2u);
    EXPECT_EQ(std::u16string(Package.Components[0].Name), u"Notes %Version%");   // names are not expanded
    EXPECT_EQ(Package.Components[0].AcceptsDestination, 0);
    EXPECT_EQ(Package.Components[0].Selected, 1);
    EXPECT_EQ(Package.Components[0].UnpackedSize, a.size());
    EXPECT_EQ(Package.Components[1].AcceptsDestination, 1);
    EXPECT_EQ(Package.Components[1].Selected, 0);
    EXPECT_EQ(Package.Components[1].UnpackedSize, b.size());
    ASSERT_EQ(Package.TextCount, 30u);
    EXPECT_EQ(std::u16string(Package.TextTable[TextWindowTitle]), u"Pocket Notes 1.4 (207) Setup");
    // BOM dropped, UTF-8 decoded, every line break stored as CR LF.
    EXPECT_EQ(std::u16string(Package.TextTable[TextAgreementBody]), u"First line\r\nSecond line \u00e9\r\nThird\r\n");
    EXPECT_EQ(std::u16string(Package.TextTable[TextConfirmCancel]), u"Stop installing\r\nPocket Notes?");
    EXPECT_EQ(std::u16string(Package.TextTable[TextNextButton]), u"&Next >");   // a default
    ReleasePackage();
}

TEST_F(BuildTest, FailedBuildKeepsTheExistingOutput)
{
    MakeCab(dir / "cab1.cab", Prose(100));
    WriteText(dir / "cab2.cab", "not a cabinet at all, just text");
    WriteText(dir / "app.toml", ManifestFor(2));
    WriteText(dir / "out.exe", "the previous build");
    Result r = Build();
    EXPECT_EQ(r.code, 5);
    std::string previous = "the previous build";
    EXPECT_EQ(ReadBytes(dir / "out.exe"), Bytes(previous.begin(), previous.end()));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"app.toml", "cab1.cab", "cab2.cab", "out.exe", "setup.exe"}));
}

}  // namespace

namespace {

TEST_F(BuildTest, SampleBuildsVerifiesAndUnpacks)
{
    ASSERT_TRUE(CopySample(dir / "sample")) << "no sample in " VELKOR_SAMPLE_DIR " (the ctest fixture sample_cabs makes it)";
    Result b = Velkor({"build", "sample/manifest.toml", "--stub", "setup.exe", "-o", "sample/pocketnotes-setup.exe"},
                      dir);
    ASSERT_EQ(b.code, 0) << b.err;
    EXPECT_EQ(b.err, "");   // the sample draws no warning
    EXPECT_EQ(Velkor({"verify", "sample/pocketnotes-setup.exe"}, dir).code, 0);

    Bytes file = ReadBytes(dir / "sample" / "pocketnotes-setup.exe");
    PackageMap map = Map(file);
    ASSERT_EQ(map.chunks.size(), 4u);
    EXPECT_GE(map.chunks[0].size(), 3u);   // the main component spans several chunks

    Result x = Velkor({"extract", "sample/pocketnotes-setup.exe", "-o", "unpacked"}, dir);
    ASSERT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(ReadBytes(dir / "unpacked" / "Pocket Notes.cab"), ReadBytes(dir / "sample" / "cabs" / "notes.cab"));
    EXPECT_EQ(ReadBytes(dir / "unpacked" / "Sample Notebooks.cab"), ReadBytes(dir / "sample" / "cabs" / "samples.cab"));
}

}  // namespace
