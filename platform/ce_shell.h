/*
 * ce_shell.h -- the Pocket PC declarations the device half of platform/
 * needs and the desktop headers lack: the shell's full-screen dialog and
 * menu bar (aygshell) and the HTML viewer control (htmlview), written from
 * the Windows CE 5.0 and Pocket PC SDK documentation.  Only what the setup
 * program uses; the SDK's own headers, where present, agree with it.
 */
#ifndef VELKOR_CE_SHELL_H
#define VELKOR_CE_SHELL_H

#include <windows.h>
#include <commctrl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- aygshell: SHInitDialog ---- */

/* SHINITDLGINFO.dwMask */
#define SHIDIM_FLAGS                0x0001

/* SHINITDLGINFO.dwFlags */
#define SHIDIF_DONEBUTTON           0x0001
#define SHIDIF_SIZEDLG              0x0002
#define SHIDIF_SIZEDLGFULLSCREEN    0x0004
#define SHIDIF_SIPDOWN              0x0008
#define SHIDIF_FULLSCREENNOMENUBAR  0x0010
#define SHIDIF_EMPTYMENU            0x0020
#define SHIDIF_WANTSCROLLBAR        0x0040

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

/* Sizes a dialog to the working area (and more, by flag); FALSE on failure. */
BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);

/* ---- aygshell: SHCreateMenuBar ---- */

/* SHMENUBARINFO.dwFlags */
#define SHCMBF_EMPTYBAR             0x0001
#define SHCMBF_HIDDEN               0x0002
#define SHCMBF_HIDESIPBUTTON        0x0004
#define SHCMBF_COLORBK              0x0008
#define SHCMBF_HMENU                0x0010

typedef struct tagSHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;                     /* out: the bar */
    COLORREF clrBk;
} SHMENUBARINFO, *PSHMENUBARINFO;

/* Creates the menu bar at the bottom of the screen; FALSE on failure. */
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *pmbi);

/* ---- htmlview: the HTML viewer control ---- */

#define WC_HTML                     L"DISPLAYCLASS"

/* Messages to the control. */
#define DTM_ADDTEXT                 (WM_USER + 101)
#define DTM_ADDTEXTW                (WM_USER + 102)
#define DTM_SETIMAGE                (WM_USER + 103)
#define DTM_ENDOFSOURCE             (WM_USER + 104)

/* Notifications to the parent, in WM_NOTIFY with an NM_HTMLVIEW. */
#define NM_HOTSPOT                  (WM_USER + 101)
#define NM_INLINE_IMAGE             (WM_USER + 102)

typedef struct tagNM_HTMLVIEW {
    NMHDR hdr;
    LPCWSTR szTarget;                /* NM_HOTSPOT: the link's target */
    LPCWSTR szData;
    union {
        LPCWSTR szExInfo;
        DWORD dwCookie;
    };
    DWORD dwFlags;
} NM_HTMLVIEW;

/* Registers the control's window class for the instance; FALSE on failure. */
BOOL WINAPI InitHTMLControl(HINSTANCE hinst);

#ifdef __cplusplus
}
#endif

#endif
