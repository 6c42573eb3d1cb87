/*
 * reader.cpp -- the platform-neutral half of the package reader.
 */
#include "base.h"

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
