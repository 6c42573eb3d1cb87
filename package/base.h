/*
 * base.h -- the few platform services the package code stands on: UTF-16
 * characters, the heap and a sequential file reader with absolute seeking.
 * The Windows build maps them onto the process heap and CreateFileW/ReadFile;
 * the native build onto malloc and stdio, so the same logic is unit-tested.
 */
#ifndef VELKOR_BASE_H
#define VELKOR_BASE_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
typedef WCHAR VCHAR;                 /* UTF-16 code unit */
#define VTEXT(s) L##s
#else
typedef char16_t VCHAR;              /* wchar_t is 32 bits here: never for package text */
#define VTEXT(s) u##s
#endif

/* Heap blocks.  Every failure returns NULL; VResize leaves the old block
 * untouched when it fails. */
void *VAlloc(size_t size);
void *VResize(void *block, size_t size);
void VFree(void *block);

/* Test hooks: make the n-th allocation from now fail (0 = never) and count
 * the blocks that are still live.  Always present so tests and the fault
 * bench need no special build. */
void VHeapFailAt(unsigned long n);
unsigned long VHeapAllocations(void);   /* allocations attempted so far */
long VHeapLiveBlocks(void);
/* The largest single request (allocation or resize) since the last reset,
 * granted or not: what a hostile size made the program ask for. */
size_t VHeapLargestRequest(void);
void VHeapResetLargest(void);

/* Sequential reader over a file.  Reads deliver all requested bytes or
 * report failure; the position and size let callers refuse a count that
 * the rest of the file cannot hold before allocating for it. */
typedef struct PackageReader {
    void *Handle;         /* HANDLE, FILE*, or the memory image */
    uint32_t Size;        /* file length as a u32 */
    uint32_t Position;    /* current absolute position */
    int InMemory;
} PackageReader;

int OpenPackageReader(PackageReader *reader, const VCHAR *path); /* 0 = cannot open */
/* A reader over bytes in memory, for callers that hold the whole file. */
void OpenBufferReader(PackageReader *reader, const uint8_t *data, uint32_t size);
void ClosePackageReader(PackageReader *reader);
int SeekPackageReader(PackageReader *reader, uint32_t offset);   /* absolute; 0 on failure */
/* Reads up to size bytes; *delivered gets the count.  Returns 0 on a failed
 * read; a short read at the end of the file returns 1 with fewer bytes. */
int ReadPackageBytes(PackageReader *reader, void *buffer, uint32_t size, uint32_t *delivered);
/* Reads exactly size bytes or fails. */
int ReadExact(PackageReader *reader, void *buffer, uint32_t size);
uint32_t ReaderRemaining(const PackageReader *reader);

/* Serve OpenPackageReader from memory instead of the named file (fuzzing
 * and in-process tests) until UseFilePackages. */
void UseMemoryPackage(const uint8_t *data, size_t size);
void UseFilePackages(void);

#endif
