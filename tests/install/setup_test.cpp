// setup_test.cpp -- the installation end to end: setup.exe with a package
// is started in a device root, the robot watches its windows and answers its
// message boxes, and the installer stand-in "\windows\wceload.exe" installs
// what it is handed and logs what that was.
#include "robot.h"
#include "packages.h"
#include "testpackages.h"
#include "cabwrite.h"
#include "testsupport.h"
#include "format.h"
#include "wizard_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

using namespace robot;
using wizardtest::ExpectBox;
using installtest::Bytes;

using namespace testsupport;

namespace {


Bytes Fixture(const wchar_t *relative) { return ReadBytes(FixturesDir() + relative); }

std::wstring WriteSetup(const velkor::PackageRecipe &recipe)
{
    return WritePackageExe(recipe, L"toolsetup.exe");
}

std::wstring WriteSetup(const velkor::PackageRecipe &recipe, const std::vector<Bytes> &payloads,
                        const std::vector<uint32_t> &sizes)
{
    return WriteDeviceFile(L"toolsetup.exe", installtest::Assemble(recipe, payloads, sizes, SetupImage()).bytes);
}

const std::wstring Title = L"Tool Setup";

// Every case starts from a device root as the bench makes it: no log, no
// installed files, no temporary CAB, the installer in place.
struct DeviceRootCase : ::testing::Test {
    void SetUp() override
    {
        std::wstring root = DeviceRoot();
        DeleteFileW((root + L"windows\\wceload.log").c_str());
        SetFileAttributesW((root + L"kCABFILE.cab").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((root + L"kCABFILE.cab").c_str());
        RemoveDirectoryW((root + L"kCABFILE.cab").c_str());
        DeleteFileW((root + L"windows\\crash.log").c_str());
        RemoveDirectoryW((root + L"windows\\wceload.exe").c_str());
        DeleteFileW((root + L"readme.txt").c_str());
        RemoveTree(root + L"Program Files");
        CreateDirectoryW((root + L"Program Files").c_str(), nullptr);
        CopyFileW((BinDir() + L"wceload.exe").c_str(), (root + L"windows\\wceload.exe").c_str(), FALSE);
    }
};
struct SetupInstall : DeviceRootCase {};
struct SetupMessages : DeviceRootCase {};
struct SetupCancel : DeviceRootCase {};
struct SetupDestination : DeviceRootCase {};

// UTF-16LE with the terminating zero, as a REG_SZ value holds it.
Bytes Utf16Z(const std::wstring &s)
{
    Bytes out;
    for (wchar_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    out.insert(out.end(), {0, 0});
    return out;
}

// ------------------------------------------------------------- install --

TEST_F(SetupInstall, PackageWithoutPagesInstallsTwoComponents)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    recipe.components.push_back({u"Files", Fixture(L"two.cab"), true, true});
    recipe.components.push_back({u"Not chosen", Fixture(L"big.cab"), true, false});
    Wizard w;
    w.Launch(WriteSetup(recipe));
    EXPECT_EQ(w.WaitExit(), 0u);

    std::wstring folder = DeviceRoot() + L"Program Files\\kCABFILE\\";
    struct {
        const wchar_t *installed, *original;
    } files[] = {
        {L"readme.txt", L"files\\one\\readme.txt"},
        {L"a.txt", L"files\\two\\a.txt"},
        {L"b.txt", L"files\\two\\sub\\b.txt"},   // two.cab keeps no folders
    };
    for (auto f : files) {
        SCOPED_TRACE(Narrow(f.installed));
        Bytes original = Fixture(f.original);
        ASSERT_FALSE(original.empty());
        EXPECT_TRUE(ReadBytes(folder + f.installed) == original) << "installed file differs from the CAB member";
    }
    EXPECT_FALSE(Exists(folder + L"data.bin")) << "an unselected component was installed";
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 2u);
    for (const LogLine &line : log) {
        EXPECT_EQ(line.at("cmdline"), "\\kCABFILE.cab");
        EXPECT_EQ(line.at("error"), "");
        EXPECT_EQ(line.at("exit"), "0");
    }
}

TEST_F(SetupInstall, LargeComponentFromTheReadyPage)
{
    Bytes big = Fixture(L"big.cab");
    velkor::PackageRecipe recipe = ToolRecipe(PageReady, 1);
    recipe.components.push_back({u"Data", big, true, true});
    Wizard w;
    w.Launch(WriteSetup(recipe));
    w.WaitPage(IDD_READY);
    w.Click(IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
    EXPECT_TRUE(ReadBytes(DeviceRoot() + L"Program Files\\kCABFILE\\data.bin") == Fixture(L"files\\big\\data.bin"));
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

TEST_F(SetupInstall, InstallerRefusesAMemberThatClimbsOut)
{
    Bytes cab = installtest::MakeCab({{"ok.txt", {'o', 'k'}}, {"..\\..\\evil.txt", {'x'}}});
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    recipe.components.push_back({u"Hostile", cab, true, true});
    Wizard w;
    w.Launch(WriteSetup(recipe));
    EXPECT_EQ(w.WaitExit(), 0u) << "the installer's outcome is not examined";
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].at("error").find("member name refused"), std::string::npos) << log[0].at("error");
    EXPECT_NE(log[0].at("exit"), "0");
    for (const wchar_t *p : {L"evil.txt", L"Program Files\\evil.txt", L"Program Files\\kCABFILE\\ok.txt"})
        EXPECT_FALSE(Exists(DeviceRoot() + p)) << Narrow(p);
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

// ------------------------------------------------------------ messages --

struct Ending {
    const char *name;
    std::wstring text;
    std::wstring caption;
    Icon icon;
};

// Starts the package and expects exactly one message box before the end.
void ExpectEnding(const std::wstring &exe, const Ending &ending)
{
    Wizard w;
    w.Launch(exe);
    MessageBoxInfo box = w.WaitMessageBox();
    ExpectBox(box, ending.text, ending.caption, ending.icon);
    w.Answer(box, IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
    EXPECT_TRUE(InstallerLog().empty()) << "the installer ran";
}

TEST_F(SetupMessages, TemporaryFileInTheWay)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    std::wstring exe = WriteSetup(recipe);
    ASSERT_TRUE(CreateDirectoryW((DeviceRoot() + L"kCABFILE.cab").c_str(), nullptr));
    ExpectEnding(exe, {"cannot create",
                       L"Setup cannot create a temporary file. Please free some storage memory and try again.", Title,
                       Icon::Error});
    RemoveDirectoryW((DeviceRoot() + L"kCABFILE.cab").c_str());
}

TEST_F(SetupMessages, DamagedChunk)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    Bytes cab = Fixture(L"big.cab");
    recipe.components.push_back({u"Data", cab, true, true});
    Bytes payload = velkor::BuildPayload(cab, 1);
    payload[4 + 9 + 100] ^= 0xFF;   // inside the first chunk's deflate data
    payload[4 + 9 + 101] ^= 0xFF;
    ExpectEnding(WriteSetup(recipe, {payload}, {uint32_t(cab.size())}),
                 {"corrupt", L"The setup package is damaged. Please download this setup package again.", Title,
                  Icon::Error});
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

TEST_F(SetupMessages, TruncatedPayload)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    Bytes cab = Fixture(L"big.cab");
    recipe.components.push_back({u"Data", cab, true, true});
    Bytes payload = velkor::BuildPayload(cab, 1);
    payload.resize(payload.size() - 1000);   // the last chunk ends early; the trailer follows
    ExpectEnding(WriteSetup(recipe, {payload}, {uint32_t(cab.size())}),
                 {"truncated", L"The setup package is damaged. Please download this setup package again.", Title,
                  Icon::Error});
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

TEST_F(SetupMessages, InstallerMissing)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    std::wstring exe = WriteSetup(recipe);
    ASSERT_TRUE(DeleteFileW((DeviceRoot() + L"windows\\wceload.exe").c_str()));
    ExpectEnding(exe, {"launch failed", L"The device's installer could not be started.", Title, Icon::Error});
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

TEST_F(SetupMessages, ReadOnlyTemporaryFileIsReplaced)
{
    // A read-only leftover of that name is the program's to replace: the
    // component is installed from its own bytes and the file is gone after.
    velkor::PackageRecipe recipe = ToolRecipe(0, 1);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    std::wstring exe = WriteSetup(recipe);
    std::wstring cab = DeviceRoot() + L"kCABFILE.cab";
    ASSERT_TRUE(WriteBytes(cab, Bytes(5000, 'x')));
    ASSERT_TRUE(SetFileAttributesW(cab.c_str(), FILE_ATTRIBUTE_READONLY));
    Wizard w;
    w.Launch(exe);
    EXPECT_EQ(w.WaitExit(), 0u);
    EXPECT_FALSE(Exists(cab)) << "the temporary file was left behind";
    EXPECT_TRUE(ReadBytes(DeviceRoot() + L"Program Files\\kCABFILE\\readme.txt") == Fixture(L"files\\one\\readme.txt"));
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("error"), "");
}

// -------------------------------------------------------------- cancel --

TEST_F(SetupCancel, ConfirmedCancelStopsALargeComponent)
{
    // 256 MiB of zeros: a small package that takes a while to unpack.  Its
    // content is no CAB, which does not matter: the installer must not run.
    const uint32_t chunks = 4096;
    Bytes chunk = installtest::CompressedBlock(Bytes(65536, 0), 65536);
    Bytes payload;
    velkor::PutU32(payload, chunks);
    for (uint32_t i = 0; i < chunks; ++i)
        payload.insert(payload.end(), chunk.begin(), chunk.end());
    velkor::PackageRecipe recipe = ToolRecipe(PageReady, 1);
    recipe.components.push_back({u"Large", {}, true, true});
    recipe.components.push_back({u"Readme", {}, true, true});
    Bytes second = Fixture(L"one.cab");
    std::wstring exe = WriteSetup(recipe, {payload, velkor::BuildPayload(second, 1)},
                                  {chunks * 65536u, uint32_t(second.size())});

    Wizard w;
    w.Launch(exe);
    w.WaitPage(IDD_READY);
    w.Click(IDOK);
    HWND progress = w.WaitPage(IDD_PROGRESS);
    EXPECT_EQ(Narrow(w.Text(IDC_PROGRESS_NAME)), "Large");
    EXPECT_EQ(Narrow(w.Text(IDCANCEL)), "&Cancel");
    EXPECT_EQ(Narrow(w.Text(IDC_PROGRESS_LABEL)), "Unpacking components...");
    w.Click(IDCANCEL);

    MessageBoxInfo question = w.WaitMessageBox();
    ExpectBox(question, L"Do you want to cancel the installation?", Title, Icon::Question);
    EXPECT_EQ(question.owner, GetAncestor(progress, GA_ROOT)) << "a box's owner is the progress window's frame";
    std::vector<int> buttons = question.buttons;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(buttons, (std::vector<int>{IDYES, IDNO}));
    // While the question is open unpacking waits, part-way through.
    DWORD_PTR position = 0;
    SendMessageTimeoutW(GetDlgItem(progress, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
    EXPECT_LT(position, chunks) << "the click came after the last chunk";
    w.Answer(question, IDYES);

    MessageBoxInfo notice = w.WaitMessageBox();
    ExpectBox(notice, L"The installation was cancelled and is incomplete.", Title, Icon::Information);
    EXPECT_EQ(notice.owner, GetAncestor(progress, GA_ROOT));
    w.Answer(notice, IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
    EXPECT_TRUE(InstallerLog().empty()) << "an installer ran after the cancel";
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

// --------------------------------------------------------- destination --

DWORD ReadDword(const wchar_t *key, const wchar_t *name, bool *present, DWORD *type = nullptr)
{
    DWORD value = 0, size = sizeof value, t = 0;
    *present = RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY, &t, &value, &size) == ERROR_SUCCESS;
    if (type)
        *type = t;
    return value;
}

Bytes ReadValue(const wchar_t *key, const wchar_t *name, DWORD *type)
{
    Bytes data(1024);
    DWORD size = DWORD(data.size());
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, type, data.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

TEST_F(SetupDestination, HandsOverTheFolderAndPutsFAskDestBack)
{
    struct Row {
        const char *name;
        bool present;
        DWORD value;
    } rows[] = {{"fAskDest was 1", true, 1}, {"fAskDest was missing", false, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        velkor::PackageRecipe recipe = ToolRecipe(0, 0);
        recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
        recipe.components.push_back({u"Files", Fixture(L"two.cab"), false, true});   // not into the folder
        std::wstring exe = WriteSetup(recipe);
        SetUp();
        ASSERT_TRUE(ResetInstallerValues(row.present, row.value));

        Wizard w;
        w.Launch(exe);
        EXPECT_EQ(w.WaitExit(), 0u);

        std::vector<LogLine> log = InstallerLog();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].at("cmdline"), "") << "the destination case has no command line";
        EXPECT_EQ(log[0].at("cab"), "\\kCABFILE.cab");
        EXPECT_EQ(log[0].at("dest"), "\\Program Files\\Tool");
        EXPECT_EQ(log[0].at("fAskDest"), "0");
        EXPECT_EQ(log[0].at("exit"), "0");
        EXPECT_EQ(log[1].at("cmdline"), "\\kCABFILE.cab");
        EXPECT_EQ(log[1].at("fAskDest"), row.present ? std::to_string(row.value) : "0");
        EXPECT_TRUE(ReadBytes(DeviceRoot() + L"Program Files\\Tool\\readme.txt") == Fixture(L"files\\one\\readme.txt"));
        EXPECT_TRUE(ReadBytes(DeviceRoot() + L"Program Files\\kCABFILE\\a.txt") == Fixture(L"files\\two\\a.txt"));

        bool present = false;
        DWORD type = 0;
        DWORD after = ReadDword(InstallerKey, L"fAskDest", &present, &type);
        EXPECT_TRUE(present) << "fAskDest exists afterwards";
        EXPECT_EQ(type, DWORD(REG_DWORD));
        EXPECT_EQ(after, row.present ? row.value : 0u);
        DWORD installType = 0;
        EXPECT_TRUE(ReadValue(InstallKey, L"\\kCABFILE.cab", &installType) ==
                    Utf16Z(L"\\Program Files\\Tool"));
        EXPECT_EQ(installType, DWORD(REG_SZ));
        EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
    }
    ASSERT_TRUE(ResetInstallerValues(true, 1));
}

TEST_F(SetupDestination, InstallerMissingTakesEverythingBack)
{
    // The registry was prepared for the installer and it cannot start: the
    // Install value goes again and fAskDest is the user's setting once more.
    velkor::PackageRecipe recipe = ToolRecipe(0, 0);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    std::wstring exe = WriteSetup(recipe);
    ASSERT_TRUE(ResetInstallerValues(true, 1));
    ASSERT_TRUE(DeleteFileW((DeviceRoot() + L"windows\\wceload.exe").c_str()));
    ExpectEnding(exe, {"launch failed", L"The device's installer could not be started.", Title, Icon::Error});
    bool present = false;
    EXPECT_EQ(ReadDword(InstallerKey, L"fAskDest", &present), 1u);
    EXPECT_TRUE(present);
    DWORD type = 0;
    EXPECT_TRUE(ReadValue(InstallKey, L"\\kCABFILE.cab", &type).empty()) << "the Install value was left behind";
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

// An installer that is there but cannot be started: the run's message for a
// failed start, nothing handed on, "fAskDest" and the Install value as before.
TEST_F(SetupDestination, InstallerThatCannotStart)
{
    struct Row {
        const char *name;
        Bytes file;
        bool folder;
    } rows[] = {
        {"a text file", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm', '\r', '\n'}, false},
        {"an empty file", {}, false},
        {"a damaged program", {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0}, false},
        {"a folder", {}, true},
    };
    std::wstring installer = DeviceRoot() + L"windows\\wceload.exe";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        velkor::PackageRecipe recipe = ToolRecipe(0, 0);
        recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
        recipe.components.push_back({u"Files", Fixture(L"two.cab"), false, true});
        std::wstring exe = WriteSetup(recipe);
        ASSERT_TRUE(DeleteFileW(installer.c_str()));
        if (row.folder)
            ASSERT_TRUE(CreateDirectoryW(installer.c_str(), nullptr));
        else
            ASSERT_TRUE(WriteBytes(installer, row.file));
        ASSERT_TRUE(ResetInstallerValues(true, 1));

        ExpectEnding(exe, {row.name, L"The device's installer could not be started.", Title, Icon::Error});
        EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
        bool present = false;
        EXPECT_EQ(ReadDword(InstallerKey, L"fAskDest", &present), 1u);
        EXPECT_TRUE(present);
        DWORD type = 0;
        EXPECT_TRUE(ReadValue(InstallKey, L"\\kCABFILE.cab", &type).empty()) << "the Install value was left";
        EXPECT_FALSE(Exists(DeviceRoot() + L"Program Files\\Tool\\readme.txt"));
        EXPECT_FALSE(Exists(DeviceRoot() + L"Program Files\\kCABFILE\\a.txt")) << "the second component went on";
        RemoveDirectoryW(installer.c_str());
        DeleteFileW(installer.c_str());
    }
    SetUp();
}

// An installer that crashes half-way was started: its outcome is not
// examined, so the run goes on with the next component and ends without a
// message, but the file is deleted and "fAskDest" is put back each time.
TEST_F(SetupDestination, InstallerThatCrashes)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 0);
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    recipe.components.push_back({u"Files", Fixture(L"two.cab"), false, true});
    std::wstring exe = WriteSetup(recipe);
    ASSERT_TRUE(CopyFileW((BinDir() + L"crashing_installer.exe").c_str(),
                          (DeviceRoot() + L"windows\\wceload.exe").c_str(), FALSE));
    ASSERT_TRUE(ResetInstallerValues(true, 1));

    Wizard w(60000);
    w.Launch(exe);
    EXPECT_EQ(w.WaitExit(), 0u);
    Bytes log = ReadBytes(DeviceRoot() + L"windows\\crash.log");
    EXPECT_EQ(std::string(log.begin(), log.end()),
              "started without a path cab=yes\r\nstarted with a path cab=yes\r\n");
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
    bool present = false;
    EXPECT_EQ(ReadDword(InstallerKey, L"fAskDest", &present), 1u);
    EXPECT_TRUE(InstallerLog().empty());
}

TEST_F(SetupDestination, RootFolderIsAFourByteValue)
{
    velkor::PackageRecipe recipe = ToolRecipe(0, 0, u"\\");
    recipe.components.push_back({u"Readme", Fixture(L"one.cab"), true, true});
    std::wstring exe = WriteSetup(recipe);
    ASSERT_TRUE(ResetInstallerValues(true, 1));
    Wizard w;
    w.Launch(exe);
    EXPECT_EQ(w.WaitExit(), 0u);
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("dest"), "\\");
    EXPECT_TRUE(ReadBytes(DeviceRoot() + L"readme.txt") == Fixture(L"files\\one\\readme.txt"));
    DWORD type = 0;
    Bytes value = ReadValue(InstallKey, L"\\kCABFILE.cab", &type);
    EXPECT_EQ(value.size(), 4u);
    bool present = false;
    EXPECT_EQ(ReadDword(InstallerKey, L"fAskDest", &present), 1u);
}

}  // namespace
