// try_test.cpp -- the parts of `velkor try` that need no Wine: the script
// the robot gets for each kind of package and choice, the choices refused
// before any bench starts, the choices file, and the readers of what an
// installation leaves (the installer's log, the device root, `reg query`)
// and the report, JSON included, on hostile names.
#include "tooltest.h"

#include "minijson.h"

#include "../support/setupinfo_writer.h"

#include "pkgwrite.h"
#include "errors.h"
#include "try.h"

#include "format.h"

#include <functional>

using namespace tooltest;
using velkor::Bytes;

namespace {

velkor::PackageInfo Package(uint8_t flags, bool useDefault, const std::u16string &destination = u"\\Program Files\\Tool")
{
    velkor::PackageInfo p;
    p.pageFlags = p.storedPageFlags = flags;
    p.useDefaultLocation = useDefault;
    p.destination = destination;
    for (int bit = 0; bit < 6; ++bit)
        if (flags & (1 << bit)) {
            if (!p.firstPage)
                p.firstPage = uint8_t(1 << bit);
            p.lastPage = uint8_t(1 << bit);
        }
    for (const char16_t *name : {u"Main", u"Help", u"Extras"}) {
        velkor::ComponentInfo c;
        c.name = name;
        c.selected = name != std::u16string(u"Extras");
        p.components.push_back(c);
    }
    return p;
}

velkor::TryChoices Choices(std::vector<std::string> components, int location = -1, const char *destination = nullptr)
{
    velkor::TryChoices c;
    c.hasComponents = !components.empty();
    c.components = components;
    c.location = location;
    c.hasDestination = destination != nullptr;
    c.destination = destination ? destination : "";
    return c;
}

TEST(TryScript, WalksEveryPageWithTheChoicesAndInstalls)
{
    std::vector<uint8_t> pages;
    std::string s = velkor::TryScript(Package(63, false), Choices({"Help", "Extras"}, 1, "\\Storage Card\\Tool"),
                                      "Z:\\t\\setup.exe", 300, &pages);
    EXPECT_EQ(pages, (std::vector<uint8_t>{PageWelcome, PageAgreement, PageComponents, PageLocation, PageDestination,
                                            PageReady}));
    EXPECT_EQ(s, "# velkor try: the whole installation\n"
                 "timeout 60\nlaunch \"Z:\\\\t\\\\setup.exe\"\nwait-frame\n"
                 "wait-page 102\nexpect-enabled 1 1\nclick 1\n"
                 "wait-page 129\nclick 1005\nexpect-checked 1005 1\nexpect-enabled 1 1\nclick 1\n"
                 "wait-page 132\ntick 1012 \"Main\" 0\ntick 1012 \"Help\" 1\ntick 1012 \"Extras\" 1\n"
                 "expect-enabled 1 1\nclick 1\n"
                 "wait-page 130\nclick 1009\nexpect-checked 1009 1\nexpect-enabled 1 1\nclick 1\n"
                 "wait-page 131\ntype 1010 \"\\\\Storage Card\\\\Tool\"\nexpect-enabled 1 1\nclick 1\n"
                 "wait-page 133\nexpect-enabled 1 1\nclick 1\n"
                 "timeout 300\nwait-exit 0\n");
    EXPECT_EQ(velkor::TrySelected(Package(63, false), Choices({"Help", "Extras"})), (std::vector<size_t>{1, 2}));
}

TEST(TryScript, FollowsTheWizardForEachKindOfPackage)
{
    const uint8_t W = PageWelcome, C = PageComponents, L = PageLocation, D = PageDestination, R = PageReady;
    struct Case {
        uint8_t flags;
        bool useDefault, requireInstall;
        velkor::TryChoices choices;
        std::vector<uint8_t> pages;
        std::vector<size_t> selected;
        const char *mentions;
    } cases[] = {
        // No pages: Setup installs at once, nothing to wait for but the end.
        {0, false, false, {}, {}, {0, 1}, "launch \"Z:\\\\s.exe\"\ntimeout 600\nwait-exit 0\n"},
        {0, false, true, {}, {}, {0, 1}, "launch \"Z:\\\\s.exe\" install\n"},
        // The device's location skips the destination page; keeping the page's start does too.
        {W | L | D | R, false, false, Choices({}, 0), {W, L, R}, {0, 1}, "wait-page 130\nclick 1008\n"},
        {W | L | D | R, true, false, {}, {W, L, R}, {0, 1}, "wait-page 130\nexpect-enabled 1 1\n"},
        {L | D, true, false, Choices({}, 1), {L, D}, {0, 1}, "wait-page 131\nexpect-enabled 1 1\nclick 1\ntimeout"},
        // Without a components page the package's own selection goes in.
        {W | R, false, false, {}, {W, R}, {0, 1}, "wait-page 133\n"},
        {C, false, false, Choices({"Extras"}), {C}, {2}, "tick 1012 \"Main\" 0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mentions);
        velkor::PackageInfo p = Package(c.flags, c.useDefault);
        p.requireInstallArgument = c.requireInstall;
        std::vector<uint8_t> pages;
        std::string s = velkor::TryScript(p, c.choices, "Z:\\s.exe", 600, &pages);
        EXPECT_EQ(pages, c.pages);
        EXPECT_NE(s.find(c.mentions), std::string::npos) << s;
        EXPECT_EQ(velkor::TrySelected(p, c.choices), c.selected);
        EXPECT_EQ(s.substr(s.size() - 12), "wait-exit 0\n");
    }
}

TEST(TryScript, RefusesChoicesThePackageHasNoPageFor)
{
    const uint8_t W = PageWelcome, C = PageComponents, L = PageLocation, D = PageDestination, R = PageReady;
    struct Case {
        uint8_t flags;
        bool useDefault;
        velkor::TryChoices choices;
        std::u16string destination;
        const char *message;
    } cases[] = {
        {W | R, false, Choices({"Main"}), u"\\P", "the package has no components page"},
        {W | C | R, false, Choices({"Main", "Nope"}), u"\\P", "the package has no component 'Nope' (it has 'Extras', 'Help', 'Main')"},
        {W | R, false, Choices({}, 1), u"\\P", "the package shows no location page"},
        {W | L | D | R, false, Choices({}, 0, "\\X"), u"\\P", "not shown with the device's location; add --location folder"},
        {W | R, false, Choices({}, -1, "\\X"), u"\\P", "the package shows no destination page"},
        {W | D | R, false, {}, u"  ", "the destination page starts blank; give --destination"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        try {
            velkor::TryScript(Package(c.flags, c.useDefault, c.destination), c.choices, "Z:\\s.exe", 60, nullptr);
            ADD_FAILURE() << "accepted";
        } catch (const velkor::Failure &f) {
            EXPECT_EQ(f.code, velkor::ExitUsage);
            EXPECT_NE(std::string(f.what()).find(c.message), std::string::npos) << f.what();
        }
    }
}

TEST_F(ToolTest, TryChoicesFile)
{
    WriteText(dir / "c.toml", "components = [\"Main\", \"Extras\"]\nlocation = \"folder\"\ndestination = '\\Card\\Tool'\n");
    velkor::TryChoices c = velkor::LoadChoices((dir / "c.toml").string());
    EXPECT_TRUE(c.hasComponents);
    EXPECT_EQ(c.components, (std::vector<std::string>{"Main", "Extras"}));
    EXPECT_EQ(c.location, 1);
    EXPECT_TRUE(c.hasDestination);
    EXPECT_EQ(c.destination, "\\Card\\Tool");
    WriteText(dir / "empty.toml", "components = []\n");
    c = velkor::LoadChoices((dir / "empty.toml").string());
    EXPECT_TRUE(c.hasComponents);
    EXPECT_EQ(c.location, -1);

    struct {
        const char *text;
        int code;
        const char *message;
    } bad[] = {
        {"components = [\"Main\"", 4, "c.toml:1:"},
        {"componentz = []\n", 4, "c.toml:1: componentz: unknown key"},
        {"components = \"Main\"\n", 4, "components: expected an array"},
        {"components = [1]\n", 4, "expected a component name"},
        {"location = \"device\"\n", 4, "location: expected \"default\" or \"folder\""},
        {"\ndestination = 7\n", 4, "c.toml:2: destination: expected a device folder"},
    };
    for (const auto &b : bad) {
        WriteText(dir / "c.toml", b.text);
        try {
            velkor::LoadChoices((dir / "c.toml").string());
            ADD_FAILURE() << b.text;
        } catch (const velkor::Failure &f) {
            EXPECT_EQ(f.code, b.code) << b.text;
            EXPECT_NE(std::string(f.what()).find(b.message), std::string::npos) << f.what();
        }
    }
}

TEST(TryReaders, InstallerLogWithEscapes)
{
    std::vector<velkor::InstallerRun> runs = velkor::ParseInstallerLog(
        "wceload\tcmdline=\tcab=\\kCABFILE.cab\tdest=\\Program Files\\100%25 Tool\tfAskDest=missing\tasked=no\t"
        "files=a.txt|sub\\b%7Cc.txt|\\Windows\\x.dll\tskipped=\tregistry=3\terror=\texit=0\r\n"
        "not a log line\r\n"
        "wceload\tcmdline=\\kCABFILE.cab\tcab=\\kCABFILE.cab\tdest=\tfAskDest=0\tasked=yes\tfiles=\tskipped=old.txt\t"
        "registry=0\terror=bad%09name%0Ahere\texit=4\r\n"
        "wceload\tcmdline=%2\texit=\r\n");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].dest, "\\Program Files\\100% Tool");
    EXPECT_EQ(runs[0].askDest, "missing");
    EXPECT_EQ(runs[0].files, (std::vector<std::string>{"a.txt", "sub\\b|c.txt", "\\Windows\\x.dll"}));
    EXPECT_EQ(runs[0].registry, 3);
    EXPECT_EQ(runs[0].exitCode, 0);
    EXPECT_EQ(runs[1].cmdline, "\\kCABFILE.cab");
    EXPECT_EQ(runs[1].asked, "yes");
    EXPECT_EQ(runs[1].skipped, (std::vector<std::string>{"old.txt"}));
    EXPECT_EQ(runs[1].error, "bad\tname\nhere");
    EXPECT_EQ(runs[1].exitCode, 4);
    EXPECT_EQ(runs[2].cmdline, "%2");   // a cut escape stays as it is
    EXPECT_EQ(runs[2].exitCode, -1);
}

TEST(TryReaders, RegQueryOutput)
{
    std::vector<velkor::RegistryValue> v = velkor::ParseRegQuery(
        "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Acme Tool\r\n"
        "    CabFile    REG_SZ    \\kCABFILE.cab\r\n"
        "    Instl    REG_DWORD    0x1\r\n"
        "    Name with  blanks    REG_SZ    a    b\r\n"
        "    (Default)    REG_SZ    \r\n"
        "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Empty\r\n"
        "ERROR: something\r\n");
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].key, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Acme Tool");
    EXPECT_EQ(v[0].name, "CabFile");
    EXPECT_EQ(v[0].type, "REG_SZ");
    EXPECT_EQ(v[0].data, "\\kCABFILE.cab");
    EXPECT_EQ(v[1].data, "0x1");
    EXPECT_EQ(v[2].name, "Name with  blanks");
    EXPECT_EQ(v[2].data, "a    b");
    EXPECT_EQ(v[3].name, "(Default)");
    EXPECT_EQ(v[3].data, "");
}

TEST_F(ToolTest, TryReadsTheDeviceRoot)
{
    fs::path root = dir / "root";
    fs::create_directories(root / "windows" / "Start Menu");
    fs::create_directories(root / "Program Files" / "Tool" / "empty");
    WriteText(root / "windows" / "wceload.exe", "MZ");
    WriteText(root / "windows" / "wceload.log", "wceload\t\r\n");
    WriteText(root / "Program Files" / "Tool" / "tool.exe", std::string(1234, 'x'));
    const std::string quoted = "\"\\Program Files\\Tool\\tool.exe\"";
    WriteText(root / "windows" / "Start Menu" / "Tool.lnk", std::to_string(quoted.size()) + "#" + quoted);
    WriteText(root / "windows" / "Start Menu" / "Not.lnk", "99#\"\\nothing\"");   // the count is wrong
    WriteText(root / "caf\xC3\xA9.txt", "");
    std::vector<std::string> folders;
    std::vector<velkor::DeviceFile> files;
    std::vector<velkor::DeviceShortcut> shortcuts;
    velkor::ReadDeviceRoot(root.string(), &folders, &files, &shortcuts);
    EXPECT_EQ(folders, (std::vector<std::string>{"\\Program Files\\Tool", "\\Program Files\\Tool\\empty",
                                                 "\\windows\\Start Menu"}));
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].path, "\\Program Files\\Tool\\tool.exe");
    EXPECT_EQ(files[0].size, 1234u);
    EXPECT_EQ(files[1].path, "\\caf\xC3\xA9.txt");
    EXPECT_EQ(files[2].path, "\\windows\\Start Menu\\Not.lnk");
    ASSERT_EQ(shortcuts.size(), 1u);
    EXPECT_EQ(shortcuts[0].path, "\\windows\\Start Menu\\Tool.lnk");
    EXPECT_EQ(shortcuts[0].target, "\\Program Files\\Tool\\tool.exe");
}

TEST_F(ToolTest, TryFindsTheRegistryValuesACabWrites)
{
    testcab::SetupInfoSpec s;
    s.strings = {{1, "%CE1%"}, {2, "Tool"}, {3, "Software\\Acme"}, {4, "Tool"}};
    s.dirs = {{1, {1, 2}}};
    s.files = {{1, 1, 0, "tool.exe"}};
    s.hives = {{1, 2, {3, 4}}, {2, 1, {4}}};
    s.values = {{1, 1, 0, 0, "Home", testcab::Text(std::string("x\0", 2))},
                {2, 1, 0, 0, "", testcab::Text(std::string("d\0", 2))},
                {3, 2, 0, 0x10001, "Runs", testcab::Dword(1)},
                {4, 1, 0, 0x10001, "Home", testcab::Dword(2)}};   // the same value again, listed once
    Bytes cab = MakeCabOf(dir / "t.cab", {{"T.000", testcab::WriteSetupInfo(s)}, {"T.001", Prose(10)}});
    using Values = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(velkor::PlannedRegistryValues(cab), (Values{{"HKEY_CURRENT_USER\\Software\\Acme\\Tool", "Home"},
                                                          {"HKEY_CURRENT_USER\\Software\\Acme\\Tool", "(Default)"},
                                                          {"HKEY_CLASSES_ROOT\\Tool", "Runs"}}));
    // Not a device CAB, not a CAB, a .000 that is not one: nothing to look for.
    EXPECT_EQ(velkor::PlannedRegistryValues(MakeCabOf(dir / "p.cab", {{"a.txt", Prose(10)}})), Values{});
    EXPECT_EQ(velkor::PlannedRegistryValues(Prose(500)), Values{});
    EXPECT_EQ(velkor::PlannedRegistryValues(MakeCabOf(dir / "m.cab", {{"T.000", Prose(300)}})), Values{});
}

TEST(TryReport, JsonIsValidUtf8WhateverTheNamesHold)
{
    velkor::TryReport r;
    r.package = "p\xFF.exe";
    r.ok = false;
    r.problem = "Setup did not finish: \"quoted\"\ttab";
    r.pages = {PageWelcome, PageReady};
    // A lone surrogate from a component name, a cut sequence, an overlong slash.
    r.selected = {velkor::Utf16ToUtf8(u"Lone \xD800 half"), "cut \xE2\x82", "over\xC0\xAFlong"};
    velkor::InstallerRun run;
    run.component = r.selected[0];
    run.files = {"a\x01.txt"};
    run.exitCode = 8;
    r.runs = {run};
    r.files = {{"\\Program Files\\caf\xC3\xA9", 5}};
    r.shortcuts = {{"\\x.lnk", "\\y"}};
    r.registry = {{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\A", "Instl", "REG_DWORD", "0x1"}};
    std::string json = velkor::TryJson(r);
    minijson::Value v = minijson::Parse(json);
    EXPECT_EQ(v["package"].string, "p\xEF\xBF\xBD.exe");
    EXPECT_FALSE(v["ok"].boolean);
    EXPECT_EQ(v["problem"].string, r.problem);
    EXPECT_EQ(v["pages"][1].string, "ready");
    EXPECT_EQ(v["components"][0].string, "Lone \xEF\xBF\xBD half");
    EXPECT_EQ(v["components"][1].string, "cut \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(v["components"][2].string, "over\xEF\xBF\xBD\xEF\xBF\xBDlong");
    EXPECT_EQ(v["installer_runs"][0]["component"].string, "Lone \xEF\xBF\xBD half");
    EXPECT_EQ(v["installer_runs"][0]["files"][0].string, "a\x01.txt");
    EXPECT_EQ(v["installer_runs"][0]["exit"].number, 8);
    EXPECT_EQ(v["files"][0]["path"].string, "\\Program Files\\caf\xC3\xA9");
    EXPECT_EQ(v["files"][0]["size"].number, 5);
    EXPECT_EQ(v["shortcuts"][0]["target"].string, "\\y");
    EXPECT_EQ(v["registry"][0]["type"].string, "REG_DWORD");
    // Every byte sequence in the output is well-formed UTF-8.
    std::u16string back = velkor::Utf8ToUtf16(json);
    EXPECT_EQ(velkor::Utf16ToUtf8(back), json);
    for (size_t i = 0; i + 2 < json.size(); ++i)
        EXPECT_FALSE((unsigned char)json[i] == 0xED && ((unsigned char)json[i + 1] & 0xE0) == 0xA0) << "surrogate at " << i;

    std::string text = velkor::TryText(r);
    EXPECT_EQ(text.rfind("p\xFF.exe: the installation did not succeed: Setup did not finish", 0), 0u) << text;
    EXPECT_NE(text.find("Wizard: welcome, ready\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  1 Lone "), std::string::npos) << text;
    EXPECT_NE(text.find("\\x.lnk -> \\y\n"), std::string::npos) << text;
}

// Refused before any bench starts: no Wine is needed, nothing is left.
TEST_F(ToolTest, TryBadInput)
{
    MakeCab(dir / "main.cab", Prose(300));
    WriteText(dir / "app.toml", ManifestText().Component());
    WriteBytes(dir / "setup.exe", Stub());
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "pkg.exe"}, dir).code, 0);
    fs::create_directory(dir / "bin");
    WriteText(dir / "bin" / "robot.exe", "MZ");
    WriteText(dir / "bin" / "wceload.exe", "MZ");
    WriteText(dir / "bench.sh", "exit 1\n");
    WriteText(dir / "bad.toml", "location = 3\n");
    const std::vector<std::string> tools = {"--win-bin", "bin", "--bench", "bench.sh"};
    const Refusal cases[] = {
        {{"try", "gone.exe"}, 3, "cannot read package 'gone.exe'"},
        {{"try", "app.toml"}, 7, "app.toml: "},
        {{"try", "bin"}, 3, "not a regular file"},
        {{"try", "pkg.exe", "--choices", "gone.toml"}, 3, "cannot read choices file 'gone.toml'"},
        {{"try", "pkg.exe", "--choices", "bad.toml"}, 4, "bad.toml:1: location: expected"},
        {{"try", "pkg.exe", "--components", "Main"}, 2, "the package has no components page"},
        {{"try", "pkg.exe", "--location", "folder"}, 2, "the package shows no location page"},
        {{"try", "pkg.exe", "--location", "elsewhere"}, 2, "--location"},
        {{"try", "pkg.exe", "--choices", "bad.toml", "--destination", "\\X"}, 2, "excludes"},
        {{"try", "pkg.exe", "--win-bin", "nowhere", "--bench", "bench.sh"}, 3, "cannot find robot.exe in 'nowhere'"},
        {{"try", "pkg.exe", "--win-bin", "bin", "--bench", "nobench.sh"}, 3, "cannot find the Wine bench 'nobench.sh'"},
        {{"try"}, 2, "package is required"},
    };
    std::vector<std::string> before = Listing(dir);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args = c.args;
        if (c.code != 3 || args.size() < 3 || args[2].rfind("--", 0) != 0)
            args.insert(args.end(), tools.begin(), tools.end());
        ExpectRefused(Velkor(args, dir), c.code, c.message);
        EXPECT_EQ(Listing(dir), before);
    }
}

}  // namespace
