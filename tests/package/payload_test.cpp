// The payload reader: chunks decoded in order, damage told from the
// caller's own refusals, nothing left allocated on any path.
#include "format.h"
#include "payload.h"
#include "testutil.h"
#include "pkgwrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using velkor::Bytes;

namespace {

using velkor::PutU32;

void AddStored(Bytes &payload, const Bytes &data) { velkor::PutBlock(payload, data, false); }

void AddCompressed(Bytes &payload, const Bytes &data, uint32_t statedSize)
{
    velkor::PutCompressedBlock(payload, velkor::ZlibCompress(data), statedSize);
}

Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 31 + seed + (i >> 7));
    return b;
}

// Reads a whole payload from memory the way the hand-off does, recording
// what the callbacks saw.
struct PayloadRun {
    Bytes file;
    size_t pos = 0;
    Bytes out;
    std::vector<std::string> events;
    int refuseAt = -1;   // Take returns 7 for this chunk

    static int Read(void *c, void *buffer, uint32_t size)
    {
        PayloadRun *r = static_cast<PayloadRun *>(c);
        if (size > r->file.size() - r->pos)
            return 0;
        std::copy(r->file.begin() + long(r->pos), r->file.begin() + long(r->pos + size), static_cast<uint8_t *>(buffer));
        r->pos += size;
        return 1;
    }
    static uint64_t Remaining(void *c)
    {
        PayloadRun *r = static_cast<PayloadRun *>(c);
        return r->file.size() - r->pos;
    }
    static void Stored(void *c) { static_cast<PayloadRun *>(c)->events.push_back("stored"); }
    static int Take(void *c, const uint8_t *data, uint32_t length)
    {
        PayloadRun *r = static_cast<PayloadRun *>(c);
        r->events.push_back("take " + std::to_string(length));
        if (int(r->events.size() / 2) - 1 == r->refuseAt)
            return 7;
        r->out.insert(r->out.end(), data, data + length);
        return ChunkTaken;
    }

    // ChunkTaken for a whole payload, or the first result that is not.
    int All()
    {
        PayloadStream s = {{Read, Remaining, this}, Stored, Take, this};
        uint32_t count;
        int result = ReadChunkCount(&s.Source, &count);
        for (uint32_t i = 0; result == ChunkTaken && i < count; ++i)
            result = ReadChunk(&s);
        return result;
    }
};

TEST(Payload, ChunksOfEveryKindConcatenateInOrder)
{
    Bytes a = Pattern(CHUNK_SIZE, 1), b = Pattern(10, 2), c = Pattern(CHUNK_SIZE - 1, 3);
    PayloadRun r;
    PutU32(r.file, 4);
    AddCompressed(r.file, a, CHUNK_SIZE);
    AddStored(r.file, b);
    AddCompressed(r.file, c, 0xFFFFFFFF);   // a stated size far above what the stream can give
    AddStored(r.file, {});
    EXPECT_EQ(r.All(), ChunkTaken);
    Bytes expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), c.begin(), c.end());
    EXPECT_EQ(r.out, expected);
    // Each chunk's stored data is in memory before it is decoded and taken.
    EXPECT_EQ(r.events, (std::vector<std::string>{"stored", "take 65536", "stored", "take 10", "stored",
                                                  "take 65535", "stored", "take 0"}));
    EXPECT_EQ(VHeapLiveBlocks(), 0);
}

TEST(Payload, DamageAndRefusals)
{
    Bytes good = Pattern(3000, 4);
    struct Row {
        const char *name;
        Bytes file;
        int expected;
        int refuseAt;
    };
    std::vector<Row> rows;
    auto payload = [&](uint32_t count) {
        Bytes p;
        PutU32(p, count);
        return p;
    };
    {
        Bytes p = payload(1);
        AddCompressed(p, good, 0);
        rows.push_back({"unstated size decodes beyond the stored size rounded to 256", p, ChunkDamaged, -1});
    }
    {
        Bytes p = payload(1);
        AddCompressed(p, good, 100);
        rows.push_back({"stated size too small", p, ChunkDamaged, -1});
    }
    {
        Bytes p = payload(1);
        AddCompressed(p, good, 3000);
        p[p.size() - 1] ^= 1;   // the Adler-32 check
        rows.push_back({"check damaged", p, ChunkDamaged, -1});
    }
    {
        Bytes p = payload(2);
        AddStored(p, good);
        rows.push_back({"count larger than the chunks", p, ChunkDamaged, -1});
    }
    rows.push_back({"count no file can hold", payload(0xFFFFFFFF), ChunkDamaged, -1});
    rows.push_back({"count cut short", Bytes{1, 0}, ChunkDamaged, -1});
    {
        Bytes p = payload(1);
        p.push_back(BLOCK_COMPRESSED);
        PutU32(p, 1);
        rows.push_back({"compressed prefix without its decoded size", p, ChunkDamaged, -1});
    }
    {
        Bytes p = payload(1);
        AddStored(p, good);
        p[5] = 0xFF;   // stored size beyond the file
        rows.push_back({"stored size past the end", p, ChunkDamaged, -1});
    }
    {
        Bytes p = payload(2);
        AddStored(p, good);
        AddCompressed(p, good, 3000);
        rows.push_back({"the caller refuses the second chunk", p, 7, 1});
    }
    for (auto &row : rows) {
        SCOPED_TRACE(row.name);
        PayloadRun r;
        r.file = row.file;
        r.refuseAt = row.refuseAt;
        EXPECT_EQ(r.All(), row.expected);
        EXPECT_EQ(VHeapLiveBlocks(), 0);
    }
}

TEST(Payload, EveryAllocationFailureIsMemoryNeverDamage)
{
    Bytes a = Pattern(CHUNK_SIZE, 5);
    Bytes file;
    PutU32(file, 2);
    AddCompressed(file, a, CHUNK_SIZE);
    AddStored(file, Pattern(100, 6));
    for (unsigned long k = 1;; ++k) {
        PayloadRun r;
        r.file = file;
        VHeapFailAt(k);
        int result = r.All();
        VHeapFailAt(0);
        EXPECT_EQ(VHeapLiveBlocks(), 0) << "allocation " << k;
        if (result == ChunkTaken) {
            EXPECT_GT(k, 2u);
            break;
        }
        // Never damage: the stored data's own allocation and the decoder's
        // stay apart, and the hand-off decides what each tells the user.
        EXPECT_TRUE(result == ChunkNoMemory || result == ChunkDecoderNoMemory) << "allocation " << k << ": " << result;
        if (k == 1)
            EXPECT_EQ(result, ChunkNoMemory) << "the first allocation is the chunk's stored data";
    }
}

}  // namespace
