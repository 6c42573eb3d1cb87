/*
 * infopage.cpp -- a page that only informs: header, HTML panel and the
 * navigation buttons, no choice.
 */
#include "infopage.h"
#include "pages.h"

void RequestNavigation(int command)
{
    switch (command) {
    case IDOK:
        RequestNextPage();
        break;
    case IDCANCEL:
        RequestCancel();
        break;
    case IDC_BACK:
        RequestPreviousPage();
        break;
    }
}

INT_PTR InformationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int flag,
                                 int titleIndex, int bodyIndex)
{
    switch (message) {
    case WM_PAINT:
        PaintPageHeader(page, titleIndex);
        return TRUE;
    case WM_NOTIFY:
        return HandleLinkNotify(page, (NMHDR *)lParam);
    case WM_INITDIALOG:
        LabelNavigationButtons(page, flag);
        FillHtmlPanel(GetDlgItem(page, IDC_HTML), bodyIndex);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0)
            return FALSE;
        RequestNavigation(LOWORD(wParam));
        return FALSE;
    }
    return FALSE;
}
