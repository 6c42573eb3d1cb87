/*
 * destination.cpp -- the destination folder: a path field, the folder tree
 * beside it and the space the chosen components need.  The page refuses to
 * go on while the destination's volume has too little room or the field is
 * blank; it never creates the folder itself.
 */
#include "pages.h"
#include "install.h"
#include "foldertree.h"

#define FIELD_UNITS 260

BOOL IsBlankText(const WCHAR *text)
{
    if (!text)
        return TRUE;
    for (; *text; ++text) {
        switch (*text) {
        case L' ':
        case L'\t':
        case L'\r':
        case L'\n':
        case 0x00A0:   /* no-break space */
        case 0x3000:   /* ideographic space */
            break;
        default:
            return FALSE;
        }
    }
    return TRUE;
}

/* Shows the space the chosen components need; FALSE when memory ran out.
 * Refreshed each time the page is shown, as the choice may have changed. */
static BOOL RefreshSpaceLine(HWND page)
{
    WCHAR amount[SPACE_AMOUNT_SIZE];
    FormatSpaceAmount(RequiredSpace(&Package), amount);
    WCHAR *line = ReplaceAll(PackageText(TextSpaceRequired), L"<space>", amount);
    if (!line)
        return FALSE;
    SetDlgItemTextW(page, IDC_SPACE_LINE, line);
    VFree(line);
    return TRUE;
}

BOOL ReadDestinationField(HWND page)
{
    VFree(Package.DestinationPath);
    WCHAR *block = (WCHAR *)VAlloc((FIELD_UNITS + 1) * sizeof(WCHAR));
    Package.DestinationPath = block;
    if (!block)
        return FALSE;
    block[0] = 0;
    UINT copied = GetDlgItemTextW(page, IDC_DESTINATION, block, FIELD_UNITS);
    if (copied > FIELD_UNITS - 1)
        copied = FIELD_UNITS - 1;
    block[copied] = 0;
    WCHAR *fitted = (WCHAR *)VResize(block, (copied + 1) * sizeof(WCHAR));
    if (!fitted)
        return FALSE;
    Package.DestinationPath = fitted;
    return TRUE;
}

/* TRUE when field 1010 holds nothing a folder could be named by. */
static BOOL FieldIsBlank(HWND page)
{
    WCHAR text[FIELD_UNITS];
    text[0] = 0;
    GetDlgItemTextW(page, IDC_DESTINATION, text, FIELD_UNITS);
    return IsBlankText(text);
}

static void OnInitDialog(HWND page)
{
    FolderTree = GetDlgItem(page, IDC_FOLDER_TREE);
    LabelNavigationButtons(page, PageDestination);
    SetDlgItemTextW(page, IDC_DESTINATION, Package.DestinationPath ? Package.DestinationPath : L"");
    if (!InitFolderTree(page))
        RequestAbort(page);
}

/* The user picked a folder in the tree: it becomes the destination. */
static BOOL OnFolderPicked(HWND page, HTREEITEM item)
{
    VFree(Package.DestinationPath);
    Package.DestinationPath = ItemPath(item);
    if (!Package.DestinationPath) {
        RequestAbort(page);
        return TRUE;
    }
    /* The root stays "\"; every other folder loses its trailing backslash. */
    size_t length = TextLength(Package.DestinationPath);
    if (length > 1)
        Package.DestinationPath[length - 1] = 0;
    SetDlgItemTextW(page, IDC_DESTINATION, Package.DestinationPath);
    return FALSE;
}

static void OnOk(HWND page)
{
    /* An empty destination would leave the installation without a folder:
     * keep the page and ask for one, and keep the destination as it was. */
    if (FieldIsBlank(page)) {
        MessageBoxW(page, PackageText(TextDestinationTitle), PackageText(TextWindowTitle), MB_OK | MB_ICONINFORMATION);
        SendMessageW(page, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(page, IDC_DESTINATION), TRUE);
        return;
    }
    if (!ReadDestinationField(page)) {
        RequestAbort(page);
        return;
    }
    DWORD available = DestinationFreeSpace(&Package);
    DWORD required = RequiredSpace(&Package);
    if (required > available) {
        MessageBoxW(page, PackageText(TextNotEnoughSpace), PackageText(TextWindowTitle), MB_ICONHAND);
        return;
    }
    RequestNextPage(page);
}

static void OnBack(HWND page)
{
    /* Going back with a blank field keeps the destination as it was, and
     * the field shows it again, so the two agree at the next visit. */
    if (FieldIsBlank(page)) {
        SetDlgItemTextW(page, IDC_DESTINATION, Package.DestinationPath ? Package.DestinationPath : L"");
    } else if (!ReadDestinationField(page)) {
        RequestAbort(page);
        return;
    }
    RequestPreviousPage(page);
}

static INT_PTR OnTreeNotify(HWND page, NMHDR *header)
{
    NMTREEVIEWW *tree = (NMTREEVIEWW *)header;
    switch (header->code) {
    case TVN_ITEMEXPANDINGW:
        return HandleFolderExpanding(page, tree);
    case TVN_SELCHANGINGW:
        /* While a refused collapse of the root is undone, the tree's own
         * move of the selection to the root is refused as well. */
        if (FolderSelectionRefused()) {
            SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case TVN_SELCHANGEDW:
        if (!tree->itemNew.hItem || FolderSelectionIgnored())
            return FALSE;
        return OnFolderPicked(page, tree->itemNew.hItem);
    }
    return FALSE;
}

INT_PTR CALLBACK DestinationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(page);
        return TRUE;
    case WM_PAGESHOWN:
        return AnswerPageShown(page, RefreshSpaceLine(page));
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->idFrom == IDC_FOLDER_TREE)
            return OnTreeNotify(page, (NMHDR *)lParam);
        break;
    case WM_KEEPROOTEXPANDED:
        KeepFolderRootExpanded();
        return TRUE;
    case WM_COMMAND:
        switch (ClickedControl(wParam)) {
        case IDOK:
            OnOk(page);
            return FALSE;
        case IDC_BACK:
            OnBack(page);
            return FALSE;
        }
        break;
    }
    return DefaultPageProcedure(page, message, wParam, lParam, TextDestinationTitle);
}
