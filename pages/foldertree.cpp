/*
 * foldertree.cpp -- the device's folders in the destination page's tree.
 *
 * Listing is lazy: a folder shows a single placeholder child (its first
 * subfolder) until the user expands it the first time; only then are its
 * other subfolders listed.  After that first expansion nothing is listed
 * again, so later changes on the disk are not followed.
 */
#include "foldertree.h"
#include "platform.h"

#include <shellapi.h>

HWND FolderTree;

#define ITEM_TEXT_UNITS 260
/* The action bits of a TVN_ITEMEXPANDING; the bits above them are modifiers
 * such as TVE_COLLAPSERESET. */
#define EXPAND_ACTION_MASK 0x0003

/* ---- small wrappers around the tree's messages ---- */

static BOOL GetItemText(HTREEITEM item, WCHAR *buffer)
{
    TVITEMW record;
    ZeroMemory(&record, sizeof record);
    record.mask = TVIF_HANDLE | TVIF_TEXT;
    record.hItem = item;
    record.pszText = buffer;
    record.cchTextMax = ITEM_TEXT_UNITS;
    buffer[0] = 0;
    if (!SendMessageW(FolderTree, TVM_GETITEMW, 0, (LPARAM)&record))
        return FALSE;
    /* A tree may hand back its own buffer instead of filling ours. */
    if (record.pszText != buffer) {
        wcsncpy(buffer, record.pszText ? record.pszText : L"", ITEM_TEXT_UNITS - 1);
    }
    buffer[ITEM_TEXT_UNITS - 1] = 0;
    return TRUE;
}

static BOOL GetChildrenListed(HTREEITEM item, LPARAM *listed)
{
    TVITEMW record;
    ZeroMemory(&record, sizeof record);
    record.mask = TVIF_HANDLE | TVIF_PARAM;
    record.hItem = item;
    if (!SendMessageW(FolderTree, TVM_GETITEMW, 0, (LPARAM)&record))
        return FALSE;
    *listed = record.lParam;
    return TRUE;
}

static BOOL SetChildrenListed(HTREEITEM item)
{
    TVITEMW record;
    ZeroMemory(&record, sizeof record);
    record.mask = TVIF_HANDLE | TVIF_PARAM;
    record.hItem = item;
    record.lParam = 1;
    return SendMessageW(FolderTree, TVM_SETITEMW, 0, (LPARAM)&record) != 0;
}

static HTREEITEM Relative(HTREEITEM item, UINT how)
{
    return (HTREEITEM)SendMessageW(FolderTree, TVM_GETNEXTITEM, how, (LPARAM)item);
}

static int FolderIcon(const WCHAR *folderPath)
{
    SHFILEINFO info;
    ZeroMemory(&info, sizeof info);
    WCHAR buffer[MAX_PATH];
    if (!SHGetFileInfo(PlatformShellPath(folderPath, buffer), 0, &info, sizeof info, SHGFI_SYSICONINDEX))
        return 0;
    return info.iIcon;
}

/* Entries whose names begin with a period, and files, are never shown. */
static BOOL IsShownFolder(const WIN32_FIND_DATAW *entry)
{
    return entry->cFileName[0] != L'.' && (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

/* folderPath + name + "\"; NULL when memory ran out. */
static WCHAR *ChildPath(const WCHAR *folderPath, const WCHAR *name)
{
    WCHAR *path = NULL;
    if (!AssignString(&path, folderPath) || !AppendString(&path, name) || !AppendString(&path, L"\\"))
        return NULL;
    return path;
}

/* Starts a search of the folder's entries; INVALID_HANDLE_VALUE when the
 * folder cannot be searched, and *outOfMemory when the pattern could not
 * be built. */
static HANDLE StartSearch(const WCHAR *folderPath, WIN32_FIND_DATAW *entry, BOOL *outOfMemory)
{
    WCHAR *pattern = NULL;
    *outOfMemory = FALSE;
    if (!AssignString(&pattern, folderPath) || !AppendString(&pattern, L"*")) {
        *outOfMemory = TRUE;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE search = FindFirstFileW(pattern, entry);
    VFree(pattern);
    return search;
}

/* Inserts one subfolder found in folderPath under parent, in childMode. */
static BOOL InsertSubfolder(const WCHAR *folderPath, const WCHAR *name, HTREEITEM parent, int childMode)
{
    WCHAR *path = ChildPath(folderPath, name);
    if (!path)
        return FALSE;
    BOOL ok = PopulateFolder(path, name, parent, FALSE, childMode);
    VFree(path);
    return ok;
}

/* Inserts the shown subfolders of folderPath under parent in childMode;
 * only the first when that is a placeholder, which just gives parent its
 * button.  FALSE when memory ran out. */
static BOOL InsertSubfolders(const WCHAR *folderPath, HTREEITEM parent, int childMode)
{
    WIN32_FIND_DATAW entry;
    BOOL outOfMemory;
    HANDLE search = StartSearch(folderPath, &entry, &outOfMemory);
    if (search == INVALID_HANDLE_VALUE)
        return !outOfMemory;
    BOOL ok = TRUE;
    do {
        if (!IsShownFolder(&entry))
            continue;
        ok = InsertSubfolder(folderPath, entry.cFileName, parent, childMode);
        if (childMode == InsertPlaceholder)
            break;
    } while (ok && FindNextFileW(search, &entry));
    FindClose(search);
    return ok;
}

/* ---- first expansion of an item ---- */

typedef struct {
    HTREEITEM Item;
    BOOL Found;
} PresentChild;

/*
 * Lists every subfolder of an item that so far holds only its placeholder.
 * The placeholder was the folder's first subfolder when the item was
 * inserted; the folder may have changed since (a new first subfolder, the
 * old one removed), so children already present are matched by name rather
 * than by position: a name found again is not inserted twice, and a child
 * whose folder is gone is removed.
 */
static BOOL ListRemainingSubfolders(const WCHAR *folderPath, HTREEITEM item)
{
    WCHAR text[ITEM_TEXT_UNITS];
    int count = 0, i;
    HTREEITEM child;

    for (child = Relative(item, TVGN_CHILD); child; child = Relative(child, TVGN_NEXT))
        ++count;
    PresentChild *present = (PresentChild *)VAlloc((count ? count : 1) * sizeof(PresentChild));
    if (!present)
        return FALSE;
    i = 0;
    for (child = Relative(item, TVGN_CHILD); child && i < count; child = Relative(child, TVGN_NEXT)) {
        present[i].Item = child;
        present[i].Found = FALSE;
        ++i;
    }
    count = i;

    BOOL ok = TRUE, outOfMemory;
    WIN32_FIND_DATAW entry;
    HANDLE search = StartSearch(folderPath, &entry, &outOfMemory);
    if (search == INVALID_HANDLE_VALUE) {
        ok = !outOfMemory;
    } else {
        do {
            if (!IsShownFolder(&entry))
                continue;
            int match = -1;
            for (i = 0; i < count && match < 0; ++i)
                if (!present[i].Found && GetItemText(present[i].Item, text) &&
                    lstrcmpiW(text, entry.cFileName) == 0)
                    match = i;
            if (match < 0) {
                ok = InsertSubfolder(folderPath, entry.cFileName, item, InsertWithPlaceholder);
                continue;
            }
            /* The placeholder stays; it gets its own placeholder, as its
             * newly inserted siblings do. */
            present[match].Found = TRUE;
            LPARAM listed = 1;
            if (!Relative(present[match].Item, TVGN_CHILD) && GetChildrenListed(present[match].Item, &listed) &&
                !listed) {
                WCHAR *path = ChildPath(folderPath, entry.cFileName);
                ok = path && InsertSubfolders(path, present[match].Item, InsertPlaceholder);
                VFree(path);
            }
        } while (ok && FindNextFileW(search, &entry));
        FindClose(search);
    }

    if (ok) {
        for (i = 0; i < count; ++i)
            if (!present[i].Found)
                SendMessageW(FolderTree, TVM_DELETEITEM, 0, (LPARAM)present[i].Item);
    }
    VFree(present);
    return ok;
}

/* ---- the operations the destination page uses ---- */

BOOL PopulateFolder(const WCHAR *folderPath, const WCHAR *text, HTREEITEM item, BOOL expand, int mode)
{
    HTREEITEM parent;

    if (mode == ExpandExisting) {
        SetChildrenListed(item);
        if (!ListRemainingSubfolders(folderPath, item))
            return FALSE;
        parent = item;
    } else {
        int icon = FolderIcon(folderPath);
        TVINSERTSTRUCTW insert;
        ZeroMemory(&insert, sizeof insert);
        insert.hParent = item ? item : TVI_ROOT;
        insert.hInsertAfter = TVI_SORT;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
        insert.item.pszText = (LPWSTR)text;
        insert.item.iImage = icon;
        insert.item.iSelectedImage = icon;
        insert.item.lParam = mode == InsertRoot ? 1 : 0;
        parent = (HTREEITEM)SendMessageW(FolderTree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
        /* Without the item there is nothing to hang its subfolders on; the
         * tree fails an insertion only when it has no memory left. */
        if (!parent)
            return FALSE;
        if (mode == InsertPlaceholder)
            return TRUE;
        /* Its own subfolders are listed when it is opened; one placeholder
         * gives it the button until then. */
        if (mode == InsertWithPlaceholder)
            return InsertSubfolders(folderPath, parent, InsertPlaceholder);
        if (!InsertSubfolders(folderPath, parent, InsertWithPlaceholder))
            return FALSE;
    }

    SendMessageW(FolderTree, TVM_SORTCHILDREN, FALSE, (LPARAM)parent);
    if (expand) {
        SendMessageW(FolderTree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
        SendMessageW(FolderTree, TVM_ENSUREVISIBLE, 0, (LPARAM)parent);
    }
    return TRUE;
}

BOOL InitFolderTree(HWND page)
{
    SHFILEINFO info;
    ZeroMemory(&info, sizeof info);
    HIMAGELIST icons = (HIMAGELIST)SHGetFileInfo(L"", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    SendMessageW(FolderTree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)icons);
    return PopulateFolder(L"\\", L"\\", NULL, TRUE, InsertRoot);
}

WCHAR *ItemPath(HTREEITEM item)
{
    WCHAR text[ITEM_TEXT_UNITS];
    WCHAR *result = NULL;

    while (item) {
        WCHAR *piece = NULL;
        if (!GetItemText(item, text) || !AssignString(&piece, text) ||
            (text[0] != L'\\' && !AppendString(&piece, L"\\")) || (result && !AppendString(&piece, result))) {
            VFree(piece);
            VFree(result);
            return NULL;
        }
        VFree(result);
        result = piece;
        item = Relative(item, TVGN_PARENT);
    }
    return result;
}

/* ---- expansion notifications ---- */

/* A refused collapse of the root, while it is being undone: first the
 * tree's own moves of the selection are refused, then the selection that
 * was there before is given back without counting as the user's pick. */
enum { RootUntouched, RootCollapseRefused, RootSelectionRestored };
static int RootGuard = RootUntouched;
static HTREEITEM SelectionBeforeCollapse;

BOOL FolderSelectionRefused(void)
{
    return RootGuard == RootCollapseRefused;
}

BOOL FolderSelectionIgnored(void)
{
    return RootGuard != RootUntouched;
}

void KeepFolderRootExpanded(void)
{
    HTREEITEM root = Relative(NULL, TVGN_ROOT);
    /* TVM_GETITEM rather than TVM_GETITEMSTATE, which Windows CE 5 lacks. */
    TVITEMW item;
    item.mask = TVIF_STATE;
    item.hItem = root;
    item.stateMask = TVIS_EXPANDED;
    item.state = 0;
    if (root && SendMessageW(FolderTree, TVM_GETITEMW, 0, (LPARAM)&item) && !(item.state & TVIS_EXPANDED))
        SendMessageW(FolderTree, TVM_EXPAND, TVE_EXPAND, (LPARAM)root);
    RootGuard = RootSelectionRestored;
    if (SelectionBeforeCollapse && Relative(NULL, TVGN_CARET) != SelectionBeforeCollapse)
        SendMessageW(FolderTree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)SelectionBeforeCollapse);
    RootGuard = RootUntouched;
    SelectionBeforeCollapse = NULL;
}

BOOL HandleFolderExpanding(HWND page, NMTREEVIEWW *notification)
{
    HTREEITEM item = notification->itemNew.hItem;
    LPARAM listed;
    BOOL refuse = FALSE;

    if (!GetChildrenListed(item, &listed)) {
        RequestAbort(page);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, FALSE);
        return TRUE;
    }
    if (!listed) {
        WCHAR text[ITEM_TEXT_UNITS];
        WCHAR *path = ItemPath(item);
        BOOL ok = path && GetItemText(item, text) && PopulateFolder(path, text, item, FALSE, ExpandExisting);
        VFree(path);
        if (!ok || !SetChildrenListed(item)) {
            RequestAbort(page);
            SetWindowLongPtrW(page, DWLP_MSGRESULT, FALSE);
            return TRUE;
        }
    }
    if (!Relative(item, TVGN_PARENT) && (notification->action & EXPAND_ACTION_MASK) == TVE_COLLAPSE) {
        refuse = TRUE;
        if (RootGuard == RootUntouched) {
            RootGuard = RootCollapseRefused;
            SelectionBeforeCollapse = Relative(NULL, TVGN_CARET);
            PostMessageW(page, WM_KEEPROOTEXPANDED, 0, 0);
        }
    }
    /* Set last: listing can remove a selected placeholder, and the page's
     * answers to the notifications that causes go through the same slot. */
    SetWindowLongPtrW(page, DWLP_MSGRESULT, refuse);
    return TRUE;
}
