/*
 * infopage.cpp -- a page that only informs: header, HTML panel and the
 * navigation buttons, no choice.
 */
#include "infopage.h"

INT_PTR InformationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int flag,
                                 int titleIndex, int bodyIndex)
{
    switch (message) {
    case WM_INITDIALOG:
        LabelNavigationButtons(page, flag);
        FillHtmlPanel(GetDlgItem(page, IDC_HTML), bodyIndex);
        return TRUE;
    }
    return DefaultPageProcedure(page, message, wParam, lParam, titleIndex);
}
