/*
 * pages.h -- the six wizard pages: their dialog procedures, the space line
 * the shell refreshes whenever the destination page is shown, and the
 * destination field's reading (tested on its own); then what the choice
 * pages share among themselves: the destination page's guard around a
 * refused collapse of the folder tree's root, the navigation buttons' usual
 * meaning, and a test for a field that holds nothing but blanks.
 */
#ifndef VELKOR_PAGES_H
#define VELKOR_PAGES_H

#include "shell.h"

INT_PTR CALLBACK WelcomePageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK AgreementPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ComponentsPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LocationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DestinationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ReadyPageProcedure(HWND, UINT, WPARAM, LPARAM);
BOOL RefreshSpaceLine(HWND page);       /* FALSE: memory ran out */
BOOL ReadDestinationField(HWND page);   /* FALSE: memory ran out */

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

/* The navigation buttons' usual meaning: OK asks for the next page, Back
 * for the previous one, Cancel for the confirmation.  Other commands are
 * left alone. */
void RequestNavigation(int command);

/* TRUE for an empty text or one made only of blanks (spaces, tabs, line
 * breaks, no-break and ideographic spaces). */
BOOL IsBlankText(const WCHAR *text);

#endif
