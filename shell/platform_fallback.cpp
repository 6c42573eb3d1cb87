/* platform_fallback.cpp -- minimal stand-ins used only until platform/ builds. */
#include "platform.h"
#include <shellapi.h>

void PlatformSizeDialogToWorkArea(HWND dialog)
{
    RECT r = {0, 0, DEVICE_SCREEN_WIDTH, DEVICE_SCREEN_HEIGHT - DEVICE_TOP_BAR - DEVICE_MENU_BAR};
    AdjustWindowRectEx(&r, GetWindowLongW(dialog, GWL_STYLE), FALSE, GetWindowLongW(dialog, GWL_EXSTYLE));
    SetWindowPos(dialog, NULL, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
}

HWND PlatformCreateEmptyMenuBar(HWND frame) { return NULL; }

static LRESULT CALLBACK FallbackView(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcW(w, m, wp, lp);
}

BOOL PlatformInitHtmlControl(HINSTANCE instance)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FallbackView;
    wc.hInstance = instance;
    wc.lpszClassName = HTML_VIEW_CLASS;
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    return RegisterClassW(&wc) != 0;
}

BOOL PlatformOpenLink(LPCWSTR target)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.lpFile = target;
    return ShellExecuteExW(&info);
}
