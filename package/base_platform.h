/*
 * base_platform.h -- what base_win.cpp and base_posix.cpp provide to the
 * portable half in reader.cpp.
 */
#ifndef VELKOR_BASE_PLATFORM_H
#define VELKOR_BASE_PLATFORM_H

#include "base.h"

void *PlatformHeapAlloc(size_t size);
void *PlatformHeapResize(void *block, size_t size);
void PlatformHeapFree(void *block);

/* The memory image set by UseMemoryPackage, when one is set. */
int OpenMemoryPackage(PackageReader *reader);
int ReadMemoryPackage(PackageReader *reader, void *buffer, uint32_t size, uint32_t *delivered);

#endif
