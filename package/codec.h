/*
 * codec.h -- readers for the two encodings of the package header and the
 * one zlib decoder that the loader and the component hand-off share.
 */
#ifndef VELKOR_CODEC_H
#define VELKOR_CODEC_H

#include "base.h"

/* One PackageString as a new zero-terminated string.
 * NULL: the read failed or ended early, the count is more than the rest of
 * the file holds, or no memory. */
VCHAR *ReadPackageString(PackageReader *file);

/* One text Block as a new zero-terminated string.  Data that lack a final
 * zero code unit, or have an odd length, are cut to whole code units and
 * terminated.  NULL: the prefix or data could not be read in full, the
 * stored size is more than the rest of the file holds, decoding failed, or
 * no memory. */
VCHAR *ReadBlock(PackageReader *file);

/* Decode one zlib stream into a new buffer of at most decodedSize bytes
 * (decodedSize 0: the stored size rounded up to 256).  On success *out owns
 * the buffer and *length is the true decoded length.  Returns 0 for every
 * failure (damage, check mismatch, too little room, no memory), with
 * nothing left allocated. */
int InflateBlock(const uint8_t *stored, uint32_t storedSize, uint32_t decodedSize,
                 uint8_t **out, uint32_t *length);

#endif
