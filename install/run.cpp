/* run.cpp -- placeholder until the installation run is written. */
#include "setup.h"

BYTE CancelRequested;
HWND ProgressBar;
HWND ProgressPage;

DWORD RequiredSpace(void)
{
    DWORD sum = 0;
    for (uint32_t i = 0; i < Package.ComponentCount; ++i)
        if (Package.Components[i].Selected)
            sum += Package.Components[i].UnpackedSize;
    return sum;
}

DWORD DestinationFreeSpace(void) { return 0xFFFFFFFFu; }

BOOL RunInstallation(void) { return TRUE; }
