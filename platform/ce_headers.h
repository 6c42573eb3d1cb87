/*
 * ce_headers.h -- what the Windows CE port's own headers lack or spell
 * differently from the Windows CE 5.0 SDK, for the device build only
 * (cmake/device.cmake puts it before every source).  The desktop headers
 * have all of this already.
 */
#ifndef VELKOR_CE_HEADERS_H
#define VELKOR_CE_HEADERS_H

#ifdef _WIN32_WCE
#include <windows.h>
#include <commctrl.h>

/* The port has only the unsuffixed name; CE's dialogs are UTF-16 anyway. */
#ifndef LPCDLGTEMPLATEW
typedef LPCDLGTEMPLATE LPCDLGTEMPLATEW;
#endif

/* coredll exports the image-list loader without the W, and the port's
 * header maps the name to an ImageList_LoadImageW nothing exports. */
#undef ImageList_LoadImage
#ifdef __cplusplus
extern "C"
#endif
HIMAGELIST WINAPI ImageList_LoadImage(HINSTANCE, LPCWSTR, int, int, COLORREF, UINT, UINT);

/* CE names its system colours with this flag; the port's winuser.h calls
 * it SYSTEM_COLOR_BASE_OFFSET and has no static-control colour. */
#ifndef SYS_COLOR_INDEX_FLAG
#define SYS_COLOR_INDEX_FLAG 0x40000000
#endif
#ifndef COLOR_STATIC
#define COLOR_STATIC (25 | SYS_COLOR_INDEX_FLAG)
#define COLOR_STATICTEXT (26 | SYS_COLOR_INDEX_FLAG)
#endif
#endif

#endif
