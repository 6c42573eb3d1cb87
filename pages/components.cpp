/* components.cpp -- placeholder until the page is written: navigation only. */
#include "setup.h"

INT_PTR CALLBACK ComponentsPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        PaintPageHeader(page, TextComponentsTitle);
        return TRUE;
    case WM_INITDIALOG:
        LabelNavigationButtons(page, PageComponents);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0)
            return FALSE;
        if (LOWORD(wParam) == IDOK)
            RequestNextPage();
        else if (LOWORD(wParam) == IDCANCEL)
            RequestCancel();
        else if (LOWORD(wParam) == IDC_BACK)
            RequestPreviousPage();
        return FALSE;
    }
    return FALSE;
}
