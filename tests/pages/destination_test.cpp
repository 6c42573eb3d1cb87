// destination_test.cpp -- the destination page inside the test process: the
// space line at the unit boundaries, the field and what OK and Back store,
// the refusals, and running out of memory.
#include "harness.h"

#include <gtest/gtest.h>

using namespace pages;

namespace {

std::wstring Field(HWND page)
{
    wchar_t buffer[600] = {};
    GetDlgItemTextW(page, IDC_DESTINATION, buffer, 600);
    return buffer;
}

std::wstring SpaceLine(HWND page)
{
    wchar_t buffer[600] = {};
    GetDlgItemTextW(page, IDC_SPACE_LINE, buffer, 600);
    return buffer;
}

class DestinationPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        LoadTestPackage(Sample(PageAll, {u"Main"}), {100});
        UseStandInVolume(true);
        SetRequiredSpace(0);
        StandInFree = 0xFFFFFFFFu;
    }
    void TearDown() override
    {
        VHeapFailAt(0);
        UseStandInVolume(false);
        DestroyPages();
    }
    HWND Open()
    {
        HWND page = MakePage(IDD_DESTINATION, DestinationPageProcedure);
        EXPECT_TRUE(Requests().empty()) << "the page asked the frame for something while opening";
        return page;
    }
};

using SpaceLineTest = DestinationPageTest;
using DestinationFieldTest = DestinationPageTest;

}  // namespace

TEST_F(SpaceLineTest, UnitsAroundEveryBoundary)
{
    HWND page = Open();
    const struct {
        DWORD bytes;
        const wchar_t *text;
    } rows[] = {
        {0, L"0 bytes"},
        {1, L"1 bytes"},
        {1023, L"1023 bytes"},
        {1024, L"1 Kb"},
        {1025, L"1 Kb"},
        {1536, L"1 Kb"},
        {2047, L"1 Kb"},
        {2048, L"2 Kb"},
        {1048575, L"1023 Kb"},
        {1048576, L"1 Mb"},
        {5242880, L"5 Mb"},
        {1073741823, L"1023 Mb"},
        {1073741824, L"1 Gb"},
        {3221225472u, L"3 Gb"},
        {0xFFFFFFFFu, L"3 Gb"},   // the ceiling of a saturated sum never wraps to a small figure
    };
    for (const auto &row : rows) {
        SetRequiredSpace(row.bytes);
        ASSERT_TRUE(NotifyPageShown(page));
        EXPECT_EQ(SpaceLine(page), std::wstring(L"Space required: ") + row.text) << row.bytes << " bytes";
    }
}

TEST_F(SpaceLineTest, EveryPlaceholderIsReplacedWhateverItsCase)
{
    const struct {
        const char16_t *pattern;
        const wchar_t *shown;
    } rows[] = {
        {u"<space>", L"1 Kb"},
        {u"Need <SPACE>, that is <Space>.", L"Need 1 Kb, that is 1 Kb."},
        {u"No figure here", L"No figure here"},
        {u"", L""},
        {u"<space", L"<space"},
    };
    for (const auto &row : rows) {
        velkor::PackageRecipe recipe = Sample(PageAll, {u"Main"});
        recipe.texts[TextSpaceRequired] = row.pattern;
        LoadTestPackage(recipe, {1024});
        HWND page = Open();
        SetRequiredSpace(1024);
        ASSERT_TRUE(NotifyPageShown(page));
        EXPECT_EQ(SpaceLine(page), row.shown);
        DestroyPages();
    }
}

TEST_F(SpaceLineTest, FollowsTheSelectedComponents)
{
    // The installation's own sum: only selected components count, and a sum
    // past 4 GiB stays at the ceiling instead of wrapping.
    LoadTestPackage(Sample(PageAll, {u"A", u"B", u"C"}, {true, false, true}), {1024, 5242880, 3221225472u});
    HWND page = Open();
    ASSERT_TRUE(NotifyPageShown(page));
    EXPECT_EQ(SpaceLine(page), L"Space required: 3 Gb");
    Package.Components[0].Selected = 0;
    Package.Components[2].Selected = 0;
    Package.Components[1].Selected = 1;
    ASSERT_TRUE(NotifyPageShown(page));
    EXPECT_EQ(SpaceLine(page), L"Space required: 5 Mb");
    Package.Components[1].Selected = 0;
    ASSERT_TRUE(NotifyPageShown(page));
    EXPECT_EQ(SpaceLine(page), L"Space required: 0 bytes");
}

TEST_F(SpaceLineTest, OutOfMemoryLeavesNothingBehind)
{
    HWND page = Open();
    SetRequiredSpace(5242880);
    ASSERT_TRUE(NotifyPageShown(page));
    std::wstring before = SpaceLine(page);
    for (unsigned long n = 1; n <= 8; ++n) {
        long live = VHeapLiveBlocks();
        VHeapFailAt(n);
        BOOL ok = NotifyPageShown(page);
        VHeapFailAt(0);
        EXPECT_EQ(VHeapLiveBlocks(), live) << "allocation " << n;
        if (ok)
            break;
        EXPECT_EQ(SpaceLine(page), before) << "a failed refresh changed the line";
    }
}

TEST_F(DestinationFieldTest, StartsWithThePackageDestination)
{
    const struct {
        uint8_t flags;
        const wchar_t *ok;
        bool backEnabled;
    } rows[] = {
        {PageAll, L"&Next >", true},
        {PageWelcome | PageDestination, L"&Install", true},
        {PageDestination, L"&Install", false},
    };
    for (const auto &row : rows) {
        LoadTestPackage(Sample(row.flags, {u"Main"}), {100});
        HWND page = Open();
        EXPECT_EQ(Field(page), L"\\Program Files\\Tool");
        EXPECT_EQ(FolderTree, GetDlgItem(page, IDC_FOLDER_TREE));
        wchar_t caption[64] = {};
        GetDlgItemTextW(page, IDOK, caption, 64);
        EXPECT_STREQ(caption, row.ok) << int(row.flags);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, IDC_BACK)) != 0, row.backEnabled) << int(row.flags);
        DestroyPages();
    }
}

TEST_F(DestinationFieldTest, ReadKeepsAtMost259Characters)
{
    HWND page = Open();
    const size_t lengths[] = {0, 1, 258, 259, 260, 400};
    for (size_t n : lengths) {
        std::wstring typed(n, L'x');
        if (n)
            typed[0] = L'\\';
        SetDlgItemTextW(page, IDC_DESTINATION, typed.c_str());
        ASSERT_TRUE(ReadDestinationField(page));
        EXPECT_EQ(Str(Package.DestinationPath), typed.substr(0, 259)) << n << " characters typed";
        // The stored block is exactly as long as the text it holds.
        EXPECT_GE(HeapSize(GetProcessHeap(), 0, Package.DestinationPath), (std::min<size_t>(n, 259) + 1) * 2);
    }
}

TEST_F(DestinationFieldTest, ReadWithoutMemoryReportsIt)
{
    HWND page = Open();
    SetDlgItemTextW(page, IDC_DESTINATION, L"\\Data");
    VHeapFailAt(1);
    EXPECT_FALSE(ReadDestinationField(page));
    VHeapFailAt(0);
    EXPECT_EQ(Package.DestinationPath, nullptr);
}

TEST_F(DestinationFieldTest, OkStoresTheTypedPathAndGoesOn)
{
    HWND page = Open();
    SetDlgItemTextW(page, IDC_DESTINATION, L"\\My Apps\\Tool");
    auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
    EXPECT_FALSE(box) << "unexpected message: " << box->text.size();
    EXPECT_EQ(Str(Package.DestinationPath), L"\\My Apps\\Tool");
    EXPECT_EQ(Requests(), std::vector<int>{CmdNext});
}

TEST_F(DestinationFieldTest, BackStoresTheTypedPathAndCancelReadsNothing)
{
    HWND page = Open();
    SetDlgItemTextW(page, IDC_DESTINATION, L"\\Elsewhere");
    Tap(page, IDCANCEL);
    EXPECT_EQ(Str(Package.DestinationPath), L"\\Program Files\\Tool");
    Tap(page, IDC_BACK);
    EXPECT_EQ(Str(Package.DestinationPath), L"\\Elsewhere");
    EXPECT_EQ(Field(page), L"\\Elsewhere");
    EXPECT_EQ(Requests(), (std::vector<int>{CmdCancel, CmdBack}));
}

TEST_F(DestinationFieldTest, BlankFieldIsRefusedOnOkWithAReason)
{
    HWND page = Open();
    for (const wchar_t *blank : {L"", L"   ", L"\t \x3000\xA0"}) {
        SetDlgItemTextW(page, IDC_DESTINATION, blank);
        auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
        ASSERT_TRUE(box) << "no message for a blank field";
        EXPECT_EQ(box->text, L"Choose Destination Folder");
        EXPECT_EQ(box->caption, L"Tool Setup");
        EXPECT_EQ(box->icon, UINT(MB_ICONINFORMATION));
        EXPECT_EQ(box->owner, Frame());   // a child's box belongs to its top-level window
        EXPECT_TRUE(Requests().empty());
        EXPECT_EQ(Str(Package.DestinationPath), L"\\Program Files\\Tool") << "a refused OK changed the destination";
        // The field gets the keyboard back (seen only while the frame is
        // active: other programs share the bench's screen).
        if (GetForegroundWindow() == Frame())
            EXPECT_EQ(GetFocus(), GetDlgItem(page, IDC_DESTINATION));
    }
}

TEST_F(DestinationFieldTest, BlankFieldOnBackKeepsThePreviousDestination)
{
    HWND page = Open();
    SetDlgItemTextW(page, IDC_DESTINATION, L"  ");
    auto box = WithMessageBoxes([&] { Tap(page, IDC_BACK); });
    EXPECT_FALSE(box);
    EXPECT_EQ(Requests(), std::vector<int>{CmdBack});
    EXPECT_EQ(Str(Package.DestinationPath), L"\\Program Files\\Tool");
    EXPECT_EQ(Field(page), L"\\Program Files\\Tool");
}

TEST_F(DestinationFieldTest, TooLittleRoomIsRefused)
{
    HWND page = Open();
    const struct {
        DWORD required, free;
        bool goesOn;
    } rows[] = {
        {1, 0, false},
        {1000, 999, false},
        {1000, 1000, true},
        {0, 0, true},
        {3221225472u, 0xFFFFFFFFu, true},       // 3 GiB needed, 4 GiB or more free (held at the ceiling)
        {0xFFFFFFFFu, 0xFFFFFFFFu, true},
        {0xFFFFFFFFu, 0xFFFFFFFEu, false},
        {0x80000000u, 0x7FFFFFFFu, false},      // a signed comparison would let this through
    };
    for (const auto &row : rows) {
        ClearRequests();
        SetRequiredSpace(row.required);
        StandInFree = row.free;
        SetDlgItemTextW(page, IDC_DESTINATION, L"\\Program Files\\Tool");
        auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
        if (row.goesOn) {
            EXPECT_FALSE(box) << row.required << " of " << row.free;
            EXPECT_EQ(Requests(), std::vector<int>{CmdNext}) << row.required << " of " << row.free;
        } else {
            ASSERT_TRUE(box) << row.required << " of " << row.free;
            EXPECT_EQ(box->text, L"There is not enough free space in the destination folder.");
            EXPECT_EQ(box->caption, L"Tool Setup");
            EXPECT_EQ(box->icon, UINT(MB_ICONHAND));
            EXPECT_TRUE(Requests().empty());
        }
    }
}

TEST_F(DestinationFieldTest, BackDoesNotCheckTheSpace)
{
    HWND page = Open();
    SetRequiredSpace(10);
    StandInFree = 0;
    auto box = WithMessageBoxes([&] { Tap(page, IDC_BACK); });
    EXPECT_FALSE(box);
    EXPECT_EQ(Requests(), std::vector<int>{CmdBack});
}

TEST_F(DestinationFieldTest, OutOfMemoryOnOkOrBackAborts)
{
    HWND page = Open();
    SetDlgItemTextW(page, IDC_DESTINATION, L"\\Data");
    VHeapFailAt(1);
    Tap(page, IDOK);
    VHeapFailAt(1);
    Tap(page, IDC_BACK);
    VHeapFailAt(0);
    EXPECT_EQ(Requests(), (std::vector<int>{CmdAbort, CmdAbort}));
}
