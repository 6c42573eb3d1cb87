// try_wine_test.cpp -- `velkor try` end to end: the real setup program and
// the installer stand-in under Wine.  The sample package with the author's
// choices from a file (JSON report); a package without pages whose CAB
// makes a shortcut and registry values; and an installation the installer
// refuses, which is reported and fails the command.
#include "tooltest.h"

#include "minijson.h"

#include "../support/pefake.h"
#include "../support/setupinfo_writer.h"

using namespace tooltest;
using velkor::Bytes;

namespace {

const fs::path WinBin = VELKOR_WIN_BIN;
const fs::path State = VELKOR_TRY_STATE;

Result Try(const std::vector<std::string> &args, const fs::path &dir)
{
    std::vector<std::string> all{"try"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--state", State.string(), "--win-bin", WinBin.string()});
    return Velkor(all, dir);
}

const minijson::Value *FindFile(const minijson::Value &files, const std::string &path)
{
    for (const auto &f : files.array)
        if (f["path"].string == path)
            return &f;
    return nullptr;
}

TEST_F(ToolTest, TryTheSampleWithChoicesFromAFile)
{
    ASSERT_TRUE(CopySample(dir / "s")) << "no sample in " VELKOR_SAMPLE_DIR " (the ctest fixture sample_cabs makes it)";
    ASSERT_EQ(Velkor({"build", "s/manifest.toml", "--stub", (WinBin / "setup.exe").string(), "--desktop-stub", "-o", "pkg.exe"}, dir).code, 0);
    WriteText(dir / "choices.toml", "components = [\"Pocket Notes\", \"Sample Notebooks\"]\n"
                                    "location = \"folder\"\ndestination = '\\Storage Card\\Notes'\n");
    Result r = Try({"pkg.exe", "--choices", "choices.toml", "--json"}, dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    minijson::Value v = minijson::Parse(r.out);
    EXPECT_TRUE(v["ok"].boolean);
    EXPECT_EQ(v["pages"].array.size(), 6u);
    ASSERT_EQ(v["installer_runs"].array.size(), 2u);
    const minijson::Value &notes = v["installer_runs"][0];
    EXPECT_EQ(notes["component"].string, "Pocket Notes");
    EXPECT_EQ(notes["dest"].string, "\\Storage Card\\Notes");
    EXPECT_EQ(notes["cmdline"].string, "");   // the destination went through the registry
    EXPECT_EQ(notes["files"].array.size(), 4u);
    EXPECT_EQ(notes["exit"].number, 0);
    EXPECT_EQ(v["installer_runs"][1]["dest"].string, "\\My Documents\\Notes");   // it accepts no destination
    const minijson::Value *exe = FindFile(v["files"], "\\Storage Card\\Notes\\PocketNotes.exe");
    ASSERT_NE(exe, nullptr) << r.out;
    EXPECT_EQ((*exe)["size"].number, 300000);
    EXPECT_NE(FindFile(v["files"], "\\My Documents\\Notes\\Shopping.txt"), nullptr);
    EXPECT_EQ(FindFile(v["files"], "\\kCABFILE.cab"), nullptr);   // Setup deleted its temporary CAB
    EXPECT_EQ(v["files"].array.size(), 7u);
    bool record = false;
    for (const auto &value : v["registry"].array)
        record = record || (value["key"].string == "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Velkor Samples Pocket Notes" &&
                            value["name"].string == "InstlDir" && value["data"].string == "\\Storage Card\\Notes");
    EXPECT_TRUE(record) << r.out;
}

// A package without pages: Setup installs at once; the CAB's shortcut and
// registry values show in the report.
TEST_F(ToolTest, TryAPackageWithoutPagesShowsShortcutsAndRegistry)
{
    testcab::SetupInfoSpec s;
    s.appName = "Tool";
    s.provider = "Acme";
    s.strings = {{1, "%CE1%"}, {2, "Tool"}, {3, "Tool.lnk"}, {4, "Software\\Acme\\Tool"}};
    s.dirs = {{1, {1, 2}}};
    s.files = {{1, 1, 0, "tool.exe"}};
    s.hives = {{1, 2, {4}}};   // HKCU, outside what the installer's records use
    s.values = {{1, 1, 1, 0, "Home", testcab::Text(std::string("%InstallDir%\0", 13))},
                {2, 1, 0, 0x10001, "Runs", testcab::Dword(7)}};
    s.links = {{1, 11, 1, 1, {3}}};
    MakeCabOf(dir / "tool.cab", {{"TOOL.000", testcab::WriteSetupInfo(s)}, {"TOOL.001", Prose(4321)}});
    WriteText(dir / "app.toml", ManifestText("[]").Component("Tool", "tool.cab"));
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", (WinBin / "setup.exe").string(), "--desktop-stub", "-o", "pkg.exe"}, dir).code, 0);
    Result r = Try({"pkg.exe"}, dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    for (const char *line : {
             "pkg.exe: installed 1 of 1 components\n",
             "Wizard: no pages (Setup installs at once)\n",
             "  1 Tool: exit 0, into \\Program Files\\Tool, 2 files, 0 skipped, 5 registry values\n",
             "        4321  \\Program Files\\Tool\\tool.exe\n",
             "  \\windows\\Start Menu\\Programs\\Tool.lnk -> \\Program Files\\Tool\\tool.exe\n",
             "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Acme Tool\n    CabFile  REG_SZ  \\kCABFILE.cab\n",
             "  HKEY_CURRENT_USER\\Software\\Acme\\Tool\n    Home  REG_SZ  \\Program Files\\Tool\n    Runs  REG_DWORD  0x7\n",
         })
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin:\n" << r.out;
}

TEST_F(ToolTest, TryReportsAnInstallationThatFails)
{
    // The installer refuses a .000 naming a file the CAB does not hold;
    // Setup itself ends as usual, so only the log tells.
    testcab::SetupInfoSpec s;
    s.strings = {{1, "%CE1%"}, {2, "Tool"}};
    s.dirs = {{1, {1, 2}}};
    s.files = {{1, 1, 0, "tool.exe"}, {2, 1, 0, "gone.dll"}};
    MakeCabOf(dir / "bad.cab", {{"TOOL.000", testcab::WriteSetupInfo(s)}, {"TOOL.001", Prose(100)}});
    WriteText(dir / "app.toml", ManifestText().Component("Broken", "bad.cab"));
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", (WinBin / "setup.exe").string(), "--desktop-stub", "-o", "pkg.exe"}, dir).code, 0);
    Result r = Try({"pkg.exe"}, dir);
    EXPECT_EQ(r.code, 12) << r.err;
    EXPECT_EQ(r.out.rfind("pkg.exe: the installation did not succeed: the installer failed on 'Broken' (exit code 8)", 0),
              0u) << r.out;
    EXPECT_NE(r.out.find("Files (0)\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind("velkor: error: pkg.exe: the installation did not succeed: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// A package built on the device's program installs through the desktop
// one, said so once, with the same report as the same manifest built on
// the desktop program; a signature is not checked there, and that is said
// too.
TEST_F(ToolTest, TryOfADevicePackageIsThatOfTheDesktopBuild)
{
    ASSERT_TRUE(CopySample(dir / "s")) << "no sample in " VELKOR_SAMPLE_DIR " (the ctest fixture sample_cabs makes it)";
    // The real device program when the build made it; else a made-up one
    // with the data directories a signature needs.
    const fs::path device = fs::exists(VELKOR_DEVICE_STUB) ? fs::path(VELKOR_DEVICE_STUB) : dir / "arm.exe";
    Bytes arm = pefake::Image(false, 3001);
    pefake::Set16(arm, pefake::PeAt + 24 + 68, 9);
    WriteBytes(dir / "arm.exe", arm);
    WriteText(dir / "choices.toml", "components = [\"Pocket Notes\", \"Help and Tutorial\"]\n"
                                    "location = \"folder\"\ndestination = '\\Storage Card\\Notes'\n");
    Result runs[2];
    for (int onDevice : {0, 1}) {
        const fs::path sub = dir / (onDevice ? "device" : "desktop");
        ASSERT_EQ(BuildOnStub(sub, "../s/manifest.toml", "pkg.exe", onDevice, device, WinBin).code, 0);
        runs[onDevice] = Try({"pkg.exe", "--choices", "../choices.toml", "--json"}, sub);
        ASSERT_EQ(runs[onDevice].code, 0) << runs[onDevice].err << runs[onDevice].out;
    }
    const std::string note = "velkor: note: pkg.exe is built on the device's setup program (ARM); try runs the same "
                             "package on the desktop one under Wine (" + (WinBin / "setup.exe").string() + ")";
    EXPECT_EQ(runs[0].err, "");
    EXPECT_EQ(runs[1].err, note + "\n");
    EXPECT_EQ(runs[1].out, runs[0].out);
    minijson::Value v = minijson::Parse(runs[1].out);
    EXPECT_TRUE(v["ok"].boolean);
    EXPECT_EQ(v["installer_runs"].size(), 2u);

    // Signed (the table as signing tools append it): the same installation.
    WriteBytes(dir / "device" / "signed.exe", pefake::Sign(ReadBytes(dir / "device" / "pkg.exe")));
    Result r = Try({"signed.exe", "--choices", "../choices.toml", "--json"}, dir / "device");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, Replace(note, "pkg.exe", "signed.exe") + ", where its signature is not checked\n");
    EXPECT_EQ(Replace(r.out, "signed.exe", "pkg.exe"), runs[0].out);
}

}  // namespace
