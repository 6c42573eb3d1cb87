// verify_test.cpp -- `velkor verify` finds each kind of damage at its exact
// offset and names the item; `list` shows what an author needs; a damaged
// package is never extracted.
#include "tooltest.h"

#include "errors.h"
#include "format.h"
#include "pkgread.h"
#include "base.h"

#include <functional>
#include <sstream>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string Manifest =
    ManifestText(R"(["welcome", "agreement", "components", "location", "destination", "ready"])", "Pocket Notes",
                 "Velkor Samples")
        .Package("destination = '\\Program Files\\%SoftwareName%'\n")
        .Variable("%Version%", "1.4")
        .Component()
        .Component("Help", "help.cab", "accepts_destination = false\nselected = false\n")
        .Texts("agreement_body = \"Be nice.\\nThat is all.\"\n");

class PackageTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        main = WriteStubAndCab(dir, Prose(3000));
        help = MakeCab(dir / "help.cab", Noise(5 * 65536 + 1234, 7));
        WriteText(dir / "app.toml", Manifest);
        Result r = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "good.exe"}, dir);
        ASSERT_EQ(r.code, 0) << r.err;
        good = ReadBytes(dir / "good.exe");
        map = Map(good);
    }
    Bytes main, help, good;
    PackageMap map;
};

// The rest of the line that starts with `key` in list's text output.
std::string LineValue(const std::string &out, const std::string &key)
{
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0) {
            std::string rest = line.substr(key.size());
            return rest.substr(std::min(rest.size(), rest.find_first_not_of(' ')));
        }
    return "<no line " + key + ">";
}

struct DamageCase {
    const char *name;
    // Damages the file and returns the offset verify must report.
    std::function<uint64_t(Bytes &, const PackageMap &)> damage;
    const char *item;
    const char *problem;
};

const uint64_t HelpChunk3 = 2;   // index into map.chunks[1]

const DamageCase Damages[] = {
    {"TrailerMagic", [](Bytes &f, const PackageMap &) { f.back() = '2'; return f.size() - 4; },
     "trailer", "not \"VKR1\""},
    {"HeaderOffsetPastEnd", [](Bytes &f, const PackageMap &) { SetU32(f, f.size() - 8, uint32_t(f.size())); return f.size() - 8; },
     "trailer", "header offset"},
    {"HeaderOffsetIntoTheStub", [](Bytes &f, const PackageMap &) { SetU32(f, f.size() - 8, 0); return uint64_t(0); },
     "software name", "runs past the end"},
    {"TextBlockCheckValue", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.textBlocks[TextAgreementBody];
         f[at + 9 + GetU32(f, at + 1) - 1] ^= 0x40;
         return at; },
     "text 8 'agreement_body'", "zlib stream damaged"},
    {"ComponentNameBlock", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.componentRecords[0] + 10;
         f[at + 9 + GetU32(f, at + 1) - 2] ^= 0x01;
         return at; },
     "component 1 name", "zlib stream damaged"},
    {"ChunkZlibBytes", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.chunks[1][HelpChunk3];
         f[at + 9 + 30000] ^= 0xFF;
         return at; },
     "component 2 'Help', chunk 3", "zlib stream damaged"},
    {"ChunkStoredSizeLonger", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.chunks[1][HelpChunk3];
         SetU32(f, at + 1, GetU32(f, at + 1) + 1);
         return at; },
     "component 2 'Help', chunk 3", "1 byte after the end of the zlib stream"},
    {"ChunkStoredSizeShorter", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.chunks[1][HelpChunk3];
         SetU32(f, at + 1, GetU32(f, at + 1) - 1);
         return at; },
     "component 2 'Help', chunk 3", "zlib stream ends early"},
    {"ChunkStoredSizeHuge", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.chunks[1][HelpChunk3];
         SetU32(f, at + 1, 0x7FFFFFFF);
         return at; },
     "component 2 'Help', chunk 3", "stored size 2147483647 runs past the end"},
    {"ChunkDecodedSizeSmaller", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.chunks[1][HelpChunk3];
         SetU32(f, at + 5, 65535);
         return at; },
     "component 2 'Help', chunk 3", "decodes to more than the stated 65535 bytes"},
    {"UnpackedSizeMismatch", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.componentRecords[1] + 6;
         SetU32(f, at, GetU32(f, at) + 1);
         return at; },
     "component 2 'Help'", "UnpackedSize says"},
    {"PayloadOffsetPastEnd", [](Bytes &f, const PackageMap &m) {
         uint64_t at = m.componentRecords[0] + 2;
         SetU32(f, at, uint32_t(f.size() - 2));
         return at; },
     "component 1 'Main'", "payload offset"},
    {"ChunkCountTooLarge", [](Bytes &f, const PackageMap &m) { SetU32(f, m.payloads[1], 0x01000000); return uint64_t(m.payloads[1]); },
     "component 2 'Help' payload", "cannot fit"},
    {"TooFewTexts", [](Bytes &f, const PackageMap &m) { SetU32(f, m.textBlocks[0] - 4, 29); return m.textBlocks[0] - 4; },
     "text count", "needs all 30"},
    {"Truncated", [](Bytes &f, const PackageMap &) { f.resize(f.size() - 1000); return f.size() - 4; },
     "trailer", "cut short"},
    {"TruncatedTrailerKept", [](Bytes &f, const PackageMap &m) {
         f.erase(f.end() - 8 - 100, f.end() - 8);
         return m.chunks[1].back(); },
     "component 2 'Help', chunk 6", "runs past the end"},
};

class DamageTest : public PackageTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageTest, VerifyReportsOffsetAndItem)
{
    const DamageCase &c = GetParam();
    Bytes bad = good;
    uint64_t offset = c.damage(bad, map);
    WriteBytes(dir / "bad.exe", bad);

    Result r = Velkor({"verify", "bad.exe"}, dir);
    EXPECT_EQ(r.code, 7);
    std::string where = std::string(c.item) + " at offset " + std::to_string(offset) + ": ";
    EXPECT_NE(r.err.find(where), std::string::npos) << "expected \"" << where << "\" in: " << r.err;
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << "expected \"" << c.problem << "\" in: " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

    Result j = Velkor({"verify", "--json", "bad.exe"}, dir);
    EXPECT_EQ(j.code, 7);
    EXPECT_NE(j.out.find("\"ok\": false"), std::string::npos) << j.out;
    EXPECT_NE(j.out.find("\"offset\": " + std::to_string(offset) + ","), std::string::npos) << j.out;
}

INSTANTIATE_TEST_SUITE_P(Damages, DamageTest, ::testing::ValuesIn(Damages),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PackageTest, GoodPackageVerifies)
{
    Result r = Velkor({"verify", "good.exe"}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("2 components, 7 chunks and 30 texts"), std::string::npos) << r.out;
}

TEST_F(PackageTest, ExtractWritesNothingFromADamagedPackage)
{
    // The damage is in the last component, after the first decoded cleanly.
    Bytes bad = good;
    bad[map.chunks[1].back() + 20] ^= 0xFF;
    WriteBytes(dir / "bad.exe", bad);
    Result r = Velkor({"extract", "bad.exe", "-o", "out"}, dir);
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.err.find("component 2 'Help', chunk 6"), std::string::npos) << r.err;
    EXPECT_TRUE(Listing(dir / "out").empty());
}

TEST_F(PackageTest, ListShowsWhatAnAuthorNeeds)
{
    Result r = Velkor({"list", "good.exe"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string &o = r.out;
    EXPECT_EQ(LineValue(o, "Software name"), "Pocket Notes");
    EXPECT_EQ(LineValue(o, "Company name"), "Velkor Samples");
    EXPECT_EQ(LineValue(o, "Destination"), "\\Program Files\\%SoftwareName%");
    EXPECT_EQ(LineValue(o, "PageFlags"),
              "0x3F stored; pages shown: welcome agreement components location destination ready");
    EXPECT_EQ(LineValue(o, "FirstPage"), "1 (welcome)");
    EXPECT_EQ(LineValue(o, "LastPage"), "32 (ready)");
    EXPECT_EQ(LineValue(o, "  %Version%"), "= 1.4");
    EXPECT_EQ(LineValue(o, "  header"), "at " + std::to_string(map.headerOffset) + ", " +
                                            std::to_string(map.payloads[0] - map.headerOffset) + " bytes");
    // unpacked, payload offset, stored size, chunks, ratio, dest, selected, name
    uint64_t stored = good.size() - 8 - map.payloads[1];
    std::string row = LineValue(o, "  2   ");
    std::istringstream fields(row);
    std::string unpacked, offset, size, chunks, ratio, dest, selected, name;
    fields >> unpacked >> offset >> size >> chunks >> ratio >> dest >> selected >> name;
    EXPECT_EQ(unpacked, std::to_string(help.size()));
    EXPECT_EQ(offset, std::to_string(map.payloads[1]));
    EXPECT_EQ(size, std::to_string(stored));
    EXPECT_EQ(chunks, "6");
    EXPECT_EQ(ratio.back(), '%');
    EXPECT_EQ(dest + " " + selected + " " + name, "no no Help");
    EXPECT_EQ(LineValue(o, "   8 agreement_body"), "\"Be nice.\\r\\nThat is all.\"");
    EXPECT_EQ(LineValue(o, "  29 confirm_cancel"), "\"Do you want to cancel the installation?\"");

    Result j = Velkor({"list", "--json", "good.exe"}, dir);
    ASSERT_EQ(j.code, 0) << j.err;
    for (const std::string &want : std::vector<std::string>{std::string("\"software_name\": \"Pocket Notes\""), "\"destination\": \"\\\\Program Files\\\\%SoftwareName%\"",
                             "\"page_flags\": 63", "\"name\": \"Help\"", "\"chunk_count\": 6",
                             "\"unpacked_size\": " + std::to_string(help.size()),
                             "\"payload_offset\": " + std::to_string(map.payloads[1]),
                             "\"name\": \"agreement_body\"", "\"text\": \"Be nice.\\r\\nThat is all.\""})
        EXPECT_NE(j.out.find(want), std::string::npos) << want << " missing from\n" << j.out;
}

struct PagesCase {
    const char *pages;
    bool useDefaultLocation;
    const char *shown, *first, *last;
};

class PagesTest : public ToolTest, public ::testing::WithParamInterface<PagesCase> {};

TEST_P(PagesTest, ListDerivesPagesLikeTheLoader)
{
    const PagesCase &c = GetParam();
    WriteBytes(dir / "setup.exe", Stub());
    MakeCab(dir / "a.cab", Prose(10));
    WriteText(dir / "app.toml",
              ManifestText(c.pages, "A", "B")
                  .Package(std::string("use_default_location = ") + (c.useDefaultLocation ? "true" : "false") + "\n")
                  .Component("A", "a.cab")
                  .Texts("agreement_body = \"x\"\n"));
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "p.exe"}, dir).code, 0);
    Result r = Velkor({"list", "p.exe"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(LineValue(r.out, "PageFlags").substr(LineValue(r.out, "PageFlags").find("shown: ") + 7), c.shown);
    EXPECT_EQ(LineValue(r.out, "FirstPage"), c.first);
    EXPECT_EQ(LineValue(r.out, "LastPage"), c.last);
}

INSTANTIATE_TEST_SUITE_P(Pages, PagesTest,
                         ::testing::Values(PagesCase{"[\"ready\", \"welcome\", \"components\"]", false,
                                                     "welcome components ready", "1 (welcome)", "32 (ready)"},
                                           PagesCase{"[]", false, "(none)", "0 (none)", "0 (none)"},
                                           PagesCase{"[\"destination\"]", true, "(none)", "0 (none)", "0 (none)"},
                                           PagesCase{"[\"destination\"]", false, "destination", "16 (destination)",
                                                     "16 (destination)"},
                                           PagesCase{"[\"location\", \"destination\"]", true, "location destination",
                                                     "8 (location)", "16 (destination)"},
                                           PagesCase{"[\"agreement\", \"components\"]", false, "agreement components",
                                                     "2 (agreement)", "4 (components)"}));

}  // namespace

namespace {

TEST(ProgramLoaderCheck, VerifyFailsWhenTheLoaderRefuses)
{
    // This reader is stricter than the loader, so a real file cannot show
    // the loader refusing what it accepts; a failing allocation can.
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"A";
    recipe.texts = velkor::DefaultTexts();
    recipe.components.push_back({u"Main", Prose(1000), true, true});
    Bytes file = velkor::BuildPackage(Stub(), recipe, 1);
    velkor::PackageInfo info = velkor::ReadPackage(file.data(), file.size(), velkor::ReadDepth::Decode);
    EXPECT_NO_THROW(velkor::CheckWithProgramLoader(file.data(), file.size(), info));

    VHeapFailAt(3);
    try {
        velkor::CheckWithProgramLoader(file.data(), file.size(), info);
        ADD_FAILURE() << "the loader's refusal went unnoticed";
    } catch (const velkor::Damage &d) {
        EXPECT_EQ(d.offset, info.headerOffset);
        EXPECT_EQ(d.problem, "the setup program's loader refuses the package (LoadOutOfMemory)");
    }
    VHeapFailAt(0);
    EXPECT_EQ(VHeapLiveBlocks(), 0);
}

}  // namespace
