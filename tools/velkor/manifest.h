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

struct ManifestComponent {
    std::string cabPath;     // resolved against the manifest's folder
    std::string cabAsWritten;
    int line = 0;            // where the component's table starts
};

struct Manifest {
    std::string path;
    PackageRecipe recipe;                          // components without their CAB bytes
    std::vector<ManifestComponent> components; // parallel to recipe.components
    // Where each text given in [texts] is named: "install_button" -> (line, column).
    std::map<std::string, std::pair<unsigned, unsigned>> textKeys;
};

// Readable names of the thirty texts, in text-table order
// ("window_title" ... "confirm_cancel").
const std::vector<std::string> &TextNames();
// Names of the six pages, lowest flag first ("welcome" ... "ready").
const std::vector<std::string> &PageNames();

// Throws Failure: ExitCannotRead when the manifest or a text file it names
// cannot be read, ExitBadManifest for TOML syntax, unknown or mistyped keys,
// missing required keys and text files that are not UTF-8.  Messages name
// the file, the line and the key.
Manifest LoadManifest(const std::string &path);
// The same for a manifest already in memory; path names it in messages and
// is where relative text files are looked for.
Manifest ParseManifest(std::string_view doc, const std::string &path);

// Stored line breaks are CR LF, as the device's edit controls need.
std::u16string NormalizeLineBreaks(const std::u16string &s);

}  // namespace velkor
