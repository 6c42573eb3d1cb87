// ce000_test.cpp -- reading setup-information files and planning their
// installation: every section in both string paddings, the install-folder
// rule, damaged tables and refused plans.
#include "ce000.h"
#include "../support/setupinfo_writer.h"
#include "plancheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace wceload;
using namespace testcab;

namespace {

std::string Show(const Str &s) { return ToUtf8(s); }

Str Utf16(const std::vector<uint8_t> &data)
{
    Str s;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        s.push_back(char16_t(testsupport::Get16(data, i)));
    return s;
}

SetupInfoSpec Sample(bool pad)
{
    SetupInfoSpec s;
    s.padToFour = pad;
    s.unsupported = {"HPC", "Jupiter"};
    s.cpu = 2577;
    s.minMajor = 4, s.minMinor = 21, s.maxMajor = 6, s.maxMinor = 99, s.minBuild = 1, s.maxBuild = 0xE0000000;
    s.strings = {{7, "Tool"}, {3, "%CE1%"}, {9, "Data"}, {4, "%CE2%"}, {5, "%CE11%"},
                 {6, "Tool.lnk"}, {8, "Software\\Acme\\Tool"}, {12, "caf\xE9"}};
    s.dirs = {{21, {3, 7, 9}}, {20, {3, 7}}, {22, {4}}, {23, {5}}, {25, {3, 7, 12}}};
    s.files = {{1, 20, CeFileOverwriteAlways, "tool.exe"},
               {2, 21, 0, "data.bin"},
               {3, 22, CeFileShared | CeFileNeverOverwrite, "helper.dll"},
               {4, 20, 0, "readme.txt"},
               {5, 25, 0, "menu.txt"}};
    s.hives = {{31, RootCurrentUser, {8, 9}}, {30, RootLocalMachine, {8}}};
    s.values = {{40, 30, 1, CeRegString, "Path", Text(std::string("%InstallDir%\\tool.exe\0", 22))},
                {41, 30, 0, CeRegDword, "Count", Dword(5)},
                {42, 31, 1, CeRegMultiString, "List", Text(std::string("a\0%ce2%\\x\0\0", 12))},
                {43, 31, 0, CeRegBinary, "Blob", {1, 2, 3}},
                {44, 30, 0, CeRegString | CeRegNoOverwrite, "", Text(std::string("default\0", 8))}};
    s.links = {{50, 11, 1, 1, {6}}, {51, 0, 21, 0, {9, 6}}};
    return s;
}

const std::vector<Str> Members = {u"TOOL~1.003", u"0CAB4FED.001", u"000000PP.002", u"SETUP.000",
                                  u"ZZ.004",     u"_setup.xml",   u"AB.005"};

bool Parse(const Bytes &b, CeSetupInfo *info, std::string *error)
{
    return ParseSetupInfo(b.data(), b.size(), info, error);
}

bool PlanFor(const SetupInfoSpec &recipe, const Str &destination, InstallPlan *plan, std::string *error,
             const std::vector<Str> &members = Members)
{
    CeSetupInfo info;
    Bytes b = WriteSetupInfo(recipe);
    if (!Parse(b, &info, error)) {
        *error = "parse: " + *error;
        return false;
    }
    return PlanInstall(info, members, destination, 2, plan, error);
}

TEST(SetupInfo, EverySectionInBothPaddings)
{
    for (bool pad : {false, true}) {
        SCOPED_TRACE(pad ? "padded" : "unpadded");
        CeSetupInfo info;
        std::string error;
        ASSERT_TRUE(Parse(WriteSetupInfo(Sample(pad)), &info, &error)) << error;
        EXPECT_EQ(info.TargetCpu, 2577u);
        EXPECT_EQ(info.MinOsMajor, 4u);
        EXPECT_EQ(info.MinOsMinor, 21u);
        EXPECT_EQ(info.MaxOsMajor, 6u);
        EXPECT_EQ(info.MaxOsMinor, 99u);
        EXPECT_EQ(info.MinBuild, 1u);
        EXPECT_EQ(info.MaxBuild, 0xE0000000u);
        EXPECT_EQ(info.AppName, "Tool");
        EXPECT_EQ(info.Provider, "Acme");
        EXPECT_EQ(info.UnsupportedPlatforms, (std::vector<std::string>{"HPC", "Jupiter"}));
        ASSERT_EQ(info.Strings.size(), 8u);
        EXPECT_EQ(info.Strings[8], "Software\\Acme\\Tool");
        EXPECT_EQ(info.Strings[12], "caf\xE9");
        ASSERT_EQ(info.Dirs.size(), 5u);
        EXPECT_EQ(info.Dirs[21].StringIds, (std::vector<uint16_t>{3, 7, 9, 0}));
        ASSERT_EQ(info.Files.size(), 5u);
        EXPECT_EQ(info.Files[2].FileNumber, 3);
        EXPECT_EQ(info.Files[2].DirId, 22);
        EXPECT_EQ(info.Files[2].Flags, CeFileShared | CeFileNeverOverwrite);
        EXPECT_EQ(info.Files[2].Name, "helper.dll");
        ASSERT_EQ(info.Hives.size(), 2u);
        EXPECT_EQ(info.Hives[31].Root, RootCurrentUser);
        EXPECT_EQ(info.Hives[31].StringIds, (std::vector<uint16_t>{8, 9, 0}));
        ASSERT_EQ(info.Values.size(), 5u);
        EXPECT_EQ(info.Values[1].Name, "Count");
        EXPECT_EQ(info.Values[1].Value, Dword(5));
        EXPECT_EQ(info.Values[4].Name, "");
        EXPECT_EQ(info.Values[4].Flags, CeRegNoOverwrite);
        EXPECT_EQ(info.Values[3].Value, (Bytes{1, 2, 3}));
        ASSERT_EQ(info.Links.size(), 2u);
        EXPECT_EQ(info.Links[1].BaseDir, 0);
        EXPECT_EQ(info.Links[1].Target, 21);
        EXPECT_EQ(info.Links[1].TargetType, 0);
        EXPECT_EQ(info.Links[1].StringIds, (std::vector<uint16_t>{9, 6}));
    }
}

TEST(SetupInfo, LinkListWithAFinalZeroIsTolerated)
{
    SetupInfoSpec s = Sample(false);
    s.links[0].ids = {6, 0};
    CeSetupInfo info;
    std::string error;
    ASSERT_TRUE(Parse(WriteSetupInfo(s), &info, &error)) << error;
    EXPECT_EQ(info.Links[0].StringIds, (std::vector<uint16_t>{6}));
}

TEST(SetupInfo, PlanWhereTheCabSays)
{
    for (bool pad : {false, true}) {
        InstallPlan plan;
        std::string error;
        ASSERT_TRUE(PlanFor(Sample(pad), Str(), &plan, &error)) << error;
        EXPECT_EQ(plan.InstallFolder, u"\\Program Files\\Tool");
        EXPECT_EQ(plan.AppName, u"Tool");
        EXPECT_EQ(plan.Provider, u"Acme");
        ASSERT_EQ(plan.Files.size(), 5u);
        const struct {
            size_t member;
            const char16_t *target;
            uint32_t flags;
        } files[] = {
            {1, u"\\Program Files\\Tool\\tool.exe", CeFileOverwriteAlways},
            {2, u"\\Program Files\\Tool\\Data\\data.bin", 0},
            {0, u"\\Windows\\helper.dll", CeFileShared | CeFileNeverOverwrite},
            {4, u"\\Program Files\\Tool\\readme.txt", 0},
            {6, u"\\Program Files\\Tool\\caf\u00E9\\menu.txt", 0},
        };
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(plan.Files[i].Member, files[i].member) << i;
            EXPECT_EQ(plan.Files[i].Target, files[i].target) << i;
            EXPECT_EQ(plan.Files[i].Flags, files[i].flags) << i;
        }
        ASSERT_EQ(plan.Values.size(), 5u);
        EXPECT_EQ(plan.Values[0].Root, RootLocalMachine);
        EXPECT_EQ(plan.Values[0].Key, u"Software\\Acme\\Tool");
        EXPECT_EQ(plan.Values[0].Name, u"Path");
        EXPECT_EQ(plan.Values[0].Type, ValueString);
        EXPECT_EQ(Utf16(plan.Values[0].Data), Str(u"\\Program Files\\Tool\\tool.exe\0", 29));
        EXPECT_EQ(plan.Values[1].Type, ValueDword);
        EXPECT_EQ(plan.Values[1].Data, Dword(5));
        EXPECT_EQ(plan.Values[2].Root, RootCurrentUser);
        EXPECT_EQ(plan.Values[2].Key, u"Software\\Acme\\Tool\\Data");
        EXPECT_EQ(plan.Values[2].Type, ValueMultiString);
        EXPECT_EQ(Utf16(plan.Values[2].Data), Str(u"a\0\\Windows\\x\0\0", 14));
        EXPECT_EQ(plan.Values[3].Type, ValueBinary);
        EXPECT_EQ(plan.Values[3].Data, (Bytes{1, 2, 3}));
        EXPECT_EQ(plan.Values[4].Name, u"");
        EXPECT_TRUE(plan.Values[4].KeepExisting);
        EXPECT_FALSE(plan.Values[0].KeepExisting);
        ASSERT_EQ(plan.Links.size(), 2u);
        EXPECT_EQ(plan.Links[0].Path, u"\\Windows\\Start Menu\\Programs\\Tool.lnk");
        EXPECT_EQ(plan.Links[0].Target, u"\\Program Files\\Tool\\tool.exe");
        EXPECT_EQ(plan.Links[1].Path, u"\\Program Files\\Tool\\Data\\Tool.lnk");
        EXPECT_EQ(plan.Links[1].Target, u"\\Program Files\\Tool\\Data");
    }
}

TEST(SetupInfo, PlanUnderAGivenDestination)
{
    InstallPlan plan;
    std::string error;
    ASSERT_TRUE(PlanFor(Sample(false), u"\\Storage Card\\T", &plan, &error)) << error;
    EXPECT_EQ(plan.InstallFolder, u"\\Storage Card\\T");
    const char16_t *targets[] = {u"\\Storage Card\\T\\tool.exe", u"\\Storage Card\\T\\Data\\data.bin",
                                 u"\\Windows\\helper.dll", u"\\Storage Card\\T\\readme.txt",
                                 u"\\Storage Card\\T\\caf\u00E9\\menu.txt"};
    ASSERT_EQ(plan.Files.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(plan.Files[i].Target, targets[i]);
    EXPECT_EQ(Utf16(plan.Values[0].Data), Str(u"\\Storage Card\\T\\tool.exe\0", 25));
    EXPECT_EQ(plan.Links[0].Path, u"\\Windows\\Start Menu\\Programs\\Tool.lnk");
    EXPECT_EQ(plan.Links[0].Target, u"\\Storage Card\\T\\tool.exe");
    EXPECT_EQ(plan.Links[1].Path, u"\\Storage Card\\T\\Data\\Tool.lnk");
    EXPECT_EQ(plan.Links[1].Target, u"\\Storage Card\\T\\Data");
    // The root itself as destination.
    ASSERT_TRUE(PlanFor(Sample(false), u"\\", &plan, &error)) << error;
    EXPECT_EQ(plan.Files[1].Target, u"\\Data\\data.bin");
    EXPECT_EQ(plan.Files[2].Target, u"\\Windows\\helper.dll");
}

TEST(SetupInfo, ShortcutTextCountsWhatFollowsTheHash)
{
    EXPECT_EQ(ShortcutText(u"\\Windows\\x.exe"), u"16#\"\\Windows\\x.exe\"");
    EXPECT_EQ(ShortcutText(u""), u"2#\"\"");
}

TEST(SetupInfo, MemberFileNumbers)
{
    const struct {
        const char16_t *name;
        int number;
    } cases[] = {{u"0CAB4FED.001", 1}, {u"USHAHI~3.002", 2}, {u"X.000", 0},     {u"A.999", 999},
                 {u"a.1", -1},         {u"a.0001", -1},      {u"abc.12x", -1},  {u".001", -1},
                 {u"_setup.xml", -1},  {u"001", -1}};
    for (const auto &c : cases)
        EXPECT_EQ(MemberFileNumber(c.name), c.number) << Show(c.name);
}

// The install-folder rule, one row per situation.
TEST(SetupInfo, InstallFolderRule)
{
    struct Row {
        const char *what;
        std::vector<std::pair<uint16_t, std::string>> dirs;
        std::vector<uint16_t> fileDirs;
        const char16_t *expected;
    };
    const Row rows[] = {
        {"most files wins", {{1, "%CE1%\\A"}, {2, "%CE1%\\B"}}, {1, 2, 2}, u"\\Program Files\\B"},
        {"tie prefers Program Files", {{1, "%CE5%\\X"}, {2, "%CE1%\\Y"}}, {1, 2}, u"\\Program Files\\Y"},
        {"tie then lowest id", {{7, "%CE1%\\P"}, {3, "%CE1%\\Q"}}, {7, 3}, u"\\Program Files\\Q"},
        {"bare macro folders never", {{1, "%CE2%"}, {2, "%CE15%"}}, {1, 1, 2}, u"\\Program Files\\Tool"},
        {"subfolders count for their parent",
         {{1, "%CE1%\\A"}, {2, "%CE1%\\A\\Sub"}, {3, "%CE1%\\B"}},
         {2, 2, 3},
         u"\\Program Files\\A"},
        {"outside Program Files when it holds most", {{1, "%CE1%\\A"}, {2, "%CE2%\\Lib"}}, {2, 2, 1}, u"\\Windows\\Lib"},
        {"a subfolder alone", {{1, "%CE1%\\A\\Sub"}}, {1}, u"\\Program Files\\A\\Sub"},
        {"no files at all", {{1, "%CE1%\\A"}}, {}, u"\\Program Files\\Tool"},
    };
    for (const Row &row : rows) {
        SetupInfoSpec s;
        std::vector<Str> members;
        for (const auto &d : row.dirs) {
            s.strings.push_back({uint16_t(d.first + 100), d.second});
            s.dirs.push_back({d.first, {uint16_t(d.first + 100)}});
        }
        for (size_t i = 0; i < row.fileDirs.size(); ++i) {
            s.files.push_back({uint16_t(i + 1), row.fileDirs[i], 0, "f" + std::to_string(i)});
            members.push_back(u"M.00" + Str(1, char16_t(u'1' + i)));
        }
        InstallPlan plan;
        std::string error;
        ASSERT_TRUE(PlanFor(s, Str(), &plan, &error, members)) << row.what << ": " << error;
        EXPECT_EQ(plan.InstallFolder, row.expected) << row.what;
    }
}

TEST(SetupInfo, OnlyTheInstallFolderMovesUnderTheDestination)
{
    SetupInfoSpec s;
    s.strings = {{1, "%CE5%\\Docs"}, {2, "%CE1%\\App"}, {3, "%CE1%\\Apple"}};
    s.dirs = {{1, {1}}, {2, {2}}, {3, {3}}};
    s.files = {{1, 1, 0, "a"}, {2, 2, 0, "b"}, {3, 2, 0, "c"}, {4, 3, 0, "d"}};
    InstallPlan plan;
    std::string error;
    ASSERT_TRUE(PlanFor(s, u"\\D", &plan, &error, {u"x.001", u"x.002", u"x.003", u"x.004"})) << error;
    EXPECT_EQ(plan.Files[0].Target, u"\\My Documents\\Docs\\a");
    EXPECT_EQ(plan.Files[1].Target, u"\\D\\b");
    EXPECT_EQ(plan.Files[3].Target, u"\\Program Files\\Apple\\d");
}

// Damage done to the bytes of a good file; each must be refused.
TEST(SetupInfo, DamagedFilesAreRefused)
{
    const Bytes good = WriteSetupInfo(Sample(false));
    auto offset = [&](int table) {
        return size_t(testsupport::Get32(good, SiOffsets + 4 * table));
    };
    struct Row {
        const char *what;
        std::function<void(Bytes &)> damage;
    };
    const Row rows[] = {
        {"shorter than the header", [](Bytes &b) { b.resize(99); }},
        {"no signature", [](Bytes &b) { b[0] = 'X'; }},
        {"stated length past the end", [](Bytes &b) { Set32(b, SiTotalLength, uint32_t(b.size() + 1)); }},
        {"stated length inside the header", [](Bytes &b) { Set32(b, SiTotalLength, 99); }},
        {"last table cut short",
         [](Bytes &b) {
             b.resize(b.size() - 3);
             Set32(b, SiTotalLength, uint32_t(b.size()));
         }},
        {"stated length cuts the last table", [](Bytes &b) { Set32(b, SiTotalLength, uint32_t(b.size() - 1)); }},
        {"links counted past the end", [](Bytes &b) { Set16(b, SiCounts + 2 * TabLinks, 3); }},
        {"table offset past the end", [](Bytes &b) { Set32(b, SiOffsets + 4 * TabFiles, uint32_t(b.size() + 1)); }},
        {"table offset inside the header", [](Bytes &b) { Set32(b, SiOffsets + 4 * TabDirs, 10); }},
        {"table offset near 4 GiB", [](Bytes &b) { Set32(b, SiOffsets + 4 * TabValues, 0xFFFFFFF0u); }},
        {"app name offset past the end", [](Bytes &b) { Set16(b, SiNames, uint32_t(b.size())); }},
        {"app name length past the end", [](Bytes &b) { Set16(b, SiNames + 2, 0xFFFF); }},
        {"provider inside the header", [](Bytes &b) { Set16(b, SiNames + 4, 40); }},
        {"unsupported list past the end", [](Bytes &b) { Set16(b, SiNames + 10, 0xFFFF); }},
        {"string length past the end", [&](Bytes &b) { Set16(b, offset(TabStrings) + 2, 0xFFFF); }},
        {"odd folder list length", [&](Bytes &b) { Set16(b, offset(TabDirs) + 2, 5); }},
        {"folder list length past the end", [&](Bytes &b) { Set16(b, offset(TabDirs) + 2, 0xFFFE); }},
        {"folder id 0", [&](Bytes &b) { Set16(b, offset(TabDirs), 0); }},
        {"registry root 0", [&](Bytes &b) { Set16(b, offset(TabHives) + 2, 0); }},
        {"registry root 5", [&](Bytes &b) { Set16(b, offset(TabHives) + 2, 5); }},
        {"value name without its zero", [&](Bytes &b) { Set16(b, offset(TabValues) + 10, 4); }},
        {"value length past the end", [&](Bytes &b) { Set16(b, offset(TabValues) + 10, 0xFFFF); }},
        {"file name length past the end", [&](Bytes &b) { Set16(b, offset(TabFiles) + 10, 0xFFFF); }},
        {"odd link list length", [&](Bytes &b) { Set16(b, offset(TabLinks) + 10, 3); }},
        {"link without a name", [&](Bytes &b) { Set16(b, offset(TabLinks) + 10, 0); }},
    };
    for (const Row &row : rows) {
        Bytes b = good;
        row.damage(b);
        CeSetupInfo info;
        std::string error;
        EXPECT_FALSE(Parse(b, &info, &error)) << row.what;
        EXPECT_FALSE(error.empty()) << row.what;
    }
}

TEST(SetupInfo, MalformedTablesAreRefused)
{
    struct Row {
        const char *what;
        std::function<void(SetupInfoSpec &)> change;
    };
    const Row rows[] = {
        {"folder list without its 0", [](SetupInfoSpec &s) { s.terminateLists = false; }},
        {"folder list with a 0 inside", [](SetupInfoSpec &s) { s.dirs[0].ids = {3, 0, 7}; }},
        {"string id repeats", [](SetupInfoSpec &s) { s.strings.push_back({7, "Other"}); }},
        {"folder id repeats", [](SetupInfoSpec &s) { s.dirs.push_back({20, {3}}); }},
        {"hive id repeats", [](SetupInfoSpec &s) { s.hives.push_back({30, RootUsers, {8}}); }},
        {"link without a name", [](SetupInfoSpec &s) { s.links[0].ids = {}; }},
    };
    for (const Row &row : rows) {
        SetupInfoSpec s = Sample(false);
        row.change(s);
        CeSetupInfo info;
        std::string error;
        EXPECT_FALSE(Parse(WriteSetupInfo(s), &info, &error)) << row.what;
        EXPECT_FALSE(error.empty()) << row.what;
    }
}

// Files that parse but cannot be installed safely.
TEST(SetupInfo, UnusablePlansAreRefused)
{
    struct Row {
        const char *what;
        std::function<void(SetupInfoSpec &)> change;
        const char *errorPart;
    };
    const Row rows[] = {
        {"folder uses an undefined string", [](SetupInfoSpec &s) { s.dirs[1].ids = {3, 99}; }, "string id 99"},
        {"folder without a macro", [](SetupInfoSpec &s) { s.strings[1].text = "Program Files"; }, "macro"},
        {"undefined macro", [](SetupInfoSpec &s) { s.strings[1].text = "%CE3%"; }, "%CE3%"},
        {"undefined macro 99999", [](SetupInfoSpec &s) { s.strings[1].text = "%CE99999%"; }, "macro"},
        {"text glued to the macro", [](SetupInfoSpec &s) { s.strings[1].text = "%CE1%x"; }, "after its macro"},
        {"folder climbs out", [](SetupInfoSpec &s) { s.strings[0].text = ".."; }, "climbs"},
        {"folder climbs within one string", [](SetupInfoSpec &s) { s.strings[0].text = "Tool\\..\\..\\x"; }, "climbs"},
        {"folder names a device", [](SetupInfoSpec &s) { s.strings[0].text = "NUL"; }, "device"},
        {"file climbs out", [](SetupInfoSpec &s) { s.files[0].name = "..\\..\\evil.exe"; }, "climbs"},
        {"file is absolute", [](SetupInfoSpec &s) { s.files[0].name = "\\evil.exe"; }, "absolute"},
        {"file names a drive", [](SetupInfoSpec &s) { s.files[0].name = "C:evil.exe"; }, "drive"},
        {"file names a stream", [](SetupInfoSpec &s) { s.files[0].name = "tool.exe:evil"; }, "stream"},
        {"file name too long", [](SetupInfoSpec &s) { s.files[0].name = std::string(240, 'x'); }, "too long"},
        {"file number not in the CAB", [](SetupInfoSpec &s) { s.files[0].fileNumber = 9; }, "no CAB member"},
        {"file number 0", [](SetupInfoSpec &s) { s.files[0].fileNumber = 0; }, "setup information"},
        {"file in an undefined folder", [](SetupInfoSpec &s) { s.files[0].dirId = 99; }, "folder 99"},
        {"two files, one target", [](SetupInfoSpec &s) { s.files[3].name = "TOOL.EXE"; }, "same file"},
        {"undefined hive", [](SetupInfoSpec &s) { s.values[0].hive = 99; }, "hive 99"},
        {"empty key path", [](SetupInfoSpec &s) { s.hives[1].ids = {}; }, "key path"},
        {"DWORD of two bytes", [](SetupInfoSpec &s) { s.values[1].value = {1, 2}; }, "4 bytes"},
        {"undefined macro in a value",
         [](SetupInfoSpec &s) { s.values[0].value = Text(std::string("%CE7%\\x\0", 8)); },
         "%CE7%"},
        {"shortcut in an undefined macro folder", [](SetupInfoSpec &s) { s.links[0].baseDir = 3; }, "%CE3%"},
        {"shortcut to a file not installed", [](SetupInfoSpec &s) { s.links[0].target = 9; }, "target file 9"},
        {"shortcut to an undefined folder", [](SetupInfoSpec &s) { s.links[1].target = 99; }, "target folder 99"},
        {"shortcut of unknown type", [](SetupInfoSpec &s) { s.links[0].type = 2; }, "type 2"},
        {"shortcut climbs out", [](SetupInfoSpec &s) { s.strings[5].text = "..\\..\\evil.lnk"; }, "climbs"},
        {"shortcut name undefined", [](SetupInfoSpec &s) { s.links[0].ids = {77}; }, "string id 77"},
        {"shortcut over a file",
         [](SetupInfoSpec &s) {
             s.strings.push_back({13, "readme.txt"});
             s.links[1] = {51, 0, 0, 0, {13}};
         },
         "same file"},
        {"no application name", [](SetupInfoSpec &s) { s.appName = ""; }, "no application"},
        {"provider with a backslash", [](SetupInfoSpec &s) { s.provider = "Ac\\me"; }, "registry key"},
    };
    for (const Row &row : rows) {
        SetupInfoSpec s = Sample(false);
        row.change(s);
        InstallPlan plan;
        std::string error;
        EXPECT_FALSE(PlanFor(s, Str(), &plan, &error)) << row.what;
        EXPECT_NE(error.find(row.errorPart), std::string::npos) << row.what << ": " << error;
    }
    InstallPlan plan;
    std::string error;
    std::vector<Str> twice = Members;
    twice.push_back(u"OTHER.001");
    EXPECT_FALSE(PlanFor(Sample(false), Str(), &plan, &error, twice));
    EXPECT_NE(error.find("file number 1"), std::string::npos) << error;
}

// Random damage: never a crash or an out-of-bounds read (the sanitizers
// watch), and whatever plan survives stays inside its folders.
TEST(SetupInfo, RandomDamageStaysInBounds)
{
    std::mt19937 random(12345);
    unsigned parsed = 0, planned = 0;
    for (int round = 0; round < 4000; ++round) {
        Bytes b = WriteSetupInfo(Sample(round % 2 == 0));
        int edits = 1 + int(random() % 4);
        for (int e = 0; e < edits; ++e) {
            switch (random() % 4) {
            case 0:
                b[random() % b.size()] = uint8_t(random());
                break;
            case 1:   // a header field
                Set16(b, 48 + 2 * (random() % 26), random() % 400);
                break;
            case 2:
                b.resize(random() % b.size() + 1);
                Set32(b, SiTotalLength, uint32_t(b.size()));
                if (b.size() < 12)
                    b.resize(12);
                break;
            default:
                b[random() % b.size()] ^= uint8_t(1u << (random() % 8));
                break;
            }
        }
        CeSetupInfo info;
        std::string error;
        // Exact-size copy so that any read past the end is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size()]);
        std::copy(b.begin(), b.end(), exact.get());
        if (!ParseSetupInfo(exact.get(), b.size(), &info, &error))
            continue;
        ++parsed;
        InstallPlan plan;
        Str destination = round % 3 == 0 ? Str() : Str(u"\\Storage Card\\T");
        if (!PlanInstall(info, Members, destination, 2, &plan, &error))
            continue;
        ++planned;
        for (const Str &p : StrayPaths(plan))
            ADD_FAILURE() << "placed outside the install and macro folders, or not normal: " << Show(p);
    }
    EXPECT_GT(parsed, 100u);
    EXPECT_GT(planned, 20u);
}

} // namespace
