// pkgread.cpp -- walks a package item by item with bounds checks in
// subtraction form; every item must lie between the header offset and the
// trailer.  Decoding uses zlib's stream interface directly so that it can
// say what is wrong with a stream, then the program's InflateBlock as well.
#include "pkgread.h"

#include "errors.h"
#include "manifest.h"
#include "pkgwrite.h"

#include "codec.h"
#include "payload.h"
#include "format.h"
#include "pageflow.h"
#include "package.h"
#include "trailer.h"

#include <algorithm>

#include <cstring>
#include <zlib.h>

namespace velkor {

std::string ComponentInfo::Label(size_t index) const
{
    return "component " + std::to_string(index + 1) + " '" + Utf16ToUtf8(name) + "'";
}

namespace {

std::string Plural(uint64_t n, const char *one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); }

std::string Hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// Decodes one zlib stream with the same capacity rule as the program's
// InflateBlock.  Returns "" and fills `out`, or says what is wrong.
std::string Inflate(const uint8_t *stored, uint32_t storedSize, uint32_t decodedSize, Bytes &out)
{
    uint64_t capacity = InflateCapacity(storedSize, decodedSize);
    out.resize(size_t(capacity));

    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        throw Failure(ExitInternal, "zlib could not start a decoder");
    z.next_in = const_cast<Bytef *>(stored);
    z.avail_in = storedSize;
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int rc = inflate(&z, Z_FINISH);
    uint64_t used = z.total_in, produced = z.total_out;
    std::string zmsg = z.msg ? z.msg : "";
    inflateEnd(&z);
    out.resize(size_t(produced));

    switch (rc) {
    case Z_STREAM_END:
        break;
    case Z_NEED_DICT:
        return "zlib stream damaged (it asks for a preset dictionary)";
    case Z_DATA_ERROR:
        if (zmsg == "incorrect data check")
            return "zlib stream damaged (Adler-32 check of the decoded data fails)";
        return "zlib stream damaged (" + (zmsg.empty() ? std::string("invalid data") : zmsg) + ")";
    case Z_MEM_ERROR:
        throw Failure(ExitInternal, "out of memory while decoding");
    default:   // Z_BUF_ERROR: out of input or out of room
        if (used == storedSize)
            return "zlib stream ends early (its " + Plural(storedSize, "stored byte") + " end inside the stream)";
        return "decodes to more than the stated " + Plural(capacity, "byte");
    }
    if (used != storedSize)
        return Plural(storedSize - used, "byte") + " after the end of the zlib stream (stored size " +
               std::to_string(storedSize) + ", the stream ends after " + std::to_string(used) + ")";
    if (decodedSize != 0 && produced != decodedSize)
        return "decodes to " + Plural(produced, "byte") + ", not the stated " + std::to_string(decodedSize);
    return "";
}

int Keep(void *context, const uint8_t *data, uint32_t length)
{
    static_cast<Bytes *>(context)->assign(data, data + length);
    return ChunkTaken;
}

struct Walker {
    const uint8_t *data;
    uint64_t end;        // where the trailer starts: nothing of the package lies beyond
    uint64_t pos = 0;

    std::string Left() const { return "the trailer starts at " + std::to_string(end); }

    void Need(uint64_t n, uint64_t itemOffset, const std::string &item, const std::string &what) const
    {
        if (pos > end || n > end - pos)
            throw Damage(itemOffset, item, what + " runs past the end of the package (" + Left() + ")");
    }

    uint8_t U8(uint64_t itemOffset, const std::string &item, const std::string &what)
    {
        Need(1, itemOffset, item, what);
        return data[pos++];
    }

    uint32_t U32(uint64_t itemOffset, const std::string &item, const std::string &what)
    {
        Need(4, itemOffset, item, what);
        const uint8_t *p = data + pos;
        pos += 4;
        return ReadLittle32(p);
    }

    // A count of records of at least minRecord bytes each, refused when the
    // rest of the package cannot hold that many.
    uint32_t Count(const std::string &item, const char *record, uint64_t minRecord)
    {
        uint64_t at = pos;
        uint32_t n = U32(at, item, "the count");
        if (uint64_t(n) * minRecord > end - pos)
            throw Damage(at, item, Plural(n, record) + " cannot fit in the " + std::to_string(end - pos) +
                                       " bytes before the trailer");
        return n;
    }

    std::u16string PackageString(const std::string &item)
    {
        uint64_t at = pos;
        uint32_t count = U32(at, item, "the length");
        Need(uint64_t(count) * 2, at, item, "its " + Plural(count, "character"));
        std::u16string s;
        for (uint32_t i = 0; i < count; ++i)
            s += char16_t(ReadLittle16(data + pos + 2 * i));
        pos += uint64_t(count) * 2;
        return s;
    }

    ChunkInfo BlockPrefix(const std::string &item)
    {
        ChunkInfo b;
        b.offset = pos;
        b.compressed = U8(b.offset, item, "the block prefix");
        b.storedSize = U32(b.offset, item, "the block prefix");
        if (b.compressed)
            b.decodedSize = U32(b.offset, item, "the block prefix");
        Need(b.storedSize, b.offset, item, "stored size " + std::to_string(b.storedSize));
        return b;
    }

    // The data of a Block, decoded; the position moves past it.
    Bytes BlockData(const ChunkInfo &b, const std::string &item)
    {
        const uint8_t *stored = data + pos;
        pos += b.storedSize;
        if (!b.compressed)
            return Bytes(stored, stored + b.storedSize);
        Bytes out;
        std::string wrong = Inflate(stored, b.storedSize, b.decodedSize, out);
        if (!wrong.empty())
            throw Damage(b.offset, item, wrong);
        return out;
    }

    std::u16string Text(const std::string &item)
    {
        ChunkInfo b = BlockPrefix(item);
        Bytes raw = BlockData(b, item);
        if (raw.size() % 2 != 0 || raw.size() < 2 || raw[raw.size() - 1] != 0 || raw[raw.size() - 2] != 0)
            throw Damage(b.offset, item, "the text is not zero-terminated UTF-16 (" + Plural(raw.size(), "byte") + ")");
        std::u16string s;
        for (size_t i = 0; i + 2 < raw.size(); i += 2)
            s += char16_t(ReadLittle16(&raw[i]));
        return s;
    }
};

std::string TextItem(size_t i)
{
    const auto &names = TextNames();
    return "text " + std::to_string(i) + (i < names.size() ? " '" + names[i] + "'" : std::string(" (beyond the thirty)"));
}

void ReadPayload(Walker &w, ComponentInfo &c, size_t index, bool decode, const DecodedSink &sink)
{
    std::string label = c.Label(index);
    if (c.payloadOffset >= w.end)
        throw Damage(c.payloadOffsetAt, label,
                     "payload offset " + std::to_string(c.payloadOffset) + " is past the end of the package (" +
                         w.Left() + ")");
    w.pos = c.payloadOffset;
    uint32_t count = w.Count(label + " payload", "chunk", BLOCK_PREFIX_STORED);
    c.chunks.reserve(count);
    uint64_t decoded = 0;
    for (uint32_t k = 0; k < count; ++k) {
        std::string item = label + ", chunk " + std::to_string(k + 1);
        ChunkInfo b = w.BlockPrefix(item);
        c.chunks.push_back(b);
        if (!decode) {
            w.pos += b.storedSize;
            continue;
        }
        const uint8_t *stored = w.data + w.pos;
        Bytes out = w.BlockData(b, item);
        // What the device will do with this chunk, byte for byte.
        Bytes theirs;
        if (!ProgramChunk(stored, b, theirs) || theirs != out)
            throw Damage(b.offset, item, "the setup program's decoder refuses this chunk");
        decoded += out.size();
        if (sink && !out.empty())
            sink(index, out.data(), out.size());
    }
    c.payloadSize = w.pos - c.payloadOffset;
    if (decode && decoded != c.unpackedSize)
        throw Damage(c.unpackedSizeAt, label,
                     "UnpackedSize says " + Plural(c.unpackedSize, "byte") + " but the chunks decode to " +
                         std::to_string(decoded));
}

}  // namespace

bool ProgramChunk(const uint8_t *stored, const ChunkInfo &b, Bytes &out)
{
    // The chunk's data in memory, as the setup program's payload reader sees it.
    PackageReader reader;
    OpenBufferReader(&reader, stored, b.storedSize);
    PayloadStream stream = {ReaderByteSource(&reader), nullptr, Keep, &out};
    BlockPrefix prefix = {uint8_t(b.compressed != 0), b.storedSize, b.decodedSize};
    int result = ReadChunkData(&stream, &prefix);
    if (result == ChunkNoMemory || result == ChunkDecoderNoMemory)
        throw Failure(ExitInternal, "out of memory while decoding");
    return result == ChunkTaken;
}

uint64_t FindPackageTrailer(const uint8_t *data, uint64_t size)
{
    if (size < TRAILER_SIZE)
        throw Damage(0, "file", "only " + Plural(size, "byte") + ", too short for a package trailer");
    PackageReader reader;
    OpenBufferReader(&reader, data, uint32_t(std::min<uint64_t>(size, 0xFFFFFFFFull)));
    uint32_t at = 0;
    if (FindTrailer(&reader, &at) != TrailerNone)
        return at;
    CertificateTable table;
    if (FindCertificateTable(&reader, &table))
        throw Damage(table.TableOffset, "trailer",
                     "a signed file, but no \"VKR1\" trailer ends just before its certificate table: "
                     "not a setup package, or it was cut short before it was signed");
    const uint8_t *magic = data + size - TRAILER_MAGIC_SIZE;
    throw Damage(size - TRAILER_MAGIC_SIZE, "trailer",
                 "the last 4 bytes are " + Hex(magic, TRAILER_MAGIC_SIZE) +
                     ", not \"VKR1\": not a setup package, or it has been cut short");
}

PackageInfo ReadPackage(const uint8_t *data, uint64_t size, ReadDepth depth, const DecodedSink &sink,
                        bool acceptFewTexts)
{
    PackageInfo p;
    p.fileSize = size;
    if (size > 0xFFFFFFFFull)
        throw Damage(0, "file", "larger than 4 GiB, which no package can be");
    p.trailerOffset = FindPackageTrailer(data, size);
    Walker w{data, p.trailerOffset};
    const uint8_t *t = data + w.end;
    p.headerOffset = ReadLittle32(t);
    if (p.headerOffset >= w.end)
        throw Damage(w.end, "trailer",
                     "header offset " + std::to_string(p.headerOffset) + " is past the end of the package (" +
                         w.Left() + ")");

    w.pos = p.headerOffset;
    p.softwareName = w.PackageString("software name");
    p.companyName = w.PackageString("company name");
    p.destination = w.Text("destination");
    uint64_t flagsAt = w.pos;
    p.useDefaultLocation = w.U8(flagsAt, "flags", "the flag bytes");
    p.requireInstallArgument = w.U8(flagsAt, "flags", "the flag bytes");
    p.storedPageFlags = w.U8(flagsAt, "flags", "the flag bytes");

    uint8_t pages = PagesShown(p.storedPageFlags, p.useDefaultLocation);
    p.pageFlags = pages;
    p.firstPage = LowestPage(pages);
    p.lastPage = HighestPage(pages);

    uint32_t count = w.Count("variable count", "variable", 2 * BLOCK_PREFIX_STORED);
    for (uint32_t i = 0; i < count; ++i) {
        std::string item = "variable " + std::to_string(i + 1);
        std::u16string name = w.Text(item + " name");
        std::u16string value = w.Text(item + " value");
        p.variables.emplace_back(name, value);
    }

    count = w.Count("component count", "component", COMPONENT_FIXED_SIZE + BLOCK_PREFIX_STORED);
    for (uint32_t i = 0; i < count; ++i) {
        ComponentInfo c;
        c.recordOffset = w.pos;
        std::string item = "component " + std::to_string(i + 1);
        c.acceptsDestination = w.U8(c.recordOffset, item, "the record");
        c.selected = w.U8(c.recordOffset, item, "the record");
        c.payloadOffsetAt = w.pos;
        c.payloadOffset = w.U32(c.recordOffset, item, "the record");
        c.unpackedSizeAt = w.pos;
        c.unpackedSize = w.U32(c.recordOffset, item, "the record");
        c.name = w.Text(item + " name");
        p.components.push_back(c);
    }

    uint64_t countAt = w.pos;
    count = w.Count("text count", "text", BLOCK_PREFIX_STORED);
    if (count < TextCount && !acceptFewTexts)
        throw Damage(countAt, "text count", Plural(count, "text") + "; a package needs all 30");
    for (uint32_t i = 0; i < count; ++i) {
        TextInfo t;
        t.offset = w.pos;
        t.text = w.Text(TextItem(i));
        p.texts.push_back(t);
    }
    p.headerSize = w.pos - p.headerOffset;

    if (depth == ReadDepth::Header)
        return p;
    for (size_t i = 0; i < p.components.size(); ++i)
        ReadPayload(w, p.components[i], i, depth == ReadDepth::Decode, sink);
    return p;
}

int LoadWithProgramLoader(const uint8_t *data, uint64_t size, const std::function<void()> &look)
{
    UseMemoryPackage(data, size_t(size));
    ModulePath[0] = 0;
    LoadResult r = LoadPackage();
    if (r == LoadSucceeded)
        look();
    ReleasePackage();
    UseFilePackages();
    return r;
}

static std::vector<std::u16string> TextsOfPackage()
{
    std::vector<std::u16string> texts;
    for (uint32_t i = 0; i < Package.TextCount; ++i)
        texts.push_back(Package.TextTable[i] ? Package.TextTable[i] : u"");
    return texts;
}

std::vector<std::u16string> LoadedTexts(const uint8_t *data, uint64_t size)
{
    std::vector<std::u16string> texts;
    LoadWithProgramLoader(data, size, [&] { texts = TextsOfPackage(); });
    return texts;
}

void CheckWithProgramLoader(const uint8_t *data, uint64_t size, const PackageInfo &info,
                            std::vector<std::u16string> *texts)
{
    static const char *const results[] = {"", "LoadSucceeded", "LoadCannotOpen", "LoadNotAPackage",
                                          "LoadOutOfMemory", "LoadDamaged"};
    std::string disagreement;
    int r = LoadWithProgramLoader(data, size, [&] {
        if (Package.ComponentCount != info.components.size() || Package.TextCount != info.texts.size())
            disagreement = "it reads a different number of components or texts";
        for (uint32_t i = 0; disagreement.empty() && i < Package.ComponentCount; ++i) {
            const Component &c = Package.Components[i];
            if (c.PayloadOffset != info.components[i].payloadOffset ||
                c.UnpackedSize != info.components[i].unpackedSize || std::u16string(c.Name) != info.components[i].name)
                disagreement = "it reads component " + std::to_string(i + 1) + " differently";
        }
        if (texts)
            *texts = TextsOfPackage();
    });
    if (r != LoadSucceeded)
        throw Damage(info.headerOffset, "header",
                     std::string("the setup program's loader refuses the package (") +
                         (r >= 1 && r <= 5 ? results[r] : "unknown result") + ")");
    if (!disagreement.empty())
        throw Damage(info.headerOffset, "header", "the setup program's loader disagrees: " + disagreement);
}

}  // namespace velkor
