/*
 * codec.cpp -- PackageString and Block readers and the block decoder.
 * Sizes from the file are checked against what the rest of the file can
 * hold before anything is allocated for them.
 */
#include "codec.h"
#include "format.h"

#include <string.h>
#include <zlib.h>

static voidpf ZAlloc(voidpf opaque, uInt items, uInt size)
{
    (void)opaque;
    uint64_t bytes = (uint64_t)items * size;
    if (bytes > (uint64_t)(size_t)-1)
        return Z_NULL;
    return VAlloc((size_t)bytes);
}

static void ZFree(voidpf opaque, voidpf address)
{
    (void)opaque;
    VFree(address);
}

uint64_t InflateCapacity(uint32_t storedSize, uint32_t decodedSize)
{
    if (decodedSize == 0)
        return ((uint64_t)storedSize + 255) & ~(uint64_t)255;
    /* A stated size above what deflate can produce from these bytes is not
     * worth allocating: the stream could never fill it.  The slack covers
     * the stream's own header and check. */
    uint64_t bound = (uint64_t)storedSize * DEFLATE_MAX_RATIO + 4096;
    return decodedSize < bound ? decodedSize : bound;
}

/* zlib keeps a refused allocation apart from bad data; everything else
 * that stops a stream is the stream's fault. */
static int StreamFailure(int status)
{
    return status == Z_MEM_ERROR ? BlockDecoderNoMemory : BlockDamaged;
}

int InflateBlock(const uint8_t *stored, uint32_t storedSize, uint32_t decodedSize,
                 uint8_t **out, uint32_t *length)
{
    uint64_t capacity = InflateCapacity(storedSize, decodedSize);
    *out = NULL;
    *length = 0;

    uint8_t *buffer = (uint8_t *)VAlloc((size_t)capacity);
    if (!buffer)
        return BlockDecoderNoMemory;

    z_stream stream;
    memset(&stream, 0, sizeof stream);
    stream.zalloc = ZAlloc;
    stream.zfree = ZFree;
    stream.next_in = (Bytef *)stored;
    stream.avail_in = storedSize;
    stream.next_out = buffer;
    stream.avail_out = (uInt)capacity;
    int status = inflateInit(&stream);
    if (status != Z_OK) {
        VFree(buffer);
        return StreamFailure(status);
    }
    status = inflate(&stream, Z_FINISH);
    uint32_t produced = (uint32_t)stream.total_out;
    int ended = inflateEnd(&stream);
    if (status != Z_STREAM_END || ended != Z_OK) {
        VFree(buffer);
        return StreamFailure(status != Z_STREAM_END ? status : ended);
    }
    if (produced != capacity) {
        uint8_t *shrunk = (uint8_t *)VResize(buffer, produced);
        if (!shrunk) {
            VFree(buffer);
            return BlockDecoderNoMemory;
        }
        buffer = shrunk;
    }
    *out = buffer;
    *length = produced;
    return BlockRead;
}

int ReadPackageString(PackageReader *file, VCHAR **text)
{
    uint8_t raw[4];
    *text = NULL;
    if (!ReadExact(file, raw, 4))
        return BlockDamaged;
    uint32_t count = ReadLittle32(raw);
    if ((uint64_t)count * 2 > ReaderRemaining(file))
        return BlockDamaged;
    VCHAR *units = (VCHAR *)VAlloc(((size_t)count + 1) * 2);
    if (!units)
        return BlockNoMemory;
    uint8_t *bytes = (uint8_t *)units;
    if (!ReadExact(file, bytes, count * 2)) {
        VFree(units);
        return BlockDamaged;
    }
    /* Assemble the little-endian code units in place (a no-op on LE hosts). */
    for (uint32_t i = 0; i < count; ++i)
        units[i] = (VCHAR)ReadLittle16(bytes + 2 * i);
    units[count] = 0;
    *text = units;
    return BlockRead;
}

/* Make decoded bytes a terminated string of whole UTF-16 code units. */
static VCHAR *TerminateText(uint8_t *data, uint32_t length)
{
    uint32_t units = length / 2;
    for (uint32_t i = 0; i < units; ++i)
        ((VCHAR *)data)[i] = (VCHAR)ReadLittle16(data + 2 * i);
    if (units > 0 && length % 2 == 0 && ((VCHAR *)data)[units - 1] == 0)
        return (VCHAR *)data;
    VCHAR *text = (VCHAR *)VResize(data, ((size_t)units + 1) * 2);
    if (!text) {
        VFree(data);
        return NULL;
    }
    text[units] = 0;
    return text;
}

int ReadBlockPrefix(ByteSource *source, BlockPrefix *prefix)
{
    uint8_t raw[BLOCK_PREFIX_COMPRESSED];
    if (!source->Read(source->Context, raw, BLOCK_PREFIX_STORED))
        return 0;
    prefix->Compressed = raw[0] != BLOCK_STORED;
    if (prefix->Compressed && !source->Read(source->Context, raw + BLOCK_PREFIX_STORED, 4))
        return 0;
    prefix->StoredSize = ReadLittle32(raw + 1);
    prefix->DecodedSize = prefix->Compressed ? ReadLittle32(raw + BLOCK_PREFIX_STORED) : 0;
    return prefix->StoredSize <= source->Remaining(source->Context);
}

static int ReadFromReader(void *context, void *buffer, uint32_t size)
{
    return ReadExact((PackageReader *)context, buffer, size);
}

static uint64_t RemainingInReader(void *context)
{
    return ReaderRemaining((PackageReader *)context);
}

ByteSource ReaderByteSource(PackageReader *file)
{
    ByteSource source = {ReadFromReader, RemainingInReader, file};
    return source;
}

int ReadBlockData(ByteSource *source, const BlockPrefix *prefix, void (*storedRead)(void *context),
                  void *context, uint8_t **data, uint32_t *length)
{
    *data = NULL;
    *length = 0;
    uint8_t *stored = (uint8_t *)VAlloc(prefix->StoredSize);
    if (!stored)
        return BlockNoMemory;
    int complete = source->Read(source->Context, stored, prefix->StoredSize);
    if (storedRead)
        storedRead(context);
    if (!complete) {
        VFree(stored);
        return BlockDamaged;
    }
    if (!prefix->Compressed) {
        *data = stored;
        *length = prefix->StoredSize;
        return BlockRead;
    }
    int result = InflateBlock(stored, prefix->StoredSize, prefix->DecodedSize, data, length);
    VFree(stored);
    return result;
}

int ReadBlock(PackageReader *file, VCHAR **text)
{
    ByteSource source = ReaderByteSource(file);
    BlockPrefix prefix;
    uint8_t *data;
    uint32_t length;
    *text = NULL;
    if (!ReadBlockPrefix(&source, &prefix))
        return BlockDamaged;
    int result = ReadBlockData(&source, &prefix, NULL, NULL, &data, &length);
    if (result != BlockRead)
        return result;
    *text = TerminateText(data, length);
    return *text ? BlockRead : BlockNoMemory;
}
