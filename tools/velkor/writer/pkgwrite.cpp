// pkgwrite.cpp -- the package writer.  Layout as in package/format.h.
#include "pkgwrite.h"

#include "format.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <zlib.h>

namespace velkor {

void PutU8(Bytes &out, uint8_t v) { out.push_back(v); }

void PutU32(Bytes &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

Bytes Utf16Bytes(const std::u16string &s, bool terminate)
{
    Bytes b;
    b.reserve((s.size() + 1) * 2);
    for (char16_t c : s) {
        b.push_back(uint8_t(c));
        b.push_back(uint8_t(c >> 8));
    }
    if (terminate) {
        b.push_back(0);
        b.push_back(0);
    }
    return b;
}

void PutPackageString(Bytes &out, const std::u16string &s)
{
    PutU32(out, uint32_t(s.size()));
    Bytes b = Utf16Bytes(s, false);
    out.insert(out.end(), b.begin(), b.end());
}

Bytes ZlibCompress(const Bytes &data, int level)
{
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), level) != Z_OK)
        throw std::runtime_error("zlib could not compress a block");
    out.resize(size);
    return out;
}

void PutCompressedBlock(Bytes &out, const Bytes &stored, uint32_t decodedSize)
{
    PutU8(out, BLOCK_COMPRESSED);
    PutU32(out, uint32_t(stored.size()));
    PutU32(out, decodedSize);
    out.insert(out.end(), stored.begin(), stored.end());
}

void PutTrailer(Bytes &out, uint32_t headerOffset)
{
    PutU32(out, headerOffset);
    out.insert(out.end(), &TRAILER_MAGIC[0], &TRAILER_MAGIC[TRAILER_MAGIC_SIZE]);
}

void PutBlock(Bytes &out, const Bytes &data, bool compress)
{
    if (compress) {
        PutCompressedBlock(out, ZlibCompress(data), uint32_t(data.size()));
    } else {
        PutU8(out, BLOCK_STORED);
        PutU32(out, uint32_t(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
}

void PutTextBlock(Bytes &out, const std::u16string &s) { PutBlock(out, Utf16Bytes(s, true), true); }

std::vector<Bytes> CompressChunks(const uint8_t *data, size_t size, unsigned threads, uint32_t chunkSize)
{
    size_t count = (size + chunkSize - 1) / chunkSize;
    std::vector<Bytes> stored(count);
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<size_t>(threads, std::max<size_t>(count, 1)));

    // Each worker takes the next chunk index; results land at their index,
    // so the order of completion does not matter.
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < count;) {
            size_t begin = i * chunkSize, end = std::min(size, begin + chunkSize);
            stored[i] = ZlibCompress(Bytes(data + begin, data + end));
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (auto &t : pool)
        t.join();
    return stored;
}

Bytes BuildPayload(const Bytes &cab, unsigned threads, uint32_t chunkSize)
{
    std::vector<Bytes> stored = CompressChunks(cab.data(), cab.size(), threads, chunkSize);
    Bytes out;
    PutU32(out, uint32_t(stored.size()));
    for (size_t i = 0; i < stored.size(); ++i) {
        size_t decoded = std::min<size_t>(chunkSize, cab.size() - i * chunkSize);
        PutCompressedBlock(out, stored[i], uint32_t(decoded));
    }
    return out;
}

Bytes BuildHeader(const PackageRecipe &recipe, const std::vector<uint32_t> &payloadOffsets,
                  const std::vector<uint32_t> &unpackedSizes)
{
    Bytes h;
    PutPackageString(h, recipe.softwareName);
    PutPackageString(h, recipe.companyName);
    PutTextBlock(h, recipe.destination);
    PutU8(h, recipe.useDefaultLocation);
    PutU8(h, recipe.requireInstallArgument);
    PutU8(h, recipe.pageFlags);
    PutU32(h, uint32_t(recipe.variables.size()));
    for (const auto &v : recipe.variables) {
        PutTextBlock(h, v.first);
        PutTextBlock(h, v.second);
    }
    PutU32(h, uint32_t(recipe.components.size()));
    for (size_t i = 0; i < recipe.components.size(); ++i) {
        const auto &c = recipe.components[i];
        PutU8(h, c.acceptsDestination ? 1 : 0);
        PutU8(h, c.selected ? 1 : 0);
        PutU32(h, payloadOffsets.at(i));
        PutU32(h, unpackedSizes.at(i));
        PutTextBlock(h, c.name);
    }
    PutU32(h, uint32_t(recipe.texts.size()));
    for (const auto &t : recipe.texts)
        PutTextBlock(h, t);
    return h;
}

Bytes BuildPackage(const Bytes &image, const PackageRecipe &recipe, unsigned threads)
{
    std::vector<Bytes> payloads;
    std::vector<uint32_t> sizes;
    for (const auto &c : recipe.components) {
        if (c.cab.size() > 0xFFFFFFFFull)
            throw std::runtime_error("a component is larger than 4 GiB");
        payloads.push_back(BuildPayload(c.cab, threads));
        sizes.push_back(uint32_t(c.cab.size()));
    }

    // The header holds the payload offsets, and its own size does not depend
    // on them: write it once with zeros to learn its size, then for real.
    uint64_t headerOffset = image.size();
    uint64_t headerSize = BuildHeader(recipe, std::vector<uint32_t>(sizes.size()), sizes).size();
    uint64_t total = headerOffset + headerSize + TRAILER_SIZE;
    std::vector<uint32_t> offsets;
    for (const auto &p : payloads) {
        offsets.push_back(uint32_t(total - TRAILER_SIZE));
        total += p.size();
    }
    if (total > 0xFFFFFFFFull)
        throw std::runtime_error("the package would be larger than 4 GiB");

    Bytes out = image;
    Bytes h = BuildHeader(recipe, offsets, sizes);
    out.insert(out.end(), h.begin(), h.end());
    for (const auto &p : payloads)
        out.insert(out.end(), p.begin(), p.end());
    PutTrailer(out, uint32_t(headerOffset));
    return out;
}

std::vector<std::u16string> DefaultTexts()
{
    return {
        u"%SoftwareName% Setup",
        u"&Next >",
        u"&Install",
        u"< &Back",
        u"&Cancel",
        u"Welcome",
        u"<p><b>Welcome to %SoftwareName% Setup.</b></p><p>This will install %SoftwareName% by "
        u"%CompanyName% on your device.</p><p>Tap Next to continue.</p>",
        u"License Agreement",
        u"Please read the following license agreement.",
        u"I &accept the agreement",
        u"I &do not accept the agreement",
        u"Installation Location",
        u"<p>Where do you want to install %SoftwareName%?</p>",
        u"&Let the device choose",
        u"&Choose a folder",
        u"Choose Destination Folder",
        u"Space required: <space>",
        u"Choose Components",
        u"<p>Select the components you want to install.</p>",
        u"Ready to Install",
        u"<p>Setup is ready to install %SoftwareName% on your device.</p><p>Tap Install to begin.</p>",
        u"Installing",
        u"Unpacking components...",
        u"You need to select at least one component to continue.",
        u"There is not enough free space in the destination folder.",
        u"The installation was cancelled and is incomplete.",
        u"Setup cannot create a temporary file. Please free some storage memory and try again.",
        u"The setup package is damaged. Please download this setup package again.",
        u"The device's installer could not be started.",
        u"Do you want to cancel the installation?",
    };
}

}  // namespace velkor
