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

/* The file under a PackageReader; reader.cpp keeps the position and serves
 * memory images itself.  Open gives the handle and the size (as a u32,
 * larger files clamped); 0 = cannot open.  Seek is absolute.  Read delivers
 * up to size bytes, fewer only at the end; 0 on a failed read. */
int PlatformFileOpen(const VCHAR *path, void **handle, uint32_t *size);
void PlatformFileClose(void *handle);
int PlatformFileSeek(void *handle, uint32_t offset);
int PlatformFileRead(void *handle, void *buffer, uint32_t size, uint32_t *delivered);

#endif
