// foldertree_test.cpp -- the folder tree of the destination page against
// real folders in the bench's device root: what is listed and when, the
// placeholders, folders that change between listing and expanding, the
// paths of items, the root that stays open, and running out of memory.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace pages;

namespace {

const wchar_t Unicode[] = L"\u00dcn\u00efc\u00f8d\u00e9 \u2713 \u65e5\u672c";   // "Ünïcødé ✓ 日本"
const wchar_t UnicodeChild[] = L"\u5b50";                                     // "子"

std::wstring Field(HWND page)
{
    wchar_t buffer[600] = {};
    GetDlgItemTextW(page, IDC_DESTINATION, buffer, 600);
    return buffer;
}

std::set<std::wstring> AsSet(const std::vector<std::wstring> &v) { return {v.begin(), v.end()}; }

// Item order as the tree sorts: by name, ignoring case.
bool Sorted(const std::vector<std::wstring> &v)
{
    for (size_t i = 1; i < v.size(); ++i)
        if (lstrcmpiW(v[i - 1].c_str(), v[i].c_str()) > 0)
            return false;
    return true;
}

// A click on the item's expand button, as a tap would give it.
void ClickButton(HWND tree, HTREEITEM item)
{
    RECT rect;
    *reinterpret_cast<HTREEITEM *>(&rect) = item;
    ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, LPARAM(&rect)));
    int y = (rect.top + rect.bottom) / 2;
    for (int x = 0; x < rect.left; ++x) {
        TVHITTESTINFO hit = {};
        hit.pt = {x, y};
        if (HTREEITEM(SendMessageW(tree, TVM_HITTEST, 0, LPARAM(&hit))) == item && (hit.flags & TVHT_ONITEMBUTTON)) {
            // Posted: a tree may watch its queue for the button's release.
            PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
            PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
            PumpFor(30);
            return;
        }
    }
    FAIL() << "no expand button on the item's row";
}

class FolderTreeTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MakeFolders({L"Alpha",
                     L"Beta\\Inner\\Deep\\Deeper",
                     L"Beta\\Second",
                     L".hidden\\Sub",
                     L"Gamma\\.dotted\\Below",
                     std::wstring(Unicode) + L"\\" + UnicodeChild});
        MakeFile(L"file.txt");
        MakeFile(L"Gamma\\file.txt");
        MakeFile(L"Alpha\\only a file");
    }
    void SetUp() override
    {
        LoadTestPackage(Sample(PageAll, {u"Main"}), {100});
    }
    void TearDown() override
    {
        VHeapFailAt(0);
        DestroyPages();
    }
    HWND Open()
    {
        page_ = MakePage(IDD_DESTINATION, DestinationPageProcedure);
        tree_ = GetDlgItem(page_, IDC_FOLDER_TREE);
        return page_;
    }
    HTREEITEM Item(const std::wstring &path)
    {
        HTREEITEM item = FindItem(tree_, path);
        EXPECT_NE(item, nullptr) << "no item for " << path.size() << "-character path";
        return item;
    }
    void Expand(HTREEITEM item)
    {
        SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, LPARAM(item));
        PumpFor(10);
    }
    void Select(HTREEITEM item)
    {
        SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
        PumpFor(10);
    }

    HWND page_ = nullptr;
    HWND tree_ = nullptr;
};

using FolderListingTest = FolderTreeTest;
using FolderChangesTest = FolderTreeTest;
using FolderPickTest = FolderTreeTest;

}  // namespace

TEST_F(FolderListingTest, StartsWithTheRootOpenAndOnePlaceholderPerFolder)
{
    Open();
    std::vector<std::wstring> top = ChildTexts(tree_, nullptr);
    ASSERT_EQ(top, std::vector<std::wstring>{L"\\"});
    HTREEITEM root = Item(L"\\");
    EXPECT_TRUE(Expanded(tree_, root));
    EXPECT_EQ(ItemParam(tree_, root), 1);

    // Dot-named folders and files are never shown.
    std::vector<std::wstring> children = ChildTexts(tree_, root);
    EXPECT_EQ(AsSet(children), (std::set<std::wstring>{L"Alpha", L"Beta", L"Gamma", L"Program Files", L"windows",
                                                       Unicode}));
    EXPECT_TRUE(Sorted(children));

    // Not yet expanded: at most the first subfolder, with nothing under it.
    for (const std::wstring &name : children) {
        HTREEITEM item = Item(L"\\" + name);
        EXPECT_EQ(ItemParam(tree_, item), 0);
        EXPECT_FALSE(Expanded(tree_, item));
        for (HTREEITEM c = TreeView_GetChild(tree_, item); c; c = TreeView_GetNextSibling(tree_, c))
            EXPECT_EQ(TreeView_GetChild(tree_, c), nullptr) << "a placeholder has children of its own";
    }
    EXPECT_TRUE(ChildTexts(tree_, Item(L"\\Alpha")).empty());      // a file is no subfolder
    EXPECT_TRUE(ChildTexts(tree_, Item(L"\\Gamma")).empty());      // nor a dot-named folder
    EXPECT_EQ(ChildTexts(tree_, Item(L"\\Beta")).size(), 1u);
    EXPECT_EQ(ChildTexts(tree_, Item(std::wstring(L"\\") + Unicode)), std::vector<std::wstring>{UnicodeChild});
}

TEST_F(FolderListingTest, FirstExpansionListsEverySubfolderOnce)
{
    Open();
    HTREEITEM beta = Item(L"\\Beta");
    Expand(beta);
    EXPECT_EQ(ChildTexts(tree_, beta), (std::vector<std::wstring>{L"Inner", L"Second"}));
    EXPECT_EQ(ItemParam(tree_, beta), 1);
    EXPECT_TRUE(Expanded(tree_, beta));
    // The former placeholder got its own placeholder, like its sibling would.
    EXPECT_EQ(ChildTexts(tree_, Item(L"\\Beta\\Inner")), std::vector<std::wstring>{L"Deep"});
    EXPECT_TRUE(ChildTexts(tree_, Item(L"\\Beta\\Second")).empty());

    // Down the chain: each first expansion lists one more level.
    Expand(Item(L"\\Beta\\Inner"));
    Expand(Item(L"\\Beta\\Inner\\Deep"));
    EXPECT_EQ(ChildTexts(tree_, Item(L"\\Beta\\Inner\\Deep")), std::vector<std::wstring>{L"Deeper"});
    WCHAR *path = ItemPath(Item(L"\\Beta\\Inner\\Deep\\Deeper"));
    EXPECT_EQ(Str(path), L"\\Beta\\Inner\\Deep\\Deeper\\");
    VFree(path);
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderListingTest, LaterExpansionsListNothingAgain)
{
    Open();
    HTREEITEM beta = Item(L"\\Beta");
    Expand(beta);
    MakeFolders({L"Beta\\Third"});
    SendMessageW(tree_, TVM_EXPAND, TVE_COLLAPSE, LPARAM(beta));
    Expand(beta);
    EXPECT_EQ(ChildTexts(tree_, beta), (std::vector<std::wstring>{L"Inner", L"Second"}));
    RemoveTree(L"Beta\\Third");
}

TEST_F(FolderListingTest, RootWithoutSubfoldersShowsTheRootAlone)
{
    // Move everything in the root aside for this case.
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((DeviceRoot() + L"*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name[0] != L'.')
            names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    for (const std::wstring &name : names)
        ASSERT_TRUE(MoveFileW((DeviceRoot() + name).c_str(), (DeviceRoot() + L".aside " + name).c_str()));

    Open();
    std::vector<std::wstring> top = ChildTexts(tree_, nullptr);
    std::vector<std::wstring> under = ChildTexts(tree_, TreeView_GetRoot(tree_));

    for (const std::wstring &name : names)
        MoveFileW((DeviceRoot() + L".aside " + name).c_str(), (DeviceRoot() + name).c_str());
    EXPECT_EQ(top, std::vector<std::wstring>{L"\\"});
    EXPECT_TRUE(under.empty());
}

TEST_F(FolderChangesTest, PlaceholderFolderRemovedBeforeExpanding)
{
    MakeFolders({L"Shrinks\\One", L"Shrinks\\Two\\Under"});
    Open();
    HTREEITEM shrinks = Item(L"\\Shrinks");
    std::vector<std::wstring> placeholder = ChildTexts(tree_, shrinks);
    ASSERT_EQ(placeholder.size(), 1u);
    std::wstring gone = placeholder[0];
    std::wstring stays = gone == L"One" ? L"Two" : L"One";
    RemoveTree(L"Shrinks\\" + gone);

    Expand(shrinks);
    EXPECT_EQ(ChildTexts(tree_, shrinks), std::vector<std::wstring>{stays});
    EXPECT_TRUE(Requests().empty());
    RemoveTree(L"Shrinks");
}

TEST_F(FolderChangesTest, FolderAddedBeforeExpandingIsListedOnce)
{
    MakeFolders({L"Grows\\Middle\\Under"});
    Open();
    HTREEITEM grows = Item(L"\\Grows");
    ASSERT_EQ(ChildTexts(tree_, grows), std::vector<std::wstring>{L"Middle"});
    // New names before and after the placeholder's, so whichever the
    // listing gives first, it is not the placeholder.
    MakeFolders({L"Grows\\Aardvark", L"Grows\\Zebra\\Stripe"});

    Expand(grows);
    EXPECT_EQ(ChildTexts(tree_, grows), (std::vector<std::wstring>{L"Aardvark", L"Middle", L"Zebra"}));
    EXPECT_EQ(ChildTexts(tree_, Item(L"\\Grows\\Middle")), std::vector<std::wstring>{L"Under"});
    EXPECT_EQ(ChildTexts(tree_, Item(L"\\Grows\\Zebra")), std::vector<std::wstring>{L"Stripe"});
    EXPECT_TRUE(ChildTexts(tree_, Item(L"\\Grows\\Aardvark")).empty());
    EXPECT_TRUE(Requests().empty());
    RemoveTree(L"Grows");
}

TEST_F(FolderChangesTest, PlaceholderReplacedByAnotherFolder)
{
    MakeFolders({L"Swaps\\Old\\Under"});
    Open();
    HTREEITEM swaps = Item(L"\\Swaps");
    ASSERT_EQ(ChildTexts(tree_, swaps), std::vector<std::wstring>{L"Old"});
    RemoveTree(L"Swaps\\Old");
    MakeFolders({L"Swaps\\New"});

    Expand(swaps);
    EXPECT_EQ(ChildTexts(tree_, swaps), std::vector<std::wstring>{L"New"});
    RemoveTree(L"Swaps");
}

TEST_F(FolderChangesTest, WholeFolderRemovedBeforeExpanding)
{
    MakeFolders({L"Vanishes\\Child\\Grandchild"});
    Open();
    HTREEITEM vanishes = Item(L"\\Vanishes");
    RemoveTree(L"Vanishes");

    Expand(vanishes);
    EXPECT_TRUE(ChildTexts(tree_, vanishes).empty());
    EXPECT_EQ(ItemParam(tree_, vanishes), 1);
    // The folder is still listed; picking it still gives its path.
    Select(vanishes);
    EXPECT_EQ(Field(page_), L"\\Vanishes");
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPickTest, PickingAFolderFillsTheFieldAndTheDestination)
{
    Open();
    EXPECT_EQ(TreeView_GetSelection(tree_), nullptr) << "the page picked a folder by itself";
    const struct {
        std::wstring item;
        std::wstring destination;
    } rows[] = {
        {L"\\", L"\\"},
        {L"\\Alpha", L"\\Alpha"},
        {L"\\Beta\\Inner", L"\\Beta\\Inner"},
        {std::wstring(L"\\") + Unicode + L"\\" + UnicodeChild, std::wstring(L"\\") + Unicode + L"\\" + UnicodeChild},
        {L"\\Program Files", L"\\Program Files"},
    };
    for (const auto &row : rows) {
        size_t slash = row.item.rfind(L'\\');
        if (slash > 0)
            Expand(Item(row.item.substr(0, slash)));
        Select(Item(row.item));
        EXPECT_EQ(Field(page_), row.destination);
        EXPECT_EQ(Str(Package.DestinationPath), row.destination);
    }
    // Typing changes only the field until OK or Back.
    SetDlgItemTextW(page_, IDC_DESTINATION, L"\\Typed");
    EXPECT_EQ(Str(Package.DestinationPath), L"\\Program Files");
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPickTest, ItemPathOfEveryLevel)
{
    Open();
    EXPECT_EQ(ItemPath(nullptr), nullptr);
    Expand(Item(L"\\Beta"));
    Expand(Item(L"\\Beta\\Inner"));
    const struct {
        std::wstring item, path;
    } rows[] = {
        {L"\\", L"\\"},
        {L"\\Beta", L"\\Beta\\"},
        {L"\\Beta\\Inner", L"\\Beta\\Inner\\"},
        {L"\\Beta\\Inner\\Deep", L"\\Beta\\Inner\\Deep\\"},
        {std::wstring(L"\\") + Unicode, std::wstring(L"\\") + Unicode + L"\\"},
    };
    for (const auto &row : rows) {
        WCHAR *path = ItemPath(Item(row.item));
        EXPECT_EQ(Str(path), row.path);
        VFree(path);
    }
}

TEST_F(FolderPickTest, ItemPathWithoutMemoryBuildsNothing)
{
    Open();
    Expand(Item(L"\\Beta"));
    Expand(Item(L"\\Beta\\Inner"));
    HTREEITEM deep = Item(L"\\Beta\\Inner\\Deep");
    bool succeeded = false;
    for (unsigned long n = 1; n <= 20 && !succeeded; ++n) {
        long live = VHeapLiveBlocks();
        VHeapFailAt(n);
        WCHAR *path = ItemPath(deep);
        VHeapFailAt(0);
        if (path) {
            succeeded = true;
            EXPECT_EQ(Str(path), L"\\Beta\\Inner\\Deep\\");
            VFree(path);
        }
        EXPECT_EQ(VHeapLiveBlocks(), live) << "allocation " << n;
    }
    EXPECT_TRUE(succeeded);
}

TEST_F(FolderPickTest, RootStaysOpenAndKeepsThePick)
{
    Open();
    HTREEITEM root = Item(L"\\");
    Select(Item(L"\\Alpha"));
    ASSERT_EQ(Field(page_), L"\\Alpha");

    // A path typed meanwhile is not overwritten by the undone collapse.
    SetDlgItemTextW(page_, IDC_DESTINATION, L"\\Typed");
    ClickButton(tree_, root);
    PumpFor(50);
    EXPECT_TRUE(Expanded(tree_, root));
    EXPECT_EQ(TreeView_GetSelection(tree_), Item(L"\\Alpha"));
    EXPECT_EQ(Field(page_), L"\\Typed");
    EXPECT_EQ(Str(Package.DestinationPath), L"\\Alpha");

    // From the keyboard as well.
    Select(root);
    SendMessageW(tree_, WM_KEYDOWN, VK_LEFT, 0);
    PumpFor(50);
    EXPECT_TRUE(Expanded(tree_, root));
    EXPECT_FALSE(ChildTexts(tree_, root).empty());

    // Every other item collapses normally.
    HTREEITEM beta = Item(L"\\Beta");
    Expand(beta);
    ClickButton(tree_, beta);
    PumpFor(50);
    EXPECT_FALSE(Expanded(tree_, beta));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPickTest, ExpandingWithoutMemoryAborts)
{
    Open();
    HTREEITEM beta = Item(L"\\Beta");
    long live = VHeapLiveBlocks();
    VHeapFailAt(1);
    Expand(beta);
    VHeapFailAt(0);
    EXPECT_EQ(Requests(), std::vector<int>{CmdAbort});
    EXPECT_EQ(VHeapLiveBlocks(), live);
}

TEST_F(FolderPickTest, OpeningWithoutMemoryAborts)
{
    for (unsigned long n = 1; n <= 3; ++n) {
        ClearRequests();
        VHeapFailAt(n);
        MakePage(IDD_DESTINATION, DestinationPageProcedure);
        VHeapFailAt(0);
        EXPECT_EQ(Requests(), std::vector<int>{CmdAbort}) << "allocation " << n;
        PumpFor(10);
        DestroyPages();
    }
}
