/*
 * shell.h -- the wizard shell: start-up and the frame, and page sequencing.
 * The top of the program: it shows the pages and runs the installation;
 * nothing below calls back into it.  Everything runs on one thread.
 */
#ifndef VELKOR_SHELL_H
#define VELKOR_SHELL_H

#include <windows.h>
#include <commctrl.h>

#include "package.h"
#include "text.h"
#include "pagetable.h"
#include "pagekit.h"

/* ---- process-wide values set at start-up (main.cpp) ----
 * InstanceHandle: this program's module; every template, the icon and the
 *   state bitmap are loaded from it.
 * FrameWindow: the frame, parent of every page. */
extern HINSTANCE InstanceHandle;
extern HWND FrameWindow;

void QuitWizard(void);
void QuitOutOfMemory(void);    /* says memory ran out, then quits */
void ShowFrameFullScreen(void);
INT_PTR CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- page sequencing (sequence.cpp) ----
 * The pages ask the frame to move with WM_WIZARDCOMMAND (pagekit.h).
 * PageWindows: the six pages by slot (bit position of the flag), NULL
 *   until first shown, then kept for the rest of the process. */
enum { FirstPageShown = 1, InstalledWithoutPages = 2, StartOutOfMemory = 3 };

extern HWND PageWindows[PAGE_COUNT];

int StartWizard(void);
BOOL ShowPage(int flag);          /* FALSE: memory ran out */
void HideCurrentPage(void);
LRESULT WizardCommand(WPARAM code);

#endif
