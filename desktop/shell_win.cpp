/*
 * shell_win.cpp -- the desktop stand-ins for the Pocket PC shell: the frame
 * gets the device's working area and an empty bar below it, and the few
 * places where the desktop's GDI and shell behave unlike the device's are
 * evened out.
 */
#include "desktop.h"

#include <string.h>

static const WCHAR MenuBarClass[] = L"VelkorMenuBar";

void DesktopSizeDialogToWorkArea(HWND dialog)
{
    /* The client area becomes the device screen less its two bars; the
     * caption and borders go around it. */
    RECT frame = {0, 0, DEVICE_SCREEN_WIDTH, DEVICE_SCREEN_HEIGHT - DEVICE_TOP_BAR - DEVICE_MENU_BAR};
    DWORD style = (DWORD)GetWindowLongW(dialog, GWL_STYLE);
    DWORD exStyle = (DWORD)GetWindowLongW(dialog, GWL_EXSTYLE);
    AdjustWindowRectEx(&frame, style, GetMenu(dialog) != NULL, exStyle);
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        SetRect(&work, 0, 0, 0, 0);
    SetWindowPos(dialog, NULL, work.left, work.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

static LRESULT CALLBACK MenuBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT rc;
        GetClientRect(window, &rc);
        FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
        RECT edge = rc;
        edge.bottom = edge.top + 2;
        DrawEdge(dc, &edge, EDGE_ETCHED, BF_TOP);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;            /* tapping the bar leaves the page focused */
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND DesktopCreateMenuBar(HWND frame)
{
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrW(frame, GWLP_HINSTANCE);
    WNDCLASSW wc;
    if (!GetClassInfoW(instance, MenuBarClass, &wc)) {
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = MenuBarProcedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
        wc.lpszClassName = MenuBarClass;
        if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return NULL;
    }
    /* Below the frame, lined up with its client area, which stands for the
     * device screen. */
    RECT outer;
    POINT client = {0, 0};
    GetWindowRect(frame, &outer);
    ClientToScreen(frame, &client);
    return CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, MenuBarClass, L"",
                           WS_POPUP | WS_VISIBLE, client.x, outer.bottom, DEVICE_SCREEN_WIDTH,
                           DEVICE_MENU_BAR, frame, NULL, instance, NULL);
}

HGDIOBJ DesktopSelectDialogFont(HWND window, HDC dc)
{
    HFONT dialogFont = (HFONT)SendMessageW(window, WM_GETFONT, 0, 0);
    return dialogFont ? SelectObject(dc, dialogFont) : NULL;
}

const WCHAR *DesktopWholePath(const WCHAR *path, WCHAR *buffer)
{
    /* The desktop shell finds no icon for a path relative to the current
     * drive ("\x"); the device has no drives, so its paths are whole. */
    DWORD length = GetFullPathNameW(path, MAX_PATH, buffer, NULL);
    return length && length < MAX_PATH ? buffer : path;
}
