/*
 * desktop.h -- the desktop stand-ins for what the Pocket PC shell does for
 * the setup program: a device-sized working area, the empty menu bar below
 * it, and the fix-ups where the desktop's GDI and shell differ from the
 * device's.  Never part of the device program.
 */
#ifndef VELKOR_DESKTOP_H
#define VELKOR_DESKTOP_H

#include <windows.h>

/* Device working area (a 240 x 320 screen less its top and bottom bars). */
#define DEVICE_SCREEN_WIDTH   240
#define DEVICE_SCREEN_HEIGHT  320
#define DEVICE_TOP_BAR        26
#define DEVICE_MENU_BAR       26

/* Our own view only (the device's control has no such message): the
 * client rectangle of the first visible piece of link number wParam (in
 * document order) into the RECT at lParam.  FALSE when there is no such
 * link or none of it is on screen.  For tests that tap links. */
#define HVM_GETLINKRECT   (WM_USER + 900)

/* Gives the dialog a client area of the device's working area, at the top
 * left of the desktop's work area. */
void DesktopSizeDialogToWorkArea(HWND dialog);
/* An empty bar lined up below the frame's client area; NULL when its
 * window class or window cannot be made. */
HWND DesktopCreateMenuBar(HWND frame);
/* Selects the dialog's font into a paint DC (a desktop paint DC starts with
 * the bold System font); returns the font to select back, or NULL. */
HGDIOBJ DesktopSelectDialogFont(HWND window, HDC dc);
/* The whole path of a path relative to the current drive ("\x"), in
 * `buffer` (MAX_PATH); `path` itself when it cannot be made whole. */
const WCHAR *DesktopWholePath(const WCHAR *path, WCHAR *buffer);

#endif
