/*
 * space.cpp -- the two figures of the space check: the free bytes of the
 * destination's volume and the bytes the selected components unpack to.
 * Both are 32-bit and clamp rather than wrap, so a sum or a volume too big
 * for them can only make the check stricter, never let it pass by accident.
 */
#include "install.h"
#include "handoff_io.h"
#include "text.h"

DWORD RequiredSpace(const SetupPackage *package)
{
    DWORD sum = 0;
    for (uint32_t i = 0; i < package->ComponentCount; ++i) {
        const Component *component = &package->Components[i];
        if (!component->Selected)
            continue;
        if (component->UnpackedSize > 0xFFFFFFFFu - sum)
            return 0xFFFFFFFFu;
        sum += component->UnpackedSize;
    }
    return sum;
}

/* The nearest existing folder of the destination, walking up one level at
 * a time, into folder; empty when the walk runs out of levels (the
 * destination is the root itself, or a relative name that has no parent).
 * The destination comes from the package and may be a megabyte of
 * backslashes or of one-letter folders: levels too long to exist are dropped
 * by reading the destination in place, empty levels are passed over, and
 * only the rest is copied and asked about, so the walk stays linear, asks
 * little and needs no memory: the space check cannot fail for want of it. */
static void NearestExistingFolder(const WCHAR *destination, WCHAR folder[MAX_PATH])
{
    size_t length = wcslen(destination);
    for (;;) {
        while (length > 0 && destination[length - 1] == L'\\')
            --length;
        if (length < MAX_PATH)
            break;
        while (length > 0 && destination[length - 1] != L'\\')
            --length;
    }
    memcpy(folder, destination, length * sizeof(WCHAR));
    folder[length] = 0;
    while (length > 0 && InstallOs.FileAttributes(folder) == INVALID_FILE_ATTRIBUTES) {
        while (length > 0 && folder[length - 1] != L'\\')
            --length;
        while (length > 0 && folder[length - 1] == L'\\')
            --length;
        folder[length] = 0;   /* empty: the root, or nothing above a relative name */
    }
}

DWORD DestinationFreeSpace(const SetupPackage *package)
{
    WCHAR folder[MAX_PATH];
    NearestExistingFolder(package->DestinationPath ? package->DestinationPath : L"", folder);

    ULONGLONG free = 0;
    if (!InstallOs.FreeBytes(folder[0] ? folder : L"\\", &free))
        return 0;
    return free > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)free;
}
