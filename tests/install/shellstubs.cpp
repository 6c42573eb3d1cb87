// shellstubs.cpp -- the shell's process-wide state and the few shell calls
// the installation makes, for programs that test the installation alone.
#include "shellstubs.h"

// ---- the shell's process-wide state and the calls the installation makes ----
HINSTANCE InstanceHandle;
HICON AppIcon;
WCHAR BackgroundColorText[8];
HWND FrameWindow;
HWND MenuBarWindow;
HIMAGELIST StateImageList;
int CurrentPage;
HWND PageWindows[PAGE_COUNT];

const WCHAR TextBuiltInCaption[] = L"Velkor";
const WCHAR TextBuiltInCannotOpen[] =
    L"Velkor cannot open the source setup file. Please download this setup package again.";
const WCHAR TextBuiltInNotAPackage[] = L"Invalid Velkor setup package. Please download this setup package again.";
const WCHAR TextBuiltInOutOfMemory[] = L"Out of memory. Velkor cannot continue, please try to install it later.";

installtest::ShellLog installtest::shell;

void QuitWizard(void) { ++installtest::shell.quits; }

BOOL ShowPage(int flag)
{
    installtest::shell.shownPages.push_back(flag);
    return installtest::shell.showPageResult;
}

void DrawPageHeader(HWND window, HDC dc, const WCHAR *text) {}


namespace installtest {

static HWND host;

HWND CreateFrameStandIn()
{
    InstanceHandle = GetModuleHandleW(nullptr);
    // The host lives as long as the process: destroying it would hide it.
    if (!host)
        host = CreateWindowExW(WS_EX_NOACTIVATE, L"STATIC", L"frame host", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320,
                               nullptr, nullptr, InstanceHandle, nullptr);
    FrameWindow = CreateWindowExW(WS_EX_CONTROLPARENT, L"#32770", L"Tool Setup", WS_CHILD, 0, 0, 240, 268, host,
                                  nullptr, InstanceHandle, nullptr);
    return FrameWindow;
}

void DestroyFrameStandIn()
{
    if (FrameWindow)
        DestroyWindow(FrameWindow);
    FrameWindow = nullptr;
}

}  // namespace installtest
