// lint_test.cpp -- `velkor lint` and the warnings of `velkor build`: each
// finding on a small manifest or package made here, the clean cases that
// must stay clean (the sample, percent signs that are not placeholders,
// MSZIP CABs), package-only findings, bad input, and the CAB reader on
// truncated and damaged cabinets.
#include "tooltest.h"

#include "minijson.h"

#include "lint.h"
#include "sha256.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

using namespace tooltest;
using velkor::Bytes;

namespace {

// A clean manifest; `package`, `component` and `texts` add lines to those
// tables.
std::string LintManifest(const std::string &package = "", const std::string &component = "",
                         const std::string &texts = "", const std::string &pages =
                             R"(["welcome", "components", "location", "destination", "ready"])")
{
    return ManifestText(pages)
        .Package(package.empty() ? "" : package + "\n")
        .Variable("%Version%", "1.0")
        .Component("Main", "main.cab", component)
        .Texts(texts);
}
struct LintCase {
    const char *name;
    std::function<void(const fs::path &dir)> arrange;
    const char *check;     // nullptr: no finding at all
    const char *message;   // part of the one finding's message
};

void PrintTo(const LintCase &c, std::ostream *os) { *os << c.name; }

void Write(const fs::path &dir, const std::string &manifest) { WriteText(dir / "app.toml", manifest); }

// `velkor lint FILE` said it found nothing (check null), or found exactly
// one finding of that check whose message holds `message`.
void ExpectOnly(const Result &r, const std::string &file, const char *check, const char *message)
{
    EXPECT_EQ(r.err, "");
    if (!check) {
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.out, file + ": no findings\n");
        return;
    }
    EXPECT_EQ(r.code, 9) << r.out;
    EXPECT_NE(r.out.find(std::string("[") + check + "]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(file + ": 1 finding\n"), std::string::npos) << r.out;
}

const LintCase LintCases[] = {
    // Placeholders.
    {"UndefinedPlaceholder",
     [](const fs::path &d) { Write(d, LintManifest("", "", "welcome_body = \"<p>%Nope% %SoftwareName% %version%</p>\"")); },
     "undefined-placeholder", "texts.welcome_body uses %Nope%, which is neither"},
    {"PercentSignsThatAreNotPlaceholders",
     [](const fs::path &d) {
         Write(d, LintManifest("", "", "welcome_body = \"<p>100% sure, 50%-off, a%20b%20c, %%, %1%</p>\""));
     },
     nullptr, nullptr},
    {"VariableInDestination",
     [](const fs::path &d) { Write(d, LintManifest("destination = '\\Program Files\\%Version%'")); },
     "undefined-placeholder", "package.destination uses %Version%, a variable, but variables are not applied"},
    {"UnknownPlaceholderInDestination",
     [](const fs::path &d) { Write(d, LintManifest("destination = '\\Program Files\\%Maker%'")); },
     "undefined-placeholder", "package.destination uses %Maker%, which is neither"},
    {"PlaceholderInComponentName",
     [](const fs::path &d) {
         std::string m = LintManifest();
         WriteText(d / "app.toml", m.replace(m.find("name = \"Main\""), 13, "name = \"Main %Version%\""));
     },
     "placeholder-in-name", "component 1 'Main %Version%': component names are shown as written"},

    // The destination.
    {"DestinationEmpty", [](const fs::path &d) { Write(d, LintManifest("destination = ''")); }, "destination-empty",
     "package.destination is empty"},
    {"DestinationTooLongOnceExpanded",
     [](const fs::path &d) {
         std::string m = LintManifest();
         WriteText(d / "app.toml", m.replace(m.find("\"Tool\""), 6, "\"" + std::string(250, 'T') + "\""));
     },
     "destination-too-long", "package.destination is 265 characters long once the names are filled in; the device allows 259"},
    {"DestinationNotADevicePath", [](const fs::path &d) { Write(d, LintManifest("destination = 'C:\\Tool'")); },
     "destination-invalid", "package.destination 'C:\\Tool' is not a device folder"},
    {"FilesTooLongUnderTheDestination",
     [](const fs::path &d) {
         MakeCabOf(d / "main.cab", {{"SETUP.000", SetupInfo("Tool", {std::string(30, 'f') + ".txt"})}, {"f.001", Prose(10)}});
         Write(d, LintManifest("destination = '\\" + std::string(240, 'd') + "'"));
     },
     "bad-setup-info", "cannot be installed into package.destination"},

    // Pages.
    {"DestinationNeverShown",
     [](const fs::path &d) {
         Write(d, LintManifest("use_default_location = true", "", "", R"(["welcome", "destination", "ready"])"));
     },
     "unreachable-page", "the destination page is never shown: use_default_location is true and there is no location page"},
    {"DestinationOnlyAsFirstPage",
     [](const fs::path &d) { Write(d, LintManifest("use_default_location = true", "", "", R"(["destination", "ready"])")); },
     "unreachable-page", "shows only because it is the first page"},
    {"LocationWithoutDestination",
     [](const fs::path &d) { Write(d, LintManifest("", "", "", R"(["welcome", "location", "ready"])")); },
     "location-without-destination", "the location page has no destination page after it"},
    {"NoComponentTakesTheDestination",
     [](const fs::path &d) { Write(d, LintManifest("", "accepts_destination = false")); }, "no-destination-component",
     "no component accepts a destination"},
    {"NothingSelectedAndNoComponentsPage",
     [](const fs::path &d) { Write(d, LintManifest("", "selected = false", "", R"(["welcome", "ready"])")); },
     "nothing-selected", "no component is selected and there is no components page"},
    {"AgreementWithoutText",
     [](const fs::path &d) { Write(d, LintManifest("", "", "", R"(["welcome", "agreement", "ready"])")); },
     "agreement-missing", "the agreement page is selected but texts.agreement_body is not given"},
    {"SpaceRequiredWithoutSpace",
     [](const fs::path &d) { Write(d, LintManifest("", "", "space_required = \"Space: plenty\"")); },
     "space-placeholder-missing", "texts.space_required has no \"<space>\""},
    {"DuplicateComponentNames",
     [](const fs::path &d) {
         MakeCab(d / "other.cab", Prose(20));
         Write(d, LintManifest("", "\n[[component]]\nname = \"Main\"\ncab = \"other.cab\""));
     },
     "duplicate-component", "component 2 'Main' has the same name as component 1"},

    // HTML.
    {"HtmlElementLeftOpen", [](const fs::path &d) { Write(d, LintManifest("", "", "ready_body = \"<p><b>Ready</p>\"")); },
     "html", "texts.ready_body is not well-formed HTML: <b> opened at character 4 is not closed before </p> at character 12"},
    {"HtmlEndTagClosingNothing",
     [](const fs::path &d) { Write(d, LintManifest("", "", "components_body = \"<p>Pick</i></p>\"")); }, "html",
     "</i> at character 8 closes no open element"},
    {"HtmlTagWithoutItsEnd",
     [](const fs::path &d) { Write(d, LintManifest("", "", "location_body = \"<p>Where <b</p>\"")); }, "html",
     "<b at character 10 is never closed with '>'"},
    {"HtmlQuoteNeverClosed",
     [](const fs::path &d) { Write(d, LintManifest("", "", "welcome_body = '<p><a href=\"x>link</a></p>'")); }, "html",
     "an attribute of <a at character 4 opens a quote that is never closed"},
    {"HtmlElementNeverClosed",
     [](const fs::path &d) { Write(d, LintManifest("", "", "welcome_body = \"<p>Hi <i>there\"")); }, "html",
     "<i> opened at character 7 is never closed"},
    {"HtmlThatIsFine",
     [](const fs::path &d) {
         Write(d, LintManifest("", "", "welcome_body = '''<!-- hi --><p>a < b<br>c<br/><img src=\"x>y\"><ul><li>one<li>two</ul>"
                                       "<script>if (a<b) x=\"</p>\";</script><p>end'''"));
     },
     nullptr, nullptr},

    // Components.
    {"ComponentIsNotACab",
     [](const fs::path &d) { WriteText(d / "main.cab", "MSCF but not much else"); }, "not-a-cab",
     "component 1 'Main': 'main.cab' is not a CAB file (22 bytes, too short for a cabinet header)"},
    {"CabWithoutSetupInformation",
     [](const fs::path &d) { MakeCabOf(d / "main.cab", {{"readme.txt", Prose(50)}}); }, "not-a-device-cab",
     "component 1 'Main': its CAB 'main.cab' has no setup-information member"},
    {"CabWithTwoSetupInformations",
     [](const fs::path &d) {
         Bytes info = SetupInfo("Tool", {"a.txt"});
         MakeCabOf(d / "main.cab", {{"A.000", info}, {"B.000", info}, {"a.001", Prose(5)}});
     },
     "not-a-device-cab", "has 2 setup-information members"},
    {"MalformedSetupInformation",
     [](const fs::path &d) { MakeCabOf(d / "main.cab", {{"SETUP.000", Prose(300)}, {"a.001", Prose(5)}}); },
     "bad-setup-info", "its CAB 'main.cab' has setup information 'SETUP.000' that is malformed: setup information lacks its MSCE signature"},
    {"SetupInformationNamesAMissingFile",
     [](const fs::path &d) {
         MakeCabOf(d / "main.cab", {{"SETUP.000", SetupInfo("Tool", {"a.txt", "b.txt"})}, {"a.001", Prose(5)}});
     },
     "bad-setup-info", "that the device installer cannot use"},
    {"MszipCabWithSetupInformationLast",
     [](const fs::path &d) {
         // Several MSZIP blocks before the .000, each needing the one before.
         MakeCabOf(d / "main.cab", {{"data.001", Prose(200000)}, {"SETUP.000", SetupInfo("Tool", {"data.bin"})}}, true);
     },
     nullptr, nullptr},
    {"SetupInformationDamagedInsideMszip",
     [](const fs::path &d) {
         Bytes cab = MakeCabOf(d / "main.cab", {{"SETUP.000", SetupInfo("Tool", {"data.bin"})}, {"data.001", Prose(10)}}, true);
         // The first CFDATA follows the 36-byte header, one folder and the
         // file records; spoil the deflate data just after its "CK" (and
         // clear the block's checksum, which would notice first).
         uint32_t dataAt = GetU32(cab, 36);
         cab.at(dataAt + 8 + 2) ^= 0xFF;
         cab.at(dataAt + 8 + 3) ^= 0xFF;
         SetU32(cab, dataAt, 0);
         WriteBytes(d / "main.cab", cab);
     },
     "bad-setup-info", "cannot be read: its MSZIP data is damaged"},
    {"DataBlockChecksumWrong",
     [](const fs::path &d) {
         Bytes cab = MakeCabOf(d / "main.cab", {{"SETUP.000", SetupInfo("Tool", {"data.bin"})}, {"data.001", Prose(10)}});
         uint32_t dataAt = GetU32(cab, 36);
         cab.at(dataAt + 8 + 40) ^= 0x01;   // stored data, so only the checksum can tell
         WriteBytes(d / "main.cab", cab);
     },
     "bad-setup-info", "'SETUP.000' cannot be read: a data block's checksum does not match"},
};

class LintTest : public ToolTest, public ::testing::WithParamInterface<LintCase> {};

TEST_P(LintTest, FindsExactlyWhatIsWrong)
{
    const LintCase &c = GetParam();
    MakeCab(dir / "main.cab", Prose(100));
    Write(dir, LintManifest());
    c.arrange(dir);

    ExpectOnly(Velkor({"lint", "app.toml"}, dir), "app.toml", c.check, c.message);
    if (!c.check)
        return;

    // The same finding in the JSON form.
    Result j = Velkor({"lint", "--json", "app.toml"}, dir);
    EXPECT_EQ(j.code, 9);
    minijson::Value v = minijson::Parse(j.out);
    EXPECT_EQ(v["file"].string, "app.toml");
    EXPECT_EQ(v["kind"].string, "manifest");
    EXPECT_FALSE(v["clean"].boolean);
    EXPECT_EQ(v["finding_count"].number, 1);
    ASSERT_EQ(v["findings"].size(), 1u);
    const minijson::Value &f = v["findings"][0];
    EXPECT_EQ(f["check"].string, c.check);
    const auto &listed = velkor::LintCheckNames();
    EXPECT_NE(std::find(listed.begin(), listed.end(), f["check"].string), listed.end());
    EXPECT_EQ(f["severity"].string, "warning");
    EXPECT_FALSE(f["item"].string.empty());
    EXPECT_NE(f["message"].string.find(c.message), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Lint, LintTest, ::testing::ValuesIn(LintCases),
                         [](const ::testing::TestParamInfo<LintCase> &i) { return std::string(i.param.name); });

class LintPackageTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        cab = WriteStubAndCab(dir, Prose(3000));
    }
    // A package written by the library, so it can hold what a manifest cannot.
    void Package(const std::function<void(velkor::PackageRecipe &)> &change)
    {
        velkor::PackageRecipe recipe;
        recipe.softwareName = u"Tool";
        recipe.companyName = u"Acme";
        recipe.destination = u"\\Program Files\\Tool";
        recipe.useDefaultLocation = 0;
        recipe.pageFlags = 0x25;
        recipe.components.push_back({u"Main", cab, true, true});
        recipe.texts = velkor::DefaultTexts();
        change(recipe);
        WriteBytes(dir / "pkg.exe", velkor::BuildPackage(Stub(), recipe, 1));
    }
    Bytes cab;
};

TEST_F(LintPackageTest, FindingsThatOnlyABuiltPackageCanHave)
{
    struct Case {
        const char *name;
        std::function<void(velkor::PackageRecipe &)> change;
        const char *check, *message;
    } cases[] = {
        {"clean", [](velkor::PackageRecipe &) {}, nullptr, nullptr},
        {"29 texts", [](velkor::PackageRecipe &s) { s.texts.pop_back(); }, "text-count",
         "the package holds 29 texts; the setup program refuses a package with fewer than 30"},
        {"no texts", [](velkor::PackageRecipe &s) { s.texts.clear(); }, "text-count", "holds 0 texts"},
        {"31 texts", [](velkor::PackageRecipe &s) { s.texts.push_back(u"extra"); }, "text-count",
         "those after the thirtieth are never shown"},
        {"page bits 64 and 128", [](velkor::PackageRecipe &s) { s.pageFlags = 0xE5; }, "page-flags",
         "the page flags hold bits that name no page (stored 0xE5)"},
        {"a component that is no CAB",
         [](velkor::PackageRecipe &s) { s.components[0].cab = Bytes{'M', 'S', 'C', 'F', 1, 2, 3}; }, "not-a-cab",
         "component 1 'Main': its CAB is not a cabinet that can be read: it is too short for a cabinet header (7 bytes)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Package(c.change);
        ExpectOnly(Velkor({"lint", "pkg.exe"}, dir), "pkg.exe", c.check, c.message);
    }
}

TEST_F(LintPackageTest, ReadsTheCabOfAComponentAcrossChunks)
{
    // The .000 sits behind 200 KB of data, several chunks into the payload,
    // and the CAB is MSZIP-compressed: the chunk reader and the MSZIP reader
    // must meet at every boundary.
    cab = MakeCabOf(dir / "main.cab", {{"data.001", Noise(200000, 3)}, {"SETUP.000", SetupInfo("Tool", {"data.bin"})}}, true);
    ASSERT_GT(cab.size(), 3u * 65536);
    Package([](velkor::PackageRecipe &) {});
    Result r = Velkor({"lint", "pkg.exe"}, dir);
    EXPECT_EQ(r.code, 0) << r.out;

    cab = MakeCabOf(dir / "main.cab", {{"data.001", Noise(200000, 3)}, {"SETUP.000", Prose(400)}}, false);
    Package([](velkor::PackageRecipe &) {});
    r = Velkor({"lint", "pkg.exe"}, dir);
    EXPECT_EQ(r.code, 9) << r.out;
    EXPECT_NE(r.out.find("[bad-setup-info]"), std::string::npos) << r.out;
}

TEST_F(LintPackageTest, BuildWarnsAndStillBuildsAndLintOfThePackageAgrees)
{
    WriteText(dir / "app.toml", LintManifest("", "", "ready_body = \"<p><b>Ready</p>\"\nwelcome_body = \"%Typo%\""));
    Result b = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"}, dir);
    EXPECT_EQ(b.code, 0) << b.err;
    EXPECT_NE(b.err.find("app.toml:16:1: warning: texts.welcome_body uses %Typo%"), std::string::npos) << b.err;
    EXPECT_NE(b.err.find("app.toml:15:1: warning: texts.ready_body is not well-formed HTML"), std::string::npos);
    ASSERT_TRUE(fs::exists(dir / "out.exe"));

    Result fromManifest = Velkor({"lint", "app.toml"}, dir);
    Result fromPackage = Velkor({"lint", "out.exe"}, dir);
    EXPECT_EQ(fromManifest.code, 9);
    EXPECT_EQ(fromPackage.code, 9);
    // The same findings, whichever form is checked.
    auto body = [](const std::string &out, const std::string &file) {
        // "app.toml:16:1: " or "out.exe: ": a package has no lines.
        return std::regex_replace(out, std::regex("(^|\n)" + file + "(:[0-9]+:[0-9]+)?: "), "$1");
    };
    EXPECT_EQ(body(fromManifest.out, "app.toml"), body(fromPackage.out, "out.exe"));

    Result j = Velkor({"lint", "out.exe", "--json"}, dir);
    minijson::Value v = minijson::Parse(j.out);
    EXPECT_EQ(v["kind"].string, "package");
    EXPECT_EQ(v["finding_count"].number, 2);
}

TEST_F(LintPackageTest, TheSampleIsClean)
{
    ASSERT_TRUE(CopySample(dir / "sample")) << "no sample in " VELKOR_SAMPLE_DIR " (the ctest fixture sample_cabs makes it)";
    Result m = Velkor({"lint", "sample/manifest.toml", "--json"}, dir);
    EXPECT_EQ(m.code, 0) << m.out;
    minijson::Value v = minijson::Parse(m.out);
    EXPECT_TRUE(v["clean"].boolean);
    EXPECT_EQ(v["findings"].size(), 0u);

    ASSERT_EQ(Velkor({"build", "sample/manifest.toml", "--stub", "setup.exe", "-o", "sample.exe"}, dir).code, 0);
    Result p = Velkor({"lint", "sample.exe"}, dir);
    EXPECT_EQ(p.code, 0) << p.out;
    EXPECT_EQ(p.out, "sample.exe: no findings\n");
}

TEST_F(LintPackageTest, BadInputs)
{
    Package([](velkor::PackageRecipe &) {});
    Bytes damaged = ReadBytes(dir / "pkg.exe");
    PackageMap map = Map(damaged);
    damaged.at(map.chunks[0][0] + 9 + 4) ^= 0x55;   // inside the first chunk's zlib stream
    WriteBytes(dir / "damaged.exe", damaged);
    Bytes program = Stub();
    WriteBytes(dir / "program.exe", program);
    WriteText(dir / "broken.toml", "[package\nname = 1\n");
    WriteText(dir / "nocab.toml", LintManifest());   // main.cab missing in its folder
    fs::create_directory(dir / "sub");
    fs::rename(dir / "nocab.toml", dir / "sub" / "nocab.toml");

    const Refusal cases[] = {
        {{"lint"}, 2, "velkor: error: input is required"},
        {{"lint", "a", "b"}, 2, "velkor: error:"},
        {{"lint", "missing.toml"}, 3, "velkor: error: cannot read manifest or package 'missing.toml'"},
        {{"lint", "sub"}, 3, "not a regular file"},
        {{"lint", "broken.toml"}, 4, "broken.toml:1:9: error: "},
        {{"lint", "program.exe"}, 7, "velkor: error: program.exe: trailer at offset"},
        {{"lint", "damaged.exe"}, 7, "component 1 'Main', chunk 1 at offset"},
        {{"lint", "sub/nocab.toml"}, 3, "sub/nocab.toml:12:7: error: cannot read CAB file 'sub/main.cab'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        ExpectRefused(Velkor(c.args, dir), c.code, c.message);
    }
}

// ---- the parts, directly ----

class MemoryCab : public velkor::CabBytes {
public:
    explicit MemoryCab(const Bytes &b) : bytes_(b) {}
    uint64_t size() const override { return bytes_.size(); }
    void Read(uint64_t offset, size_t n, uint8_t *out) override
    {
        ASSERT_LE(offset + n, bytes_.size()) << "read outside the cabinet";
        std::memcpy(out, bytes_.data() + offset, n);
    }

private:
    Bytes bytes_;
};

TEST_F(ToolTest, CabReaderSurvivesTruncationAndDamage)
{
    velkor::PackageRecipe recipe;
    recipe.destination = u"\\Program Files\\Tool";
    recipe.components.push_back({u"Main", {}, true, true});
    for (bool mszip : {false, true}) {
        SCOPED_TRACE(mszip ? "MSZIP" : "stored");
        Bytes cab = MakeCabOf(dir / "c.cab",
                              {{"data.001", Prose(40000)}, {"SETUP.000", SetupInfo("Tool", {"data.bin"})}}, mszip);
        {
            MemoryCab whole(cab);
            EXPECT_TRUE(velkor::LintCab(whole, "c", "", recipe, 0).empty());
        }
        // Every cut is refused as not a cabinet (its stated size is larger).
        for (size_t cut = 0; cut < cab.size(); cut += (cut < 400 ? 1 : 97)) {
            MemoryCab part(Bytes(cab.begin(), cab.begin() + long(cut)));
            auto found = velkor::LintCab(part, "c", "", recipe, 0);
            ASSERT_EQ(found.size(), 1u) << cut;
            EXPECT_EQ(found[0].check, "not-a-cab") << cut;
        }
        // Damage anywhere in the directory or data ends in a finding or in
        // nothing, never in a read outside the bytes (MemoryCab checks).
        for (size_t at = 0; at < std::min<size_t>(cab.size(), 2000); ++at) {
            for (uint8_t flip : {0x01, 0x80, 0xFF}) {
                Bytes bad = cab;
                bad[at] ^= flip;
                MemoryCab spoilt(bad);
                velkor::LintCab(spoilt, "c", "", recipe, 0);
            }
        }
    }
}

// The list [lint] disable takes is the table findings name their checks
// from: each check once, under its own name, and each in README.md's table.
TEST(LintParts, EveryCheckIsListedOnceAndDocumented)
{
    const auto &names = velkor::LintCheckNames();
    ASSERT_EQ(names.size(), size_t(velkor::LintCheck::Count));
    std::ifstream file(VELKOR_SOURCE_DIR "/tools/velkor/README.md");
    std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(readme.empty());
    std::set<std::string> seen;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], velkor::LintCheckName(velkor::LintCheck(i)));
        EXPECT_TRUE(seen.insert(names[i]).second) << names[i] << " twice";
        EXPECT_NE(readme.find("| `" + names[i] + "` |"), std::string::npos) << names[i] << " is not in README.md";
    }
}

TEST(LintParts, Placeholders)
{
    struct Case {
        std::u16string text;
        std::vector<std::u16string> unknown;
    } cases[] = {
        {u"", {}},
        {u"%SoftwareName% by %companyname%", {}},
        {u"%Version% %VERSION%", {}},   // a variable, in any case
        {u"%Nope% and %Nope% and %nope%", {u"%Nope%"}},
        {u"100% or 50%", {}},
        {u"%%Nope%%", {u"%Nope%"}},
        {u"%1% %_x% %a b%", {}},
        {u"50%Off% %", {u"%Off%"}},
        {u"%A%B%", {u"%A%"}},   // the % after A closes it; "B%" opens nothing
    };
    for (const auto &c : cases)
        EXPECT_EQ(velkor::UnknownPlaceholders(c.text, {u"%Version%"}), c.unknown)
            << velkor::Utf16ToUtf8(c.text);
}

TEST(LintParts, Html)
{
    struct Case {
        std::u16string html;
        std::vector<std::string> problems;
    } cases[] = {
        {u"", {}},
        {u"plain text, 3 < 4 > 2", {}},
        {u"<p>one<p>two<ul><li>a<li>b</ul><table><tr><td>x</table>", {}},
        {u"<B>bold</b>", {}},
        {u"<b>", {"<b> opened at character 1 is never closed"}},
        {u"</b>", {"</b> at character 1 closes no open element"}},
        {u"<b><i></b>", {"<i> opened at character 4 is not closed before </b> at character 7"}},
        {u"<!-- open", {"the comment at character 1 is never closed with \"-->\""}},
        {u"<a href='x", {"an attribute of <a at character 1 opens a quote that is never closed"}},
        {u"<br", {"<br at character 1 is never closed with '>'"}},
        {u"<style>p{}", {"<style> opened at character 1 is never closed"}},
        {u"<!DOCTYPE html><html><body><p>x</body></html>", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(velkor::HtmlProblems(c.html), c.problems) << velkor::Utf16ToUtf8(c.html);
}

TEST(LintParts, Sha256KnownAnswers)
{
    auto hex = [](const std::string &s) {
        return velkor::Sha256Hex(reinterpret_cast<const uint8_t *>(s.data()), s.size());
    };
    EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million 'a', fed in uneven pieces across the 64-byte blocks.
    velkor::Sha256 h;
    std::string a(1000000, 'a');
    for (size_t at = 0, step = 1; at < a.size(); at += step, step = step % 131 + 7)
        h.Update(reinterpret_cast<const uint8_t *>(a.data()) + at, std::min(step, a.size() - at));
    EXPECT_EQ(h.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// LZX folders are decoded like any other: a .000 behind several frames is
// found and checked, a damaged block header is a finding, and no cut or
// flipped byte makes the reader leave the cabinet's bytes.
TEST_F(ToolTest, LzxCabsAreReadLikeAnyOther)
{
    WriteBytes(dir / "setup.exe", Stub());
    Write(dir, LintManifest());
    const Bytes info = SetupInfo("Tool", {"data.bin"});
    Bytes good = MakeLzxCab(dir / "main.cab", {{"data.001", Prose(100001)}, {"SETUP.000", info}});
    ASSERT_EQ(GetU32(good, 40) >> 16 & 0xFFFF, 0x0F03u);   // the folder says LZX
    Result r = Velkor({"lint", "app.toml"}, dir);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "app.toml: no findings\n");
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir).code, 0);
    r = Velkor({"lint", "pkg.exe"}, dir);   // the same CAB, read chunk by chunk out of a package
    EXPECT_EQ(r.code, 0) << r.out;

    struct Case {
        const char *name;
        std::function<Bytes()> make;
        const char *message;
    } cases[] = {
        {"malformed .000 inside LZX",
         [&] { return MakeLzxCab(dir / "main.cab", {{"data.001", Prose(40000)}, {"SETUP.000", Prose(300)}}); },
         "has setup information 'SETUP.000' that is malformed: setup information lacks its MSCE signature"},
        {"block type 0 in the first frame",
         [&] {
             Bytes cab = MakeLzxCab(dir / "main.cab", {{"SETUP.000", info}, {"data.001", Prose(10)}});
             cab.at(GetU32(cab, 36) + 8 + 1) &= 0x8F;
             WriteBytes(dir / "main.cab", cab);
             return cab;
         },
         "setup information 'SETUP.000' cannot be read: its LZX data is damaged"},
        {"frames shorter than the folder says",
         [&] {
             Bytes cab = MakeLzxCab(dir / "main.cab", {{"data.001", Prose(70000)}, {"SETUP.000", info}});
             SetU32(cab, 36 + 4, (GetU32(cab, 40) & 0xFFFF0000u) | 2);   // two CFDATA of three
             WriteBytes(dir / "main.cab", cab);
             return cab;
         },
         "setup information 'SETUP.000' cannot be read"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        r = Velkor({"lint", "app.toml"}, dir);
        EXPECT_EQ(r.code, 9) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[bad-setup-info]"), std::string::npos) << r.out;
    }

    velkor::PackageRecipe recipe;
    recipe.destination = u"\\Program Files\\Tool";
    recipe.components.push_back({u"Main", {}, true, true});
    Bytes cab = MakeLzxCab(dir / "c.cab", {{"data.001", Prose(40000)}, {"SETUP.000", info}});
    for (size_t cut = 0; cut < cab.size(); cut += (cut < 400 ? 1 : 97)) {
        MemoryCab part(Bytes(cab.begin(), cab.begin() + long(cut)));
        ASSERT_EQ(velkor::LintCab(part, "c", "", recipe, 0).size(), 1u) << cut;
    }
    for (size_t at = 0; at < 600; ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes bad = cab;
            bad[at] ^= flip;
            MemoryCab spoilt(bad);
            velkor::LintCab(spoilt, "c", "", recipe, 0);
        }
    }
}

}  // namespace
