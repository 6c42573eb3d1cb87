/*
 * base_posix.cpp -- heap and file reader for the native build (unit tests,
 * fuzzing, tools).  Paths are UTF-16 and converted to UTF-8 for fopen.
 */
#include "base.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
    void *p = malloc(size ? size : 1);
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
    return realloc(block, size ? size : 1);
}

void VFree(void *block)
{
    if (block) {
        --LiveBlocks;
        free(block);
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

static void Utf16ToUtf8(const VCHAR *s, char *out, size_t cap)
{
    size_t n = 0;
    while (*s && n + 4 < cap) {
        uint32_t c = *s++;
        if (c >= 0xD800 && c < 0xDC00 && *s >= 0xDC00 && *s < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (*s++ - 0xDC00);
        if (c < 0x80) {
            out[n++] = (char)c;
        } else if (c < 0x800) {
            out[n++] = (char)(0xC0 | (c >> 6));
            out[n++] = (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = (char)(0xE0 | (c >> 12));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (c & 0x3F));
        } else {
            out[n++] = (char)(0xF0 | (c >> 18));
            out[n++] = (char)(0x80 | ((c >> 12) & 0x3F));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (c & 0x3F));
        }
    }
    out[n] = 0;
}

int OpenPackageReader(PackageReader *reader, const VCHAR *path)
{
    memset(reader, 0, sizeof *reader);
    if (MemoryActive) {
        reader->Handle = (void *)MemoryData;
        reader->Size = MemorySize > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)MemorySize;
        reader->InMemory = 1;
        return 1;
    }
    char name[1100];
    Utf16ToUtf8(path, name, sizeof name);
    FILE *f = fopen(name, "rb");
    if (!f)
        return 0;
    if (fseek(f, 0, SEEK_END) != 0) {
        fclose(f);
        return 0;
    }
    long size = ftell(f);
    if (size < 0 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return 0;
    }
    reader->Handle = f;
    reader->Size = (unsigned long)size > 0xFFFFFFFFul ? 0xFFFFFFFFu : (uint32_t)size;
    return 1;
}

void ClosePackageReader(PackageReader *reader)
{
    if (!reader->InMemory && reader->Handle)
        fclose((FILE *)reader->Handle);
    reader->Handle = NULL;
}

int SeekPackageReader(PackageReader *reader, uint32_t offset)
{
    if (!reader->InMemory && fseek((FILE *)reader->Handle, (long)offset, SEEK_SET) != 0)
        return 0;
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
            memcpy(buffer, MemoryData + reader->Position, n);
        reader->Position += n;
        *delivered = n;
        return 1;
    }
    size_t n = fread(buffer, 1, size, (FILE *)reader->Handle);
    if (n < size && ferror((FILE *)reader->Handle))
        return 0;
    reader->Position += (uint32_t)n;
    *delivered = (uint32_t)n;
    return 1;
}
