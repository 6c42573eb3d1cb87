// cabwrite.cpp -- uncompressed cabinet files: header, one folder, the file
// records, then the data in blocks of at most 32 KiB.
#include "cabwrite.h"

#include <algorithm>

namespace installtest {

static void Put16(Bytes &out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

static void Put32(Bytes &out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

static void Set32(Bytes &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

Bytes MakeCab(const std::vector<std::pair<std::string, Bytes>> &members)
{
    const uint32_t blockSize = 32768;
    Bytes data;
    for (const auto &m : members)
        data.insert(data.end(), m.second.begin(), m.second.end());
    uint32_t blocks = uint32_t((data.size() + blockSize - 1) / blockSize);

    Bytes out;
    out.insert(out.end(), {'M', 'S', 'C', 'F'});
    Put32(out, 0);
    Put32(out, 0);               // cabinet size, set at the end
    Put32(out, 0);
    Put32(out, 0);               // offset of the first file record, set below
    Put32(out, 0);
    out.push_back(3);            // version 1.3
    out.push_back(1);
    Put16(out, 1);               // folders
    Put16(out, uint32_t(members.size()));
    Put16(out, 0);               // flags
    Put16(out, 0x1234);          // set id
    Put16(out, 0);               // index in the set

    size_t folderAt = out.size();
    Put32(out, 0);               // first data block, set below
    Put16(out, blocks);
    Put16(out, 0);               // no compression

    Set32(out, 16, uint32_t(out.size()));
    uint32_t offset = 0;
    for (const auto &m : members) {
        Put32(out, uint32_t(m.second.size()));
        Put32(out, offset);
        Put16(out, 0);           // folder 0
        Put16(out, 0x5A21);      // 2025-01-01
        Put16(out, 0x6000);      // 12:00
        Put16(out, 0x20);        // archive
        out.insert(out.end(), m.first.begin(), m.first.end());
        out.push_back(0);
        offset += uint32_t(m.second.size());
    }

    Set32(out, folderAt, uint32_t(out.size()));
    for (uint32_t b = 0; b < blocks; ++b) {
        size_t from = size_t(b) * blockSize;
        size_t n = std::min<size_t>(blockSize, data.size() - from);
        Put32(out, 0);           // no checksum
        Put16(out, uint32_t(n));
        Put16(out, uint32_t(n));
        out.insert(out.end(), data.begin() + from, data.begin() + from + n);
    }
    Set32(out, 8, uint32_t(out.size()));
    return out;
}

}  // namespace installtest
