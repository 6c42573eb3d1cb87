/*
 * agreement.cpp -- the agreement text and the choice to accept it.  OK is
 * enabled only while the agreement is accepted; the choice lives in
 * AgreementAccepted for the rest of the run, so Back and Next keep it.
 */
#include "pages.h"

/* The radio choice.  A run makes its page once, so the page starts it
 * declined; a second run in the same process starts afresh as well. */
static uint8_t AgreementAccepted;

/* OK follows the flag.  Focus leaves OK before it is disabled, so the
 * keyboard is never left on a dead button. */
static void EnableOk(HWND page)
{
    HWND ok = GetDlgItem(page, IDOK);
    if (!AgreementAccepted && GetFocus() == ok)
        SendMessageW(page, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(page, IDC_DECLINE), TRUE);
    EnableWindow(ok, AgreementAccepted ? TRUE : FALSE);
}

static void OnInitDialog(HWND page)
{
    AgreementAccepted = 0;
    LabelNavigationButtons(page, PageAgreement);
    SetDlgItemTextW(page, IDC_AGREEMENT_TEXT, PackageText(TextAgreementBody));
    SetDlgItemTextW(page, IDC_ACCEPT, PackageText(TextAcceptChoice));
    SetDlgItemTextW(page, IDC_DECLINE, PackageText(TextDeclineChoice));
    EnableOk(page);
    CheckRadioButton(page, IDC_ACCEPT, IDC_DECLINE, AgreementAccepted ? IDC_ACCEPT : IDC_DECLINE);
}

INT_PTR CALLBACK AgreementPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(page);
        return TRUE;
    case WM_COMMAND: {
        /* OK is disabled until the agreement is accepted. */
        int accepted = ClickedRadio(wParam, IDC_ACCEPT, IDC_DECLINE);
        if (accepted < 0)
            break;
        AgreementAccepted = (uint8_t)accepted;
        EnableOk(page);
        return FALSE;
    }
    }
    return DefaultPageProcedure(page, message, wParam, lParam, TextAgreementTitle);
}
