/*
 * base_posix.cpp -- heap and file reader for the native build (unit tests,
 * fuzzing, tools).  Paths are UTF-16 and converted to UTF-8 for fopen.
 */
#include "base.h"
#include "base_platform.h"
#include "utf.h"

#include <stdio.h>
#include <stdlib.h>

#include <new>

void *PlatformHeapAlloc(size_t size)
{
    return malloc(size ? size : 1);
}

void *PlatformHeapResize(void *block, size_t size)
{
    return realloc(block, size ? size : 1);
}

void PlatformHeapFree(void *block)
{
    free(block);
}

int PlatformFileOpen(const VCHAR *path, void **handle, uint32_t *size)
{
    FILE *f;
    try {
        /* Whole: a name cut short could open another file. */
        f = fopen(velkor::Utf16ToUtf8(path).c_str(), "rb");
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (!f)
        return 0;
    if (fseek(f, 0, SEEK_END) != 0) {
        fclose(f);
        return 0;
    }
    long length = ftell(f);
    if (length < 0 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return 0;
    }
    *handle = f;
    *size = (unsigned long)length > 0xFFFFFFFFul ? 0xFFFFFFFFu : (uint32_t)length;
    return 1;
}

void PlatformFileClose(void *handle)
{
    fclose((FILE *)handle);
}

int PlatformFileSeek(void *handle, uint32_t offset)
{
    return fseek((FILE *)handle, (long)offset, SEEK_SET) == 0;
}

int PlatformFileRead(void *handle, void *buffer, uint32_t size, uint32_t *delivered)
{
    size_t n = fread(buffer, 1, size, (FILE *)handle);
    if (n < size && ferror((FILE *)handle))
        return 0;
    *delivered = (uint32_t)n;
    return 1;
}
