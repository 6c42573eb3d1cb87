/*
 * htmlviewer.h -- the HTML viewer control's contract, values as on the
 * device: its class name, the messages that fill it and the notification
 * of a tapped link.  The page furniture speaks it; on the desktop our own
 * view (desktop/) answers it.  No calls: those are in platform.h.
 */
#ifndef VELKOR_HTMLVIEWER_H
#define VELKOR_HTMLVIEWER_H

#include <windows.h>
#ifdef _WIN32_WCE
#include "ce_shell.h"   /* the viewer's own declarations come first */
#endif

#ifndef DTM_ADDTEXTW
#define DTM_ADDTEXTW      (WM_USER + 102)
#define DTM_ENDOFSOURCE   (WM_USER + 104)
#define NM_HOTSPOT        (WM_USER + 101)
#endif
#define HTML_VIEW_CLASS   L"DISPLAYCLASS"

/* What the HTML view sends with NM_HOTSPOT: the header, then the target. */
typedef struct {
    NMHDR hdr;
    LPCWSTR szTarget;
    LPCWSTR szData;
    LPARAM lParam;
} HtmlViewNotify;

#endif
