/*
 * platform_win.cpp -- the Pocket PC shell calls of the setup program, on the
 * desktop: each goes to its stand-in in desktop/.  Links open the same way
 * on both (platform_link.cpp).
 */
#include "platform.h"
#include "desktop.h"
#include "htmlview_win.h"

void PlatformSizeDialogToWorkArea(HWND dialog)
{
    DesktopSizeDialogToWorkArea(dialog);
}

HWND PlatformCreateEmptyMenuBar(HWND frame)
{
    return DesktopCreateMenuBar(frame);
}

BOOL PlatformInitHtmlControl(HINSTANCE instance)
{
    return RegisterHtmlViewClass(instance);
}

HGDIOBJ PlatformSelectPageFont(HWND page, HDC dc)
{
    return DesktopSelectDialogFont(page, dc);
}

const WCHAR *PlatformShellPath(const WCHAR *path, WCHAR *buffer)
{
    return DesktopWholePath(path, buffer);
}
