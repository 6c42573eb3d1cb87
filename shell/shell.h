/*
 * shell.h -- the wizard shell: start-up and the frame, page sequencing and
 * the furniture every page shares.  Everything runs on one thread.
 */
#ifndef VELKOR_SHELL_H
#define VELKOR_SHELL_H

#include <windows.h>
#include <commctrl.h>

#include "package.h"
#include "text.h"
#include "resource.h"

/* ---- process-wide values set at start-up (main.cpp) ----
 * InstanceHandle: this program's module; every template, the icon and the
 *   state bitmap are loaded from it.
 * AppIcon: icon 128, the frame's big and small icon.
 * BackgroundColorText: the static colour as "#rrggbb", for the HTML panels.
 * FrameWindow: the frame, parent of every page.
 * MenuBarWindow: the frame's empty menu bar; NULL when there is none.
 * StateImageList: the check-box images, loaded by the components page;
 *   NULL until then.  Both are destroyed at exit. */
extern HINSTANCE InstanceHandle;
extern HICON AppIcon;
extern WCHAR BackgroundColorText[8];
extern HWND FrameWindow;
extern HWND MenuBarWindow;
extern HIMAGELIST StateImageList;

#ifndef COLOR_STATIC
/* The device's static-control colour (platform/ce_headers.h); the desktop
 * has none and paints its dialogs in this one. */
#define COLOR_STATIC COLOR_BTNFACE
#endif

#define PackageText(index) (Package.TextTable[(index)])

void QuitWizard(void);
void ShowFrameFullScreen(void);
void FormatHtmlColor(WCHAR *destination, COLORREF color);
INT_PTR CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- page sequencing (sequence.cpp) ----
 * The pages ask the frame to move with WM_WIZARDCOMMAND: next, back and
 * cancel are sent, the abort is posted.
 * CurrentPage: the flag of the page on screen; LastPage while installing,
 *   0 for a package without pages.
 * PageWindows: the six pages by slot (bit position of the flag), NULL
 *   until first shown, then kept for the rest of the process. */
#define WM_WIZARDCOMMAND (WM_USER + 1)
enum { CmdNext = 0, CmdBack = 1, CmdCancel = 2, CmdAbort = 3 };
enum { FirstPageShown = 1, InstalledWithoutPages = 2, StartOutOfMemory = 3 };
#define PAGE_COUNT 6

extern int CurrentPage;
extern HWND PageWindows[PAGE_COUNT];

void RequestNextPage(void);
void RequestPreviousPage(void);
void RequestCancel(void);
void RequestAbort(void);
int StartWizard(void);
BOOL ShowPage(int flag);          /* FALSE: memory ran out */
void HideCurrentPage(void);
LRESULT WizardCommand(WPARAM code);

/* ---- page furniture (furniture.cpp) ---- */
void DrawPageHeader(HWND window, HDC dc, const WCHAR *text);
void PaintPageHeader(HWND page, int textIndex);
void LabelNavigationButtons(HWND page, int flag);
/* OK's caption alone: "Install" where OK on the page flag installs.  The
 * location page calls it again whenever its choice changes that. */
void LabelOkButton(HWND page, int flag);
void FillHtmlPanel(HWND panel, int textIndex);
BOOL HandleLinkNotify(HWND page, NMHDR *notification);

#endif
