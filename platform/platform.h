/*
 * platform.h -- the Pocket PC shell and HTML viewer calls the setup program
 * makes.  On the device (platform_ce.cpp) they are the real SHInitDialog,
 * SHCreateMenuBar, InitHTMLControl and ShellExecuteEx; on the desktop
 * (platform_win.cpp) they call the stand-ins in desktop/, which give the
 * frame a device-sized working area and provide our own HTML view under the
 * class name "DISPLAYCLASS".
 */
#ifndef VELKOR_PLATFORM_H
#define VELKOR_PLATFORM_H

#include <windows.h>
#ifdef _WIN32_WCE
#include "ce_shell.h"
#endif

/* HTML viewer messages and notification (values as on the device). */
#ifndef DTM_ADDTEXTW
#define DTM_ADDTEXTW      (WM_USER + 102)
#define DTM_ENDOFSOURCE   (WM_USER + 104)
#define NM_HOTSPOT        (WM_USER + 101)
#endif
#define HTML_VIEW_CLASS   L"DISPLAYCLASS"

/* What the HTML view sends with NM_HOTSPOT: the header, then the target. */
typedef struct {
    NMHDR hdr;
    LPCWSTR szTarget;
    LPCWSTR szData;
    LPARAM lParam;
} HtmlViewNotify;

/* SHInitDialog with SHIDIF_SIZEDLG: size the dialog to the working area. */
void PlatformSizeDialogToWorkArea(HWND dialog);
/* SHCreateMenuBar with SHCMBF_EMPTYBAR; returns the bar or NULL. */
HWND PlatformCreateEmptyMenuBar(HWND frame);
/* InitHTMLControl: makes "DISPLAYCLASS" available. */
BOOL PlatformInitHtmlControl(HINSTANCE instance);
/* ShellExecuteEx on a link target with the default verb. */
BOOL PlatformOpenLink(LPCWSTR target);
/* Selects the font a page's own painting starts from into a paint DC and
 * returns the object to select back afterwards, or NULL when nothing was
 * changed (the device's DC already starts with its UI font). */
HGDIOBJ PlatformSelectPageFont(HWND page, HDC dc);
/* The path as the shell's file-information call understands it: the path
 * itself on the device, where every path is whole; `buffer` (MAX_PATH code
 * units) may receive a rewritten copy. */
const WCHAR *PlatformShellPath(const WCHAR *path, WCHAR *buffer);

#endif
