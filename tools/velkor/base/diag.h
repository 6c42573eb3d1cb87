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

// Every lint check, once: the name the code uses and the stable name that
// findings carry and a manifest's [lint] disable takes (README.md describes
// each).  Findings can only name a check through LintCheck, so none can be
// emitted without standing here.
#define VELKOR_LINT_CHECKS(X)                                          \
    X(TextCount, "text-count")                                         \
    X(UndefinedPlaceholder, "undefined-placeholder")                   \
    X(DestinationEmpty, "destination-empty")                           \
    X(DestinationTooLong, "destination-too-long")                      \
    X(DestinationInvalid, "destination-invalid")                       \
    X(PlaceholderInName, "placeholder-in-name")                        \
    X(DuplicateComponent, "duplicate-component")                       \
    X(PageFlags, "page-flags")                                         \
    X(UnreachablePage, "unreachable-page")                             \
    X(LocationWithoutDestination, "location-without-destination")      \
    X(NoDestinationComponent, "no-destination-component")              \
    X(NothingSelected, "nothing-selected")                             \
    X(AgreementMissing, "agreement-missing")                           \
    X(SpacePlaceholderMissing, "space-placeholder-missing")            \
    X(Html, "html")                                                    \
    X(NotACab, "not-a-cab")                                            \
    X(NotADeviceCab, "not-a-device-cab")                               \
    X(CabUnchecked, "cab-unchecked")                                   \
    X(BadSetupInfo, "bad-setup-info")                                  \
    X(DesktopStub, "desktop-stub")                                     \
    X(TextFit, "text-fit")

enum class LintCheck {
#define VELKOR_LINT_CHECK_ID(id, name) id,
    VELKOR_LINT_CHECKS(VELKOR_LINT_CHECK_ID)
#undef VELKOR_LINT_CHECK_ID
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
