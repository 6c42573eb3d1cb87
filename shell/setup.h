/*
 * setup.h -- what the parts of the setup program share: the process-wide
 * state set at start-up, page sequencing, the page furniture, the pages'
 * entry points and the installation run.  Everything runs on one thread.
 */
#ifndef VELKOR_SETUP_H
#define VELKOR_SETUP_H

#include <windows.h>
#include <commctrl.h>

#include "package.h"
#include "text.h"
#include "resource.h"

/* ---- start-up and frame ---- */
extern HINSTANCE InstanceHandle;
extern HICON AppIcon;
extern WCHAR BackgroundColorText[8];
extern HWND FrameWindow;
extern HWND MenuBarWindow;
extern HIMAGELIST StateImageList;

#ifndef COLOR_STATIC
/* The device's static-control colour; the desktop paints dialogs in this one. */
#define COLOR_STATIC COLOR_BTNFACE
#endif

#define PackageText(index) (Package.TextTable[(index)])

extern const WCHAR TextBuiltInCaption[];       /* "Velkor" */
extern const WCHAR TextBuiltInCannotOpen[];
extern const WCHAR TextBuiltInNotAPackage[];
extern const WCHAR TextBuiltInOutOfMemory[];

void QuitWizard(void);
void ShowFrameFullScreen(void);
void FormatHtmlColor(WCHAR *destination, COLORREF color);
INT_PTR CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- page sequencing ---- */
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

/* ---- page furniture ---- */
void DrawPageHeader(HWND window, HDC dc, const WCHAR *text);
void PaintPageHeader(HWND page, int textIndex);
void LabelNavigationButtons(HWND page, int flag);
void FillHtmlPanel(HWND panel, int textIndex);
BOOL HandleLinkNotify(HWND page, NMHDR *notification);

/* ---- pages ---- */
INT_PTR CALLBACK WelcomePageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK AgreementPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ComponentsPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LocationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DestinationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ReadyPageProcedure(HWND, UINT, WPARAM, LPARAM);
BOOL RefreshSpaceLine(HWND page);       /* FALSE: memory ran out */
BOOL ReadDestinationField(HWND page);   /* FALSE: memory ran out */

/* ---- folder tree ---- */
enum { InsertRoot = 0, ExpandExisting = 1, InsertWithPlaceholder = 2, InsertPlaceholder = 3 };
extern HWND FolderTree;
BOOL InitFolderTree(HWND page);
BOOL PopulateFolder(const WCHAR *folderPath, const WCHAR *text, HTREEITEM item, BOOL expand, int mode);
WCHAR *ItemPath(HTREEITEM item);
BOOL HandleFolderExpanding(HWND page, NMTREEVIEWW *notification);

/* ---- installation ---- */
enum {
    InstallDone = 1,
    InstallCancelled = 2,
    InstallCannotCreate = 3,
    InstallCorrupt = 4,
    InstallNoMemory = 5,
    InstallLaunchFailed = 6
};
extern BYTE CancelRequested;
extern HWND ProgressBar;
extern HWND ProgressPage;

BOOL RunInstallation(void);
DWORD DestinationFreeSpace(void);
DWORD RequiredSpace(void);
int InstallComponents(HWND progress);
int HandOffComponent(HANDLE source, const Component *component);
void DrainMessageQueue(void);

#endif
