// pkgwrite.h -- writes setup packages: the byte-level encodings and the
// whole-package builder.  Host-side only (the authoring tool and the tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utf.h"

namespace velkor {

using Bytes = std::vector<uint8_t>;

void PutU8(Bytes &out, uint8_t v);
void PutU32(Bytes &out, uint32_t v);
void PutPackageString(Bytes &out, const std::u16string &s);
// A Block; compressed blocks are one zlib stream at level 9 with the decoded
// size stated.
void PutBlock(Bytes &out, const Bytes &data, bool compress);
// A text Block: UTF-16LE with its terminating zero, always compressed.
void PutTextBlock(Bytes &out, const std::u16string &s);
// A compressed Block around data that is already one zlib stream.
void PutCompressedBlock(Bytes &out, const Bytes &stored, uint32_t decodedSize);
// The trailer: the header's offset and the magic.
void PutTrailer(Bytes &out, uint32_t headerOffset);

Bytes ZlibCompress(const Bytes &data, int level = 9);
Bytes Utf16Bytes(const std::u16string &s, bool terminate);

struct ComponentRecipe {
    std::u16string name;
    Bytes cab;                 // the CAB file as it is to be installed
    bool acceptsDestination = true;
    bool selected = true;
};

struct PackageRecipe {
    std::u16string softwareName;
    std::u16string companyName;
    std::u16string destination;
    uint8_t useDefaultLocation = 1;
    uint8_t requireInstallArgument = 0;
    uint8_t pageFlags = 0;
    std::vector<std::pair<std::u16string, std::u16string>> variables;
    std::vector<ComponentRecipe> components;
    std::vector<std::u16string> texts;    // 30 in a complete package
};

// Cuts data into pieces of chunkSize bytes (the last shorter) and compresses
// each as a zlib stream of its own on `threads` threads (0: all cores).  The
// result does not depend on the thread count.
std::vector<Bytes> CompressChunks(const uint8_t *data, size_t size, unsigned threads,
                                  uint32_t chunkSize = 65536);

// Payload of one component: chunk count, then chunks of chunkSize decoded
// bytes, each compressed on its own.  Chunks are compressed on `threads`
// threads (0: all cores); the bytes do not depend on the thread count.
Bytes BuildPayload(const Bytes &cab, unsigned threads = 0, uint32_t chunkSize = 65536);

// The PackageHeader alone.  Component i gets payloadOffsets[i] and
// unpackedSizes[i]; the components' cab bytes are not looked at.  Its size
// does not depend on the two vectors' values.
Bytes BuildHeader(const PackageRecipe &recipe, const std::vector<uint32_t> &payloadOffsets,
                  const std::vector<uint32_t> &unpackedSizes);

// The executable image followed by the package and its trailer.
Bytes BuildPackage(const Bytes &image, const PackageRecipe &recipe, unsigned threads = 0);

// The English texts a package gets when its manifest names none.
std::vector<std::u16string> DefaultTexts();

}  // namespace velkor
