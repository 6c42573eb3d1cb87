/*
 * codec.h -- readers for the two encodings of the package header and the
 * one zlib decoder that the loader and the component hand-off share.
 */
#ifndef VELKOR_CODEC_H
#define VELKOR_CODEC_H

#include "base.h"
#include "littleendian.h"   /* every integer of the format is little-endian */

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

/* What the Block readers and the decoder end with.  Damage and a refused
 * allocation stay apart so that each can be told to the user as it is. */
enum {
    BlockRead = 0,
    BlockDamaged = -1,         /* cut short, a size the file cannot hold, or a
                                  stream that does not decode */
    BlockNoMemory = -2,        /* no memory for the stored data or the text */
    BlockDecoderNoMemory = -3  /* no memory for the decoder or its output */
};

/* Reads a Block prefix (5 bytes, 9 when compressed).  0 when it cannot be
 * read in full or its stored size is more than the rest of the source
 * holds. */
int ReadBlockPrefix(ByteSource *source, BlockPrefix *prefix);


/* The data behind a Block prefix just read: stored data as they are,
 * compressed data decoded by InflateBlock.  storedRead, when given, is
 * called with context once the stored bytes are in memory, before they are
 * decoded.  BlockRead with *data owning *length bytes; otherwise
 * BlockDamaged, BlockNoMemory (the stored data) or BlockDecoderNoMemory,
 * with nothing left allocated. */
int ReadBlockData(ByteSource *source, const BlockPrefix *prefix, void (*storedRead)(void *context),
                  void *context, uint8_t **data, uint32_t *length);

/* One PackageString: BlockRead with *text a new zero-terminated string.
 * Otherwise *text is NULL and the result is
 *   BlockDamaged   the read failed or ended early, or the count is more
 *                  than the rest of the file holds
 *   BlockNoMemory  no memory for the string */
int ReadPackageString(PackageReader *file, VCHAR **text);

/* One text Block: BlockRead with *text a new zero-terminated string.  Data
 * that lack a final zero code unit, or have an odd length, are cut to whole
 * code units and terminated.  Otherwise *text is NULL and the result is
 *   BlockDamaged          the prefix or data could not be read in full, the
 *                         stored size is more than the rest of the file
 *                         holds, or the stream does not decode
 *   BlockNoMemory         no memory for the stored data or the text
 *   BlockDecoderNoMemory  no memory for the decoder or its output */
int ReadBlock(PackageReader *file, VCHAR **text);

/* Decode one zlib stream into a new buffer of at most decodedSize bytes
 * (decodedSize 0: the stored size rounded up to 256).  BlockRead: *out owns
 * the buffer and *length is the true decoded length.  Otherwise nothing
 * stays allocated and the result is
 *   BlockDamaged          damaged data, a check mismatch, too little room,
 *                         input that ends inside the stream, a preset
 *                         dictionary asked for
 *   BlockDecoderNoMemory  no memory for the buffer, zlib's state or the
 *                         final shrink (zlib's Z_MEM_ERROR) */
int InflateBlock(const uint8_t *stored, uint32_t storedSize, uint32_t decodedSize,
                 uint8_t **out, uint32_t *length);

#endif
