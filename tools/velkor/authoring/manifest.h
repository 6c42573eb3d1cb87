// manifest.h -- the TOML manifest from which `velkor build` writes a
// package: names, flags, pages, variables, components and texts.  The
// format is described in README.md.  Reading a manifest does not read the
// components' CAB files; the builder does that.  Combinations that are
// legal but likely mistakes are lint's business (lint.h).
#pragma once

#include "pkgwrite.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

struct SourcePlace {
    unsigned line = 0, col = 0;   // 1-based; 0: unknown
};

struct ManifestComponent {
    std::string cabPath;     // resolved against the manifest's folder
    std::string cabAsWritten;
    int line = 0;            // where the component's table starts
    SourcePlace cab;         // the value of its `cab` key
};

// A [texts.<tag>] table: the default texts with its own laid over them.
struct ManifestLanguage {
    std::string tag;                   // "de", "pt-BR"
    std::vector<std::u16string> texts; // all thirty
    std::vector<bool> given;           // which of them the table sets
    SourcePlace place;
};

struct Manifest {
    std::string path;
    PackageRecipe recipe;                          // components without their CAB bytes
    std::vector<ManifestComponent> components; // parallel to recipe.components
    std::vector<ManifestLanguage> languages;   // in the order written
    std::vector<std::string> lintDisabled;     // [lint] disable, checked against lint's names
    // Where each item lint may speak of is written: "package", "package.pages",
    // "package.destination", "texts.welcome_body", "texts.de.welcome_body", ...
    std::map<std::string, SourcePlace> places;

    SourcePlace PlaceOf(const std::string &item) const;
    const ManifestLanguage *Language(const std::string &tag) const;   // nullptr: none
};

// Values given with -D NAME=VALUE, filled in for ${NAME} in the manifest's
// strings (not in the text files they name).
using Defines = std::map<std::string, std::string>;

// True for a name -D accepts: a letter or '_', then letters, digits or '_'.
bool IsDefineName(const std::string &name);

// Readable names of the thirty texts, in text-table order
// ("window_title" ... "confirm_cancel").
const std::vector<std::string> &TextNames();
// Names of the six pages, lowest flag first ("welcome" ... "ready").
const std::vector<std::string> &PageNames();
// The name of the page whose flag this is; `other` for anything that is not
// one page's flag.
std::string PageNameOf(uint8_t flag, const std::string &other);
// The names of the pages whose flags are set, lowest first.
std::vector<std::string> PageNamesOf(uint8_t flags);

// Throws Failure: ExitCannotRead when the manifest or a text file it names
// cannot be read, ExitBadManifest for TOML syntax, unknown or mistyped keys,
// missing required keys and text files that are not UTF-8.  Messages name
// the file, the line and the key.
// Errors in the manifest are DiagnosticFailure, at their line and column;
// an undefined ${NAME} is one.
Manifest LoadManifest(const std::string &path, const Defines &defines = {});
// "NAME=VALUE" (a -D argument) into defines; throws Failure(ExitUsage) for
// anything else.
void AddDefine(Defines &defines, const std::string &arg);
// The same for a manifest already in memory; path names it in messages and
// is where relative text files are looked for.
Manifest ParseManifest(std::string_view doc, const std::string &path, const Defines &defines = {});

// The recipe with one language's texts (tag "" for the default texts).
// Throws Failure(ExitUsage) for a language the manifest has no table for.
PackageRecipe RecipeForLanguage(const Manifest &m, const std::string &tag);

// Stored line breaks are CR LF, as the device's edit controls need.
std::u16string NormalizeLineBreaks(const std::u16string &s);

}  // namespace velkor
