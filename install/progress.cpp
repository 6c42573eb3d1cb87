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

static void OnProgressInitDialog(HWND window)
{
    ProgressBar = GetDlgItem(window, IDC_PROGRESS_BAR);
    SetDlgItemTextW(window, IDCANCEL, PackageText(TextCancelButton));
    SetDlgItemTextW(window, IDC_PROGRESS_LABEL, PackageText(TextProgressLabel));
}

static void OnProgressCancel(HWND window)
{
    /* Answering No leaves the flag as it was: a cancel confirmed earlier stays. */
    if (InstallOs.Message(window, PackageText(TextConfirmCancel), PackageText(TextWindowTitle),
                          MB_YESNO | MB_ICONQUESTION) == IDYES)
        CancelRequested = 1;
}

INT_PTR CALLBACK ProgressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        DrawPageHeader(window, dc, PackageText(TextProgressTitle));
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

HWND CreateProgressPage(void)
{
    RECT client;
    GetClientRect(FrameWindow, &client);
    HRSRC resource = FindResourceW(InstanceHandle, MAKEINTRESOURCEW(IDD_PROGRESS), (LPCWSTR)RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(InstanceHandle, resource) : NULL;
    if (!loaded)
        return NULL;
    HWND window = CreateDialogIndirectParamW(InstanceHandle, (LPCDLGTEMPLATEW)LockResource(loaded), FrameWindow,
                                             ProgressProcedure, 0);
    if (!window)
        return NULL;
    /* Like the pages, the window carries its template id so tools can find it. */
    SetWindowLongW(window, GWL_ID, IDD_PROGRESS);
    SetWindowPos(window, HWND_TOP, client.left, client.top, client.right, client.bottom, SWP_SHOWWINDOW);
    return window;
}
