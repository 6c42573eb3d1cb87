// png.cpp -- the smallest PNG writer that serves screenshots: 8-bit RGB, one
// IDAT, no filtering.  zlib does the compression and the checksums.
#include "robot.h"

#include <zlib.h>

#include <cstdio>

namespace robot {

static void PutBE32(std::vector<BYTE> &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(BYTE(v >> shift));
}

static void PutChunk(std::vector<BYTE> &out, const char type[4], const std::vector<BYTE> &data)
{
    PutBE32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, &out[start], uInt(out.size() - start));
    PutBE32(out, uint32_t(crc));
}

bool WritePng(const std::wstring &path, int width, int height, const std::vector<BYTE> &bgr)
{
    if (width <= 0 || height <= 0 || bgr.size() != size_t(width) * size_t(height) * 3)
        return false;
    // Each row: filter byte 0, then R G B per pixel.
    std::vector<BYTE> raw;
    raw.reserve((size_t(width) * 3 + 1) * size_t(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const BYTE *row = &bgr[size_t(y) * size_t(width) * 3];
        for (int x = 0; x < width; ++x) {
            raw.push_back(row[x * 3 + 2]);
            raw.push_back(row[x * 3 + 1]);
            raw.push_back(row[x * 3 + 0]);
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<BYTE> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<BYTE> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<BYTE> header;
    PutBE32(header, uint32_t(width));
    PutBE32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});   // 8 bits, RGB, deflate, no filter, no interlace
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    FILE *f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    bool ok = fwrite(file.data(), 1, file.size(), f) == file.size();
    ok = fclose(f) == 0 && ok;
    return ok;
}

}  // namespace robot
