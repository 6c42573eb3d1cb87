/*
 * platform.h -- the Pocket PC shell and HTML viewer calls the setup program
 * makes.  On the device they are the real SHInitDialog, SHCreateMenuBar,
 * InitHTMLControl and ShellExecuteEx; on the desktop, small stand-ins that
 * give the frame a device-sized working area and provide our own HTML view
 * under the class name "DISPLAYCLASS".
 */
#ifndef VELKOR_PLATFORM_H
#define VELKOR_PLATFORM_H

#include <windows.h>

/* HTML viewer messages and notification (values as on the device). */
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

/* Our own view only (the device's control has no such message): the
 * client rectangle of the first visible piece of link number wParam (in
 * document order) into the RECT at lParam.  FALSE when there is no such
 * link or none of it is on screen.  For tests that tap links. */
#define HVM_GETLINKRECT   (WM_USER + 900)

/* Device working area (a 240 x 320 screen less its top and bottom bars). */
#define DEVICE_SCREEN_WIDTH   240
#define DEVICE_SCREEN_HEIGHT  320
#define DEVICE_TOP_BAR        26
#define DEVICE_MENU_BAR       26

/* SHInitDialog with SHIDIF_SIZEDLG: size the dialog to the working area. */
void PlatformSizeDialogToWorkArea(HWND dialog);
/* SHCreateMenuBar with SHCMBF_EMPTYBAR; returns the bar or NULL. */
HWND PlatformCreateEmptyMenuBar(HWND frame);
/* InitHTMLControl: makes "DISPLAYCLASS" available. */
BOOL PlatformInitHtmlControl(HINSTANCE instance);
/* ShellExecuteEx on a link target with the default verb. */
BOOL PlatformOpenLink(LPCWSTR target);

#endif
