/*
 * foldertree.h -- the destination page's tree of the device's folders,
 * listed one level at a time as the user opens them.
 * FolderTree: the tree control, set when the destination page is made.
 */
#ifndef VELKOR_FOLDERTREE_H
#define VELKOR_FOLDERTREE_H

#include "shell.h"

enum { InsertRoot = 0, ExpandExisting = 1, InsertWithPlaceholder = 2, InsertPlaceholder = 3 };
extern HWND FolderTree;
BOOL InitFolderTree(HWND page);
BOOL PopulateFolder(const WCHAR *folderPath, const WCHAR *text, HTREEITEM item, BOOL expand, int mode);
WCHAR *ItemPath(HTREEITEM item);
BOOL HandleFolderExpanding(HWND page, NMTREEVIEWW *notification);

#endif
