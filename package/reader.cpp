/*
 * reader.cpp -- the platform-neutral half of the heap and the package
 * reader: allocation counting with its fault hook, the reader's position,
 * and packages served from memory.  base_win.cpp and base_posix.cpp supply
 * the platform calls.
 */
#include "base.h"
#include "base_platform.h"

#include <string.h>

static unsigned long FailAt;
static unsigned long Attempts;
static long LiveBlocks;
static size_t Largest;

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
size_t VHeapLargestRequest(void) { return Largest; }
void VHeapResetLargest(void) { Largest = 0; }

void *VAlloc(size_t size)
{
    if (size > Largest)
        Largest = size;
    if (ShouldFail())
        return NULL;
    void *p = PlatformHeapAlloc(size);
    if (p)
        ++LiveBlocks;
    return p;
}

void *VResize(void *block, size_t size)
{
    if (!block)
        return VAlloc(size);
    if (size > Largest)
        Largest = size;
    if (ShouldFail())
        return NULL;
    return PlatformHeapResize(block, size);
}

void VFree(void *block)
{
    if (block) {
        --LiveBlocks;
        PlatformHeapFree(block);
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

void OpenBufferReader(PackageReader *reader, const uint8_t *data, uint32_t size)
{
    memset(reader, 0, sizeof *reader);
    reader->Handle = (void *)data;
    reader->Size = size;
    reader->InMemory = 1;
}

static int ReadMemoryPackage(PackageReader *reader, void *buffer, uint32_t size, uint32_t *delivered)
{
    uint32_t left = ReaderRemaining(reader);
    uint32_t n = size < left ? size : left;
    if (n)
        memcpy(buffer, (const uint8_t *)reader->Handle + reader->Position, n);
    reader->Position += n;
    *delivered = n;
    return 1;
}

int OpenPackageReader(PackageReader *reader, const VCHAR *path)
{
    if (MemoryActive) {
        OpenBufferReader(reader, MemoryData, MemorySize > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)MemorySize);
        return 1;
    }
    memset(reader, 0, sizeof *reader);
    return PlatformFileOpen(path, &reader->Handle, &reader->Size);
}

void ClosePackageReader(PackageReader *reader)
{
    if (!reader->InMemory && reader->Handle)
        PlatformFileClose(reader->Handle);
    reader->Handle = NULL;
}

int SeekPackageReader(PackageReader *reader, uint32_t offset)
{
    if (!reader->InMemory && !PlatformFileSeek(reader->Handle, offset))
        return 0;
    reader->Position = offset;
    return 1;
}

int ReadPackageBytes(PackageReader *reader, void *buffer, uint32_t size, uint32_t *delivered)
{
    *delivered = 0;
    if (reader->InMemory)
        return ReadMemoryPackage(reader, buffer, size, delivered);
    uint32_t got = 0;
    if (!PlatformFileRead(reader->Handle, buffer, size, &got))
        return 0;
    reader->Position += got;
    *delivered = got;
    return 1;
}

uint32_t ReaderRemaining(const PackageReader *reader)
{
    return reader->Position < reader->Size ? reader->Size - reader->Position : 0;
}

int ReadExact(PackageReader *reader, void *buffer, uint32_t size)
{
    uint32_t got = 0;
    if (!ReadPackageBytes(reader, buffer, size, &got))
        return 0;
    return got == size;
}
