/*
 * platform.h -- the Pocket PC shell and HTML viewer calls the setup program
 * makes.  On the device (platform_ce.cpp) they are the real SHInitDialog,
 * SHCreateMenuBar, InitHTMLControl and ShellExecuteEx; on the desktop
 * (platform_win.cpp) they call the stand-ins in desktop/, which give the
 * frame a device-sized working area and provide our own HTML view under the
 * class name "DISPLAYCLASS".  The viewer's messages are in htmlviewer.h.
 */
#ifndef VELKOR_PLATFORM_H
#define VELKOR_PLATFORM_H

#include <windows.h>
#ifdef _WIN32_WCE
#include "ce_shell.h"
#endif
#include "htmlviewer.h"

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
