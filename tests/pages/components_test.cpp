// components_test.cpp -- the components page inside the test process: the
// check boxes drawn from bitmap IDB_STATEIMAGES, the rows sorted by name and tied to
// their components, toggling, and what OK, Back and Cancel do to the
// Selected flags.
#include "harness.h"

#include <gtest/gtest.h>

#include <set>

using namespace pages;

namespace {

HWND TreeOf(HWND page) { return GetDlgItem(page, IDC_COMPONENT_TREE); }

struct Row {
    std::wstring text;
    int stateImage;
    Component *component;
};

std::vector<Row> Rows(HWND tree)
{
    std::vector<Row> rows;
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) {
        wchar_t text[300] = {};
        TVITEMW record = {};
        record.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE | TVIF_PARAM;
        record.hItem = item;
        record.pszText = text;
        record.cchTextMax = 300;
        record.stateMask = TVIS_STATEIMAGEMASK;
        SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&record));
        rows.push_back({text, int((record.state & TVIS_STATEIMAGEMASK) >> 12), (Component *)record.lParam});
        EXPECT_EQ(TreeView_GetChild(tree, item), nullptr) << "a component row has children";
    }
    return rows;
}

HTREEITEM ItemNamed(HWND tree, const std::wstring &name, int nth = 0)
{
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item))
        if (ItemText(tree, item) == name && nth-- == 0)
            return item;
    ADD_FAILURE() << "no row named so";
    return nullptr;
}

int StateOf(HWND tree, HTREEITEM item)
{
    return int((TreeView_GetItemState(tree, item, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK) >> 12);
}

void SetState(HWND tree, HTREEITEM item, int image)
{
    TreeView_SetItemState(tree, item, INDEXTOSTATEIMAGEMASK(image), TVIS_STATEIMAGEMASK);
}

// A tap on the row's check box.
void TapBox(HWND tree, HTREEITEM item)
{
    RECT rect;
    *reinterpret_cast<HTREEITEM *>(&rect) = item;
    ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, LPARAM(&rect)));
    int y = (rect.top + rect.bottom) / 2;
    for (int x = rect.left - 1; x >= 0; --x) {
        TVHITTESTINFO hit = {};
        hit.pt = {x, y};
        if (HTREEITEM(SendMessageW(tree, TVM_HITTEST, 0, LPARAM(&hit))) == item &&
            (hit.flags & TVHT_ONITEMSTATEICON)) {
            // Posted: the tree watches its queue for the button's release.
            PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
            PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
            PumpFor(30);
            return;
        }
    }
    FAIL() << "no check box on the row";
}

std::vector<int> SelectedFlags()
{
    std::vector<int> flags;
    for (uint32_t i = 0; i < Package.ComponentCount; ++i)
        flags.push_back(Package.Components[i].Selected);
    return flags;
}

class ComponentsPageTest : public testing::Test {
protected:
    void TearDown() override { DestroyPages(); }
    HWND Open(std::vector<std::u16string> names, std::vector<bool> selected = {})
    {
        LoadTestPackage(Sample(PageAll, names, selected));
        return MakePage(IDD_COMPONENTS, ComponentsPageProcedure);
    }
};

}  // namespace

TEST_F(ComponentsPageTest, CheckBoxesAreDrawnFromBitmap136)
{
    HWND page = Open({u"Main"});
    HIMAGELIST images = HIMAGELIST(SendMessageW(TreeOf(page), TVM_GETIMAGELIST, TVSIL_STATE, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 3);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    // Each cell drawn on red: white is the mask colour, so only black and
    // red may show, black exactly where the picture has its lines.
    const int tick[16][3] = {{}, {}, {}, {}, {11, 11}, {10, 11}, {9, 11}, {}, {}, {4, 8}, {5, 7}, {6, 6}};
    auto black = [&](int cell, int x, int y) {
        if (cell == 0)
            return false;
        bool outline = ((x == 1 || x == 14) && y >= 1 && y <= 14) || ((y == 1 || y == 14) && x >= 1 && x <= 14);
        if (outline)
            return true;
        if (cell == 1)
            return false;
        switch (y) {   // the tick, row by row
        case 7: return x == 4 || (x >= 8 && x <= 10);
        case 8: return x == 4 || x == 5 || (x >= 7 && x <= 9);
        default: return y < 12 && tick[y][1] && x >= tick[y][0] && x <= tick[y][1];
        }
    };
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT all = {0, 0, 16, 16};
    for (int cell = 0; cell < 3; ++cell) {
        FillRect(dc, &all, red);
        ASSERT_TRUE(ImageList_Draw(images, cell, dc, 0, 0, ILD_TRANSPARENT));
        int wrong = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                COLORREF want = black(cell, x, y) ? RGB(0, 0, 0) : RGB(255, 0, 0);
                if (GetPixel(dc, x, y) != want)
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0) << "cell " << cell;
    }
    DeleteObject(red);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

TEST_F(ComponentsPageTest, RowsAreSortedByNameAndTiedToTheirComponents)
{
    HWND page = Open({u"Zeta", u"mu", u"Beta", u"alpha", u"Same", u"Same"}, {true, false, true, false, true, false});
    std::vector<Row> rows = Rows(TreeOf(page));
    std::vector<std::wstring> names;
    for (const Row &r : rows)
        names.push_back(r.text);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha", L"Beta", L"mu", L"Same", L"Same", L"Zeta"}));
    std::set<Component *> seen;
    for (const Row &r : rows) {
        ASSERT_NE(r.component, nullptr);
        ASSERT_GE(r.component, Package.Components);
        ASSERT_LT(r.component, Package.Components + Package.ComponentCount);
        EXPECT_EQ(Str(r.component->Name), r.text);
        EXPECT_EQ(r.stateImage, r.component->Selected ? 2 : 1) << "row " << Narrow(r.text);
        seen.insert(r.component);
    }
    EXPECT_EQ(seen.size(), 6u) << "two rows share a component";
}

TEST_F(ComponentsPageTest, TapAndSpaceBarToggleABox)
{
    HWND page = Open({u"First", u"Second"}, {true, false});
    HWND tree = TreeOf(page);
    HTREEITEM second = ItemNamed(tree, L"Second");
    TapBox(tree, second);
    EXPECT_EQ(StateOf(tree, second), 2);
    TapBox(tree, second);
    EXPECT_EQ(StateOf(tree, second), 1);

    HTREEITEM first = ItemNamed(tree, L"First");
    SetFocus(tree);
    TreeView_SelectItem(tree, first);
    SendMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
    SendMessageW(tree, WM_CHAR, L' ', 0x00390001);
    SendMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
    PumpFor(20);
    EXPECT_EQ(StateOf(tree, first), 1);
    EXPECT_EQ(StateOf(tree, second), 1);
    // Marks reach the flags only at OK.
    EXPECT_EQ(SelectedFlags(), (std::vector<int>{1, 0}));
}

TEST_F(ComponentsPageTest, OkCopiesTheMarksWhateverThePackageOrder)
{
    HWND page = Open({u"Zeta", u"Same", u"Alpha", u"Same"}, {true, true, true, true});
    HWND tree = TreeOf(page);
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item))
        SetState(tree, item, 1);
    SetState(tree, ItemNamed(tree, L"Same", 1), 2);
    auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
    EXPECT_FALSE(box);
    EXPECT_EQ(Requests(), std::vector<int>{CmdNext});
    // Exactly one of the two "Same" components, the one the row stands for.
    Component *tied = (Component *)ItemParam(tree, ItemNamed(tree, L"Same", 1));
    for (uint32_t i = 0; i < Package.ComponentCount; ++i)
        EXPECT_EQ(Package.Components[i].Selected, &Package.Components[i] == tied ? 1 : 0) << "component " << i;
}

TEST_F(ComponentsPageTest, BackAndCancelLeaveTheFlagsAlone)
{
    HWND page = Open({u"A", u"B"}, {true, false});
    HWND tree = TreeOf(page);
    SetState(tree, ItemNamed(tree, L"A"), 1);
    SetState(tree, ItemNamed(tree, L"B"), 2);
    Tap(page, IDC_BACK);
    Tap(page, IDCANCEL);
    EXPECT_EQ(Requests(), (std::vector<int>{CmdBack, CmdCancel}));
    EXPECT_EQ(SelectedFlags(), (std::vector<int>{1, 0}));
    // The tree still shows the changed marks.
    EXPECT_EQ(StateOf(tree, ItemNamed(tree, L"A")), 1);
    EXPECT_EQ(StateOf(tree, ItemNamed(tree, L"B")), 2);
}

TEST_F(ComponentsPageTest, EmptyChoiceIsRefusedUntilOneIsTicked)
{
    HWND page = Open({u"A", u"B"}, {true, true});
    HWND tree = TreeOf(page);
    SetState(tree, ItemNamed(tree, L"A"), 1);
    SetState(tree, ItemNamed(tree, L"B"), 1);
    auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"You need to select at least one component to continue.");
    EXPECT_EQ(box->caption, L"Tool Setup");
    EXPECT_EQ(box->icon, UINT(MB_ICONINFORMATION));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(SelectedFlags(), (std::vector<int>{0, 0}));   // the refused OK copied the marks

    SetState(tree, ItemNamed(tree, L"B"), 2);
    box = WithMessageBoxes([&] { Tap(page, IDOK); });
    EXPECT_FALSE(box);
    EXPECT_EQ(Requests(), std::vector<int>{CmdNext});
    EXPECT_EQ(SelectedFlags(), (std::vector<int>{0, 1}));
}

TEST_F(ComponentsPageTest, PackageWithoutComponentsCanOnlyGoBack)
{
    HWND page = Open({});
    EXPECT_EQ(TreeView_GetRoot(TreeOf(page)), nullptr);
    auto box = WithMessageBoxes([&] { Tap(page, IDOK); });
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"You need to select at least one component to continue.");
    EXPECT_TRUE(Requests().empty());
    Tap(page, IDC_BACK);
    EXPECT_EQ(Requests(), std::vector<int>{CmdBack});
}
