/*
 * base_win.cpp -- heap and file reader of the setup program: the process
 * heap and CreateFileW/ReadFile, as the device offers them.
 */
#include "base.h"

static unsigned long FailAt;
static unsigned long Attempts;
static long LiveBlocks;

static int ShouldFail(void)
{
    ++Attempts;
    if (FailAt != 0 && --FailAt == 0)
        return 1;
    return 0;
}

void VHeapFailAt(unsigned long n) { FailAt = n; Attempts = 0; }
unsigned long VHeapAllocations(void) { return Attempts; }
long VHeapLiveBlocks(void) { return LiveBlocks; }

void *VAlloc(size_t size)
{
    if (ShouldFail())
        return NULL;
    void *p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (p)
        ++LiveBlocks;
    return p;
}

void *VResize(void *block, size_t size)
{
    if (!block)
        return VAlloc(size);
    if (ShouldFail())
        return NULL;
    return HeapReAlloc(GetProcessHeap(), 0, block, size ? size : 1);
}

void VFree(void *block)
{
    if (block) {
        --LiveBlocks;
        HeapFree(GetProcessHeap(), 0, block);
    }
}

static const uint8_t *MemoryData;
static size_t MemorySize;
static int MemoryActive;

void UseMemoryPackage(const uint8_t *data, size_t size)
{
    MemoryData = data;
    MemorySize = size;
    MemoryActive = 1;
}

void UseFilePackages(void)
{
    MemoryActive = 0;
}

int OpenPackageReader(PackageReader *reader, const VCHAR *path)
{
    ZeroMemory(reader, sizeof *reader);
    if (MemoryActive) {
        reader->Handle = (void *)MemoryData;
        reader->Size = MemorySize > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)MemorySize;
        reader->InMemory = 1;
        return 1;
    }
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
    if (reader->InMemory) {
        uint32_t left = ReaderRemaining(reader);
        uint32_t n = size < left ? size : left;
        if (n)
            CopyMemory(buffer, MemoryData + reader->Position, n);
        reader->Position += n;
        *delivered = n;
        return 1;
    }
    DWORD got = 0;
    if (!ReadFile((HANDLE)reader->Handle, buffer, size, &got, NULL))
        return 0;
    reader->Position += got;
    *delivered = got;
    return 1;
}
