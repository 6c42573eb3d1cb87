/* htmlview_win.h -- the window class of our HTML view (desktop only; the
 * device has its own control under the same class name). */
#ifndef VELKOR_HTMLVIEW_WIN_H
#define VELKOR_HTMLVIEW_WIN_H

#include <windows.h>

/* Registers "DISPLAYCLASS" as a global class; TRUE also when it already
 * was.  FALSE: RegisterClassW failed for another reason. */
BOOL RegisterHtmlViewClass(HINSTANCE instance);

/* Documents longer than this many UTF-16 code units are refused: the
 * DTM_ADDTEXTW that would pass it returns FALSE and adds nothing. */
#define HTML_VIEW_MAX_SOURCE (16u * 1024u * 1024u)

#endif
