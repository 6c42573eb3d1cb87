// Block codec and item readers: the sizes where decoding goes wrong.
#include "codec.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

using velkor::Bytes;

namespace {

struct Decoded {
    int result;
    bool ok;
    Bytes data;
};

Decoded Inflate(const Bytes &stored, uint32_t decodedSize)
{
    uint8_t *out = reinterpret_cast<uint8_t *>(0x1);
    uint32_t length = 0xDEADBEEF;
    int result = InflateBlock(stored.data(), uint32_t(stored.size()), decodedSize, &out, &length);
    Decoded d{result, result == BlockRead, {}};
    if (d.ok) {
        d.data.assign(out, out + length);
        VFree(out);
    } else {
        EXPECT_EQ(out, nullptr);
    }
    return d;
}

Bytes Pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 131) ^ (i >> 8));
    return b;
}

}  // namespace

TEST(InflateBlock, DecodedSizeIsAnUpperBound)
{
    Bytes data = Pattern(400);
    Bytes z = velkor::ZlibCompress(data);
    EXPECT_EQ(Inflate(z, 400).data, data);
    EXPECT_EQ(Inflate(z, 100000).data, data);     // fewer bytes than stated: accepted
    EXPECT_EQ(Inflate(z, 399).result, BlockDamaged);   // more than stated: refused
    EXPECT_EQ(Inflate(z, 1).result, BlockDamaged);
}

TEST(InflateBlock, UnstatedSizeUsesStoredSizeRoundedTo256)
{
    Bytes big(400, 'x'), small(200, 'y');
    Bytes zb = velkor::ZlibCompress(big), zs = velkor::ZlibCompress(small);
    ASSERT_LT(zb.size(), 256u);
    EXPECT_EQ(Inflate(zb, 0).result, BlockDamaged);
    EXPECT_EQ(Inflate(zs, 0).data, small);
}

TEST(InflateBlock, DamageIsDamageNotMemory)
{
    Bytes data = Pattern(5000);
    Bytes z = velkor::ZlibCompress(data);
    Bytes badCheck = z;
    badCheck.back() ^= 1;                                   // Adler-32
    Bytes badData = z;
    badData[z.size() / 2] ^= 0x5A;                          // inside the deflate data
    Bytes badHeader = z;
    badHeader[1] ^= 1;                                      // header check fails
    struct {
        const char *name;
        Bytes stored;
    } cases[] = {
        {"check", badCheck},
        {"deflate data", badData},
        {"header", badHeader},
        {"ends early", Bytes(z.begin(), z.end() - 5)},
        {"header only", Bytes(z.begin(), z.begin() + 2)},
        {"empty", Bytes()},
        {"no zlib header", Bytes{0x12, 0x34, 0x56}},
        {"asks for a preset dictionary", Bytes{0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00}},
    };
    for (const auto &c : cases) {
        long before = VHeapLiveBlocks();
        EXPECT_EQ(Inflate(c.stored, 5000).result, BlockDamaged) << c.name;
        EXPECT_EQ(VHeapLiveBlocks(), before) << c.name;
    }
    // Bytes after the end of the stream are not looked at.
    Bytes trailing = z;
    trailing.insert(trailing.end(), {1, 2, 3});
    EXPECT_EQ(Inflate(trailing, 5000).data, data);
}

TEST(InflateBlock, HugeStatedSizeDoesNotAllocateIt)
{
    Bytes z = velkor::ZlibCompress(Bytes(10, 'a'));
    long before = VHeapLiveBlocks();
    Decoded d = Inflate(z, 0xFFFFFFFFu);        // would be 4 GiB if taken at its word
    EXPECT_EQ(d.data, Bytes(10, 'a'));
    EXPECT_EQ(VHeapLiveBlocks(), before);
}

namespace {

// Runs `attempt` with its k-th allocation failing, k = 1, 2, ... until it
// makes fewer than k (so it ran whole); after each run nothing it took is
// left, and `check` sees the result, whether it ran whole, and k.
template <class Attempt, class Check>
void FailEachAllocationInTurn(const char *name, Attempt attempt, Check check)
{
    long before = VHeapLiveBlocks();
    for (unsigned long k = 1;; ++k) {
        VHeapFailAt(k);
        auto result = attempt();
        unsigned long used = VHeapAllocations();
        VHeapFailAt(0);
        EXPECT_EQ(VHeapLiveBlocks(), before) << name << " k=" << k;
        check(result, k > used, k);
        if (k > used)
            break;
    }
}

}  // namespace

TEST(InflateBlock, EveryAllocationFailureIsMemoryWithNothingLeft)
{
    // Exact, overstated (the buffer is shrunk afterwards) and unstated sizes.
    Bytes data = Pattern(3000), small(200, 'y');
    Bytes z = velkor::ZlibCompress(data), zs = velkor::ZlibCompress(small);
    struct {
        const char *name;
        const Bytes &stored, &expect;
        uint32_t stated;
    } cases[] = {{"exact", z, data, 3000}, {"overstated", z, data, 100000}, {"unstated", zs, small, 0}};
    for (const auto &c : cases)
        FailEachAllocationInTurn(
            c.name, [&] { return Inflate(c.stored, c.stated); },
            [&](const Decoded &d, bool whole, unsigned long k) {
                if (whole)
                    EXPECT_EQ(d.data, c.expect) << c.name;
                else
                    EXPECT_EQ(d.result, BlockDecoderNoMemory) << c.name << " k=" << k;
            });
}

namespace {

// Runs a reader over raw bytes.
template <typename F>
auto WithReader(const Bytes &bytes, F f)
{
    UseMemoryPackage(bytes.data(), bytes.size());
    PackageReader r;
    EXPECT_TRUE(OpenPackageReader(&r, u""));
    auto result = f(&r);
    ClosePackageReader(&r);
    UseFilePackages();
    return result;
}

struct ItemRead {
    int result;
    std::u16string text;
};

// One item through ReadBlock or ReadPackageString; the text is "<null>"
// when none came back.
ItemRead ReadItem(const Bytes &bytes, bool block = true)
{
    return WithReader(bytes, [block](PackageReader *r) {
        VCHAR *t = reinterpret_cast<VCHAR *>(0x1);
        int result = block ? ReadBlock(r, &t) : ReadPackageString(r, &t);
        ItemRead read{result, U(t)};
        EXPECT_EQ(result == BlockRead, t != nullptr);
        VFree(t);
        return read;
    });
}

std::u16string BlockText(const Bytes &bytes) { return ReadItem(bytes).text; }

Bytes StoredBlock(const Bytes &data)
{
    Bytes b;
    velkor::PutBlock(b, data, false);
    return b;
}

}  // namespace

TEST(ReadBlock, TheNineteenByteEmptyText)
{
    Bytes b = {0x01, 0x0A, 0, 0, 0, 0x02, 0, 0, 0, 0x78, 0xDA, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
    EXPECT_EQ(BlockText(b), u"");
    Bytes ours;
    velkor::PutTextBlock(ours, u"");
    EXPECT_EQ(ours, b);
}

TEST(ReadBlock, StoredAndAnyNonZeroCompressedByte)
{
    EXPECT_EQ(BlockText(StoredBlock({'h', 0, 'i', 0, 0, 0})), u"hi");
    Bytes b;
    velkor::PutTextBlock(b, u"Grüße");
    b[0] = 2;
    EXPECT_EQ(BlockText(b), u"Grüße");
    b[0] = 0xFF;
    EXPECT_EQ(BlockText(b), u"Grüße");
}

TEST(ReadBlock, TextWithoutTerminatorOrOddLengthIsTerminated)
{
    EXPECT_EQ(BlockText(StoredBlock({'a', 0, 'b', 0})), u"ab");
    EXPECT_EQ(BlockText(StoredBlock({'a', 0, 'b'})), u"a");
    EXPECT_EQ(BlockText(StoredBlock({})), u"");
    EXPECT_EQ(BlockText(StoredBlock({'x'})), u"");
    EXPECT_EQ(BlockText(StoredBlock({'a', 0, 0, 0, 'b', 0})), u"a");   // embedded zero ends it
}

TEST(ReadBlock, ShortOrOversizedItemsAreDamage)
{
    struct Case {
        const char *name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"prefix cut", {0, 4, 0}},
        {"decoded size cut", {1, 4, 0, 0, 0, 9}},
        {"data cut", {0, 4, 0, 0, 0, 'a', 0}},
        {"stored size past the end", {0, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}},
        {"stored size 2^31", {0, 0, 0, 0, 0x80, 'a', 0}},
        {"compressed garbage", {1, 2, 0, 0, 0, 2, 0, 0, 0, 'a', 0}},
    };
    for (const auto &c : cases) {
        long before = VHeapLiveBlocks();
        ItemRead read = ReadItem(c.bytes);
        EXPECT_EQ(read.result, BlockDamaged) << c.name;
        EXPECT_EQ(read.text, u"<null>") << c.name;
        EXPECT_EQ(VHeapLiveBlocks(), before) << c.name;
    }
}

TEST(ReadPackageString, CountsAndBounds)
{
    auto read = [](const Bytes &b) { return ReadItem(b, false).text; };
    EXPECT_EQ(read({0, 0, 0, 0}), u"");
    EXPECT_EQ(read({2, 0, 0, 0, 'o', 0, 'k', 0}), u"ok");
    // Cut short, a count no file could hold, and one that would wrap
    // (count + 1) * 2 in 32 bits: damage, with nothing allocated.
    for (const Bytes &b : {Bytes{2, 0, 0, 0, 'o', 0, 'k'}, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'o', 0},
                           Bytes{0xFF, 0xFF, 0xFF, 0x7F}, Bytes{1, 0}}) {
        ItemRead r = ReadItem(b, false);
        EXPECT_EQ(r.result, BlockDamaged) << b.size();
        EXPECT_EQ(r.text, u"<null>");
    }
    VHeapFailAt(1);
    ItemRead starved = ReadItem({2, 0, 0, 0, 'o', 0, 'k', 0}, false);
    VHeapFailAt(0);
    EXPECT_EQ(starved.result, BlockNoMemory);
}

TEST(ReadBlock, TextThatMustBeTerminatedWithMemoryRunningOut)
{
    // Texts without their zero need a larger block; every allocation on the
    // way may fail.
    Bytes compressedOdd;
    velkor::PutBlock(compressedOdd, Bytes{'o', 0, 'd', 0, 'd'}, true);
    struct {
        const char *name;
        Bytes bytes;
        std::u16string expect;
    } cases[] = {{"stored, no terminator", StoredBlock({'a', 0, 'b', 0}), u"ab"},
                 {"compressed, odd length", compressedOdd, u"od"}};
    for (const auto &c : cases)
        FailEachAllocationInTurn(c.name, [&] { return ReadItem(c.bytes); },
                                 [&](const ItemRead &read, bool whole, unsigned long k) {
                                     if (whole) {
                                         EXPECT_EQ(read.text, c.expect) << c.name;
                                         return;
                                     }
                                     EXPECT_EQ(read.text, u"<null>") << c.name << " k=" << k;
                                     EXPECT_TRUE(read.result == BlockNoMemory || read.result == BlockDecoderNoMemory)
                                         << c.name << " k=" << k << ": " << read.result;
                                 });
}

TEST(ReadItems, FileThatShrinksUnderTheReader)
{
    // The size is learnt when the file is opened; a file cut afterwards (a
    // storage card pulled, the file overwritten) delivers fewer bytes than
    // the size check promised.
    // Items larger than the stdio buffer, so that the cut lies in bytes that
    // have not been read ahead.
    const uint32_t units = 40000;
    Bytes string, block;
    velkor::PutU32(string, units);
    string.resize(4 + 2 * units, 'a');
    block.push_back(0);
    velkor::PutU32(block, 2 * units);
    block.resize(5 + 2 * units, 'b');
    struct {
        const char *name;
        const Bytes &bytes;
        off_t cutTo;
        bool block;
    } cases[] = {{"package string", string, 20000, false}, {"block data", block, 20000, true}};
    for (const auto &c : cases) {
        char name[] = "/tmp/velkor-shrinkXXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, c.bytes.data(), c.bytes.size()), ssize_t(c.bytes.size()));
        close(fd);
        std::u16string path = velkor::Utf8ToUtf16(name);
        long before = VHeapLiveBlocks();
        PackageReader r;
        ASSERT_TRUE(OpenPackageReader(&r, path.c_str()));
        ASSERT_EQ(truncate(name, c.cutTo), 0);
        VCHAR *t = nullptr;
        int result = c.block ? ReadBlock(&r, &t) : ReadPackageString(&r, &t);
        EXPECT_EQ(result, BlockDamaged) << c.name;
        EXPECT_EQ(t, nullptr) << c.name;
        VFree(t);
        ClosePackageReader(&r);
        EXPECT_EQ(VHeapLiveBlocks(), before) << c.name;
        unlink(name);
    }
}
