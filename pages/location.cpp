/*
 * location.cpp -- where the components go: where the device's installer
 * puts them, or a folder the user picks on the destination page.  A tap
 * changes UseDefaultLocation at once, so the very next step already skips
 * or shows the destination page.
 */
#include "pages.h"

static void OnInitDialog(HWND page)
{
    LabelNavigationButtons(page, PageLocation);
    SetDlgItemTextW(page, IDC_DEFAULT_LOCATION, PackageText(TextDefaultLocationChoice));
    SetDlgItemTextW(page, IDC_CHOOSE_FOLDER, PackageText(TextChooseFolderChoice));
    CheckRadioButton(page, IDC_DEFAULT_LOCATION, IDC_CHOOSE_FOLDER,
                     Package.UseDefaultLocation ? IDC_DEFAULT_LOCATION : IDC_CHOOSE_FOLDER);
    FillHtmlPanel(GetDlgItem(page, IDC_HTML), TextLocationBody);
}

INT_PTR CALLBACK LocationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(page);
        return TRUE;
    case WM_COMMAND: {
        int device = ClickedRadio(wParam, IDC_DEFAULT_LOCATION, IDC_CHOOSE_FOLDER);
        if (device < 0)
            break;
        Package.UseDefaultLocation = (uint8_t)device;
        LabelOkButton(page, PageLocation);   /* the choice may make OK install */
        return FALSE;
    }
    }
    return DefaultPageProcedure(page, message, wParam, lParam, TextLocationTitle);
}
