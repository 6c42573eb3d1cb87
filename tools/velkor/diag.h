// diag.h -- messages about a place in a file, in the one form editors and
// CI annotations parse: "FILE:LINE:COL: error: message [check]".  Manifest
// errors, build warnings and lint findings all go through here; a place
// with no line (a built package) prints as "FILE: warning: ...".
#pragma once

#include "errors.h"

#include <cstdio>
#include <string>
#include <vector>

namespace velkor {

enum class Severity { Error, Warning, Note };

struct Diagnostic {
    std::string file;
    unsigned line = 0;     // 1-based; 0: the file as a whole
    unsigned col = 0;      // 1-based, in characters
    Severity severity = Severity::Error;
    std::string check;     // lint's name for it, or empty
    std::string message;
};

const char *SeverityName(Severity s);

// Every lint check.  Findings name their check through this, and each one
// has its row in diag.cpp's table (a static_assert there refuses a check
// without one), so the list below cannot miss a check lint emits.
enum class LintCheck {
    TextCount, UndefinedPlaceholder, DestinationEmpty, DestinationTooLong, DestinationInvalid,
    PlaceholderInName, DuplicateComponent, PageFlags, UnreachablePage,
    LocationWithoutDestination, NoDestinationComponent, NothingSelected, AgreementMissing,
    SpacePlaceholderMissing, Html, NotACab, NotADeviceCab, CabUnchecked, BadSetupInfo, DesktopStub, TextFit,
    Count   // not a check: how many there are
};

// A check's stable name, as findings carry it: "undefined-placeholder".
const char *LintCheckName(LintCheck check);

// The names of every lint check in the order above, as a manifest's [lint]
// disable takes them (README.md describes each).
const std::vector<std::string> &LintCheckNames();

// One line, without its line break.
std::string FormatDiagnostic(const Diagnostic &d);
void PrintDiagnostic(std::FILE *to, const Diagnostic &d);

// A failure at a place in a file: what() is the formatted line, and main
// prints it as it stands (no "velkor: error:" in front).
struct DiagnosticFailure : Failure {
    Diagnostic diag;
    DiagnosticFailure(int exitCode, const Diagnostic &d) : Failure(exitCode, FormatDiagnostic(d)), diag(d) {}
};

}  // namespace velkor
