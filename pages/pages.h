/*
 * pages.h -- the six wizard pages: their dialog procedures, the check-box
 * images the shell releases at exit, and the destination field's reading
 * (tested on its own).  The pages are made with the page kit and never
 * call the shell: they ask their parent window to move.
 */
#ifndef VELKOR_PAGES_H
#define VELKOR_PAGES_H

#include "pagekit.h"

/* Each page's WM_INITDIALOG takes this program's instance as its lParam. */
INT_PTR CALLBACK WelcomePageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK AgreementPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ComponentsPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LocationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DestinationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ReadyPageProcedure(HWND, UINT, WPARAM, LPARAM);

/* Destroys the components page's check-box images, once no tree shows
 * them; nothing when they were never loaded. */
void ReleaseComponentImages(void);

BOOL ReadDestinationField(HWND page);   /* FALSE: memory ran out */

/* TRUE for an empty text or one made only of blanks (spaces, tabs, line
 * breaks, no-break and ideographic spaces). */
BOOL IsBlankText(const WCHAR *text);

#endif
