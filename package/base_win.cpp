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

int OpenPackageReader(PackageReader *reader, const VCHAR *path)
{
    ZeroMemory(reader, sizeof *reader);
    if (OpenMemoryPackage(reader))
        return 1;
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
    reader->Handle = file;
    reader->Size = high ? 0xFFFFFFFFu : low;
    return 1;
}

void ClosePackageReader(PackageReader *reader)
{
    if (!reader->InMemory && reader->Handle)
        CloseHandle((HANDLE)reader->Handle);
    reader->Handle = NULL;
}

int SeekPackageReader(PackageReader *reader, uint32_t offset)
{
    if (!reader->InMemory) {
        LONG high = 0;
        DWORD r = SetFilePointer((HANDLE)reader->Handle, (LONG)offset, &high, FILE_BEGIN);
        if (r == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
            return 0;
    }
    reader->Position = offset;
    return 1;
}

int ReadPackageBytes(PackageReader *reader, void *buffer, uint32_t size, uint32_t *delivered)
{
    *delivered = 0;
    if (reader->InMemory)
        return ReadMemoryPackage(reader, buffer, size, delivered);
    DWORD got = 0;
    if (!ReadFile((HANDLE)reader->Handle, buffer, size, &got, NULL))
        return 0;
    reader->Position += got;
    *delivered = got;
    return 1;
}
