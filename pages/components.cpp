/*
 * components.cpp -- which components are installed: one checkable row per
 * component, sorted by name.  The rows' marks reach the Selected flags only
 * at OK; Back and Cancel leave the flags as they were.
 */
#include "pages.h"

#define STATE_UNTICKED 1
#define STATE_TICKED   2

/* The check boxes, loaded by the page and kept until the shell releases
 * them at exit; NULL until then. */
static HIMAGELIST StateImageList;

void ReleaseComponentImages(void)
{
    if (StateImageList)
        ImageList_Destroy(StateImageList);
    StateImageList = NULL;
}

static void FillComponentTree(HWND tree)
{
    for (uint32_t i = 0; i < Package.ComponentCount; ++i) {
        Component *component = &Package.Components[i];
        TVINSERTSTRUCTW insert;
        ZeroMemory(&insert, sizeof insert);
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_SORT;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
        insert.item.pszText = component->Name;
        insert.item.state = INDEXTOSTATEIMAGEMASK(component->Selected ? STATE_TICKED : STATE_UNTICKED);
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        /* The row finds its component through this, never by position. */
        insert.item.lParam = (LPARAM)component;
        SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
    }
    SendMessageW(tree, TVM_SORTCHILDREN, FALSE, (LPARAM)NULL);
}

static void ReadComponentChecks(HWND tree)
{
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, (LPARAM)TVI_ROOT);
    while (item) {
        TVITEMW record;
        ZeroMemory(&record, sizeof record);
        record.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
        record.hItem = item;
        record.stateMask = TVIS_STATEIMAGEMASK;
        if (SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&record) && record.lParam) {
            Component *component = (Component *)record.lParam;
            component->Selected = (record.state & INDEXTOSTATEIMAGEMASK(STATE_TICKED)) ? 1 : 0;
        }
        item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
    }
}

static BOOL AnyComponentSelected(void)
{
    uint8_t any = 0;
    for (uint32_t i = 0; i < Package.ComponentCount; ++i)
        any |= Package.Components[i].Selected;
    return any != 0;
}

static void OnInitDialog(HWND page, HINSTANCE instance)
{
    LabelNavigationButtons(page, PageComponents);
    HWND tree = GetDlgItem(page, IDC_COMPONENT_TREE);
    /* Growth 3 and white as the mask colour, so only the boxes' black
     * lines are drawn. */
    StateImageList = ImageList_LoadImage(instance, MAKEINTRESOURCEW(IDB_STATEIMAGES), 16, 3, RGB(255, 255, 255),
                                         IMAGE_BITMAP, 0);
    if (StateImageList)
        SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_STATE, (LPARAM)StateImageList);
    FillComponentTree(tree);
    FillHtmlPanel(GetDlgItem(page, IDC_HTML), TextComponentsBody);
}

static void OnOk(HWND page)
{
    ReadComponentChecks(GetDlgItem(page, IDC_COMPONENT_TREE));
    if (AnyComponentSelected())
        RequestNextPage(page);
    else
        MessageBoxW(page, PackageText(TextNoComponentSelected), PackageText(TextWindowTitle), MB_OK | MB_ICONINFORMATION);
}

INT_PTR CALLBACK ComponentsPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        /* The instance to load the boxes from comes with the page's making:
         * Windows CE's GetWindowLong cannot tell it (no GWL_HINSTANCE). */
        OnInitDialog(page, (HINSTANCE)lParam);
        return TRUE;
    case WM_COMMAND:
        if (ClickedControl(wParam) == IDOK) {
            OnOk(page);
            return FALSE;
        }
        break;
    }
    return DefaultPageProcedure(page, message, wParam, lParam, TextComponentsTitle);
}
