/*
 * sequence.cpp -- which page comes next or before.
 *
 * The pages never switch themselves: they send the frame WM_WIZARDCOMMAND,
 * and the frame walks the page bits forward or back from the page on
 * screen.  Pages are created on first use and afterwards only hidden and
 * shown, so they keep what the user entered.  The shell knows a page only
 * by its row in the table below; a page learns it is shown from
 * WM_PAGESHOWN.
 */
#include "shell.h"
#include "pages.h"
#include "install.h"
#include "pageflow.h"

/* The flag of the page on screen; LastPage while installing, 0 for a
 * package without pages. */
static int CurrentPage;
HWND PageWindows[PAGE_COUNT];

/* In the order of PageTemplates. */
static const DLGPROC PageProcedures[PAGE_COUNT] = {
    WelcomePageProcedure,  AgreementPageProcedure,   ComponentsPageProcedure,
    LocationPageProcedure, DestinationPageProcedure, ReadyPageProcedure,
};

static HWND CreatePage(int slot)
{
    HRSRC resource = FindResourceW(InstanceHandle, MAKEINTRESOURCEW(PageTemplates[slot].Template), (LPCWSTR)RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(InstanceHandle, resource) : NULL;
    if (!loaded)
        return NULL;
    /* The instance goes with WM_INITDIALOG for the pages that load from it:
     * Windows CE's GetWindowLong has no GWL_HINSTANCE to ask the page. */
    HWND page = CreateDialogIndirectParamW(InstanceHandle, (LPCDLGTEMPLATEW)LockResource(loaded), FrameWindow,
                                           PageProcedures[slot], (LPARAM)InstanceHandle);
    /* The template id as the window's id lets tools tell the pages apart. */
    if (page)
        SetWindowLongW(page, GWL_ID, PageTemplates[slot].Template);
    return page;
}

/* Hiding the page that held the focus hands it to the frame, where no key
 * does anything.  The page now on screen takes it then, at its first
 * control that takes the focus, as a dialog does when it opens.  Only when
 * the focus is ours: a wizard behind another program stays there. */
static void GiveFocusToPage(HWND page)
{
    HWND focus = GetFocus();
    if (!focus || focus == page || IsChild(page, focus))
        return;
    HWND first = GetNextDlgTabItem(page, NULL, FALSE);
    if (first)
        SendMessageW(page, WM_NEXTDLGCTL, (WPARAM)first, TRUE);
}

BOOL ShowPage(int flag)
{
    int slot = PageSlot(flag);
    RECT client;
    if (slot < 0)
        return TRUE;
    GetClientRect(FrameWindow, &client);
    if (!PageWindows[slot]) {
        PageWindows[slot] = CreatePage(slot);
        /* A page that cannot be created leaves nothing to show; report it
         * like any other lack of resources rather than an empty frame. */
        if (!PageWindows[slot])
            return FALSE;
    }
    /* Told before it shows, so it never shows stale figures (the destination
     * page's space line follows the components chosen since). */
    if (!NotifyPageShown(PageWindows[slot]))
        return FALSE;
    SetWindowPos(PageWindows[slot], HWND_TOP, client.left, client.top, client.right, client.bottom,
                 SWP_SHOWWINDOW);
    GiveFocusToPage(PageWindows[slot]);
    return TRUE;
}

void HideCurrentPage(void)
{
    int slot = PageSlot(CurrentPage);
    if (slot >= 0 && PageWindows[slot])
        ShowWindow(PageWindows[slot], SW_HIDE);
}

/* The run refused to start and the user goes back to the last page; a
 * package without pages has none to go back to. */
static BOOL ShowCurrentPageAgain(void)
{
    return CurrentPage == 0 || ShowPage(CurrentPage);
}

/* TRUE when the wizard is over.  The host outlives the run: the progress
 * window it makes stays on the frame until the process ends. */
static BOOL Install(void)
{
    static InstallHost host;
    host.Package = &Package;
    host.Instance = InstanceHandle;
    host.Frame = FrameWindow;
    host.ShowPageAgain = ShowCurrentPageAgain;
    host.DrawHeader = DrawPageHeader;
    return RunInstallation(&host);
}

int StartWizard(void)
{
    if (Package.FirstPage != 0) {
        CurrentPage = Package.FirstPage;
        return ShowPage(Package.FirstPage) ? FirstPageShown : StartOutOfMemory;
    }
    CurrentPage = 0;
    ShowFrameFullScreen();
    if (Install())
        QuitWizard();
    return InstalledWithoutPages;
}

static void ShowOrQuit(int flag)
{
    CurrentPage = flag;
    if (!ShowPage(flag))
        QuitOutOfMemory();
}

static void StepForward(void)
{
    PageStep step = NextPage(Package.PageFlags, Package.UseDefaultLocation, (uint8_t)CurrentPage);
    if (step.Installs) {
        CurrentPage = step.Page;
        if (Install())
            QuitWizard();
        return;
    }
    ShowOrQuit(step.Page);
}

static void StepBack(void)
{
    ShowOrQuit(PreviousPage(Package.PageFlags, Package.UseDefaultLocation, (uint8_t)CurrentPage));
}

LRESULT WizardCommand(WPARAM code)
{
    HideCurrentPage();
    switch (code) {
    case CmdNext:
        StepForward();
        break;
    case CmdBack:
        StepBack();
        break;
    case CmdCancel:
        QuitWizard();
        break;
    case CmdAbort:
        QuitOutOfMemory();
        break;
    }
    return 0;
}
