// diag.cpp -- the one printer of diag.h, and the names of the lint checks.
#include "diag.h"

namespace velkor {

const char *SeverityName(Severity s)
{
    switch (s) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Note: return "note";
    }
    return "error";
}

const std::vector<std::string> &LintCheckNames()
{
    static const std::vector<std::string> names = {
        "text-count", "undefined-placeholder", "destination-empty", "destination-too-long", "destination-invalid",
        "placeholder-in-name", "duplicate-component", "page-flags", "unreachable-page",
        "location-without-destination", "no-destination-component", "nothing-selected", "agreement-missing",
        "space-placeholder-missing", "html", "not-a-cab", "not-a-device-cab", "cab-unchecked", "bad-setup-info", "desktop-stub", "text-fit",
    };
    return names;
}

std::string FormatDiagnostic(const Diagnostic &d)
{
    std::string s = d.file;
    if (d.line)
        s += ":" + std::to_string(d.line) + ":" + std::to_string(d.col ? d.col : 1);
    s += std::string(": ") + SeverityName(d.severity) + ": " + d.message;
    if (!d.check.empty())
        s += " [" + d.check + "]";
    return s;
}

void PrintDiagnostic(std::FILE *to, const Diagnostic &d)
{
    std::fprintf(to, "%s\n", FormatDiagnostic(d).c_str());
}

}  // namespace velkor
