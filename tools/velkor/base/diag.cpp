// diag.cpp -- the one printer of diag.h, and the names of the lint checks.
#include "diag.h"

#include <iterator>

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

namespace {

const char *const LintCheckNameTable[] = {
#define VELKOR_LINT_CHECK_NAME(id, name) name,
    VELKOR_LINT_CHECKS(VELKOR_LINT_CHECK_NAME)
#undef VELKOR_LINT_CHECK_NAME
};

}  // namespace

const char *LintCheckName(LintCheck check)
{
    return LintCheckNameTable[size_t(check)];
}

const std::vector<std::string> &LintCheckNames()
{
    static const std::vector<std::string> names(std::begin(LintCheckNameTable), std::end(LintCheckNameTable));
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
