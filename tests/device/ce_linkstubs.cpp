/* ce_linkstubs.cpp -- empty bodies for the three Pocket PC calls the
 * desktop's libraries lack, so that the device program can be linked for
 * x86-64 and weighed.  That program is never run; its size stands in for
 * the ARM build's until the device toolchain runs here. */
#include "platform.h"

BOOL WINAPI SHInitDialog(PSHINITDLGINFO info)
{
    return FALSE;
}

BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *info)
{
    return FALSE;
}

BOOL WINAPI InitHTMLControl(HINSTANCE instance)
{
    return FALSE;
}
