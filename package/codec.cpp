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

int InflateBlock(const uint8_t *stored, uint32_t storedSize, uint32_t decodedSize,
                 uint8_t **out, uint32_t *length)
{
    uint64_t capacity = InflateCapacity(storedSize, decodedSize);
    *out = NULL;
    *length = 0;

    uint8_t *buffer = (uint8_t *)VAlloc((size_t)capacity);
    if (!buffer)
        return 0;

    z_stream stream;
    memset(&stream, 0, sizeof stream);
    stream.zalloc = ZAlloc;
    stream.zfree = ZFree;
    stream.next_in = (Bytef *)stored;
    stream.avail_in = storedSize;
    stream.next_out = buffer;
    stream.avail_out = (uInt)capacity;
    if (inflateInit(&stream) != Z_OK) {
        VFree(buffer);
        return 0;
    }
    int status = inflate(&stream, Z_FINISH);
    uint32_t produced = (uint32_t)stream.total_out;
    if (inflateEnd(&stream) != Z_OK || status != Z_STREAM_END) {
        VFree(buffer);
        return 0;
    }
    if (produced != capacity) {
        uint8_t *shrunk = (uint8_t *)VResize(buffer, produced);
        if (!shrunk) {
            VFree(buffer);
            return 0;
        }
        buffer = shrunk;
    }
    *out = buffer;
    *length = produced;
    return 1;
}

VCHAR *ReadPackageString(PackageReader *file)
{
    uint8_t raw[4];
    if (!ReadExact(file, raw, 4))
        return NULL;
    uint32_t count = ReadLittle32(raw);
    if ((uint64_t)count * 2 > ReaderRemaining(file))
        return NULL;
    VCHAR *text = (VCHAR *)VAlloc(((size_t)count + 1) * 2);
    if (!text)
        return NULL;
    uint8_t *bytes = (uint8_t *)text;
    if (!ReadExact(file, bytes, count * 2)) {
        VFree(text);
        return NULL;
    }
    /* Assemble the little-endian code units in place (a no-op on LE hosts). */
    for (uint32_t i = 0; i < count; ++i)
        text[i] = (VCHAR)(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    text[count] = 0;
    return text;
}

/* Make decoded bytes a terminated string of whole UTF-16 code units. */
static VCHAR *TerminateText(uint8_t *data, uint32_t length)
{
    uint32_t units = length / 2;
    for (uint32_t i = 0; i < units; ++i)
        ((VCHAR *)data)[i] = (VCHAR)(data[2 * i] | (data[2 * i + 1] << 8));
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
    int ok = InflateBlock(stored, prefix->StoredSize, prefix->DecodedSize, data, length);
    VFree(stored);
    return ok ? BlockRead : BlockDamaged;
}

VCHAR *ReadBlock(PackageReader *file)
{
    ByteSource source = ReaderByteSource(file);
    BlockPrefix prefix;
    uint8_t *data;
    uint32_t length;
    if (!ReadBlockPrefix(&source, &prefix) || ReadBlockData(&source, &prefix, NULL, NULL, &data, &length) != BlockRead)
        return NULL;
    return TerminateText(data, length);
}
