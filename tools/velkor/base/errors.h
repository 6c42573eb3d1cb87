// errors.h -- the failures velkor reports and the exit code of each.
// Every failure is one line on stderr; the codes are documented in README.md.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velkor {

enum ExitCode {
    ExitOk = 0,
    ExitInternal = 1,      // a fault in velkor itself
    ExitUsage = 2,         // bad command line
    ExitCannotRead = 3,    // an input file is missing or cannot be read
    ExitBadManifest = 4,   // the manifest (or a text file it names) is wrong
    ExitBadInput = 5,      // a component is not a CAB, the stub is not a program
    ExitTooLarge = 6,      // the package would pass 4 GiB
    ExitDamaged = 7,       // not a package, or a damaged one
    ExitCannotWrite = 8,   // the output cannot be created or written
    ExitFindings = 9,      // lint: the package or manifest has findings
    ExitDiffers = 10,      // diff: the two packages differ
    ExitPreviewFailed = 11,// preview: the setup program could not be shown or photographed
    ExitTryFailed = 12,    // try: the installation did not succeed
    ExitSignature = 13,    // signing failed, or verify --require-signature found no good signature
    ExitInterrupted = 130, // stopped by a signal; nothing was written
};

// "Exit codes: 0 success, 1 internal error, ...": each code above and what
// it means, for the help texts.
std::string ExitCodeHelp();

struct Failure : std::runtime_error {
    int code;
    Failure(int exitCode, const std::string &message) : std::runtime_error(message), code(exitCode) {}
};

// Damage found in a package: where, in what, and what is wrong.
struct Damage : Failure {
    uint64_t offset;
    std::string item;
    std::string problem;
    Damage(uint64_t at, const std::string &what, const std::string &wrong)
        : Failure(ExitDamaged, what + " at offset " + std::to_string(at) + ": " + wrong),
          offset(at), item(what), problem(wrong) {}
};

}  // namespace velkor
