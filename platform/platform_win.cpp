/*
 * platform_win.cpp -- the Pocket PC shell calls of the setup program.  On
 * the device they go to the shell and the HTML viewer; on the desktop,
 * stand-ins give the frame the device's working area, an empty bar below
 * it, and our own HTML view.  Links open through ShellExecuteEx on both.
 */
#include "platform.h"

#include <shellapi.h>
#include <string.h>

#ifdef _WIN32_WCE

#include <aygshell.h>
#include <htmlctrl.h>

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

#else

#include "htmlview_win.h"

static const WCHAR MenuBarClass[] = L"VelkorMenuBar";

void PlatformSizeDialogToWorkArea(HWND dialog)
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

HWND PlatformCreateEmptyMenuBar(HWND frame)
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

BOOL PlatformInitHtmlControl(HINSTANCE instance)
{
    return RegisterHtmlViewClass(instance);
}

#endif

BOOL PlatformOpenLink(LPCWSTR target)
{
#ifdef _WIN32_WCE
    SHELLEXECUTEINFO info;
#else
    SHELLEXECUTEINFOW info;
#endif
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.lpFile = target;                /* default verb, no window, no parameters */
#ifdef _WIN32_WCE
    return ShellExecuteEx(&info);
#else
    return ShellExecuteExW(&info);
#endif
}
