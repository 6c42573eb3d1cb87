/*
 * payload.h -- a component's payload: the chunk count, then one Block per
 * chunk, each decoded and handed on in order.  The setup program's hand-off
 * and the authoring tool read payloads only through here; where the bytes
 * come from and where the decoded chunks go is the caller's business.
 */
#ifndef VELKOR_PAYLOAD_H
#define VELKOR_PAYLOAD_H

#include "codec.h"

typedef struct PayloadStream {
    ByteSource Source;
    /* Optional: called once a chunk's stored data is in memory, before it
     * is decoded (the hand-off keeps its window alive there). */
    void (*StoredRead)(void *context);
    /* Takes one chunk's decoded bytes.  Returns 0 to go on, or a positive
     * code of the caller's, which the chunk reader passes back. */
    int (*Take)(void *context, const uint8_t *data, uint32_t length);
    void *Context;          /* for StoredRead and Take */
} PayloadStream;

enum {
    ChunkTaken = BlockRead,
    ChunkDamaged = BlockDamaged,    /* cut short, a size the file cannot
                                       hold, or a stream that does not decode */
    ChunkNoMemory = BlockNoMemory,  /* no memory for the stored data */
    ChunkDecoderNoMemory = BlockDecoderNoMemory   /* no memory to decode it */
};

/* The u32 chunk count.  ChunkDamaged when it cannot be read, or when the
 * rest of the file cannot hold that many chunk prefixes. */
int ReadChunkCount(ByteSource *source, uint32_t *count);

/* The data behind a chunk prefix just read (ReadBlockPrefix): stored data
 * are handed on as they are, compressed data decoded by InflateBlock first.
 * Returns ChunkTaken, ChunkDamaged, ChunkNoMemory, ChunkDecoderNoMemory or
 * Take's own code.
 * Nothing stays allocated. */
int ReadChunkData(PayloadStream *stream, const BlockPrefix *prefix);

/* One whole chunk: ReadBlockPrefix (ChunkDamaged when it fails), then
 * ReadChunkData. */
int ReadChunk(PayloadStream *stream);

#endif
