/*
 * navigation.cpp -- how a page talks to its frame: the requests to move,
 * the "page shown" message, and the default handling every page ends with.
 * The frame is whatever window the page is a child of; nothing here knows
 * how it walks the pages.
 */
#include "pagekit.h"

void RequestNextPage(HWND page) { SendMessageW(GetParent(page), WM_WIZARDCOMMAND, CmdNext, 0); }
void RequestPreviousPage(HWND page) { SendMessageW(GetParent(page), WM_WIZARDCOMMAND, CmdBack, 0); }
void RequestCancel(HWND page) { SendMessageW(GetParent(page), WM_WIZARDCOMMAND, CmdCancel, 0); }
/* Posted: the destination page asks for it from inside its own handlers. */
void RequestAbort(HWND page) { PostMessageW(GetParent(page), WM_WIZARDCOMMAND, CmdAbort, 0); }

BOOL NotifyPageShown(HWND page)
{
    return SendMessageW(page, WM_PAGESHOWN, 0, 0) == 0;
}

/* Set for "fine" too: DWLP_MSGRESULT may still hold the page's answer to
 * an earlier notification. */
INT_PTR AnswerPageShown(HWND page, BOOL ok)
{
    SetWindowLongPtrW(page, DWLP_MSGRESULT, ok ? 0 : 1);
    return TRUE;
}

static void RequestNavigation(HWND page, int command)
{
    switch (command) {
    case IDOK:
        RequestNextPage(page);
        break;
    case IDCANCEL:
        RequestCancel(page);
        break;
    case IDC_BACK:
        RequestPreviousPage(page);
        break;
    }
}

INT_PTR DefaultPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int titleIndex)
{
    switch (message) {
    case WM_PAINT:
        PaintPageHeader(page, titleIndex);
        return TRUE;
    case WM_NOTIFY:
        return HandleLinkNotify(page, (NMHDR *)lParam);
    case WM_COMMAND:
        RequestNavigation(page, ClickedControl(wParam));
        return FALSE;
    }
    return FALSE;
}
