// standin.cpp -- the installation's space figures as the pages see them:
// the installation's own RequiredSpace and DestinationFreeSpace, over the
// package the test loaded and an InstallOs whose volume has StandInFree
// bytes free and holds every folder asked about.
#include "harness.h"

#include "handoff_io.h"

namespace pages {

DWORD StandInFree = 0xFFFFFFFFu;

namespace {

DWORD EveryFolderExists(const WCHAR *) { return FILE_ATTRIBUTE_DIRECTORY; }

BOOL StandInFreeBytes(const WCHAR *, ULONGLONG *totalFree)
{
    *totalFree = StandInFree;
    return TRUE;
}

}  // namespace

void UseStandInVolume(bool use)
{
    InstallOs = Win32InstallOs;
    if (use) {
        InstallOs.FileAttributes = EveryFolderExists;
        InstallOs.FreeBytes = StandInFreeBytes;
    }
}

void SetRequiredSpace(DWORD bytes)
{
    for (uint32_t i = 0; i < Package.ComponentCount; ++i)
        Package.Components[i].Selected = i == 0;
    Package.Components[0].UnpackedSize = bytes;
}

}  // namespace pages
