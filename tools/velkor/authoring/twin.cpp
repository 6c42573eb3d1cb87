// twin.cpp -- see twin.h.  Only the header changes on the way: it is
// copied, and each PayloadOffset field (where the reader found it) is
// moved; the payloads follow unchanged, and a new trailer ends the file.
#include "twin.h"

#include "build.h"
#include "errors.h"
#include "pefile.h"
#include "pkgwrite.h"

#include "format.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace velkor {

void WritePackageOnStub(const uint8_t *file, uint64_t size, const uint8_t *stub, uint64_t stubSize,
                        const std::string &stubPath, AtomicOutput &out)
{
    PackageInfo p = ReadPackage(file, size, ReadDepth::Walk);
    CheckBareStub(stub, stubSize, stubPath);

    // Everything from the header to the trailer moves as one piece, so a
    // payload that lies before the header's end (inside the setup
    // program) would be left behind.
    uint64_t headerEnd = p.headerOffset + p.headerSize;
    for (size_t i = 0; i < p.components.size(); ++i) {
        const ComponentInfo &c = p.components[i];
        if (c.payloadOffset < headerEnd)
            throw Damage(c.payloadOffsetAt, c.Label(i),
                         "the payload starts at " + std::to_string(c.payloadOffset) +
                             ", before the end of the header (" + std::to_string(headerEnd) +
                             "), where velkor never puts it; it cannot be moved onto another setup program");
    }
    uint64_t moved = p.trailerOffset - p.headerOffset;
    if (stubSize + moved + TRAILER_SIZE > 0xFFFFFFFFull)
        throw Failure(ExitTooLarge, "the package on '" + stubPath + "' would be larger than 4 GiB");

    Bytes header(file + p.headerOffset, file + headerEnd);
    for (const ComponentInfo &c : p.components) {
        Bytes field;
        PutU32(field, uint32_t(c.payloadOffset - p.headerOffset + stubSize));
        std::copy(field.begin(), field.end(), header.begin() + std::ptrdiff_t(c.payloadOffsetAt - p.headerOffset));
    }
    Bytes trailer;
    PutTrailer(trailer, uint32_t(stubSize));
    out.Write(stub, size_t(stubSize));
    out.Write(header.data(), header.size());
    out.Write(file + headerEnd, size_t(p.trailerOffset - headerEnd));
    out.Write(trailer.data(), trailer.size());
}

DesktopTwin::DesktopTwin(const uint8_t *file, uint64_t size, const std::string &desktopStub)
{
    MappedFile stub(desktopStub, "desktop setup program");
    PeHeaders pe;
    std::string why;
    if (ReadPeHeaders(stub.data(), stub.size(), pe, why) && IsDeviceProgram(pe))
        throw Failure(ExitBadInput, "the desktop setup program '" + desktopStub + "' is " + DescribeProgram(pe) +
                                        ", which Wine cannot run; give --win-bin the desktop build's folder");

    folder_ = MakeTemporaryDirectory("twin");
    path_ = folder_ + "/setup.exe";
    try {
        AtomicOutput out(path_);
        WritePackageOnStub(file, size, stub.data(), stub.size(), desktopStub, out);
        ThrowIfStopped();
        out.Commit();
        MappedFile twin(path_, "desktop twin");
        PackageInfo p = ReadPackage(twin.data(), twin.size(), ReadDepth::Header);
        CheckWithProgramLoader(twin.data(), twin.size(), p);
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        throw;
    }
}

DesktopTwin::~DesktopTwin()
{
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

bool BuiltForDevice(const uint8_t *file, const PackageInfo &info)
{
    PeHeaders pe;
    std::string why;
    return ReadPeHeaders(file, info.headerOffset, pe, why) && IsDeviceProgram(pe);
}

std::unique_ptr<DesktopTwin> TwinForBench(const std::string &command, const std::string &package, const uint8_t *file,
                                          uint64_t size, const PackageInfo &info, const std::string &desktopStub)
{
    if (!BuiltForDevice(file, info))
        return nullptr;
    auto twin = std::make_unique<DesktopTwin>(file, size, desktopStub);
    // The trailer ends the file unless a signature's certificate table follows.
    bool isSigned = info.trailerOffset + TRAILER_SIZE < size;
    std::fprintf(stderr,
                 "velkor: note: %s is built on the device's setup program (ARM); %s runs the same package on the "
                 "desktop one under Wine (%s)%s\n",
                 package.c_str(), command.c_str(), desktopStub.c_str(),
                 isSigned ? ", where its signature is not checked" : "");
    return twin;
}

}  // namespace velkor
