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

namespace {

struct LintCheckRow {
    LintCheck check;
    const char *name;
};

constexpr LintCheckRow LintChecks[] = {
    {LintCheck::TextCount, "text-count"},
    {LintCheck::UndefinedPlaceholder, "undefined-placeholder"},
    {LintCheck::DestinationEmpty, "destination-empty"},
    {LintCheck::DestinationTooLong, "destination-too-long"},
    {LintCheck::DestinationInvalid, "destination-invalid"},
    {LintCheck::PlaceholderInName, "placeholder-in-name"},
    {LintCheck::DuplicateComponent, "duplicate-component"},
    {LintCheck::PageFlags, "page-flags"},
    {LintCheck::UnreachablePage, "unreachable-page"},
    {LintCheck::LocationWithoutDestination, "location-without-destination"},
    {LintCheck::NoDestinationComponent, "no-destination-component"},
    {LintCheck::NothingSelected, "nothing-selected"},
    {LintCheck::AgreementMissing, "agreement-missing"},
    {LintCheck::SpacePlaceholderMissing, "space-placeholder-missing"},
    {LintCheck::Html, "html"},
    {LintCheck::NotACab, "not-a-cab"},
    {LintCheck::NotADeviceCab, "not-a-device-cab"},
    {LintCheck::CabUnchecked, "cab-unchecked"},
    {LintCheck::BadSetupInfo, "bad-setup-info"},
    {LintCheck::DesktopStub, "desktop-stub"},
    {LintCheck::TextFit, "text-fit"},
};

// One row per check, in the enum's order, so a check indexes its own row.
constexpr bool EveryCheckHasItsRow()
{
    if (sizeof LintChecks / sizeof LintChecks[0] != size_t(LintCheck::Count))
        return false;
    for (size_t i = 0; i < size_t(LintCheck::Count); ++i)
        if (LintChecks[i].check != LintCheck(i))
            return false;
    return true;
}
static_assert(EveryCheckHasItsRow(), "LintChecks needs one row per LintCheck, in order");

}  // namespace

const char *LintCheckName(LintCheck check)
{
    return LintChecks[size_t(check)].name;
}

const std::vector<std::string> &LintCheckNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const auto &row : LintChecks)
            all.push_back(row.name);
        return all;
    }();
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
