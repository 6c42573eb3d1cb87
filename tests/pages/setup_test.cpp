// setup_test.cpp -- the choice pages end to end: the real setup.exe under
// Wine, driven by the robot as a user would.  What each page shows, what
// each tap does, what survives Back and Next, and what the pages hand on
// (seen through the pages that follow).
#include "testsupport.h"
#include "pagedriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace robot;
using namespace pagedriver;

namespace {

// Page bits of the package (the robot's Page... names are template ids).
enum : int { FWelcome = 1, FAgreement = 2, FComponents = 4, FLocation = 8, FDestination = 16, FReady = 32 };
const int TextAgreementBodyIndex = 8;

const wchar_t NextText[] = L"&Next >";
const wchar_t InstallText[] = L"&Install";
const wchar_t Unicode[] = L"\u00dcn\u00efc\u00f8d\u00e9 \u2713 \u65e5\u672c";   // "Ünïcødé ✓ 日本"
const wchar_t UnicodeChild[] = L"\u5b50";                                     // "子"

// Clicks and waits until the page `to` is on screen.
void Go(Wizard &w, int button, int to)
{
    int from = w.PageId();
    w.Click(button);
    int id = w.WaitPageChange(from);
    if (id != to)
        throw Failure("expected " + PageName(to) + " after pressing " + std::to_string(button) + " on " +
                      PageName(from) + ", got " + (id == 0 ? std::string("a message box") : PageName(id)) + "; " +
                      w.Describe());
}

// After the last page: the installation runs and the program ends quietly.
void ExpectQuietEnd(Wizard &w)
{
    DWORD start = GetTickCount();
    while (w.Running()) {
        if (w.FindMessageBox())
            throw Failure("a message box showed: " + w.Describe());
        if (GetTickCount() - start > Limit(w.TimeLimit()))
            throw Timeout("the program did not end: " + w.Describe());
        Sleep(15);
    }
    EXPECT_EQ(w.WaitExit(), 0u);
}

void WaitEnabled(Wizard &w, int id, bool enabled)
{
    WaitFor(w, "control " + std::to_string(id) + (enabled ? " enabled" : " disabled"),
            [&] { return w.Enabled(id) == enabled; });
}

std::vector<TreeItem> Items(Wizard &w, int id) { return w.TreeItems(id); }

const TreeItem *ItemAt(const std::vector<TreeItem> &items, const std::vector<std::wstring> &paths,
                       const std::wstring &path)
{
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == path)
            return &items[i];
    return nullptr;
}

std::wstring SelectedPath(Wizard &w, int id)
{
    std::vector<TreeItem> items = w.TreeItems(id);
    std::vector<std::wstring> paths = TreePaths(w, id);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].selected)
            return paths[i];
    return L"(none)";
}

}  // namespace

// ----------------------------------------------------------- agreement --

TEST(AgreementSetup, AcceptEnablesOkAndTheChoiceSurvivesBackAndNext)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(FWelcome | FAgreement | FReady, 1), L"agree.exe"));
    w.WaitPage(PageWelcome);
    Go(w, ButtonOk, PageAgreement);

    EXPECT_EQ(w.Text(1004), L"Please read the following license agreement.");
    EXPECT_EQ(w.Text(1005), L"I &accept the agreement");
    EXPECT_EQ(w.Text(1006), L"I &do not accept the agreement");
    EXPECT_EQ(w.Text(ButtonOk), NextText);
    EXPECT_TRUE(w.Enabled(ButtonBack));
    EXPECT_TRUE(w.Checked(1006));
    EXPECT_FALSE(w.Checked(1005));
    EXPECT_FALSE(w.Enabled(ButtonOk));
    EXPECT_THROW(w.Click(ButtonOk), Failure) << "OK could be pressed before accepting";

    w.Click(1005);
    WaitEnabled(w, ButtonOk, true);
    EXPECT_TRUE(w.Checked(1005));
    w.Click(1006);
    WaitEnabled(w, ButtonOk, false);
    EXPECT_TRUE(w.Checked(1006));
    w.Click(1005);
    WaitEnabled(w, ButtonOk, true);

    Go(w, ButtonOk, PageReady);
    Go(w, ButtonBack, PageAgreement);
    EXPECT_TRUE(w.Checked(1005));
    EXPECT_FALSE(w.Checked(1006));
    EXPECT_TRUE(w.Enabled(ButtonOk));
    Go(w, ButtonBack, PageWelcome);
    Go(w, ButtonOk, PageAgreement);
    EXPECT_TRUE(w.Enabled(ButtonOk));

    // Declining again and cancelling ends at once, without a question.
    w.Click(1006);
    WaitEnabled(w, ButtonOk, false);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(AgreementSetup, TextCanBeScrolledButNotEdited)
{
    velkor::PackageRecipe recipe = Recipe(FAgreement | FReady, 1);
    std::u16string body;
    for (int i = 1; i <= 60; ++i)
        body += u"Clause " + std::u16string(1, char16_t(u'0' + i / 10)) + char16_t(u'0' + i % 10) +
                u": the licensee shall read this line.\r\n";
    recipe.texts[TextAgreementBodyIndex] = body;
    Wizard w;
    w.Launch(WritePackageExe(recipe, L"scroll.exe"));
    w.WaitPage(PageAgreement);
    EXPECT_FALSE(w.Enabled(ButtonBack));   // the first page

    std::wstring before = w.Text(1004);
    EXPECT_EQ(before.size(), body.size());
    EXPECT_TRUE(GetWindowLongW(w.Control(1004), GWL_STYLE) & ES_READONLY);
    w.ClickAt(1004, 20, 10);
    PressKey(w, 1004, 'X', L'x');
    PressKey(w, 1004, VK_DELETE);
    PressKey(w, 1004, VK_BACK, L'\b');
    Sleep(150);
    EXPECT_EQ(w.Text(1004), before) << "the agreement text could be edited";

    EXPECT_GE(Ask(w, 1004, EM_GETLINECOUNT), 60);
    EXPECT_EQ(Ask(w, 1004, EM_GETFIRSTVISIBLELINE), 0);
    Ask(w, 1004, WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_GT(Ask(w, 1004, EM_GETFIRSTVISIBLELINE), 0);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(AgreementSetup, AsTheLastPageOkInstallsOnceAccepted)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(FWelcome | FAgreement, 1), L"agreelast.exe"));
    w.WaitPage(PageWelcome);
    EXPECT_EQ(w.Text(ButtonOk), NextText);
    Go(w, ButtonOk, PageAgreement);
    EXPECT_EQ(w.Text(ButtonOk), InstallText);
    EXPECT_FALSE(w.Enabled(ButtonOk));
    w.Click(1005);
    WaitEnabled(w, ButtonOk, true);
    w.Click(ButtonOk);
    ExpectQuietEnd(w);
}

// ---------------------------------------------------------- components --

TEST(ComponentsSetup, RowsSortedTickedAsThePackageSaysAndDrawnFromTheBitmap)
{
    Wizard w;
    w.Launch(WriteSizedPackageExe(Recipe(FWelcome | FComponents | FDestination | FReady, 0,
                                       {u"Zeta tools", u"Help files", u"alpha core", u"Beta"},
                                       {true, false, true, false}),
                                  {1, 2, 4, 8}, L"rows.exe"));
    w.WaitPage(PageWelcome);
    Go(w, ButtonOk, PageComponents);
    std::vector<TreeItem> items = w.TreeItems(1012);
    std::vector<std::wstring> names;
    std::vector<int> states;
    for (const TreeItem &t : items) {
        names.push_back(t.text);
        states.push_back(t.stateImage);
        EXPECT_EQ(t.depth, 0);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha core", L"Beta", L"Help files", L"Zeta tools"}));
    EXPECT_EQ(states, (std::vector<int>{2, 1, 1, 2}));
    EXPECT_EQ(w.Text(ButtonOk), NextText);

    // The boxes on screen are the bitmap's cells: two ticked, two empty.
    // Other tests' windows share the screen: the wizard stays above them
    // while it is looked at, and is looked at again until none covers the
    // tree.
    HWND frame = GetAncestor(w.Control(1012), GA_ROOT);
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    int ticked = 0, empty = 0;
    for (int attempt = 0; attempt < 100 && (ticked != 2 || empty != 2); ++attempt) {
        SetWindowPos(frame, HWND_TOPMOST, 0, 0, 0, 0, still);
        w.Repaint();
        Sleep(50);
        Capture shown = CaptureControl(w, 1012);
        ticked = CountStateImages(shown, 2);
        empty = CountStateImages(shown, 1);
    }
    SetWindowPos(frame, HWND_NOTOPMOST, 0, 0, 0, 0, still);
    EXPECT_EQ(ticked, 2);
    EXPECT_EQ(empty, 2);

    // OK hands the ticks on: the destination page counts exactly them.
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(SpaceFigure(w), L"5 bytes");
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(ComponentsSetup, TapAndSpaceBarToggleAndAnEmptyChoiceIsRefused)
{
    Wizard w;
    w.Launch(WriteSizedPackageExe(Recipe(FComponents | FDestination, 0, {u"One", u"Two", u"Three"}), {100, 20, 3},
                                  L"toggle.exe"));
    w.WaitPage(PageComponents);
    for (const wchar_t *name : {L"One", L"Two", L"Three"})
        w.SetTreeCheck(1012, name, false);

    w.Click(ButtonOk);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"You need to select at least one component to continue.");
    EXPECT_EQ(box.caption, L"Tool Setup");
    EXPECT_EQ(box.icon, Icon::Information);
    w.Answer(box, IDOK);
    WaitFor(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), PageComponents);

    // The space bar toggles the tree's current row.
    w.SelectTreeItem(1012, L"Two");
    PressKey(w, 1012, VK_SPACE, L' ');
    WaitFor(w, "\"Two\" to be ticked by the space bar", [&] {
        for (const TreeItem &t : w.TreeItems(1012))
            if (t.text == L"Two")
                return t.stateImage == 2;
        return false;
    });
    w.SetTreeCheck(1012, L"Three", true);
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(SpaceFigure(w), L"23 bytes");

    // Back shows the rows as they were left.
    Go(w, ButtonBack, PageComponents);
    std::vector<int> states;
    for (const TreeItem &t : w.TreeItems(1012))
        states.push_back(t.stateImage);
    EXPECT_EQ(states, (std::vector<int>{1, 2, 2}));   // One, Three, Two
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(ComponentsSetup, SpaceLineAtEveryUnitBoundary)
{
    const struct {
        uint32_t bytes;
        const wchar_t *shown;
    } rows[] = {
        {0, L"0 bytes"},       {1023, L"1023 bytes"}, {1024, L"1 Kb"}, {1536, L"1 Kb"},
        {1048575, L"1023 Kb"}, {1048576, L"1 Mb"},    {5242880, L"5 Mb"}, {3221225472u, L"3 Gb"},
    };
    std::vector<std::u16string> names;
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < std::size(rows); ++i) {
        names.push_back(u"Size " + std::u16string(1, char16_t(u'A' + i)));
        sizes.push_back(rows[i].bytes);
    }
    Wizard w;
    w.Launch(WriteSizedPackageExe(Recipe(FComponents | FDestination | FReady, 0, names,
                                       std::vector<bool>(names.size(), false)),
                                  sizes, L"sizes.exe"));
    w.WaitPage(PageComponents);
    std::wstring previous;
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::wstring name = L"Size " + std::wstring(1, wchar_t(L'A' + i));
        if (!previous.empty())
            w.SetTreeCheck(1012, previous, false);
        w.SetTreeCheck(1012, name, true);
        Go(w, ButtonOk, PageDestination);
        EXPECT_EQ(SpaceFigure(w), rows[i].shown) << rows[i].bytes << " bytes";
        Go(w, ButtonBack, PageComponents);
        previous = name;
    }
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(ComponentsSetup, WithoutComponentsOnlyBackLeads)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(FWelcome | FComponents | FReady, 1), L"nocomp.exe"));
    w.WaitPage(PageWelcome);
    Go(w, ButtonOk, PageComponents);
    EXPECT_TRUE(w.TreeItems(1012).empty());
    w.Click(ButtonOk);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"You need to select at least one component to continue.");
    w.Answer(box, IDOK);
    WaitFor(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), PageComponents);
    Go(w, ButtonBack, PageWelcome);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// ------------------------------------------------------------ location --

TEST(LocationSetup, OkCaptionFollowsTheChoiceAndTheLastPage)
{
    const struct {
        int flags;
        uint8_t udl;
        const wchar_t *withDefault;   // OK with radio 1008 checked
        const wchar_t *withFolder;    // OK with radio 1009 checked
    } rows[] = {
        {FLocation | FReady, 1, NextText, NextText},
        {FLocation, 0, InstallText, InstallText},
        {FLocation | FDestination, 1, InstallText, NextText},
        {FLocation | FDestination, 0, InstallText, NextText},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("flags " + std::to_string(row.flags) + ", default location " + std::to_string(row.udl));
        Wizard w;
        w.Launch(WritePackageExe(Recipe(uint8_t(row.flags), row.udl), L"loc.exe"));
        w.WaitPage(PageLocation);
        EXPECT_EQ(w.Text(1008), L"&Let the device choose");
        EXPECT_EQ(w.Text(1009), L"&Choose a folder");
        EXPECT_EQ(w.Checked(1008), row.udl != 0);
        EXPECT_EQ(w.Checked(1009), row.udl == 0);
        EXPECT_EQ(w.Text(ButtonOk), row.udl ? row.withDefault : row.withFolder);
        w.Click(1009);
        WaitFor(w, "the folder choice", [&] { return w.Checked(1009); });
        EXPECT_EQ(w.Text(ButtonOk), row.withFolder);
        w.Click(1008);
        WaitFor(w, "the default choice", [&] { return w.Checked(1008); });
        EXPECT_EQ(w.Text(ButtonOk), row.withDefault);
        w.Click(1008);   // tapping the checked radio again changes nothing
        Sleep(50);
        EXPECT_EQ(w.Text(ButtonOk), row.withDefault);
        w.Click(ButtonCancel);
        EXPECT_EQ(w.WaitExit(), 0u);
    }
}

TEST(LocationSetup, TheChoiceDecidesTheNextStepAndSurvivesBack)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(FWelcome | FLocation | FDestination | FReady, 1), L"locflow.exe"));
    w.WaitPage(PageWelcome);
    Go(w, ButtonOk, PageLocation);
    EXPECT_TRUE(w.Checked(1008));
    Go(w, ButtonOk, PageReady);          // the destination page is passed over
    Go(w, ButtonBack, PageLocation);
    EXPECT_TRUE(w.Checked(1008));
    w.Click(1009);
    WaitFor(w, "the folder choice", [&] { return w.Checked(1009); });
    Go(w, ButtonOk, PageDestination);
    Go(w, ButtonBack, PageLocation);
    EXPECT_TRUE(w.Checked(1009));
    Go(w, ButtonBack, PageWelcome);
    Go(w, ButtonOk, PageLocation);
    EXPECT_TRUE(w.Checked(1009));
    w.Click(1008);
    WaitFor(w, "the default choice", [&] { return w.Checked(1008); });
    Go(w, ButtonOk, PageReady);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(LocationSetup, DefaultLocationBeforeALastDestinationInstallsAtOnce)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(FLocation | FDestination, 0), L"locinstall.exe"));
    w.WaitPage(PageLocation);
    EXPECT_EQ(w.Text(ButtonOk), NextText);
    w.Click(1008);
    WaitFor(w, "the install caption", [&] { return w.Text(ButtonOk) == InstallText; });
    w.Click(ButtonOk);
    ExpectQuietEnd(w);
}

// --------------------------------------------------------- destination --

class DestinationSetup : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MakeFolders({L"Apps\\Tools\\Deep", L"Apps\\Games", L"Empty", L".hidden\\Inside",
                     std::wstring(Unicode) + L"\\" + UnicodeChild});
        HANDLE f = CreateFileW((DeviceRoot() + L"notes.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(f);
    }
    void Open(Wizard &w, int flags, const std::wstring &file, uint32_t size = 1536)
    {
        w.Launch(WriteSizedPackageExe(Recipe(uint8_t(flags), 0, {u"Main"}), {size}, file));
        w.WaitPage(PageIdOfFlag(Package_FirstPage(flags)));
    }
    static int Package_FirstPage(int flags) { return flags & -flags; }
};

TEST_F(DestinationSetup, FieldTreeAndSpaceLineAsFirstShown)
{
    Wizard w;
    Open(w, FWelcome | FDestination | FReady, L"dest.exe");
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(w.Text(1010), L"\\Program Files\\Tool");
    EXPECT_EQ(w.Text(1016), L"Space required: 1 Kb");
    EXPECT_EQ(w.Text(ButtonOk), NextText);
    EXPECT_EQ(SelectedPath(w, 1011), L"(none)") << "the page picked a folder by itself";

    std::vector<TreeItem> items = w.TreeItems(1011);
    std::vector<std::wstring> paths = TreePaths(w, 1011);
    const std::wstring u = std::wstring(L"\\") + Unicode;
    std::vector<std::wstring> want = {L"\\",          L"\\Apps",  L"\\Apps\\Games", L"\\Empty", L"\\Program Files",
                                      L"\\windows",   u,          u + L"\\" + UnicodeChild};
    // The first subfolder of Apps is its placeholder: whichever the listing
    // gives first.
    std::vector<std::wstring> got = paths;
    std::replace(got.begin(), got.end(), std::wstring(L"\\Apps\\Tools"), std::wstring(L"\\Apps\\Games"));
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    ASSERT_FALSE(items.empty());
    EXPECT_TRUE(items[0].expanded);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, PickedFolderFillsTheFieldAndSurvivesBackAndNext)
{
    Wizard w;
    Open(w, FWelcome | FDestination | FReady, L"pick.exe");
    Go(w, ButtonOk, PageDestination);
    const std::wstring u = std::wstring(L"\\") + Unicode + L"\\" + UnicodeChild;
    const struct {
        std::wstring pick, field;
    } rows[] = {
        {L"\\", L"\\"},
        {L"\\Apps\\Tools\\Deep", L"\\Apps\\Tools\\Deep"},
        {u, u},
        {L"\\Apps\\Games", L"\\Apps\\Games"},
    };
    for (const auto &row : rows) {
        w.SelectTreeItem(1011, row.pick);
        WaitFor(w, "the field to show the picked folder", [&] { return w.Text(1010) == row.field; });
    }
    Go(w, ButtonOk, PageReady);
    Go(w, ButtonBack, PageDestination);
    EXPECT_EQ(w.Text(1010), L"\\Apps\\Games");
    EXPECT_EQ(SelectedPath(w, 1011), L"\\Apps\\Games");

    // The whole tree is listed once only: nothing twice after all this.
    std::vector<std::wstring> paths = TreePaths(w, 1011);
    std::vector<std::wstring> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "an item is listed twice";
    EXPECT_NE(std::find(paths.begin(), paths.end(), L"\\Apps\\Tools\\Deep"), paths.end());
    for (const std::wstring &p : paths)
        EXPECT_EQ(p.find(L".hidden"), std::wstring::npos);
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, TypedPathIsStoredByBackAndShownAgain)
{
    Wizard w;
    Open(w, FLocation | FDestination | FReady, L"typed.exe");
    Go(w, ButtonOk, PageDestination);
    w.SelectTreeItem(1011, L"\\Empty");
    WaitFor(w, "the pick", [&] { return w.Text(1010) == L"\\Empty"; });
    w.Type(1010, L"\\Typed\\Folder");
    Go(w, ButtonBack, PageLocation);
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(w.Text(1010), L"\\Typed\\Folder");
    EXPECT_EQ(SelectedPath(w, 1011), L"\\Empty");   // the tree keeps its former pick
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, BlankFieldIsRefusedAndBackKeepsThePreviousFolder)
{
    Wizard w;
    Open(w, FLocation | FDestination, L"blank.exe");
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(w.Text(ButtonOk), InstallText);
    w.Type(1010, L"   ");
    w.Click(ButtonOk);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"Choose Destination Folder");
    EXPECT_EQ(box.caption, L"Tool Setup");
    EXPECT_EQ(box.icon, Icon::Information);
    w.Answer(box, IDOK);
    WaitFor(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), PageDestination);
    EXPECT_EQ(w.Text(1010), L"   ");

    w.Type(1010, L"");
    Go(w, ButtonBack, PageLocation);
    Go(w, ButtonOk, PageDestination);
    EXPECT_EQ(w.Text(1010), L"\\Program Files\\Tool");
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, FoldersChangedBetweenListingAndExpanding)
{
    MakeFolders({L"Changes\\Middle\\Under"});
    Wizard w;
    Open(w, FDestination | FReady, L"changes.exe");
    std::vector<std::wstring> paths = TreePaths(w, 1011);
    ASSERT_NE(std::find(paths.begin(), paths.end(), L"\\Changes\\Middle"), paths.end());

    RemoveTree(L"Changes\\Middle");
    MakeFolders({L"Changes\\Aardvark", L"Changes\\Zebra\\Stripe"});
    w.SelectTreeItem(1011, L"\\Changes\\Zebra");
    paths = TreePaths(w, 1011);
    std::vector<std::wstring> under;
    for (const std::wstring &p : paths)
        if (p.rfind(L"\\Changes\\", 0) == 0)
            under.push_back(p);
    EXPECT_EQ(under, (std::vector<std::wstring>{L"\\Changes\\Aardvark", L"\\Changes\\Zebra",
                                                L"\\Changes\\Zebra\\Stripe"}));
    EXPECT_EQ(w.Text(1010), L"\\Changes\\Zebra");
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
    RemoveTree(L"Changes");
}

TEST_F(DestinationSetup, RootStaysOpen)
{
    Wizard w;
    Open(w, FDestination | FReady, L"root.exe");
    w.SelectTreeItem(1011, L"\\");
    WaitFor(w, "the root's path in the field", [&] { return w.Text(1010) == L"\\"; });
    PressKey(w, 1011, VK_LEFT);
    PressKey(w, 1011, VK_SUBTRACT, L'-');
    Sleep(200);
    std::vector<TreeItem> items = w.TreeItems(1011);
    ASSERT_FALSE(items.empty());
    EXPECT_TRUE(items[0].expanded) << "the root collapsed";
    EXPECT_EQ(w.Text(1010), L"\\");
    // Any other folder collapses.
    w.SelectTreeItem(1011, L"\\Apps\\Tools");
    PressKey(w, 1011, VK_LEFT);   // to its parent
    PressKey(w, 1011, VK_LEFT);   // and closes it
    WaitFor(w, "Apps to collapse", [&] {
        for (const TreeItem &t : w.TreeItems(1011))
            if (t.text == L"Apps")
                return !t.expanded;
        return false;
    });
    w.Click(ButtonCancel);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// ------------------------------------------------- what is installed --

namespace {

const wchar_t InstallerKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";
const wchar_t InstallKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install";

bool Exists(const std::wstring &relative) { return GetFileAttributesW((DeviceRoot() + relative).c_str()) != INVALID_FILE_ATTRIBUTES; }

using testsupport::InstallerLog;

std::wstring InstallValue()
{
    wchar_t data[600] = {};
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(no key)";
    LONG r = RegQueryValueExW(key, L"\\kCABFILE.cab", nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::wstring(data) : L"(no value)";
}

void SetAskDest(DWORD value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstallerKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"fAskDest", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
}

void ClearInstallValue()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"\\kCABFILE.cab");
        RegCloseKey(key);
    }
}

DWORD AskDest()
{
    DWORD value = 0xDEADBEEF, size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, InstallerKey, L"fAskDest", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

class HandOffSetup : public testing::Test {
protected:
    void SetUp() override
    {
        std::wstring root = DeviceRoot();
        DeleteFileW((root + L"windows\\wceload.log").c_str());
        RemoveTree(L"Program Files");
        CreateDirectoryW((root + L"Program Files").c_str(), nullptr);
        MakeFolders({L"Apps\\Games", L"Apps\\Tools"});
        SetAskDest(1);
    }
    static velkor::Bytes Cab(const wchar_t *name) { return testsupport::ReadBytes(FixturesDir() + name); }
    // "Readme" (one.cab: readme.txt), "Two files" (two.cab: a.txt, sub\b.txt)
    // and "Big data" (big.cab: data.bin), all selected and all accepting a
    // destination.
    static velkor::PackageRecipe ThreeComponents(int flags, uint8_t udl)
    {
        velkor::PackageRecipe recipe = Recipe(uint8_t(flags), udl);
        recipe.components.push_back({u"Readme", Cab(L"one.cab"), true, true});
        recipe.components.push_back({u"Two files", Cab(L"two.cab"), true, true});
        recipe.components.push_back({u"Big data", Cab(L"big.cab"), true, true});
        return recipe;
    }
    void Install(Wizard &w)
    {
        w.Click(ButtonOk);
        ExpectQuietEnd(w);
    }
};

}  // namespace

TEST_F(HandOffSetup, ChosenComponentsGoIntoThePickedFolder)
{
    Wizard w;
    w.Launch(WritePackageExe(ThreeComponents(FComponents | FLocation | FDestination | FReady, 0), L"handoff.exe"));
    w.WaitPage(PageComponents);
    w.SetTreeCheck(1012, L"Two files", false);
    Go(w, ButtonOk, PageLocation);
    EXPECT_TRUE(w.Checked(1009));
    Go(w, ButtonOk, PageDestination);
    w.SelectTreeItem(1011, L"\\Apps\\Games");
    WaitFor(w, "the picked folder in the field", [&] { return w.Text(1010) == L"\\Apps\\Games"; });
    Go(w, ButtonOk, PageReady);
    Install(w);

    auto log = InstallerLog();
    ASSERT_EQ(log.size(), 2u) << "the installer ran for other than the two chosen components";
    EXPECT_EQ(log[0]["dest"], "\\Apps\\Games");
    EXPECT_EQ(log[0]["files"], "readme.txt");
    EXPECT_EQ(log[0]["cmdline"], "");
    EXPECT_EQ(log[1]["dest"], "\\Apps\\Games");
    EXPECT_EQ(log[1]["files"], "data.bin");
    EXPECT_EQ(log[1]["exit"], "0");
    EXPECT_TRUE(Exists(L"Apps\\Games\\readme.txt"));
    EXPECT_TRUE(Exists(L"Apps\\Games\\data.bin"));
    EXPECT_FALSE(Exists(L"Apps\\Games\\a.txt"));
    EXPECT_EQ(InstallValue(), L"\\Apps\\Games");
    EXPECT_EQ(AskDest(), 1u) << "the installer's own setting was not given back";
    EXPECT_FALSE(Exists(L"kCABFILE.cab"));
}

TEST_F(HandOffSetup, DefaultLocationLeavesTheFolderToTheInstaller)
{
    Wizard w;
    w.Launch(WritePackageExe(ThreeComponents(FComponents | FLocation | FDestination | FReady, 0), L"default.exe"));
    w.WaitPage(PageComponents);
    w.SetTreeCheck(1012, L"Big data", false);
    w.SetTreeCheck(1012, L"Two files", false);
    Go(w, ButtonOk, PageLocation);
    w.Click(1008);
    WaitFor(w, "the default choice", [&] { return w.Checked(1008); });
    Go(w, ButtonOk, PageReady);   // the destination page is passed over
    Install(w);

    auto log = InstallerLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["cmdline"], "\\kCABFILE.cab");
    EXPECT_EQ(log[0]["dest"], "\\Program Files\\kCABFILE");
    EXPECT_TRUE(Exists(L"Program Files\\kCABFILE\\readme.txt"));
    EXPECT_FALSE(Exists(L"Program Files\\Tool\\readme.txt"));
}

TEST_F(HandOffSetup, TypedFolderAndTheRootReachTheInstaller)
{
    const struct {
        std::wstring typed;   // empty: pick the root in the tree
        std::string dest;
        std::wstring file;
    } rows[] = {
        {L"\\Brand New\\Place", "\\Brand New\\Place", L"Brand New\\Place\\readme.txt"},
        {L"", "\\", L"readme.txt"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dest);
        DeleteFileW((DeviceRoot() + L"windows\\wceload.log").c_str());
        velkor::PackageRecipe recipe = Recipe(FDestination, 0);
        recipe.components.push_back({u"Readme", Cab(L"one.cab"), true, true});
        Wizard w;
        w.Launch(WritePackageExe(recipe, L"typedinstall.exe"));
        w.WaitPage(PageDestination);
        EXPECT_EQ(w.Text(ButtonOk), InstallText);
        EXPECT_FALSE(w.Enabled(ButtonBack));
        if (row.typed.empty()) {
            w.SelectTreeItem(1011, L"\\");
            WaitFor(w, "the root in the field", [&] { return w.Text(1010) == L"\\"; });
        } else {
            w.Type(1010, row.typed);
        }
        Install(w);
        auto log = InstallerLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0]["dest"], row.dest);
        EXPECT_TRUE(Exists(row.file));
        EXPECT_EQ(Narrow(InstallValue()), row.dest);
        DeleteFileW((DeviceRoot() + row.file).c_str());
    }
    RemoveTree(L"Brand New");
}

// The choice on the location page reaches the installer: a folder picked in
// the tree through the Install value with no command line and "fAskDest" 0
// while it runs; the device's own choice through the command line alone.  A
// component that does not take the folder goes the device's way in the same
// run, with "fAskDest" already given back.
TEST_F(HandOffSetup, LocationChoiceReachesTheInstaller)
{
    const struct {
        const char *name;
        uint8_t packageDefault;   // what the package chose; the user taps the other
        int radio;
        std::string firstCmdline, firstAskDest, firstDest;
        std::wstring installValue;
    } rows[] = {
        {"choose a folder", 1, 1009, "", "0", "\\Apps\\Games", L"\\Apps\\Games"},
        {"let the device choose", 0, 1008, "\\kCABFILE.cab", "1", "\\Program Files\\kCABFILE", L"(no value)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        ClearInstallValue();
        velkor::PackageRecipe recipe = Recipe(FLocation | FDestination | FReady, row.packageDefault);
        recipe.components.push_back({u"Readme", Cab(L"one.cab"), true, true});
        recipe.components.push_back({u"Two files", Cab(L"two.cab"), false, true});   // not into the folder
        Wizard w;
        w.Launch(WritePackageExe(recipe, L"location.exe"));
        w.WaitPage(PageLocation);
        EXPECT_TRUE(w.Checked(row.packageDefault ? 1008 : 1009));
        w.Click(row.radio);
        WaitFor(w, "the tapped choice", [&] { return w.Checked(row.radio); });
        if (row.radio == 1009) {
            Go(w, ButtonOk, PageDestination);
            w.SelectTreeItem(1011, L"\\Apps\\Games");
            WaitFor(w, "the picked folder in the field", [&] { return w.Text(1010) == L"\\Apps\\Games"; });
            Go(w, ButtonOk, PageReady);
        } else {
            Go(w, ButtonOk, PageReady);
        }
        Install(w);

        auto log = InstallerLog();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0]["cmdline"], row.firstCmdline);
        EXPECT_EQ(log[0]["fAskDest"], row.firstAskDest) << "fAskDest while the installer ran";
        EXPECT_EQ(log[0]["dest"], row.firstDest);
        EXPECT_EQ(log[0]["files"], "readme.txt");
        EXPECT_EQ(log[1]["cmdline"], "\\kCABFILE.cab");
        EXPECT_EQ(log[1]["fAskDest"], "1") << "fAskDest was not back before the next component";
        EXPECT_EQ(log[1]["dest"], "\\Program Files\\kCABFILE");
        for (const testsupport::LogLine &line : log)
            EXPECT_EQ(line.at("exit"), "0");
        EXPECT_EQ(Narrow(InstallValue()), Narrow(row.installValue));
        EXPECT_EQ(AskDest(), 1u) << "the installer's own setting was not given back";
        EXPECT_FALSE(Exists(L"kCABFILE.cab"));
    }
}
