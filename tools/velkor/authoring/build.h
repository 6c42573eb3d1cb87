// build.h -- `velkor build`: writes the stub followed by the package that a
// manifest describes.  The CAB files are streamed a batch of chunks at a
// time, so memory stays small whatever their size; the output appears under
// its name only when it is complete.
#pragma once

#include "manifest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

struct BuildSummary {
    struct Component {
        uint64_t unpackedSize = 0, storedSize = 0, chunkCount = 0;
    };
    std::vector<Component> components;
    uint64_t fileSize = 0;
    uint64_t stubSize = 0;
    uint64_t headerSize = 0;
    uint64_t chunkCount = 0;
    uint64_t unpackedTotal = 0;
};

// Checks that a file is a Microsoft Cabinet: the "MSCF" signature and a
// stated cabinet size that the file holds (signed CABs carry bytes after
// it).  `label` names the component in messages.  Returns the file's size.
// Throws ExitCannotRead, ExitBadInput, or ExitTooLarge for a file past 4 GiB.
uint64_t CheckCabFile(const std::string &path, const std::string &label);

// A setup program that a package can be written onto: it starts with "MZ",
// carries no package, is not signed and is below 4 GiB.  `path` names it in
// messages.  Throws ExitBadInput or ExitTooLarge.
void CheckBareStub(const uint8_t *data, uint64_t size, const std::string &path);

// jobs 0: one compressing thread per core.  A CAB that is missing or not a
// CAB is a DiagnosticFailure at the manifest's `cab` key.  The bytes written do not depend
// on jobs.  Throws Failure; on every failure nothing is left at outPath (an
// existing file there is untouched).
BuildSummary BuildPackageFile(const Manifest &manifest, const std::string &stubPath, const std::string &outPath,
                              unsigned jobs);

}  // namespace velkor

namespace velkor {

// Checks that the stub is a setup program built for the device: an ARM
// Windows CE GUI program (pefile.h).  Any other Windows program is refused
// unless desktopStub (the desktop build run under Wine); "MZ" without a PE
// header is always refused.  A file without "MZ" is left to
// BuildPackageFile, which refuses it.  Throws ExitCannotRead or
// ExitBadInput.
void CheckStubProgram(const std::string &stubPath, bool desktopStub);

}  // namespace velkor
