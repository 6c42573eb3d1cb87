// volume_setup_test.cpp -- setup.exe against volumes of a known size.  The
// bench mounts a file system of its own for these suites (tests/wine/volume.sh)
// and shows it as the device folder "\Storage Card" and as a drive
// (VELKOR_VOLUME_ROOT) that a program can take as its device root.
// SmallVolume runs on 1 MiB, LargeVolume on 5 GiB: more than 32 bits hold.
#include "robot.h"
#include "packages.h"
#include "testpackages.h"
#include "cabwrite.h"
#include "testsupport.h"
#include "wizard_support.h"

#include "format.h"

#include <gtest/gtest.h>

#include <functional>

using namespace robot;
using wizardtest::ExpectBox;
using wizardtest::SpaceFigure;
using wizardtest::WaitUntil;
using namespace testsupport;
using installtest::Bytes;

namespace {

const std::wstring Title = L"Tool Setup";
const std::wstring NoSpace = L"There is not enough free space in the destination folder.";
const std::wstring CannotInstall = L"Setup cannot create a temporary file. Please free some storage memory and try again.";
const uint32_t MiB = 1u << 20;
const uint64_t GiB = 1ull << 30;

std::wstring VolumeRoot()
{
    std::wstring root = Env(L"VELKOR_VOLUME_ROOT");
    if (root.empty())
        throw Failure("VELKOR_VOLUME_ROOT is not set: run this suite through tests/wine/volume.sh");
    return root;
}

uint64_t VolumeFree()
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExW(VolumeRoot().c_str(), &available, &total, &free))
        throw Failure("the volume's free space cannot be read");
    return free.QuadPart;
}

bool InstallValuePresent()
{
    DWORD size = 0;
    return RegGetValueW(HKEY_LOCAL_MACHINE, InstallKey, L"\\kCABFILE.cab", RRF_RT_ANY, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
}

// Components that state these sizes and carry no data: for the space
// check, which refuses them before anything is unpacked.
std::wstring WriteSized(velkor::PackageRecipe recipe, const std::vector<uint32_t> &sizes, const std::wstring &file)
{
    std::vector<Bytes> payloads;
    for (size_t i = 0; i < sizes.size(); ++i) {
        recipe.components.push_back({u"Part " + std::u16string(1, char16_t(u'A' + i)), {}, true, true});
        payloads.push_back(installtest::Payload({}));
    }
    return WriteDeviceFile(file, installtest::Assemble(recipe, payloads, sizes, SetupImage()).bytes);
}

// A real component of 1.5 MiB: more than the small volume holds.
Bytes LargeCab() { return installtest::MakeCab({{"data.bin", installtest::Pattern(3 * MiB / 2, 11)}}); }

void WaitBoxGone(Wizard &w) { WaitUntil(w, "the message box to close", [&] { return !w.HasMessageBox(); }); }

struct VolumeCase : ::testing::Test {
    void SetUp() override
    {
        std::wstring root = DeviceRoot();
        DeleteFileW((root + L"windows\\wceload.log").c_str());
        RemoveTree(root + L"Program Files");
        CreateDirectoryW((root + L"Program Files").c_str(), nullptr);
        DeleteFileW((root + L"kCABFILE.cab").c_str());
        DeleteFileW((VolumeRoot() + L"kCABFILE.cab").c_str());
    }
};
struct SmallVolume : VolumeCase {};
struct LargeVolume : VolumeCase {};

// ------------------------------------------------------------ 1 MiB --

TEST_F(SmallVolume, IsTheSizeTheSuiteExpects)
{
    uint64_t free = VolumeFree();
    EXPECT_GT(free, 900u * 1024u);
    EXPECT_LE(free, uint64_t(MiB));
    EXPECT_TRUE(Exists(DeviceRoot() + L"Storage Card")) << "the volume is not the device folder \\Storage Card";
}

// OK on the destination page is refused while the folder is on the full
// card; the page stays, and a folder elsewhere then installs.
TEST_F(SmallVolume, DestinationPageRefusesThenAnotherFolderGoesOn)
{
    velkor::PackageRecipe recipe = ToolRecipe(PageDestination | PageReady, 0, u"\\Storage Card\\Tool");
    recipe.components.push_back({u"Data", LargeCab(), true, true});
    Wizard w;
    w.Launch(WritePackageExe(recipe, L"card.exe"));
    HWND page = w.WaitPage(IDD_DESTINATION);
    EXPECT_EQ(Narrow(w.Text(IDC_DESTINATION)), "\\Storage Card\\Tool");
    EXPECT_EQ(Narrow(SpaceFigure(w)), "1 Mb");
    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    ExpectBox(box, NoSpace, Title);
    EXPECT_EQ(box.owner, GetAncestor(page, GA_ROOT));
    w.Answer(box, IDOK);
    WaitBoxGone(w);
    EXPECT_EQ(w.PageId(), IDD_DESTINATION) << "the page did not stay";

    w.Type(IDC_DESTINATION, L"\\Program Files\\Tool");
    w.Click(IDOK);
    EXPECT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_READY);
    w.Click(IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("dest"), "\\Program Files\\Tool");
    EXPECT_EQ(log[0].at("exit"), "0");
    EXPECT_EQ(ReadBytes(DeviceRoot() + L"Program Files\\Tool\\data.bin").size(), size_t(3 * MiB / 2));
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

// Without pages the refusal comes at start: the message, then the empty
// full-screen frame, which stays until it is closed.
TEST_F(SmallVolume, PackageWithoutPagesIsRefusedAndWaitsForClose)
{
    Wizard w;
    w.Launch(WriteSized(ToolRecipe(0, 1, u"\\Storage Card\\Tool"), {2 * MiB}, L"nopages.exe"));
    MessageBoxInfo box = w.WaitMessageBox();
    ExpectBox(box, NoSpace, Title);
    HWND frame = w.Frame();
    ASSERT_NE(frame, nullptr) << "the message came before the frame";
    EXPECT_EQ(box.owner, frame);
    w.Answer(box, IDOK);
    WaitBoxGone(w);
    w.Settle(frame);   // fails when the frame goes away
    ASSERT_TRUE(w.Running()) << "the program ended without being closed";
    EXPECT_EQ(w.Frame(), frame);
    EXPECT_TRUE(IsWindowVisible(frame));
    EXPECT_EQ(w.PageId(), 0) << "a page shows in the frame";
    RECT r, shown;
    GetWindowRect(frame, &r);
    PostMessageW(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.WaitExit(), 0u);
    // Full-screen: as large as the frame of a wizard that shows its pages.
    Wizard paged;
    paged.Launch(WriteSized(ToolRecipe(PageWelcome, 1, u"\\Storage Card\\Tool"), {2 * MiB}, L"paged.exe"));
    paged.WaitPage(IDD_WELCOME);
    GetWindowRect(paged.Frame(), &shown);
    paged.Click(IDCANCEL);
    EXPECT_EQ(paged.WaitExit(), 0u);
    EXPECT_EQ(r.right - r.left, shown.right - shown.left) << "the frame is not full-screen";
    EXPECT_EQ(r.bottom - r.top, shown.bottom - shown.top) << "the frame is not full-screen";
    EXPECT_TRUE(InstallerLog().empty());
    EXPECT_FALSE(Exists(DeviceRoot() + L"kCABFILE.cab"));
}

// Next before a destination page that "let the device choose" passes over
// starts the installation; refused, it brings that page up after all, with
// its space line, and from there Back and another folder work.
TEST_F(SmallVolume, SkippedDestinationPageShowsAfterARefusal)
{
    velkor::PackageRecipe recipe = ToolRecipe(PageWelcome | PageDestination, 1, u"\\Storage Card\\Tool");
    recipe.components.push_back({u"Data", LargeCab(), true, true});
    Wizard w;
    w.Launch(WritePackageExe(recipe, L"skipped.exe"));
    w.WaitPage(IDD_WELCOME);
    EXPECT_EQ(Narrow(w.Text(IDOK)), "&Next >");
    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    ExpectBox(box, NoSpace, Title);
    EXPECT_EQ(w.PageId(), IDD_DESTINATION) << "the destination page is not up behind the message";
    w.Answer(box, IDOK);
    WaitBoxGone(w);
    EXPECT_EQ(w.PageId(), IDD_DESTINATION);
    EXPECT_EQ(Narrow(SpaceFigure(w)), "1 Mb");
    EXPECT_EQ(Narrow(w.Text(IDOK)), "&Install");
    EXPECT_TRUE(w.Enabled(IDC_BACK));

    w.Click(IDC_BACK);
    EXPECT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_WELCOME);
    w.Click(IDOK);   // the page is passed over again: refused again
    ExpectBox(box = w.WaitMessageBox(), NoSpace, Title);
    w.Answer(box, IDOK);
    WaitBoxGone(w);
    ASSERT_EQ(w.PageId(), IDD_DESTINATION);
    w.Type(IDC_DESTINATION, L"\\Program Files\\Tool");
    w.Click(IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
    std::vector<LogLine> log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("cmdline"), "\\kCABFILE.cab") << "the device chooses the folder";
    EXPECT_EQ(log[0].at("exit"), "0");
}

// The device root itself is the small volume and the destination has room:
// the temporary CAB fills the volume half-way.  The run reports that it
// cannot write it, nothing stays on the volume and the registry is as it was.
TEST_F(SmallVolume, DiskFillsWhileTheCabIsWritten)
{
    std::wstring volume = VolumeRoot();
    std::u16string destination;
    for (wchar_t c : DeviceRoot() + L"Program Files\\Tool")
        destination += char16_t(c);
    velkor::PackageRecipe recipe = ToolRecipe(0, 0, destination);
    Bytes data = installtest::Pattern(2 * MiB, 5);
    recipe.components.push_back({u"Data", {}, true, true});
    std::wstring exe = WriteDeviceFile(
        L"fill.exe",
        installtest::Assemble(recipe, {installtest::StoredPayload(data)}, {uint32_t(data.size())}, SetupImage()).bytes);
    ASSERT_TRUE(ResetInstallerValues(true, 5));

    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(volume.c_str()));
    Wizard w;
    w.Launch(exe);
    SetCurrentDirectoryW(previous);
    MessageBoxInfo box = w.WaitMessageBox();
    ExpectBox(box, CannotInstall, Title);
    w.Answer(box, IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);

    EXPECT_FALSE(Exists(volume + L"kCABFILE.cab")) << "the temporary file was left on the full volume";
    EXPECT_GT(VolumeFree(), 900u * 1024u) << "the volume was not given back";
    EXPECT_EQ(AskDestText(), "5");
    EXPECT_FALSE(InstallValuePresent());
    EXPECT_TRUE(InstallerLog().empty());
    EXPECT_TRUE(InstallerLog(volume).empty());
}

// More than 4 GiB required is held at the 32-bit ceiling, never wrapped
// round to a figure the card would take.
TEST_F(SmallVolume, MoreThan4GiBRequiredIsRefused)
{
    const struct {
        const char *name;
        std::vector<uint32_t> sizes;
    } rows[] = {
        {"4 GiB + 512 KiB in two parts", {0xFFFFFFFFu, 512u * 1024u + 1u}},
        {"three parts of 2 GiB", {0x80000000u, 0x80000000u, 0x80000000u}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Wizard w;
        w.Launch(WriteSized(ToolRecipe(PageDestination, 0, u"\\Storage Card"), row.sizes, L"over4g.exe"));
        w.WaitPage(IDD_DESTINATION);
        EXPECT_EQ(Narrow(SpaceFigure(w)), "3 Gb");
        w.Click(IDOK);
        MessageBoxInfo box = w.WaitMessageBox();
        ExpectBox(box, NoSpace, Title);
        w.Answer(box, IDOK);
        WaitBoxGone(w);
        EXPECT_EQ(w.PageId(), IDD_DESTINATION);
        w.Click(IDCANCEL);
        EXPECT_EQ(w.WaitExit(), 0u);
    }
    EXPECT_TRUE(InstallerLog().empty());
}

// ------------------------------------------------------------- 5 GiB --

TEST_F(LargeVolume, FreeSpaceOver4GiBDoesNotWrap)
{
    ASSERT_GE(VolumeFree(), 4 * GiB + MiB) << "the volume is smaller than the suite needs";
    // Free space is held at the ceiling, not wrapped to 1 GiB: 3.5 GiB
    // passes, and so do 6 GiB, held at the ceiling as well.
    const struct {
        const char *name;
        std::vector<uint32_t> sizes;
        const char *figure;
    } rows[] = {
        {"3.5 GiB", {0xE0000000u}, "3 Gb"},
        {"two parts of 3 GiB", {0xC0000000u, 0xC0000000u}, "3 Gb"},
        {"1.5 GiB", {0x60000000u}, "1 Gb"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Wizard w;
        w.Launch(WriteSized(ToolRecipe(PageDestination | PageReady, 0, u"\\Storage Card\\Tool"), row.sizes, L"huge.exe"));
        w.WaitPage(IDD_DESTINATION);
        EXPECT_EQ(Narrow(SpaceFigure(w)), row.figure);
        w.Click(IDOK);
        int next = w.WaitPageChange(IDD_DESTINATION);
        EXPECT_EQ(next, IDD_READY) << (next == 0 ? Narrow(w.WaitMessageBox().text) : PageName(next));
        w.Click(IDCANCEL);
        EXPECT_EQ(w.WaitExit(), 0u);
    }
}

// Two components of 3 GiB: the sum is held at the ceiling whichever are
// chosen, and the space line follows the choice.
TEST_F(LargeVolume, SpaceLineFollowsTheChoiceAbove4GiB)
{
    ASSERT_GE(VolumeFree(), 4 * GiB + MiB);
    Wizard w;
    w.Launch(WriteSized(ToolRecipe(PageComponents | PageDestination | PageReady, 0, u"\\Storage Card"),
                        {3221225472u, 3221225472u}, L"halves.exe"));
    w.WaitPage(IDD_COMPONENTS);
    w.Click(IDOK);
    ASSERT_EQ(w.WaitPageChange(IDD_COMPONENTS), IDD_DESTINATION);
    EXPECT_EQ(Narrow(SpaceFigure(w)), "3 Gb");
    w.Click(IDOK);
    ASSERT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_READY);
    w.Click(IDC_BACK);
    ASSERT_EQ(w.WaitPageChange(IDD_READY), IDD_DESTINATION);
    w.Click(IDC_BACK);
    ASSERT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_COMPONENTS);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Part B", false);
    w.Click(IDOK);
    ASSERT_EQ(w.WaitPageChange(IDD_COMPONENTS), IDD_DESTINATION);
    EXPECT_EQ(Narrow(SpaceFigure(w)), "3 Gb");
    w.Click(IDOK);
    ASSERT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_READY);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

}  // namespace
