/*
 * install.h -- what the installation's own sources share beyond setup.h:
 * the progress window and the fixed names of the hand-off.
 */
#ifndef VELKOR_INSTALL_H
#define VELKOR_INSTALL_H

#include "setup.h"

/* The temporary CAB file, and the name of the Install value that maps it to
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

/* Creates the progress window from template 134 as a child of the frame and
 * lays it over the frame's client area.  NULL when it cannot be created. */
HWND CreateProgressPage(void);
INT_PTR CALLBACK ProgressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
