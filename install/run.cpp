/*
 * run.cpp -- the installation run: the space check, the progress window and
 * one hand-off per selected component in package order, with the first
 * failure or a cancellation reported in a message box.  Components handed
 * off before a failure stay installed; nothing is rolled back.
 */
#include "install.h"
#include "handoff_io.h"

BOOL RunInstallation(const InstallHost *host)
{
    DWORD free = DestinationFreeSpace(host->Package);
    DWORD required = RequiredSpace(host->Package);
    if (required > free) {
        /* The caller hid the page; bring it back so the user can choose again. */
        if (!host->ShowPageAgain()) {
            InstallOs.Message(host->Frame, TextBuiltInOutOfMemory, TextBuiltInCaption, MB_ICONHAND);
            return TRUE;
        }
        InstallOs.Message(host->Frame, HostText(host, TextNotEnoughSpace), HostText(host, TextWindowTitle),
                          MB_ICONHAND);
        return FALSE;
    }

    ProgressPage = CreateProgressPage(host);
    InstallComponents(host, ProgressPage);
    return TRUE;
}

/* Shows the message of a hand-off that did not finish; returns what the
 * run then reports. */
static int ReportHandOff(const InstallHost *host, HWND progress, int result)
{
    const WCHAR *text;
    const WCHAR *caption = HostText(host, TextWindowTitle);
    UINT icon = MB_ICONHAND;
    switch (result) {
    case InstallCancelled:
        InstallOs.Message(progress, HostText(host, TextInstallIncomplete), caption, MB_ICONINFORMATION);
        return RunCancelled;
    case InstallCannotCreate:
        text = HostText(host, TextCannotInstall);
        break;
    case InstallCorrupt:
        text = HostText(host, TextPackageCorrupted);
        break;
    case InstallNoMemory:
        text = TextBuiltInOutOfMemory;
        caption = TextBuiltInCaption;
        break;
    default:
        text = HostText(host, TextInstallerFailed);
        break;
    }
    InstallOs.Message(progress, text, caption, icon);
    return RunFailed;
}

int InstallComponents(const InstallHost *host, HWND progress)
{
    HCURSOR waitCursor = LoadCursorW(NULL, (LPCWSTR)IDC_WAIT);
    HANDLE source = InstallOs.OpenSource(ModulePath);
    if (source == INVALID_HANDLE_VALUE) {
        InstallOs.Message(progress, TextBuiltInCannotOpen, TextBuiltInCaption, MB_ICONHAND);
        return RunFailed;
    }
    CancelRequested = 0;

    int outcome = RunCompleted;
    for (uint32_t i = 0; i < host->Package->ComponentCount; ++i) {
        const Component *component = &host->Package->Components[i];
        if (!component->Selected)
            continue;
        SetDlgItemTextW(progress, IDC_PROGRESS_NAME, component->Name);
        /* The wait cursor only while unpacking, so the boxes get the usual one. */
        HCURSOR previous = waitCursor ? SetCursor(waitCursor) : NULL;
        int result = HandOffComponent(host, source, component);
        if (waitCursor)
            SetCursor(previous);
        if (result != InstallDone) {
            outcome = ReportHandOff(host, progress, result);
            break;
        }
    }
    InstallOs.Close(source);
    return outcome;
}
