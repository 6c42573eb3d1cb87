// cabdir.cpp -- reads a cabinet's directory and one member.  Offsets and
// sizes come from the file, so each is checked against the stated cabinet
// size (which CheckCabFile has checked against the file) before use.
#include "cabdir.h"

#include "pkgwrite.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace velkor {

namespace {

const size_t HeaderSize = 36;
const uint16_t FlagPrevious = 1, FlagNext = 2, FlagReserve = 4;
const size_t MaxNameBytes = 256;      // CFFILE names are at most 255 bytes and a zero
const uint16_t NameIsUtf8 = 0x80;
const size_t MszipWindow = 32768;

struct Cursor {
    CabBytes &cab;
    uint64_t limit;   // the stated cabinet size
    uint64_t pos = 0;

    bool Has(uint64_t n) const { return pos <= limit && n <= limit - pos; }

    bool Bytes(size_t n, uint8_t *out)
    {
        if (!Has(n))
            return false;
        cab.Read(pos, n, out);
        pos += n;
        return true;
    }
    bool U8(uint8_t *v) { return Bytes(1, v); }
    bool U16(uint16_t *v)
    {
        uint8_t b[2];
        if (!Bytes(2, b))
            return false;
        *v = uint16_t(b[0] | b[1] << 8);
        return true;
    }
    bool U32(uint32_t *v)
    {
        uint8_t b[4];
        if (!Bytes(4, b))
            return false;
        *v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }
    // A zero-terminated string of at most MaxNameBytes bytes.
    bool String(std::string *out)
    {
        uint8_t buf[MaxNameBytes];
        size_t n = size_t(std::min<uint64_t>(MaxNameBytes, pos <= limit ? limit - pos : 0));
        if (n == 0)
            return false;
        cab.Read(pos, n, buf);
        const uint8_t *zero = static_cast<const uint8_t *>(std::memchr(buf, 0, n));
        if (!zero)
            return false;
        out->assign(reinterpret_cast<const char *>(buf), size_t(zero - buf));
        pos += size_t(zero - buf) + 1;
        return true;
    }
};

std::u16string FromWindows1252(const std::string &s)
{
    // 0x80..0x9F differ from Latin-1; the rest maps one to one.
    static const char16_t high[32] = {0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D, 0x017D, 0x8F,
                                      0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178};
    std::u16string out;
    for (unsigned char c : s)
        out += (c >= 0x80 && c < 0xA0) ? high[c - 0x80] : char16_t(c);
    return out;
}

std::string Number(uint64_t n) { return std::to_string(n); }

}  // namespace

std::string ReadCabDirectory(CabBytes &cab, CabDirectory *dir)
{
    *dir = CabDirectory();
    uint64_t size = cab.size();
    if (size < HeaderSize)
        return "it is too short for a cabinet header (" + Number(size) + " bytes)";
    uint8_t h[HeaderSize];
    cab.Read(0, HeaderSize, h);
    if (std::memcmp(h, "MSCF", 4) != 0)
        return "it does not start with \"MSCF\"";
    auto u16 = [&](size_t at) { return uint16_t(h[at] | h[at + 1] << 8); };
    auto u32 = [&](size_t at) {
        return uint32_t(h[at]) | uint32_t(h[at + 1]) << 8 | uint32_t(h[at + 2]) << 16 | uint32_t(h[at + 3]) << 24;
    };
    dir->statedSize = u32(8);
    if (dir->statedSize < HeaderSize || dir->statedSize > size)
        return "its header states a cabinet of " + Number(dir->statedSize) + " bytes but the file has " + Number(size);
    uint32_t filesAt = u32(16);
    uint16_t folderCount = u16(26), fileCount = u16(28);
    dir->flags = u16(30);

    Cursor c{cab, dir->statedSize, HeaderSize};
    uint8_t folderReserve = 0;
    if (dir->flags & FlagReserve) {
        uint16_t headerReserve = 0;
        if (!c.U16(&headerReserve) || !c.U8(&folderReserve) || !c.U8(&dir->dataReserve) || !c.Has(headerReserve))
            return "its reserve fields run past the cabinet";
        c.pos += headerReserve;
    }
    std::string ignored;
    for (int i = 0; i < ((dir->flags & FlagPrevious) ? 2 : 0) + ((dir->flags & FlagNext) ? 2 : 0); ++i)
        if (!c.String(&ignored))
            return "the names of its neighbouring cabinets run past the cabinet";

    for (uint16_t i = 0; i < folderCount; ++i) {
        CabFolder f;
        if (!c.U32(&f.dataOffset) || !c.U16(&f.blockCount) || !c.U16(&f.compression) || !c.Has(folderReserve))
            return "its folder records run past the cabinet";
        c.pos += folderReserve;
        dir->folders.push_back(f);
    }

    c.pos = filesAt;
    for (uint16_t i = 0; i < fileCount; ++i) {
        CabMember m;
        uint16_t date, time, attributes;
        std::string name;
        if (!c.U32(&m.size) || !c.U32(&m.folderOffset) || !c.U16(&m.folder) || !c.U16(&date) || !c.U16(&time) ||
            !c.U16(&attributes))
            return "its file records run past the cabinet (record " + Number(i + 1) + " of " + Number(fileCount) + ")";
        if (!c.String(&name))
            return "the name in file record " + Number(i + 1) + " is not terminated within 256 bytes";
        m.name = (attributes & NameIsUtf8) ? Utf8ToUtf16(name) : FromWindows1252(name);
        if (m.folder < 0xFFFD && m.folder >= folderCount)
            return "file record " + Number(i + 1) + " names folder " + Number(m.folder) + " of " + Number(folderCount);
        dir->members.push_back(m);
    }
    return "";
}

std::string ReadCabMember(CabBytes &cab, const CabDirectory &dir, size_t index, size_t maxSize,
                          std::vector<uint8_t> *out)
{
    out->clear();
    const CabMember &m = dir.members.at(index);
    if (m.folder >= dir.folders.size())
        return "it continues from or into another cabinet";
    if (m.size > maxSize)
        return "it is " + Number(m.size) + " bytes, more than the " + Number(maxSize) + " read here";
    const CabFolder &f = dir.folders[m.folder];
    int type = f.compression & 0x0F;
    if (type == CabQuantum || type == CabLzx)
        return std::string("its folder is compressed with ") + (type == CabLzx ? "LZX" : "Quantum") +
               ", which velkor does not decode";
    if (type != CabStored && type != CabMszip)
        return "its folder names an unknown compression (" + Number(type) + ")";

    const uint64_t begin = m.folderOffset, end = uint64_t(m.folderOffset) + m.size;
    out->reserve(m.size);
    Cursor c{cab, dir.statedSize, f.dataOffset};
    uint64_t decoded = 0;
    std::vector<uint8_t> stored, block, history;
    z_stream z;
    std::memset(&z, 0, sizeof z);
    bool zOpen = false;
    std::string problem;
    for (uint16_t k = 0; k < f.blockCount && decoded < end && problem.empty(); ++k) {
        uint32_t checksum;
        uint16_t storedSize, decodedSize;
        if (!c.U32(&checksum) || !c.U16(&storedSize) || !c.U16(&decodedSize) || !c.Has(dir.dataReserve)) {
            problem = "data block " + Number(k + 1) + " runs past the cabinet";
            break;
        }
        c.pos += dir.dataReserve;
        if (!c.Has(storedSize)) {
            problem = "data block " + Number(k + 1) + " runs past the cabinet";
            break;
        }
        if (decodedSize == 0) {
            problem = "data block " + Number(k + 1) + " continues in another cabinet";
            break;
        }
        bool wanted = decoded + decodedSize > begin;
        if (type == CabStored) {
            if (storedSize != decodedSize) {
                problem = "stored data block " + Number(k + 1) + " has " + Number(storedSize) + " bytes but states " +
                          Number(decodedSize);
                break;
            }
            if (!wanted) {   // nothing of the member here: skip without reading
                c.pos += storedSize;
                decoded += decodedSize;
                continue;
            }
            block.resize(storedSize);
            c.Bytes(storedSize, block.data());
        } else {
            // Every MSZIP block is a deflate stream of its own whose window
            // is the previous block's output, so each one is decoded.
            stored.resize(storedSize);
            c.Bytes(storedSize, stored.data());
            if (storedSize < 2 || stored[0] != 'C' || stored[1] != 'K') {
                problem = "MSZIP block " + Number(k + 1) + " does not start with \"CK\"";
                break;
            }
            if (!zOpen) {
                if (inflateInit2(&z, -15) != Z_OK)
                    return "zlib could not start a decoder";
                zOpen = true;
            } else {
                inflateReset(&z);
            }
            if (!history.empty())
                inflateSetDictionary(&z, history.data(), uInt(history.size()));
            block.resize(decodedSize);
            z.next_in = stored.data() + 2;
            z.avail_in = uInt(storedSize - 2);
            z.next_out = block.data();
            z.avail_out = uInt(block.size());
            int rc = inflate(&z, Z_FINISH);
            if (rc != Z_STREAM_END || z.total_out != decodedSize) {
                problem = "MSZIP block " + Number(k + 1) + " is damaged";
                break;
            }
            history.insert(history.end(), block.begin(), block.end());
            if (history.size() > MszipWindow)
                history.erase(history.begin(), history.end() - MszipWindow);
        }
        if (wanted) {
            uint64_t from = std::max<uint64_t>(begin, decoded) - decoded;
            uint64_t to = std::min<uint64_t>(end, decoded + decodedSize) - decoded;
            out->insert(out->end(), block.begin() + from, block.begin() + to);
        }
        decoded += decodedSize;
    }
    if (zOpen)
        inflateEnd(&z);
    if (problem.empty() && decoded < end)
        problem = "its folder's data ends before the member does";
    if (!problem.empty())
        out->clear();
    return problem;
}

}  // namespace velkor
