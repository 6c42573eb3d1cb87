// build.cpp -- writes stub + package + trailer.  The header is written
// first with zero payload offsets (its size does not depend on them), the
// payloads are streamed behind it, and the header is then rewritten in
// place with the offsets that the payloads landed at.
#include "build.h"

#include "diag.h"
#include "errors.h"
#include "files.h"
#include "format.h"
#include "littleendian.h"
#include "pefile.h"
#include "trailer.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace velkor {

namespace {

const uint64_t PackageLimit = 0xFFFFFFFFull;   // offsets are u32
const size_t CabHeaderSize = 36;               // fixed part of CFHEADER
const size_t ChunksPerThread = 8;               // chunks read per thread per batch
const size_t MaxBatchChunks = 256;              // 16 MiB of CAB in memory at most

// The smallest a chunk can be stored: a Block prefix around the smallest
// zlib stream (2 header bytes, 2 of deflate data, 4 of Adler-32).
const uint64_t MinStoredChunk = BLOCK_PREFIX_COMPRESSED + 8;

std::string ComponentLabel(const Manifest &m, size_t i)
{
    return "component " + std::to_string(i + 1) + " '" + Utf16ToUtf8(m.recipe.components[i].name) + "' (" + m.path +
           ":" + std::to_string(m.components[i].line) + ")";
}

uint64_t ChunkCount(uint64_t size) { return (size + CHUNK_SIZE - 1) / CHUNK_SIZE; }

}  // namespace

void CheckBareStub(const uint8_t *data, uint64_t size, const std::string &path)
{
    if (size < 2 || std::memcmp(data, "MZ", 2) != 0)
        throw Failure(ExitBadInput, "stub '" + path + "' is not a Windows program (it does not start with \"MZ\")");
    if (size > PackageLimit)
        throw Failure(ExitTooLarge, "stub '" + path + "' is larger than 4 GiB");
    // Found as the loader finds it, so a signed package is caught as well.
    PackageReader reader;
    OpenBufferReader(&reader, data, uint32_t(size));
    uint32_t trailer = 0;
    if (FindTrailer(&reader, &trailer) != TrailerNone)
        throw Failure(ExitBadInput, "stub '" + path + "' already carries a package; give the setup program without one");
    // A package behind a signature would leave the security entry naming a
    // table that no longer ends the file: a broken signature.
    CertificateTable table;
    if (FindCertificateTable(&reader, &table))
        throw Failure(ExitBadInput, "stub '" + path + "' is signed; give the unsigned setup program and sign the "
                                    "package instead (velkor build --sign)");
}

uint64_t CheckCabFile(const std::string &path, const std::string &label)
{
    try {
        InputFile f(path, "CAB file");
        uint64_t size = f.size();
        if (size > PackageLimit)
            throw Failure(ExitTooLarge, "CAB file '" + path + "' is larger than 4 GiB, more than a package can hold");
        uint8_t header[CabHeaderSize];
        if (size < CabHeaderSize)
            throw Failure(ExitBadInput, "'" + path + "' is not a CAB file (" + std::to_string(size) +
                                            " bytes, too short for a cabinet header)");
        f.Read(header, CabHeaderSize);
        if (std::memcmp(header, "MSCF", 4) != 0)
            throw Failure(ExitBadInput, "'" + path + "' is not a CAB file (it does not start with \"MSCF\")");
        uint32_t stated = ReadLittle32(header + 8);
        if (stated < CabHeaderSize)
            throw Failure(ExitBadInput, "'" + path + "' is not a valid CAB file (its header states a cabinet of " +
                                            std::to_string(stated) + " bytes)");
        if (stated > size)
            throw Failure(ExitBadInput, "CAB file '" + path + "' is truncated: its header states " +
                                            std::to_string(stated) + " bytes but the file has " + std::to_string(size));
        return size;
    } catch (const Failure &e) {
        throw Failure(e.code, std::string(e.what()) + " [" + label + "]");
    }
}

BuildSummary BuildPackageFile(const Manifest &m, const std::string &stubPath, const std::string &outPath,
                              unsigned jobs)
{
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());

    MappedFile stub(stubPath, "stub");
    CheckBareStub(stub.data(), stub.size(), stubPath);

    // Every input is checked before the output is created.
    std::vector<uint32_t> sizes;
    BuildSummary summary;
    summary.stubSize = stub.size();
    uint64_t minimum = stub.size() + TRAILER_SIZE;
    for (size_t i = 0; i < m.components.size(); ++i) {
        uint64_t size = 0;
        try {
            size = CheckCabFile(m.components[i].cabPath, "component " + std::to_string(i + 1) + " '" +
                                                             Utf16ToUtf8(m.recipe.components[i].name) + "'");
        } catch (const Failure &e) {
            throw DiagnosticFailure(e.code, {m.path, m.components[i].cab.line, m.components[i].cab.col,
                                             Severity::Error, "", e.what()});
        }
        sizes.push_back(uint32_t(size));
        summary.unpackedTotal += size;
        summary.chunkCount += ChunkCount(size);
        minimum += 4 + ChunkCount(size) * MinStoredChunk;
    }
    Bytes header = BuildHeader(m.recipe, std::vector<uint32_t>(sizes.size()), sizes);
    summary.headerSize = header.size();
    minimum += header.size();
    if (minimum > PackageLimit)
        throw Failure(ExitTooLarge, "the package would be larger than 4 GiB (at least " + std::to_string(minimum) +
                                        " bytes); split it into smaller packages");

    AtomicOutput out(outPath);
    out.Write(stub.data(), size_t(stub.size()));
    out.Write(header.data(), header.size());

    std::vector<uint32_t> offsets;
    const size_t batchChunks = std::min(size_t(jobs) * ChunksPerThread, MaxBatchChunks);
    Bytes buffer;
    for (size_t i = 0; i < m.components.size(); ++i) {
        offsets.push_back(uint32_t(out.size()));
        InputFile cab(m.components[i].cabPath, "CAB file");
        if (cab.size() != sizes[i])
            throw Failure(ExitCannotRead, "CAB file '" + m.components[i].cabPath + "' changed while it was read [" +
                                              ComponentLabel(m, i) + "]");
        Bytes prefix;
        PutU32(prefix, uint32_t(ChunkCount(sizes[i])));
        out.Write(prefix.data(), prefix.size());

        uint64_t left = sizes[i];
        while (left > 0) {
            ThrowIfStopped();
            size_t n = size_t(std::min<uint64_t>(left, uint64_t(batchChunks) * CHUNK_SIZE));
            buffer.resize(n);
            cab.Read(buffer.data(), n);
            left -= n;
            std::vector<Bytes> stored = CompressChunks(buffer.data(), n, jobs, CHUNK_SIZE);
            Bytes blocks;
            for (size_t k = 0; k < stored.size(); ++k) {
                size_t decoded = std::min<size_t>(CHUNK_SIZE, n - k * CHUNK_SIZE);
                PutCompressedBlock(blocks, stored[k], uint32_t(decoded));
            }
            if (blocks.size() > PackageLimit - TRAILER_SIZE - out.size())
                throw Failure(ExitTooLarge, "the package would be larger than 4 GiB (passed while compressing " +
                                                ComponentLabel(m, i) + "); split it into smaller packages");
            out.Write(blocks.data(), blocks.size());
        }
    }
    ThrowIfStopped();

    Bytes trailer;
    PutTrailer(trailer, uint32_t(stub.size()));
    out.Write(trailer.data(), trailer.size());

    Bytes real = BuildHeader(m.recipe, offsets, sizes);
    if (real.size() != header.size())
        throw Failure(ExitInternal, "internal error: the header changed size when its offsets were filled in");
    out.WriteAt(stub.size(), real.data(), real.size());
    summary.fileSize = out.size();
    for (size_t i = 0; i < offsets.size(); ++i) {
        uint64_t end = i + 1 < offsets.size() ? offsets[i + 1] : summary.fileSize - TRAILER_SIZE;
        summary.components.push_back({sizes[i], end - offsets[i], ChunkCount(sizes[i])});
    }
    out.Commit();
    return summary;
}

void CheckStubProgram(const std::string &stubPath, bool desktopStub)
{
    MappedFile stub(stubPath, "stub");
    PeHeaders pe;
    std::string why;
    if (stub.size() < 2 || std::memcmp(stub.data(), "MZ", 2) != 0)
        return;
    if (!ReadPeHeaders(stub.data(), stub.size(), pe, why))
        throw Failure(ExitBadInput, "stub '" + stubPath + "' is not a Windows program: " + why);
    if (IsDeviceProgram(pe) || desktopStub)
        return;
    throw Failure(ExitBadInput, "stub '" + stubPath + "' is " + DescribeProgram(pe) + "; a device stub is " +
                                    DeviceProgramWanted +
                                    ". Give the setup program built for the device, or --desktop-stub to package "
                                    "this one for the desktop test bench");
}

}  // namespace velkor
