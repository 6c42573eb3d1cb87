/*
 * codec.h -- readers for the two encodings of the package header and the
 * one zlib decoder that the loader and the component hand-off share.
 */
#ifndef VELKOR_CODEC_H
#define VELKOR_CODEC_H

#include "base.h"

/* The u32 at p, little-endian as every integer of the format. */
static inline uint32_t ReadLittle32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* The room InflateBlock decodes a stream into: the stated decoded size, but
 * never more than deflate can produce from storedSize bytes; with no size
 * stated, the stored size rounded up to 256. */
uint64_t InflateCapacity(uint32_t storedSize, uint32_t decodedSize);

/* Where a reader takes its bytes from: the loader's file, the hand-off's
 * source, or the authoring tool's copy of a package in memory. */
typedef struct ByteSource {
    /* Exactly size bytes from the cursor on; 0 when they cannot all be read. */
    int (*Read)(void *context, void *buffer, uint32_t size);
    /* Bytes left behind the cursor: no size from the file is believed
     * beyond what the file still holds. */
    uint64_t (*Remaining)(void *context);
    void *Context;
} ByteSource;

/* A ByteSource over a PackageReader, reading from its position on: the
 * loader's file, or bytes in memory through OpenBufferReader. */
ByteSource ReaderByteSource(PackageReader *file);

/* The prefix of a Block: the compressed byte and the sizes after it. */
typedef struct {
    uint8_t Compressed;
    uint32_t StoredSize;
    uint32_t DecodedSize;   /* 0 for stored data, or when not stated */
} BlockPrefix;

/* Reads a Block prefix (5 bytes, 9 when compressed).  0 when it cannot be
 * read in full or its stored size is more than the rest of the source
 * holds. */
int ReadBlockPrefix(ByteSource *source, BlockPrefix *prefix);

enum {
    BlockRead = 0,
    BlockDamaged = -1,     /* cut short, or a stream that does not decode */
    BlockNoMemory = -2     /* no memory for the stored data */
};

/* The data behind a Block prefix just read: stored data as they are,
 * compressed data decoded by InflateBlock.  storedRead, when given, is
 * called with context once the stored bytes are in memory, before they are
 * decoded.  BlockRead with *data owning *length bytes; otherwise nothing
 * stays allocated. */
int ReadBlockData(ByteSource *source, const BlockPrefix *prefix, void (*storedRead)(void *context),
                  void *context, uint8_t **data, uint32_t *length);

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
