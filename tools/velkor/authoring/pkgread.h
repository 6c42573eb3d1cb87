// pkgread.h -- reads a built package back for `list`, `verify` and
// `extract`.  Stricter than the setup program's loader: it reports the first
// item that is out of place, with its absolute offset, and refuses things
// the loader would let pass but this tool never writes (bytes after a zlib
// stream, a stated decoded size that is wrong, unterminated text).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velkor {

struct ChunkInfo {
    uint64_t offset = 0;       // of the Block's prefix
    uint8_t compressed = 0;
    uint32_t storedSize = 0;
    uint32_t decodedSize = 0;  // as stated; 0 for a stored chunk or "not stated"
};

struct ComponentInfo {
    uint64_t recordOffset = 0;
    uint8_t acceptsDestination = 0;
    uint8_t selected = 0;
    uint32_t payloadOffset = 0;
    uint64_t payloadOffsetAt = 0;   // where the PayloadOffset field lies in the file
    uint32_t unpackedSize = 0;
    uint64_t unpackedSizeAt = 0;
    std::u16string name;
    std::vector<ChunkInfo> chunks;
    uint64_t payloadSize = 0;  // chunk count and every chunk, prefixes included
    std::string Label(size_t index) const;   // "component 2 'Help'"
};

struct TextInfo {
    uint64_t offset = 0;
    std::u16string text;       // raw, placeholders unexpanded
};

struct PackageInfo {
    uint64_t fileSize = 0;
    uint32_t headerOffset = 0;
    uint64_t headerSize = 0;
    uint64_t trailerOffset = 0;   // the file's last 8 bytes, or before a signature's certificate table
    std::u16string softwareName, companyName, destination;
    uint8_t useDefaultLocation = 0, requireInstallArgument = 0;
    uint8_t storedPageFlags = 0;   // the byte in the file
    uint8_t pageFlags = 0;         // the pages the program shows, as its loader derives them
    uint8_t firstPage = 0, lastPage = 0;
    std::vector<std::pair<std::u16string, std::u16string>> variables;
    std::vector<ComponentInfo> components;
    std::vector<TextInfo> texts;
};

// Called with each component's decoded bytes, chunk by chunk, in order.
using DecodedSink = std::function<void(size_t component, const uint8_t *data, size_t size)>;

// How far ReadPackage goes.
enum class ReadDepth {
    Header,   // trailer and header only
    Walk,     // also every payload's chunk prefixes (sizes, counts)
    Decode,   // also decode every chunk and check each UnpackedSize
};

// Where the trailer starts, found as the setup program's loader finds it.
// Throws Damage when there is none.
uint64_t FindPackageTrailer(const uint8_t *data, uint64_t size);

// Reads the package to `depth`.  With Decode, every chunk is decoded (by
// this reader and by the setup program's own decoder) as it is reached, so
// a wrong stored size is blamed on its own chunk and not on the next one;
// the decoded bytes go to `sink` when one is given.
// Throws Damage for the first item in file order that is wrong; a text
// table of fewer than 30 texts is wrong unless acceptFewTexts is given
// (`lint` reports it as a finding instead).
PackageInfo ReadPackage(const uint8_t *data, uint64_t size, ReadDepth depth, const DecodedSink &sink = nullptr,
                        bool acceptFewTexts = false);

// Decodes one chunk's stored data (which start at `stored`) with the setup
// program's own payload reader into `out`.  False where the program would
// call the package damaged; throws Failure (internal) when memory ran out
// here, which says nothing about the chunk.
bool ProgramChunk(const uint8_t *stored, const ChunkInfo &b, std::vector<uint8_t> &out);

// Runs the setup program's own loader over the bytes in memory; `look` is
// called while its Package is loaded, when the load succeeded.  Returns the
// loader's LoadResult.
int LoadWithProgramLoader(const uint8_t *data, uint64_t size, const std::function<void()> &look);

// The texts as the setup program's loader expands them; none when it
// refuses the package.
std::vector<std::u16string> LoadedTexts(const uint8_t *data, uint64_t size);

// Runs the setup program's own loader over the bytes and checks that it
// accepts them and reads the same components.  Throws Damage otherwise.
// With `texts`, also gives the texts as it expanded them.
void CheckWithProgramLoader(const uint8_t *data, uint64_t size, const PackageInfo &info,
                            std::vector<std::u16string> *texts = nullptr);

}  // namespace velkor
