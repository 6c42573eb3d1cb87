/*
 * main.cpp -- start-up, the frame window and the message loop.
 *
 * Loads the package appended to this executable, applies the "install"
 * rule, creates the frame from template 135 and runs the loop until
 * QuitWizard.  Page changes and the whole installation happen inside
 * messages dispatched from here; nothing runs on another thread.
 */
#include "shell.h"
#include "pages.h"
#include "platform.h"

#include <string.h>

HINSTANCE InstanceHandle;
HWND FrameWindow;
/* Icon 128, the frame's big and small icon. */
static HICON AppIcon;
/* The frame's empty menu bar, destroyed at exit; NULL when there is none. */
static HWND MenuBarWindow;

void QuitWizard(void)
{
    PostQuitMessage(0);
}

void QuitOutOfMemory(void)
{
    MessageBoxW(FrameWindow, TextBuiltInOutOfMemory, TextBuiltInCaption, MB_ICONHAND);
    QuitWizard();
}

void ShowFrameFullScreen(void)
{
    PlatformSizeDialogToWorkArea(FrameWindow);
    MenuBarWindow = PlatformCreateEmptyMenuBar(FrameWindow);
    ShowWindow(FrameWindow, SW_SHOW);
    UpdateWindow(FrameWindow);
}

static void OnFrameInitDialog(HWND frame)
{
    int i;
    for (i = 0; i < PAGE_COUNT; ++i)
        PageWindows[i] = NULL;
    FrameWindow = frame;
    PostMessageW(frame, WM_SETICON, ICON_BIG, (LPARAM)AppIcon);
    PostMessageW(frame, WM_SETICON, ICON_SMALL, (LPARAM)AppIcon);
    SetWindowTextW(frame, PackageText(TextWindowTitle));

    switch (StartWizard()) {
    case FirstPageShown:
        ShowFrameFullScreen();
        break;
    case StartOutOfMemory:
        QuitOutOfMemory();
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnFrameInitDialog(window);
        return TRUE;
    case WM_WIZARDCOMMAND:
        WizardCommand(wParam);
        return FALSE;
    }
    return FALSE;
}

static void RunMessageLoop(void)
{
    MSG message;
    /* Only the quit message ends the loop; an error result (-1) does not. */
    while (GetMessageW(&message, NULL, 0, 0) != 0) {
        if (message.message == WM_CLOSE && message.hwnd == FrameWindow) {
            QuitWizard();
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

static BOOL CreateFrame(void)
{
    HRSRC resource = FindResourceW(InstanceHandle, MAKEINTRESOURCEW(IDD_FRAME), (LPCWSTR)RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(InstanceHandle, resource) : NULL;
    if (!loaded)
        return FALSE;
    return CreateDialogIndirectParamW(InstanceHandle, (LPCDLGTEMPLATEW)LockResource(loaded), NULL,
                                      FrameProcedure, 0) != NULL;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    HCURSOR waitCursor = LoadCursorW(NULL, (LPCWSTR)IDC_WAIT);
    HCURSOR previousCursor = waitCursor ? SetCursor(waitCursor) : NULL;

    GetModuleFileNameW(instance, ModulePath, MODULE_PATH_UNITS);
    InstanceHandle = instance;
    AppIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    FormatHtmlColor(BackgroundColorText, GetSysColor(COLOR_STATIC));

    LoadResult result = LoadPackage();
    if (waitCursor)
        SetCursor(previousCursor);

    switch (result) {
    case LoadCannotOpen:
        MessageBoxW(NULL, TextBuiltInCannotOpen, TextBuiltInCaption, MB_ICONHAND);
        return 0;
    case LoadNotAPackage:
    case LoadDamaged:
        /* A damaged package fails again on every try: a new copy is the remedy. */
        MessageBoxW(NULL, TextBuiltInNotAPackage, TextBuiltInCaption, MB_ICONHAND);
        return 0;
    case LoadOutOfMemory:
        MessageBoxW(NULL, TextBuiltInOutOfMemory, TextBuiltInCaption, MB_ICONHAND);
        return 0;
    default:
        break;
    }

    if (Package.RequireInstallArgument && _wcsicmp(commandLine ? commandLine : L"", L"install") != 0) {
        ReleasePackage();
        return 0;
    }

    PlatformInitHtmlControl(InstanceHandle);
    /* The device registers the tree view and progress bar classes only on
     * request; the page and progress templates need them. */
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    MenuBarWindow = NULL;

    /* Without a frame nothing would ever post the quit message; end here. */
    if (!CreateFrame()) {
        ReleasePackage();
        return 0;
    }
    RunMessageLoop();

    if (MenuBarWindow)
        DestroyWindow(MenuBarWindow);
    ReleaseComponentImages();
    ReleasePackage();
    return 0;
}

#ifdef _WIN32_WCE
/* The device's start-up code calls WinMain, with the command line in
 * UTF-16 as everywhere on Windows CE. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    return wWinMain(instance, previous, commandLine, showCommand);
}
#endif
