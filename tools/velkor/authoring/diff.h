// diff.h -- `velkor diff`: what changed between two built packages.  Both
// are decoded in full (so a damaged one is refused, as `verify` would) and
// each component's CAB is summarised by its SHA-256; components are matched
// by name, variables by name, texts by their table index.
#pragma once

#include "pkgread.h"

#include <string>
#include <utility>
#include <vector>

namespace velkor {

// A value on one side of a difference.
struct DiffValue {
    enum Kind { Absent, Text, Number, Boolean, List, Object } kind = Absent;
    std::string text;
    uint64_t number = 0;
    bool hex = false;          // a Number shown as 0xNN in text
    bool boolean = false;
    std::vector<std::string> list;
    std::vector<std::pair<std::string, DiffValue>> fields;   // Object

    static DiffValue Str(const std::string &s);
    static DiffValue Num(uint64_t n);
    static DiffValue Bool(bool b);
    static DiffValue Names(const std::vector<std::string> &names);
    bool operator==(const DiffValue &o) const;
    bool operator!=(const DiffValue &o) const { return !(*this == o); }
};

struct Difference {
    std::string section;   // "setup_program", "package", "variable", "component", "text"
    std::string name;      // field, variable, component or text name
    std::string field;     // for a changed component: which of its fields; else empty
    std::string change;    // "changed", "added", "removed", "reordered"
    int index = -1;        // a text's table index
    DiffValue before, after;
};

struct PackageSummary {
    PackageInfo info;
    uint64_t programSize = 0;
    std::string programSha256;              // of the bytes before the header
    std::vector<std::string> componentSha256;
};

// Decodes the whole package.  Throws Damage as ReadPackage does.
PackageSummary SummarisePackage(const uint8_t *data, uint64_t size);

// Control characters made visible (\r, \n, \t, \xNN), so that a value shows
// on one line; `quoted`: '"' and '\' escaped too, for a value shown between
// quotes that must read back unambiguously.
std::string Visible(const std::string &s, bool quoted);

std::vector<Difference> DiffPackages(const PackageSummary &a, const PackageSummary &b);

// Text: one line per difference (a text's old and new value on lines of
// their own), then a summary line.  JSON: one object (README.md).
std::string FormatDiff(const std::string &pathA, const std::string &pathB, const std::vector<Difference> &diffs);
std::string FormatDiffJson(const std::string &pathA, const std::string &pathB, const std::vector<Difference> &diffs);

}  // namespace velkor
