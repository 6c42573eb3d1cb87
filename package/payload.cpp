/*
 * payload.cpp -- reads chunks one at a time: at most one chunk's stored
 * data and its decoded form are in memory at once.
 */
#include "payload.h"
#include "format.h"

int ReadChunkCount(ByteSource *source, uint32_t *count)
{
    uint8_t raw[4];
    *count = 0;
    if (!source->Read(source->Context, raw, 4))
        return ChunkDamaged;
    uint32_t value = ReadLittle32(raw);
    /* Every chunk takes at least its prefix; a larger count is damage. */
    if (value > source->Remaining(source->Context) / BLOCK_PREFIX_STORED)
        return ChunkDamaged;
    *count = value;
    return ChunkTaken;
}

int ReadChunkData(PayloadStream *stream, const BlockPrefix *prefix)
{
    uint8_t *data;
    uint32_t length;
    int result = ReadBlockData(&stream->Source, prefix, stream->StoredRead, stream->Context, &data, &length);
    if (result != BlockRead)
        return result;
    result = stream->Take(stream->Context, data, length);
    VFree(data);
    return result;
}

int ReadChunk(PayloadStream *stream)
{
    BlockPrefix prefix;
    if (!ReadBlockPrefix(&stream->Source, &prefix))
        return ChunkDamaged;
    return ReadChunkData(stream, &prefix);
}
