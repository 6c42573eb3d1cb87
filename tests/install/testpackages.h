// testpackages.h -- packages for the installation tests, with payloads
// given byte for byte so they can be damaged, cut or stored uncompressed.
#pragma once

#include "testsupport.h"

#include <string>
#include <vector>

namespace installtest {

using velkor::Bytes;

// Deterministic bytes that compress a little, like program files.
Bytes Pattern(size_t size, uint32_t seed);

// ---- payloads and packages ----
// 4 KiB starting with "MZ": the loader only needs the trailer.
const Bytes &StandInImage();
// Chunk count and chunks: each entry one Block, as the writer encodes them.
Bytes Payload(const std::vector<Bytes> &blocks);
Bytes StoredBlock(const Bytes &data);
Bytes CompressedBlock(const Bytes &data, uint32_t statedSize);   // zlib stream of data
Bytes StoredPayload(const Bytes &cab, uint32_t chunkSize = 65536);

struct PackageFile {
    Bytes bytes;
    std::vector<uint32_t> payloadOffsets;
};
// A package behind a small stand-in image, with each component's payload
// given as bytes (so it can be damaged) and its UnpackedSize as stated.
PackageFile Assemble(const velkor::PackageRecipe &recipe, const std::vector<Bytes> &payloads,
                     const std::vector<uint32_t> &unpackedSizes, const Bytes &image = StandInImage());
// The usual builder: every component's CAB cut and compressed.
PackageFile Assemble(const velkor::PackageRecipe &recipe);
// "Tool" by "Acme", no pages, the default texts and no component yet.
velkor::PackageRecipe ToolPackage(uint8_t useDefaultLocation, const std::u16string &destination = u"\\Program Files\\Tool");

}  // namespace installtest
