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
 * a time.  The root folder ("\") when the walk runs out of levels: the
 * destination is the root itself, or a relative name that has no parent.
 * The destination comes from the package and may be a megabyte of
 * backslashes or of one-letter folders: the walk keeps its length instead of
 * measuring the path again, passes over empty levels, and asks only about
 * paths short enough to exist, so it stays linear and asks little. */
static void NearestExistingFolder(WCHAR *path)
{
    size_t length = wcslen(path);
    while (length > 0 && path[length - 1] == L'\\')
        path[--length] = 0;
    while (length > 0 && (length >= MAX_PATH || InstallOs.FileAttributes(path) == INVALID_FILE_ATTRIBUTES)) {
        while (length > 0 && path[length - 1] != L'\\')
            --length;
        while (length > 0 && path[length - 1] == L'\\')
            --length;
        path[length] = 0;   /* empty: the root, or nothing above a relative name */
    }
}

DWORD DestinationFreeSpace(const SetupPackage *package)
{
    WCHAR *folder = NULL;
    if (!AssignString(&folder, package->DestinationPath ? package->DestinationPath : L""))
        return 0;
    NearestExistingFolder(folder);

    ULONGLONG free = 0;
    BOOL known = InstallOs.FreeBytes(folder[0] ? folder : L"\\", &free);
    VFree(folder);
    if (!known)
        return 0;
    return free > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)free;
}
