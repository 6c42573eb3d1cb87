/*
 * foldertree.h -- the destination page's tree of the device's folders,
 * listed one level at a time as the user opens them, and the guard around
 * a refused collapse of its root.
 * FolderTree: the tree control, set when the destination page is made.
 */
#ifndef VELKOR_FOLDERTREE_H
#define VELKOR_FOLDERTREE_H

#include "pagekit.h"

enum { InsertRoot = 0, ExpandExisting = 1, InsertWithPlaceholder = 2, InsertPlaceholder = 3 };
extern HWND FolderTree;
BOOL InitFolderTree(HWND page);
BOOL PopulateFolder(const WCHAR *folderPath, const WCHAR *text, HTREEITEM item, BOOL expand, int mode);
WCHAR *ItemPath(HTREEITEM item);
BOOL HandleFolderExpanding(HWND page, NMTREEVIEWW *notification);

/* Posted to the destination page when the folder tree was asked to collapse
 * its root.  The device's tree honours the refusal given through
 * DWL_MSGRESULT; desktop tree views (Wine's among them) collapse anyway and
 * move the selection to the root, so the page undoes that here. */
#define WM_KEEPROOTEXPANDED (WM_APP + 1)

/* Expands the root again and gives the selection back to the item that had
 * it before the collapse, without the page taking that for a pick. */
void KeepFolderRootExpanded(void);

/* While a refused root collapse is being undone: selection changes the
 * tree makes on its own are refused, and the selection given back to the
 * item that had it is not taken for the user's pick. */
BOOL FolderSelectionRefused(void);
BOOL FolderSelectionIgnored(void);

#endif
