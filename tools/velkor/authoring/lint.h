// lint.h -- `velkor lint` and the warnings of `velkor build`: things a
// package may legally hold but that will not work as its author meant
// (components that are not device CABs, placeholders nothing fills in, a
// destination the device cannot use, pages that can never show, HTML that
// is not closed).  The same checks run on a manifest (before building) and
// on a built package.
#pragma once

#include "cabdir.h"
#include "diag.h"
#include "manifest.h"
#include "pkgwrite.h"

#include <memory>
#include <string>
#include <vector>

namespace velkor {

struct Finding {
    std::string check;     // stable name, e.g. "undefined-placeholder": LintCheckName of a LintCheck (diag.h)
    // What it is about: "texts.welcome_body", "package.pages", "component 2 'Help'".
    // For a manifest the item also says where: the key of that name.
    std::string item;
    std::string message;   // one line, naming the item
    bool note = false;     // could not be checked; does not count as a finding
    // Where it is written: set for a manifest's findings (LintManifest),
    // line 0 for a built package's.
    std::string file = {};
    unsigned line = 0, col = 0;
};

// The finding as a diagnostic line: a warning, or a note.
Diagnostic AsDiagnostic(const Finding &f);
// Names the finding after another item, in its message too (a language's
// own text: "texts.welcome_title" becomes "texts.de.welcome_title").
void RenameFindingItem(Finding &f, const std::string &item);


// Checks of the names, flags, pages, variables and texts.  recipe.texts may
// hold fewer or more than 30 (a package read back); storedPageFlags is the
// page byte as written, bits 64 and 128 included.
std::vector<Finding> LintSpec(const PackageRecipe &recipe, uint8_t storedPageFlags);

// Checks one component's CAB: a cabinet, not spanning, holding one
// setup-information member (.000) that parses and plans for the device,
// also with the package's destination when the component accepts one.
// `item` names the component; `file` (may be empty) names its CAB file.
std::vector<Finding> LintCab(CabBytes &cab, const std::string &item, const std::string &file,
                             const PackageRecipe &recipe, size_t component);

// A manifest: every check, its CAB files read from disk, each language's
// texts too; the checks its [lint] disable names are left out, and every
// finding carries its file, line and column.  Throws DiagnosticFailure
// (ExitCannotRead) for a CAB that cannot be read, at its `cab` key.
std::vector<Finding> LintManifest(const Manifest &m);

// A built package (the whole file).  Throws Damage for a damaged package,
// except that a text table shorter than 30 is a finding.
std::vector<Finding> LintPackage(const uint8_t *data, uint64_t size);

// True when the file looks like a built package rather than a manifest
// (it starts with "MZ" or ends with the package trailer).
bool LooksLikePackage(const uint8_t *data, uint64_t size);

size_t CountFindings(const std::vector<Finding> &findings);   // notes excluded

// Every "%Name%"-shaped token of a text (a letter, then letters, digits or
// '_'), in order of appearance.
std::vector<std::u16string> Placeholders(const std::u16string &text);

// The placeholders ("%Name%", a letter then letters, digits or '_') of a
// text that are neither %SoftwareName%, %CompanyName% nor in `known`
// (compared ignoring case), each once, in order of appearance.
std::vector<std::u16string> UnknownPlaceholders(const std::u16string &text, const std::vector<std::u16string> &known);

// Problems of an HTML text that is not closed properly, each one line:
// a tag without its '>', an end tag that closes nothing, an element left
// open (elements whose end tag HTML lets one leave out are exempt).
std::vector<std::string> HtmlProblems(const std::u16string &html);

}  // namespace velkor
