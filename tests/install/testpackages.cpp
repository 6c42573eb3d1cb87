// testpackages.cpp -- payloads and packages for the installation tests.
#include "testpackages.h"

#include <algorithm>

namespace installtest {

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        if (i % 7 == 0)
            x = x * 1103515245u + 12345u;
        out[i] = uint8_t((x >> 16) + (i & 31));
    }
    return out;
}

// --------------------------------------------------------------- packages --

Bytes Payload(const std::vector<Bytes> &blocks)
{
    Bytes out;
    velkor::PutU32(out, uint32_t(blocks.size()));
    for (const Bytes &b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes StoredBlock(const Bytes &data)
{
    Bytes out;
    velkor::PutBlock(out, data, false);
    return out;
}

Bytes CompressedBlock(const Bytes &data, uint32_t statedSize)
{
    Bytes out;
    velkor::PutCompressedBlock(out, velkor::ZlibCompress(data), statedSize);
    return out;
}

Bytes StoredPayload(const Bytes &cab, uint32_t chunkSize)
{
    std::vector<Bytes> blocks;
    for (size_t at = 0; at < cab.size(); at += chunkSize)
        blocks.push_back(StoredBlock(Bytes(cab.begin() + at, cab.begin() + std::min(cab.size(), at + chunkSize))));
    return Payload(blocks);
}

const Bytes &StandInImage()
{
    static const Bytes image = [] {
        Bytes b(4096, 0);
        b[0] = 'M';
        b[1] = 'Z';
        return b;
    }();
    return image;
}

PackageFile Assemble(const velkor::PackageRecipe &recipe, const std::vector<Bytes> &payloads,
                     const std::vector<uint32_t> &unpackedSizes, const Bytes &image)
{
    size_t headerSize = velkor::BuildHeader(recipe, std::vector<uint32_t>(payloads.size()), unpackedSizes).size();
    PackageFile out;
    uint32_t at = uint32_t(image.size() + headerSize);
    for (const Bytes &p : payloads) {
        out.payloadOffsets.push_back(at);
        at += uint32_t(p.size());
    }
    out.bytes = image;
    Bytes header = velkor::BuildHeader(recipe, out.payloadOffsets, unpackedSizes);
    out.bytes.insert(out.bytes.end(), header.begin(), header.end());
    for (const Bytes &p : payloads)
        out.bytes.insert(out.bytes.end(), p.begin(), p.end());
    Bytes trailer = testsupport::Trailer(uint32_t(image.size()));
    out.bytes.insert(out.bytes.end(), trailer.begin(), trailer.end());
    return out;
}

PackageFile Assemble(const velkor::PackageRecipe &recipe)
{
    std::vector<Bytes> payloads;
    std::vector<uint32_t> sizes;
    for (const auto &c : recipe.components) {
        payloads.push_back(velkor::BuildPayload(c.cab, 1));
        sizes.push_back(uint32_t(c.cab.size()));
    }
    return Assemble(recipe, payloads, sizes);
}

velkor::PackageRecipe ToolPackage(uint8_t useDefaultLocation, const std::u16string &destination)
{
    return testsupport::ToolRecipe(0, useDefaultLocation, destination);
}

}  // namespace installtest
