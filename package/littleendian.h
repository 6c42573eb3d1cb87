/*
 * littleendian.h -- the integers of the package, the PE headers and the
 * CABs, read from bytes in memory.  Plain C-style C++ with no other header
 * of ours: the device build, the installer stand-in, the authoring tool and
 * the tests all include it.
 */
#ifndef VELKOR_LITTLEENDIAN_H
#define VELKOR_LITTLEENDIAN_H

#include <stdint.h>

/* The u16 at p, little-endian; p need not be aligned. */
static inline uint16_t ReadLittle16(const uint8_t *p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

/* The u32 at p, little-endian; p need not be aligned. */
static inline uint32_t ReadLittle32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

#endif
