/*
 * platform_ce.cpp -- the Pocket PC shell calls of the setup program, on the
 * device: the shell's full-screen dialog, its empty menu bar and the HTML
 * viewer control.  The desktop has platform_win.cpp instead.
 */
#include "platform.h"

#include <stddef.h>
#include <string.h>

void PlatformSizeDialogToWorkArea(HWND dialog)
{
    SHINITDLGINFO info;
    memset(&info, 0, sizeof info);
    info.dwMask = SHIDIM_FLAGS;
    info.hDlg = dialog;
    info.dwFlags = SHIDIF_SIZEDLG;
    SHInitDialog(&info);
}

HWND PlatformCreateEmptyMenuBar(HWND frame)
{
    SHMENUBARINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.hwndParent = frame;
    info.dwFlags = SHCMBF_EMPTYBAR;
    return SHCreateMenuBar(&info) ? info.hwndMB : NULL;
}

BOOL PlatformInitHtmlControl(HINSTANCE instance)
{
    return InitHTMLControl(instance);
}

HGDIOBJ PlatformSelectPageFont(HWND page, HDC dc)
{
    return NULL;
}

const WCHAR *PlatformShellPath(const WCHAR *path, WCHAR *buffer)
{
    return path;
}

/* Page furniture reads the viewer's NM_HOTSPOT through our own record. */
static_assert(offsetof(HtmlViewNotify, szTarget) == offsetof(NM_HTMLVIEW, szTarget),
              "HtmlViewNotify must line up with the viewer's NM_HTMLVIEW");
