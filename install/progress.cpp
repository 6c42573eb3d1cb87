/*
 * progress.cpp -- the progress window laid over the frame while components
 * are installed.  Its Cancel button only asks and sets CancelRequested; the
 * hand-off notices the flag before its next chunk, so the window never ends
 * the run itself.
 */
#include "install.h"
#include "handoff_io.h"

BYTE CancelRequested;
HWND ProgressBar;
HWND ProgressPage;

/* The run the window belongs to: its texts and its header. */
static const InstallHost *ProgressHost;

static void OnProgressInitDialog(HWND window)
{
    ProgressBar = GetDlgItem(window, IDC_PROGRESS_BAR);
    SetDlgItemTextW(window, IDCANCEL, HostText(ProgressHost, TextCancelButton));
    SetDlgItemTextW(window, IDC_PROGRESS_LABEL, HostText(ProgressHost, TextProgressLabel));
}

static void OnProgressCancel(HWND window)
{
    /* Answering No leaves the flag as it was: a cancel confirmed earlier stays. */
    if (InstallOs.Message(window, HostText(ProgressHost, TextConfirmCancel), HostText(ProgressHost, TextWindowTitle),
                          MB_YESNO | MB_ICONQUESTION) == IDYES)
        CancelRequested = 1;
}

INT_PTR CALLBACK ProgressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        ProgressHost->DrawHeader(window, dc, HostText(ProgressHost, TextProgressTitle));
        EndPaint(window, &paint);
        return TRUE;
    }
    case WM_INITDIALOG:
        OnProgressInitDialog(window);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL)
            OnProgressCancel(window);
        return FALSE;
    }
    return FALSE;
}

HWND CreateProgressPage(const InstallHost *host)
{
    RECT client;
    GetClientRect(host->Frame, &client);
    HRSRC resource = FindResourceW(host->Instance, MAKEINTRESOURCEW(IDD_PROGRESS), (LPCWSTR)RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(host->Instance, resource) : NULL;
    if (!loaded)
        return NULL;
    ProgressHost = host;
    HWND window = CreateDialogIndirectParamW(host->Instance, (LPCDLGTEMPLATEW)LockResource(loaded), host->Frame,
                                             ProgressProcedure, 0);
    if (!window)
        return NULL;
    /* Like the pages, the window carries its template id so tools can find it. */
    SetWindowLongW(window, GWL_ID, IDD_PROGRESS);
    SetWindowPos(window, HWND_TOP, client.left, client.top, client.right, client.bottom, SWP_SHOWWINDOW);
    return window;
}
