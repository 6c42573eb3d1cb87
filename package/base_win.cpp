/*
 * base_win.cpp -- heap and file reader of the setup program: the process
 * heap and CreateFileW/ReadFile, as the device offers them.
 */
#include "base.h"
#include "base_platform.h"


void *PlatformHeapAlloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void *PlatformHeapResize(void *block, size_t size)
{
    return HeapReAlloc(GetProcessHeap(), 0, block, size ? size : 1);
}

void PlatformHeapFree(void *block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

int PlatformFileOpen(const VCHAR *path, void **handle, uint32_t *size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return 0;
    }
    *handle = file;
    *size = high ? 0xFFFFFFFFu : low;
    return 1;
}

void PlatformFileClose(void *handle)
{
    CloseHandle((HANDLE)handle);
}

int PlatformFileSeek(void *handle, uint32_t offset)
{
    LONG high = 0;
    DWORD r = SetFilePointer((HANDLE)handle, (LONG)offset, &high, FILE_BEGIN);
    return r != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

int PlatformFileRead(void *handle, void *buffer, uint32_t size, uint32_t *delivered)
{
    DWORD got = 0;
    if (!ReadFile((HANDLE)handle, buffer, size, &got, NULL))
        return 0;
    *delivered = got;
    return 1;
}
