// hoststandin.cpp -- the host of the installation tests: a recorded
// ShowPageAgain and header painting, and a frame that is never activated.
#include "hoststandin.h"

namespace installtest {

ShellLog shell;
InstallHost host;

static BOOL ShowPageAgain(void)
{
    ++shell.shownAgain;
    return shell.showPageResult;
}

static void DrawHeader(HWND, HDC, const WCHAR *) { ++shell.headers; }

static HWND topLevel;

HWND CreateFrameStandIn()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // The top-level window lives as long as the process: destroying it would hide it.
    if (!topLevel)
        topLevel = CreateWindowExW(WS_EX_NOACTIVATE, L"STATIC", L"frame host", WS_POPUP | WS_VISIBLE, 0, 0, 240,
                                   320, nullptr, nullptr, instance, nullptr);
    shell = ShellLog();
    host.Package = &Package;
    host.Instance = instance;
    host.ShowPageAgain = ShowPageAgain;
    host.DrawHeader = DrawHeader;
    host.Frame = CreateWindowExW(WS_EX_CONTROLPARENT, L"#32770", L"Tool Setup", WS_CHILD, 0, 0, 240, 268, topLevel,
                                 nullptr, instance, nullptr);
    return host.Frame;
}

void DestroyFrameStandIn()
{
    if (host.Frame)
        DestroyWindow(host.Frame);
    host.Frame = nullptr;
}

}  // namespace installtest
