/*
 * base_posix.cpp -- heap and file reader for the native build (unit tests,
 * fuzzing, tools).  Paths are UTF-16 and converted to UTF-8 for fopen.
 */
#include "base.h"
#include "base_platform.h"

#include <stdio.h>
#include <stdlib.h>

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

int PlatformFileOpen(const VCHAR *path, void **handle, uint32_t *size)
{
    char name[1100];
    Utf16ToUtf8(path, name, sizeof name);
    FILE *f = fopen(name, "rb");
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
