// Block codec and item readers: the sizes where decoding goes wrong.
#include "codec.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

using velkor::Bytes;

namespace {

struct Decoded {
    int ok;
    Bytes data;
};

Decoded Inflate(const Bytes &stored, uint32_t decodedSize)
{
    uint8_t *out = reinterpret_cast<uint8_t *>(0x1);
    uint32_t length = 0xDEADBEEF;
    int ok = InflateBlock(stored.data(), uint32_t(stored.size()), decodedSize, &out, &length);
    Decoded d{ok, {}};
    if (ok) {
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
    EXPECT_FALSE(Inflate(z, 399).ok);              // more than stated: refused
    EXPECT_FALSE(Inflate(z, 1).ok);
}

TEST(InflateBlock, UnstatedSizeUsesStoredSizeRoundedTo256)
{
    Bytes big(400, 'x'), small(200, 'y');
    Bytes zb = velkor::ZlibCompress(big), zs = velkor::ZlibCompress(small);
    ASSERT_LT(zb.size(), 256u);
    EXPECT_FALSE(Inflate(zb, 0).ok);
    EXPECT_EQ(Inflate(zs, 0).data, small);
}

TEST(InflateBlock, DamageIsRefused)
{
    Bytes data = Pattern(5000);
    Bytes z = velkor::ZlibCompress(data);
    Bytes badCheck = z;
    badCheck.back() ^= 1;                                   // Adler-32
    EXPECT_FALSE(Inflate(badCheck, 5000).ok);
    EXPECT_FALSE(Inflate(Bytes(z.begin(), z.end() - 5), 5000).ok);  // ends early
    EXPECT_FALSE(Inflate(Bytes(), 10).ok);
    Bytes raw = {0x12, 0x34, 0x56};
    EXPECT_FALSE(Inflate(raw, 10).ok);
    // A stream that asks for a preset dictionary.
    Bytes dict = {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00};
    EXPECT_FALSE(Inflate(dict, 10).ok);
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

TEST(InflateBlock, EveryAllocationFailureIsCleanFailure)
{
    // Exact, overstated (the buffer is shrunk afterwards) and unstated sizes.
    Bytes data = Pattern(3000), small(200, 'y');
    Bytes z = velkor::ZlibCompress(data), zs = velkor::ZlibCompress(small);
    struct {
        const char *name;
        const Bytes &stored, &expect;
        uint32_t stated;
    } cases[] = {{"exact", z, data, 3000}, {"overstated", z, data, 100000}, {"unstated", zs, small, 0}};
    for (const auto &c : cases) {
        long before = VHeapLiveBlocks();
        for (unsigned long k = 1;; ++k) {
            VHeapFailAt(k);
            Decoded d = Inflate(c.stored, c.stated);
            unsigned long used = VHeapAllocations();
            VHeapFailAt(0);
            EXPECT_EQ(VHeapLiveBlocks(), before) << c.name << " k=" << k;
            if (k > used) {
                EXPECT_EQ(d.data, c.expect) << c.name;
                break;
            }
            EXPECT_FALSE(d.ok) << c.name << " k=" << k;
        }
    }
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

std::u16string BlockText(const Bytes &bytes)
{
    return WithReader(bytes, [](PackageReader *r) {
        VCHAR *t = ReadBlock(r);
        std::u16string s = U(t);
        VFree(t);
        return s;
    });
}

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

TEST(ReadBlock, ShortOrOversizedItemsFail)
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
        bool failed = WithReader(c.bytes, [](PackageReader *r) {
            VCHAR *t = ReadBlock(r);
            VFree(t);
            return t == nullptr;
        });
        EXPECT_TRUE(failed) << c.name;
        EXPECT_EQ(VHeapLiveBlocks(), before) << c.name;
    }
}

TEST(ReadPackageString, CountsAndBounds)
{
    auto read = [](const Bytes &b) {
        return WithReader(b, [](PackageReader *r) {
            VCHAR *t = ReadPackageString(r);
            std::u16string s = U(t);
            VFree(t);
            return s;
        });
    };
    EXPECT_EQ(read({0, 0, 0, 0}), u"");
    EXPECT_EQ(read({2, 0, 0, 0, 'o', 0, 'k', 0}), u"ok");
    EXPECT_EQ(read({2, 0, 0, 0, 'o', 0, 'k'}), u"<null>");
    EXPECT_EQ(read({0xFF, 0xFF, 0xFF, 0xFF, 'o', 0}), u"<null>");     // (count + 1) * 2 would wrap in 32 bits
    EXPECT_EQ(read({0xFF, 0xFF, 0xFF, 0x7F}), u"<null>");
    EXPECT_EQ(read({1, 0}), u"<null>");
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
    for (const auto &c : cases) {
        long before = VHeapLiveBlocks();
        for (unsigned long k = 1;; ++k) {
            VHeapFailAt(k);
            std::u16string text = BlockText(c.bytes);
            unsigned long used = VHeapAllocations();
            VHeapFailAt(0);
            EXPECT_EQ(VHeapLiveBlocks(), before) << c.name << " k=" << k;
            if (k > used) {
                EXPECT_EQ(text, c.expect) << c.name;
                break;
            }
            EXPECT_EQ(text, u"<null>") << c.name << " k=" << k;
        }
    }
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
        VCHAR *t = c.block ? ReadBlock(&r) : ReadPackageString(&r);
        EXPECT_EQ(t, nullptr) << c.name;
        VFree(t);
        ClosePackageReader(&r);
        EXPECT_EQ(VHeapLiveBlocks(), before) << c.name;
        unlink(name);
    }
}
