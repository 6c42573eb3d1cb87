// setup_test.cpp -- the choice pages end to end: the real setup.exe under
// Wine, driven by the robot as a user would.  What each page shows, what
// each tap does, what survives Back and Next, and what the pages hand on
// (seen through the pages that follow).
#include "testsupport.h"
#include "pagedriver.h"

#include "format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace robot;
using namespace pagedriver;

namespace {


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
    WaitUntil(w, "control " + std::to_string(id) + (enabled ? " enabled" : " disabled"),
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
    w.Launch(WritePackageExe(Recipe(PageWelcome | PageAgreement | PageReady, 1), L"agree.exe"));
    w.WaitPage(IDD_WELCOME);
    Go(w, IDOK, IDD_AGREEMENT);

    EXPECT_EQ(w.Text(IDC_AGREEMENT_TEXT), L"Please read the following license agreement.");
    EXPECT_EQ(w.Text(IDC_ACCEPT), L"I &accept the agreement");
    EXPECT_EQ(w.Text(IDC_DECLINE), L"I &do not accept the agreement");
    EXPECT_EQ(w.Text(IDOK), NextText);
    EXPECT_TRUE(w.Enabled(IDC_BACK));
    EXPECT_TRUE(w.Checked(IDC_DECLINE));
    EXPECT_FALSE(w.Checked(IDC_ACCEPT));
    EXPECT_FALSE(w.Enabled(IDOK));
    EXPECT_THROW(w.Click(IDOK), Failure) << "OK could be pressed before accepting";

    w.Click(IDC_ACCEPT);
    WaitEnabled(w, IDOK, true);
    EXPECT_TRUE(w.Checked(IDC_ACCEPT));
    w.Click(IDC_DECLINE);
    WaitEnabled(w, IDOK, false);
    EXPECT_TRUE(w.Checked(IDC_DECLINE));
    w.Click(IDC_ACCEPT);
    WaitEnabled(w, IDOK, true);

    Go(w, IDOK, IDD_READY);
    Go(w, IDC_BACK, IDD_AGREEMENT);
    EXPECT_TRUE(w.Checked(IDC_ACCEPT));
    EXPECT_FALSE(w.Checked(IDC_DECLINE));
    EXPECT_TRUE(w.Enabled(IDOK));
    Go(w, IDC_BACK, IDD_WELCOME);
    Go(w, IDOK, IDD_AGREEMENT);
    EXPECT_TRUE(w.Enabled(IDOK));

    // Declining again and cancelling ends at once, without a question.
    w.Click(IDC_DECLINE);
    WaitEnabled(w, IDOK, false);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(AgreementSetup, TextCanBeScrolledButNotEdited)
{
    velkor::PackageRecipe recipe = Recipe(PageAgreement | PageReady, 1);
    std::u16string body;
    for (int i = 1; i <= 60; ++i)
        body += u"Clause " + std::u16string(1, char16_t(u'0' + i / 10)) + char16_t(u'0' + i % 10) +
                u": the licensee shall read this line.\r\n";
    recipe.texts[TextAgreementBody] = body;
    Wizard w;
    w.Launch(WritePackageExe(recipe, L"scroll.exe"));
    w.WaitPage(IDD_AGREEMENT);
    EXPECT_FALSE(w.Enabled(IDC_BACK));   // the first page

    std::wstring before = w.Text(IDC_AGREEMENT_TEXT);
    EXPECT_EQ(before.size(), body.size());
    EXPECT_TRUE(GetWindowLongW(w.Control(IDC_AGREEMENT_TEXT), GWL_STYLE) & ES_READONLY);
    w.ClickAt(IDC_AGREEMENT_TEXT, 20, 10);
    PressKey(w, IDC_AGREEMENT_TEXT, 'X', L'x');
    PressKey(w, IDC_AGREEMENT_TEXT, VK_DELETE);
    PressKey(w, IDC_AGREEMENT_TEXT, VK_BACK, L'\b');
    w.Settle(w.Control(IDC_AGREEMENT_TEXT));
    EXPECT_EQ(w.Text(IDC_AGREEMENT_TEXT), before) << "the agreement text could be edited";

    EXPECT_GE(Ask(w, IDC_AGREEMENT_TEXT, EM_GETLINECOUNT), 60);
    EXPECT_EQ(Ask(w, IDC_AGREEMENT_TEXT, EM_GETFIRSTVISIBLELINE), 0);
    Ask(w, IDC_AGREEMENT_TEXT, WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_GT(Ask(w, IDC_AGREEMENT_TEXT, EM_GETFIRSTVISIBLELINE), 0);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(AgreementSetup, AsTheLastPageOkInstallsOnceAccepted)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(PageWelcome | PageAgreement, 1), L"agreelast.exe"));
    w.WaitPage(IDD_WELCOME);
    EXPECT_EQ(w.Text(IDOK), NextText);
    Go(w, IDOK, IDD_AGREEMENT);
    EXPECT_EQ(w.Text(IDOK), InstallText);
    EXPECT_FALSE(w.Enabled(IDOK));
    w.Click(IDC_ACCEPT);
    WaitEnabled(w, IDOK, true);
    w.Click(IDOK);
    ExpectQuietEnd(w);
}

// ---------------------------------------------------------- components --

TEST(ComponentsSetup, RowsSortedTickedAsThePackageSaysAndDrawnFromTheBitmap)
{
    Wizard w;
    w.Launch(WriteSizedPackageExe(Recipe(PageWelcome | PageComponents | PageDestination | PageReady, 0,
                                       {u"Zeta tools", u"Help files", u"alpha core", u"Beta"},
                                       {true, false, true, false}),
                                  {1, 2, 4, 8}, L"rows.exe"));
    w.WaitPage(IDD_WELCOME);
    Go(w, IDOK, IDD_COMPONENTS);
    std::vector<TreeItem> items = w.TreeItems(IDC_COMPONENT_TREE);
    std::vector<std::wstring> names;
    std::vector<int> states;
    for (const TreeItem &t : items) {
        names.push_back(t.text);
        states.push_back(t.stateImage);
        EXPECT_EQ(t.depth, 0);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha core", L"Beta", L"Help files", L"Zeta tools"}));
    EXPECT_EQ(states, (std::vector<int>{2, 1, 1, 2}));
    EXPECT_EQ(w.Text(IDOK), NextText);

    // The boxes the tree shows are the bitmap's cells: two ticked, two empty.
    Capture shown = CaptureControl(w, IDC_COMPONENT_TREE);
    int ticked = CountStateImages(shown, 2);
    int empty = CountStateImages(shown, 1);
    EXPECT_EQ(ticked, 2);
    EXPECT_EQ(empty, 2);

    // OK hands the ticks on: the destination page counts exactly them.
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(SpaceFigure(w), L"5 bytes");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(ComponentsSetup, TapAndSpaceBarToggleAndAnEmptyChoiceIsRefused)
{
    Wizard w;
    w.Launch(WriteSizedPackageExe(Recipe(PageComponents | PageDestination, 0, {u"One", u"Two", u"Three"}), {100, 20, 3},
                                  L"toggle.exe"));
    w.WaitPage(IDD_COMPONENTS);
    for (const wchar_t *name : {L"One", L"Two", L"Three"})
        w.SetTreeCheck(IDC_COMPONENT_TREE, name, false);

    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"You need to select at least one component to continue.");
    EXPECT_EQ(box.caption, L"Tool Setup");
    EXPECT_EQ(box.icon, Icon::Information);
    w.Answer(box, IDOK);
    WaitUntil(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), IDD_COMPONENTS);

    // The space bar toggles the tree's current row.
    w.SelectTreeItem(IDC_COMPONENT_TREE, L"Two");
    PressKey(w, IDC_COMPONENT_TREE, VK_SPACE, L' ');
    WaitUntil(w, "\"Two\" to be ticked by the space bar", [&] {
        for (const TreeItem &t : w.TreeItems(IDC_COMPONENT_TREE))
            if (t.text == L"Two")
                return t.stateImage == 2;
        return false;
    });
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Three", true);
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(SpaceFigure(w), L"23 bytes");

    // Back shows the rows as they were left.
    Go(w, IDC_BACK, IDD_COMPONENTS);
    std::vector<int> states;
    for (const TreeItem &t : w.TreeItems(IDC_COMPONENT_TREE))
        states.push_back(t.stateImage);
    EXPECT_EQ(states, (std::vector<int>{1, 2, 2}));   // One, Three, Two
    w.Click(IDCANCEL);
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
    w.Launch(WriteSizedPackageExe(Recipe(PageComponents | PageDestination | PageReady, 0, names,
                                       std::vector<bool>(names.size(), false)),
                                  sizes, L"sizes.exe"));
    w.WaitPage(IDD_COMPONENTS);
    std::wstring previous;
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::wstring name = L"Size " + std::wstring(1, wchar_t(L'A' + i));
        if (!previous.empty())
            w.SetTreeCheck(IDC_COMPONENT_TREE, previous, false);
        w.SetTreeCheck(IDC_COMPONENT_TREE, name, true);
        Go(w, IDOK, IDD_DESTINATION);
        EXPECT_EQ(SpaceFigure(w), rows[i].shown) << rows[i].bytes << " bytes";
        Go(w, IDC_BACK, IDD_COMPONENTS);
        previous = name;
    }
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(ComponentsSetup, WithoutComponentsOnlyBackLeads)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(PageWelcome | PageComponents | PageReady, 1), L"nocomp.exe"));
    w.WaitPage(IDD_WELCOME);
    Go(w, IDOK, IDD_COMPONENTS);
    EXPECT_TRUE(w.TreeItems(IDC_COMPONENT_TREE).empty());
    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"You need to select at least one component to continue.");
    w.Answer(box, IDOK);
    WaitUntil(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), IDD_COMPONENTS);
    Go(w, IDC_BACK, IDD_WELCOME);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// ------------------------------------------------------------ location --

TEST(LocationSetup, OkCaptionFollowsTheChoiceAndTheLastPage)
{
    const struct {
        int flags;
        uint8_t udl;
        const wchar_t *withDefault;   // OK with radio IDC_DEFAULT_LOCATION checked
        const wchar_t *withFolder;    // OK with radio IDC_CHOOSE_FOLDER checked
    } rows[] = {
        {PageLocation | PageReady, 1, NextText, NextText},
        {PageLocation, 0, InstallText, InstallText},
        {PageLocation | PageDestination, 1, InstallText, NextText},
        {PageLocation | PageDestination, 0, InstallText, NextText},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("flags " + std::to_string(row.flags) + ", default location " + std::to_string(row.udl));
        Wizard w;
        w.Launch(WritePackageExe(Recipe(uint8_t(row.flags), row.udl), L"loc.exe"));
        w.WaitPage(IDD_LOCATION);
        EXPECT_EQ(w.Text(IDC_DEFAULT_LOCATION), L"&Let the device choose");
        EXPECT_EQ(w.Text(IDC_CHOOSE_FOLDER), L"&Choose a folder");
        EXPECT_EQ(w.Checked(IDC_DEFAULT_LOCATION), row.udl != 0);
        EXPECT_EQ(w.Checked(IDC_CHOOSE_FOLDER), row.udl == 0);
        EXPECT_EQ(w.Text(IDOK), row.udl ? row.withDefault : row.withFolder);
        w.Click(IDC_CHOOSE_FOLDER);
        WaitUntil(w, "the folder choice", [&] { return w.Checked(IDC_CHOOSE_FOLDER); });
        EXPECT_EQ(w.Text(IDOK), row.withFolder);
        w.Click(IDC_DEFAULT_LOCATION);
        WaitUntil(w, "the default choice", [&] { return w.Checked(IDC_DEFAULT_LOCATION); });
        EXPECT_EQ(w.Text(IDOK), row.withDefault);
        w.Click(IDC_DEFAULT_LOCATION);   // tapping the checked radio again changes nothing
        w.Settle();
        EXPECT_EQ(w.Text(IDOK), row.withDefault);
        w.Click(IDCANCEL);
        EXPECT_EQ(w.WaitExit(), 0u);
    }
}

TEST(LocationSetup, TheChoiceDecidesTheNextStepAndSurvivesBack)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(PageWelcome | PageLocation | PageDestination | PageReady, 1), L"locflow.exe"));
    w.WaitPage(IDD_WELCOME);
    Go(w, IDOK, IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_DEFAULT_LOCATION));
    Go(w, IDOK, IDD_READY);          // the destination page is passed over
    Go(w, IDC_BACK, IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_DEFAULT_LOCATION));
    w.Click(IDC_CHOOSE_FOLDER);
    WaitUntil(w, "the folder choice", [&] { return w.Checked(IDC_CHOOSE_FOLDER); });
    Go(w, IDOK, IDD_DESTINATION);
    Go(w, IDC_BACK, IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_CHOOSE_FOLDER));
    Go(w, IDC_BACK, IDD_WELCOME);
    Go(w, IDOK, IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_CHOOSE_FOLDER));
    w.Click(IDC_DEFAULT_LOCATION);
    WaitUntil(w, "the default choice", [&] { return w.Checked(IDC_DEFAULT_LOCATION); });
    Go(w, IDOK, IDD_READY);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(LocationSetup, DefaultLocationBeforeALastDestinationInstallsAtOnce)
{
    Wizard w;
    w.Launch(WritePackageExe(Recipe(PageLocation | PageDestination, 0), L"locinstall.exe"));
    w.WaitPage(IDD_LOCATION);
    EXPECT_EQ(w.Text(IDOK), NextText);
    w.Click(IDC_DEFAULT_LOCATION);
    WaitUntil(w, "the install caption", [&] { return w.Text(IDOK) == InstallText; });
    w.Click(IDOK);
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
    Open(w, PageWelcome | PageDestination | PageReady, L"dest.exe");
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Program Files\\Tool");
    EXPECT_EQ(w.Text(IDC_SPACE_LINE), L"Space required: 1 Kb");
    EXPECT_EQ(w.Text(IDOK), NextText);
    EXPECT_EQ(SelectedPath(w, IDC_FOLDER_TREE), L"(none)") << "the page picked a folder by itself";

    std::vector<TreeItem> items = w.TreeItems(IDC_FOLDER_TREE);
    std::vector<std::wstring> paths = TreePaths(w, IDC_FOLDER_TREE);
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
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, PickedFolderFillsTheFieldAndSurvivesBackAndNext)
{
    Wizard w;
    Open(w, PageWelcome | PageDestination | PageReady, L"pick.exe");
    Go(w, IDOK, IDD_DESTINATION);
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
        w.SelectTreeItem(IDC_FOLDER_TREE, row.pick);
        WaitUntil(w, "the field to show the picked folder", [&] { return w.Text(IDC_DESTINATION) == row.field; });
    }
    Go(w, IDOK, IDD_READY);
    Go(w, IDC_BACK, IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Apps\\Games");
    EXPECT_EQ(SelectedPath(w, IDC_FOLDER_TREE), L"\\Apps\\Games");

    // The whole tree is listed once only: nothing twice after all this.
    std::vector<std::wstring> paths = TreePaths(w, IDC_FOLDER_TREE);
    std::vector<std::wstring> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "an item is listed twice";
    EXPECT_NE(std::find(paths.begin(), paths.end(), L"\\Apps\\Tools\\Deep"), paths.end());
    for (const std::wstring &p : paths)
        EXPECT_EQ(p.find(L".hidden"), std::wstring::npos);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, TypedPathIsStoredByBackAndShownAgain)
{
    Wizard w;
    Open(w, PageLocation | PageDestination | PageReady, L"typed.exe");
    Go(w, IDOK, IDD_DESTINATION);
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Empty");
    WaitUntil(w, "the pick", [&] { return w.Text(IDC_DESTINATION) == L"\\Empty"; });
    w.Type(IDC_DESTINATION, L"\\Typed\\Folder");
    Go(w, IDC_BACK, IDD_LOCATION);
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Typed\\Folder");
    EXPECT_EQ(SelectedPath(w, IDC_FOLDER_TREE), L"\\Empty");   // the tree keeps its former pick
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, BlankFieldIsRefusedAndBackKeepsThePreviousFolder)
{
    Wizard w;
    Open(w, PageLocation | PageDestination, L"blank.exe");
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDOK), InstallText);
    w.Type(IDC_DESTINATION, L"   ");
    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"Choose Destination Folder");
    EXPECT_EQ(box.caption, L"Tool Setup");
    EXPECT_EQ(box.icon, Icon::Information);
    w.Answer(box, IDOK);
    WaitUntil(w, "the message box to close", [&] { return !w.FindMessageBox(); });
    EXPECT_EQ(w.PageId(), IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"   ");

    w.Type(IDC_DESTINATION, L"");
    Go(w, IDC_BACK, IDD_LOCATION);
    Go(w, IDOK, IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Program Files\\Tool");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST_F(DestinationSetup, FoldersChangedBetweenListingAndExpanding)
{
    MakeFolders({L"Changes\\Middle\\Under"});
    Wizard w;
    Open(w, PageDestination | PageReady, L"changes.exe");
    std::vector<std::wstring> paths = TreePaths(w, IDC_FOLDER_TREE);
    ASSERT_NE(std::find(paths.begin(), paths.end(), L"\\Changes\\Middle"), paths.end());

    RemoveTree(L"Changes\\Middle");
    MakeFolders({L"Changes\\Aardvark", L"Changes\\Zebra\\Stripe"});
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Changes\\Zebra");
    paths = TreePaths(w, IDC_FOLDER_TREE);
    std::vector<std::wstring> under;
    for (const std::wstring &p : paths)
        if (p.rfind(L"\\Changes\\", 0) == 0)
            under.push_back(p);
    EXPECT_EQ(under, (std::vector<std::wstring>{L"\\Changes\\Aardvark", L"\\Changes\\Zebra",
                                                L"\\Changes\\Zebra\\Stripe"}));
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Changes\\Zebra");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
    RemoveTree(L"Changes");
}

TEST_F(DestinationSetup, RootStaysOpen)
{
    Wizard w;
    Open(w, PageDestination | PageReady, L"root.exe");
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\");
    WaitUntil(w, "the root's path in the field", [&] { return w.Text(IDC_DESTINATION) == L"\\"; });
    PressKey(w, IDC_FOLDER_TREE, VK_LEFT);
    PressKey(w, IDC_FOLDER_TREE, VK_SUBTRACT, L'-');
    w.Settle(w.Control(IDC_FOLDER_TREE));
    std::vector<TreeItem> items = w.TreeItems(IDC_FOLDER_TREE);
    ASSERT_FALSE(items.empty());
    EXPECT_TRUE(items[0].expanded) << "the root collapsed";
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\");
    // Any other folder collapses.
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Apps\\Tools");
    PressKey(w, IDC_FOLDER_TREE, VK_LEFT);   // to its parent
    PressKey(w, IDC_FOLDER_TREE, VK_LEFT);   // and closes it
    WaitUntil(w, "Apps to collapse", [&] {
        for (const TreeItem &t : w.TreeItems(IDC_FOLDER_TREE))
            if (t.text == L"Apps")
                return !t.expanded;
        return false;
    });
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// ------------------------------------------------- what is installed --

namespace {

using testsupport::ClearInstallValue;
using testsupport::InstallKey;

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

DWORD AskDest()
{
    DWORD value = 0xDEADBEEF, type = 0;
    if (!testsupport::ReadAskDest(&value, &type) || type != REG_DWORD)
        return 0xDEADBEEF;
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
        ASSERT_TRUE(testsupport::SetRegistryAskDest(true, 1));
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
        w.Click(IDOK);
        ExpectQuietEnd(w);
    }
};

}  // namespace

TEST_F(HandOffSetup, ChosenComponentsGoIntoThePickedFolder)
{
    Wizard w;
    w.Launch(WritePackageExe(ThreeComponents(PageComponents | PageLocation | PageDestination | PageReady, 0),
                             L"handoff.exe"));
    w.WaitPage(IDD_COMPONENTS);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Two files", false);
    Go(w, IDOK, IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_CHOOSE_FOLDER));
    Go(w, IDOK, IDD_DESTINATION);
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Apps\\Games");
    WaitUntil(w, "the picked folder in the field", [&] { return w.Text(IDC_DESTINATION) == L"\\Apps\\Games"; });
    Go(w, IDOK, IDD_READY);
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
    w.Launch(WritePackageExe(ThreeComponents(PageComponents | PageLocation | PageDestination | PageReady, 0),
                             L"default.exe"));
    w.WaitPage(IDD_COMPONENTS);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Big data", false);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Two files", false);
    Go(w, IDOK, IDD_LOCATION);
    w.Click(IDC_DEFAULT_LOCATION);
    WaitUntil(w, "the default choice", [&] { return w.Checked(IDC_DEFAULT_LOCATION); });
    Go(w, IDOK, IDD_READY);   // the destination page is passed over
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
        velkor::PackageRecipe recipe = Recipe(PageDestination, 0);
        recipe.components.push_back({u"Readme", Cab(L"one.cab"), true, true});
        Wizard w;
        w.Launch(WritePackageExe(recipe, L"typedinstall.exe"));
        w.WaitPage(IDD_DESTINATION);
        EXPECT_EQ(w.Text(IDOK), InstallText);
        EXPECT_FALSE(w.Enabled(IDC_BACK));
        if (row.typed.empty()) {
            w.SelectTreeItem(IDC_FOLDER_TREE, L"\\");
            WaitUntil(w, "the root in the field", [&] { return w.Text(IDC_DESTINATION) == L"\\"; });
        } else {
            w.Type(IDC_DESTINATION, row.typed);
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
        {"choose a folder", 1, IDC_CHOOSE_FOLDER, "", "0", "\\Apps\\Games", L"\\Apps\\Games"},
        {"let the device choose", 0, IDC_DEFAULT_LOCATION, "\\kCABFILE.cab", "1", "\\Program Files\\kCABFILE",
         L"(no value)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        ClearInstallValue();
        velkor::PackageRecipe recipe = Recipe(PageLocation | PageDestination | PageReady, row.packageDefault);
        recipe.components.push_back({u"Readme", Cab(L"one.cab"), true, true});
        recipe.components.push_back({u"Two files", Cab(L"two.cab"), false, true});   // not into the folder
        Wizard w;
        w.Launch(WritePackageExe(recipe, L"location.exe"));
        w.WaitPage(IDD_LOCATION);
        EXPECT_TRUE(w.Checked(row.packageDefault ? IDC_DEFAULT_LOCATION : IDC_CHOOSE_FOLDER));
        w.Click(row.radio);
        WaitUntil(w, "the tapped choice", [&] { return w.Checked(row.radio); });
        if (row.radio == IDC_CHOOSE_FOLDER) {
            Go(w, IDOK, IDD_DESTINATION);
            w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Apps\\Games");
            WaitUntil(w, "the picked folder in the field", [&] { return w.Text(IDC_DESTINATION) == L"\\Apps\\Games"; });
            Go(w, IDOK, IDD_READY);
        } else {
            Go(w, IDOK, IDD_READY);
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
