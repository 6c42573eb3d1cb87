// twin.h -- a setup file built on the device's setup program (ARM), made
// runnable under Wine for `try` and `preview`: its package laid onto the
// desktop build of the same program.  The header, texts and payloads are
// copied byte for byte; only the absolute offsets move (each component's
// PayloadOffset and the trailer's header offset).  A signature is not
// carried over, and nothing is rebuilt from a manifest.
#pragma once

#include "files.h"
#include "pkgread.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velkor {

// Writes the setup program `stub` (stubSize bytes, checked as a stub for
// `build` is, and named stubPath in messages) followed by the package of
// the setup file `file` into `out`.  The package's payloads must lie
// after its header, where `build` puts them.  Throws Failure: ExitDamaged
// (a damaged package, or payloads elsewhere), ExitBadInput (the stub),
// ExitTooLarge (the result would pass 4 GiB), ExitCannotWrite.
void WritePackageOnStub(const uint8_t *file, uint64_t size, const uint8_t *stub, uint64_t stubSize,
                        const std::string &stubPath, AtomicOutput &out);

// The desktop twin of a device package, in a temporary folder of its own
// that goes with this object, whatever happens.
class DesktopTwin {
public:
    // Throws as WritePackageOnStub, or Failure(ExitCannotRead) for a
    // desktop setup program that is missing, and Failure(ExitBadInput) for
    // one built for the device; the twin is checked with the setup
    // program's loader before it is used.
    DesktopTwin(const uint8_t *file, uint64_t size, const std::string &desktopStub);
    ~DesktopTwin();
    DesktopTwin(const DesktopTwin &) = delete;
    DesktopTwin &operator=(const DesktopTwin &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string folder_, path_;
};

// Whether the setup program before a package (the first headerOffset bytes
// of the file) is the device's.
bool BuiltForDevice(const uint8_t *file, const PackageInfo &info);

// For `try` and `preview` (`command`): when the package is built for the
// device, its desktop twin, after one line on stderr saying so (and that
// a signature is not checked there); otherwise none, and the package runs
// as it is.
std::unique_ptr<DesktopTwin> TwinForBench(const std::string &command, const std::string &package, const uint8_t *file,
                                          uint64_t size, const PackageInfo &info, const std::string &desktopStub);

}  // namespace velkor
