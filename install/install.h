/*
 * install.h -- the installation: the space check, the progress window and
 * one hand-off per selected component.
 *
 * The installation never calls back into the wizard.  What it needs from
 * the window around it comes in an InstallHost; the shell builds one for
 * the real run, the tests build their own.
 */
#ifndef VELKOR_INSTALL_H
#define VELKOR_INSTALL_H

#include <windows.h>
#include <commctrl.h>

#include "package.h"
#include "resource.h"

typedef struct InstallHost {
    const SetupPackage *Package;  /* the components chosen and where they go */
    HINSTANCE Instance;       /* holds the progress window's template */
    HWND Frame;               /* parent of the progress window; hidden while the installer runs */
    /* Brings back the page the user left when the space check refuses the
     * run.  FALSE: memory ran out. */
    BOOL (*ShowPageAgain)(void);
    /* Paints a title header like the pages' on the progress window. */
    void (*DrawHeader)(HWND window, HDC dc, const WCHAR *text);
} InstallHost;

#define HostText(host, index) ((host)->Package->TextTable[(index)])

/* What one hand-off ends with. */
enum {
    InstallDone = 1,
    InstallCancelled = 2,
    InstallCannotCreate = 3,
    InstallCorrupt = 4,
    InstallNoMemory = 5,
    InstallLaunchFailed = 6
};

/* What InstallComponents reports for the whole run. */
enum { RunCompleted = 1, RunCancelled = 2, RunFailed = 3 };

/* ---- the installation's own process-wide state ----
 * CancelRequested: set by the progress window's Cancel once the user
 *   confirms; cleared when a run starts, read before every chunk.
 * ProgressPage, ProgressBar: the progress window and its bar, made once
 *   per run and left on the frame until the process ends. */
extern BYTE CancelRequested;
extern HWND ProgressPage;
extern HWND ProgressBar;

/* The whole run: space check, progress window, every selected component.
 * TRUE: the wizard is over (installed, failed or cancelled, each reported
 * already).  FALSE: there was not room; the page is back on screen and the
 * user may choose again.  When even that page cannot be shown the run says
 * memory ran out and returns TRUE. */
BOOL RunInstallation(const InstallHost *host);

/* The space figures, also shown by the destination page.  32-bit byte
 * counts that clamp rather than wrap. */
DWORD DestinationFreeSpace(const SetupPackage *package);
DWORD RequiredSpace(const SetupPackage *package);

/* Hands off every selected component in package order and reports the
 * first failure in a box owned by progress. */
int InstallComponents(const InstallHost *host, HWND progress);
/* One component: InstallDone or the reason it was not installed. */
int HandOffComponent(const InstallHost *host, HANDLE source, const Component *component);
void DrainMessageQueue(void);

/* ---- fixed names of the hand-off ----
 * The temporary CAB file, and the name of the Install value that maps it to
 * its destination folder. */
extern const WCHAR TemporaryCabPath[];     /* "\kCABFILE.cab" */
extern const WCHAR InstallerPath[];        /* "\windows\wceload.exe" */
extern const WCHAR InstallerKey[];         /* "SOFTWARE\Apps\Microsoft Application Installer" */
extern const WCHAR InstallerInstallKey[];  /* ... "\Install" */
extern const WCHAR AskDestValue[];         /* "fAskDest" */

/* Milliseconds between two drains of the queue while chunks are unpacked.
 * 0, as shipped, drains after reading and after writing every chunk.  On a
 * fast desktop a drain and the repaint of the bar cost more than unpacking
 * a chunk, and 50 would keep the window as alive at several times the
 * speed (the hand-off benchmark shows both).  The queue is always drained
 * before the first chunk and after the last. */
extern DWORD DrainInterval;

/* Milliseconds between two attempts to start the installer when a start
 * failed for a passing reason (too little memory for the moment; under
 * Wine, a process that ends during its start-up); three attempts in all.
 * 500 as shipped. */
extern DWORD InstallerStartPause;

/* Creates the progress window from template 134 as a child of the host's
 * frame and lays it over the frame's client area.  NULL when it cannot be
 * created. */
HWND CreateProgressPage(const InstallHost *host);
INT_PTR CALLBACK ProgressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
