/*
 * platform_link.cpp -- tapped links open through the shell on both the
 * device and the desktop.  The generic names are the device's own (its
 * shell exports ShellExecuteEx, which takes UTF-16).
 */
#include "platform.h"

#include <shellapi.h>
#include <string.h>

BOOL PlatformOpenLink(LPCWSTR target)
{
    SHELLEXECUTEINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.lpFile = target;                /* default verb, no window, no parameters */
    return ShellExecuteEx(&info);
}
