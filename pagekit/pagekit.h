/*
 * pagekit.h -- what every wizard page is made with: the bold title header,
 * the navigation buttons' captions, the HTML panel and tapped links, the
 * package's texts, and the two messages between a page and its frame.
 * Below the pages and above package/ and platform/: it knows neither the
 * shell nor any one page, and a page reaches its frame only as its parent.
 */
#ifndef VELKOR_PAGEKIT_H
#define VELKOR_PAGEKIT_H

#include <windows.h>
#include <commctrl.h>

#include "package.h"
#include "text.h"
#include "resource.h"

#ifndef COLOR_STATIC
/* The device's static-control colour (platform/ce_headers.h); the desktop
 * has none and paints its dialogs in this one. */
#define COLOR_STATIC COLOR_BTNFACE
#endif

#define PackageText(index) (Package.TextTable[(index)])

/* BackgroundColorText: the static colour as "#rrggbb", the HTML panels'
 * background; the shell sets it at start-up with FormatHtmlColor. */
extern WCHAR BackgroundColorText[8];
void FormatHtmlColor(WCHAR *destination, COLORREF color);

/* ---- a page and its frame ----
 * A page asks its parent, the frame, to move with WM_WIZARDCOMMAND: next,
 * back and cancel are sent, the abort is posted, because the destination
 * page asks for it from inside its own handlers. */
#define WM_WIZARDCOMMAND (WM_USER + 1)
enum { CmdNext = 0, CmdBack = 1, CmdCancel = 2, CmdAbort = 3 };

void RequestNextPage(HWND page);
void RequestPreviousPage(HWND page);
void RequestCancel(HWND page);
void RequestAbort(HWND page);

/* Sent to a page just before it is made visible, each time.  The answer
 * (DWLP_MSGRESULT) is 0 when all is well and nonzero when memory ran out;
 * a page that does not handle it answers 0.  WM_APP + 1 is the folder
 * tree's, and WM_USER + 0..2 are the dialog manager's own. */
#define WM_PAGESHOWN (WM_APP + 2)

/* Sends WM_PAGESHOWN; FALSE: the page ran out of memory. */
BOOL NotifyPageShown(HWND page);
/* A page's answer to WM_PAGESHOWN, as its dialog procedure returns it. */
INT_PTR AnswerPageShown(HWND page, BOOL ok);

/* ---- furniture ---- */
void DrawPageHeader(HWND window, HDC dc, const WCHAR *text);
void PaintPageHeader(HWND page, int textIndex);
void LabelNavigationButtons(HWND page, int flag);
/* OK's caption alone: "Install" where OK on the page flag installs.  The
 * location page calls it again whenever its choice changes that. */
void LabelOkButton(HWND page, int flag);
void FillHtmlPanel(HWND panel, int textIndex);
BOOL HandleLinkNotify(HWND page, NMHDR *notification);

/* The id of the control a WM_COMMAND reports as clicked (notification code
 * 0), or 0 for any other notification. */
#define ClickedControl(wParam) (HIWORD(wParam) == 0 ? LOWORD(wParam) : 0)

/* Which of a pair of radio buttons a WM_COMMAND clicks: 1 the first, 0
 * the second, -1 neither. */
#define ClickedRadio(wParam, first, second) \
    (ClickedControl(wParam) == (first) ? 1 : ClickedControl(wParam) == (second) ? 0 : -1)

/* What a page does with the messages it leaves alone: paints the header
 * with the text titleIndex, opens tapped links, and gives the navigation
 * buttons their usual meaning (OK asks for the next page, Back for the
 * previous one, Cancel asks to cancel).  Each page procedure handles
 * its own messages and ends with this. */
INT_PTR DefaultPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int titleIndex);

#endif
