/*
 * run.cpp -- the installation run: the space check, the progress window and
 * one hand-off per selected component in package order, with the first
 * failure or a cancellation reported in a message box.  Components handed
 * off before a failure stay installed; nothing is rolled back.
 */
#include "install.h"
#include "handoff_io.h"

enum { RunCompleted = 1, RunCancelled = 2, RunFailed = 3 };

BOOL RunInstallation(void)
{
    DWORD free = DestinationFreeSpace();
    DWORD required = RequiredSpace();
    if (required > free) {
        /* The caller hid the page; bring it back so the user can choose again. */
        if (CurrentPage != 0 && !ShowPage(CurrentPage)) {
            InstallOs.Message(FrameWindow, TextBuiltInOutOfMemory, TextBuiltInCaption, MB_ICONHAND);
            QuitWizard();
            return FALSE;
        }
        InstallOs.Message(FrameWindow, PackageText(TextNotEnoughSpace), PackageText(TextWindowTitle),
                          MB_ICONHAND);
        return FALSE;
    }

    ProgressPage = CreateProgressPage();
    InstallComponents(ProgressPage);
    return TRUE;
}

/* Shows the message of a hand-off that did not finish; returns what the
 * run then reports. */
static int ReportHandOff(HWND progress, int result)
{
    const WCHAR *text;
    const WCHAR *caption = PackageText(TextWindowTitle);
    UINT icon = MB_ICONHAND;
    switch (result) {
    case InstallCancelled:
        InstallOs.Message(progress, PackageText(TextInstallIncomplete), caption, MB_ICONINFORMATION);
        return RunCancelled;
    case InstallCannotCreate:
        text = PackageText(TextCannotInstall);
        break;
    case InstallCorrupt:
        text = PackageText(TextPackageCorrupted);
        break;
    case InstallNoMemory:
        text = TextBuiltInOutOfMemory;
        caption = TextBuiltInCaption;
        break;
    default:
        text = PackageText(TextInstallerFailed);
        break;
    }
    InstallOs.Message(progress, text, caption, icon);
    return RunFailed;
}

int InstallComponents(HWND progress)
{
    HCURSOR waitCursor = LoadCursorW(NULL, (LPCWSTR)IDC_WAIT);
    HANDLE source = InstallOs.OpenSource(ModulePath);
    if (source == INVALID_HANDLE_VALUE) {
        InstallOs.Message(progress, TextBuiltInCannotOpen, TextBuiltInCaption, MB_ICONHAND);
        return RunFailed;
    }
    CancelRequested = 0;

    int outcome = RunCompleted;
    for (uint32_t i = 0; i < Package.ComponentCount; ++i) {
        const Component *component = &Package.Components[i];
        if (!component->Selected)
            continue;
        SetDlgItemTextW(progress, IDC_PROGRESS_NAME, component->Name);
        /* The wait cursor only while unpacking, so the boxes get the usual one. */
        HCURSOR previous = waitCursor ? SetCursor(waitCursor) : NULL;
        int result = HandOffComponent(source, component);
        if (waitCursor)
            SetCursor(previous);
        if (result != InstallDone) {
            outcome = ReportHandOff(progress, result);
            break;
        }
    }
    InstallOs.Close(source);
    return outcome;
}
