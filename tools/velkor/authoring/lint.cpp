// lint.cpp -- the checks of `velkor lint`.  Each finding names its item and
// says what the device will do with it, so an author can act on one line.
#include "lint.h"

#include "build.h"
#include "errors.h"
#include "files.h"
#include "pefile.h"
#include "pkgread.h"
#include "textfit.h"

#include "ce000.h"
#include "codec.h"
#include "format.h"
#include "pageflow.h"
#include "rules.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace velkor {

namespace {

const size_t MaxDevicePath = wceload::MaxPathUnits;   // 259: MAX_PATH less its terminator

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

size_t FindFolded(const std::u16string &text, const std::u16string &pattern, size_t from)
{
    if (pattern.empty() || pattern.size() > text.size())
        return std::u16string::npos;
    for (size_t i = from; i + pattern.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < pattern.size() && Fold(text[i + k]) == Fold(pattern[k]))
            ++k;
        if (k == pattern.size())
            return i;
    }
    return std::u16string::npos;
}

// Every occurrence replaced, ignoring case, in one left-to-right pass.
// (The program rescans after each replacement; for the lengths measured
// here that only matters for values that hold their own pattern.)
std::u16string ReplaceFolded(const std::u16string &text, const std::u16string &pattern, const std::u16string &value)
{
    std::u16string out;
    size_t at = 0;
    for (size_t hit; (hit = FindFolded(text, pattern, at)) != std::u16string::npos; at = hit + pattern.size())
        out += text.substr(at, hit - at) + value;
    return out + text.substr(at);
}

// The destination as the loader expands it: the two names only.
std::u16string ExpandDestination(const PackageRecipe &recipe)
{
    std::u16string d = ReplaceFolded(recipe.destination, u"%SoftwareName%", recipe.softwareName);
    return ReplaceFolded(d, u"%CompanyName%", recipe.companyName);
}

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsNameChar(char16_t c) { return IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'_'; }

std::string TextKey(size_t i)
{
    return i < TextNames().size() ? "texts." + TextNames()[i] : "text " + std::to_string(i);
}

std::string ComponentItem(const PackageRecipe &recipe, size_t i)
{
    return "component " + std::to_string(i + 1) + " '" + U8(recipe.components[i].name) + "'";
}

// ---- HTML ----

bool IsVoidElement(const std::string &name)
{
    static const std::set<std::string> names = {"area", "base", "br", "col", "embed", "hr", "img",
                                                "input", "link", "meta", "param", "source", "track", "wbr"};
    return names.count(name) != 0;
}

// Elements whose end tag HTML allows to be left out.
bool EndTagOptional(const std::string &name)
{
    static const std::set<std::string> names = {"p", "li", "dt", "dd", "tr", "td", "th", "option", "optgroup",
                                                "html", "head", "body", "thead", "tbody", "tfoot", "colgroup"};
    return names.count(name) != 0;
}

std::string At(size_t i) { return "character " + std::to_string(i + 1); }

}  // namespace

std::vector<std::u16string> Placeholders(const std::u16string &text)
{
    std::vector<std::u16string> tokens;
    size_t i = text.find(u'%');
    while (i != std::u16string::npos) {
        size_t close = text.find(u'%', i + 1);
        if (close == std::u16string::npos)
            break;
        bool shaped = close > i + 1 && IsLetter(text[i + 1]);
        for (size_t k = i + 1; shaped && k < close; ++k)
            shaped = IsNameChar(text[k]);
        if (!shaped) {
            i = close;   // the second '%' may open a placeholder of its own
            continue;
        }
        tokens.push_back(text.substr(i, close - i + 1));
        i = text.find(u'%', close + 1);
    }
    return tokens;
}

std::vector<std::u16string> UnknownPlaceholders(const std::u16string &text, const std::vector<std::u16string> &known)
{
    std::vector<std::u16string> unknown;
    for (const auto &token : Placeholders(text)) {
        bool skip = wceload::SameName(token, u"%SoftwareName%") || wceload::SameName(token, u"%CompanyName%");
        for (const auto &k : known)
            skip = skip || wceload::SameName(token, k);
        for (const auto &u : unknown)
            skip = skip || wceload::SameName(token, u);
        if (!skip)
            unknown.push_back(token);
    }
    return unknown;
}

std::vector<std::string> HtmlProblems(const std::u16string &html)
{
    struct Open {
        std::string name;
        size_t at;
    };
    std::vector<Open> open;
    std::vector<std::string> problems;
    const size_t n = html.size();
    size_t i = 0;
    while (i < n) {
        if (html[i] != u'<' || i + 1 >= n) {
            ++i;
            continue;
        }
        if (html.compare(i, 4, u"<!--") == 0) {
            size_t end = html.find(u"-->", i + 4);
            if (end == std::u16string::npos) {
                problems.push_back("the comment at " + At(i) + " is never closed with \"-->\"");
                return problems;
            }
            i = end + 3;
            continue;
        }
        bool isEnd = html[i + 1] == u'/';
        bool declaration = html[i + 1] == u'!' || html[i + 1] == u'?';
        size_t j = i + (isEnd ? 2 : 1);
        if (!declaration && (j >= n || !IsLetter(html[j]))) {
            ++i;   // "a < b": text, not a tag
            continue;
        }
        std::string name;
        while (!declaration && j < n && (IsLetter(html[j]) || (html[j] >= u'0' && html[j] <= u'9')))
            name += char(std::tolower(char(html[j++])));
        // The tag ends at the first '>' outside quotes.
        char16_t quote = 0;
        size_t k = j;
        for (; k < n; ++k) {
            char16_t c = html[k];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'>' || c == u'<') {
                break;
            }
        }
        std::string shown = declaration ? "<" + std::string(1, char(html[i + 1])) : (isEnd ? "</" : "<") + name;
        if (k >= n || html[k] == u'<') {
            problems.push_back(quote ? "an attribute of " + shown + " at " + At(i) + " opens a quote that is never closed"
                                     : shown + " at " + At(i) + " is never closed with '>'");
            if (k >= n)
                return problems;
            i = k;
            continue;
        }
        bool selfClosing = html[k - 1] == u'/';
        size_t tagStart = i;
        i = k + 1;
        if (declaration || IsVoidElement(name))
            continue;
        if (!isEnd) {
            if (selfClosing)
                continue;
            if (name == "script" || name == "style") {
                std::u16string close = u"</" + Utf8ToUtf16(name);
                size_t end = FindFolded(html, close, i);
                size_t gt = end == std::u16string::npos ? end : html.find(u'>', end);
                if (gt == std::u16string::npos) {
                    problems.push_back("<" + name + "> opened at " + At(tagStart) + " is never closed");
                    return problems;
                }
                i = gt + 1;   // its content is not HTML
                continue;
            }
            open.push_back({name, tagStart});
            continue;
        }
        size_t match = open.size();
        while (match > 0 && open[match - 1].name != name)
            --match;
        if (match == 0) {
            problems.push_back("</" + name + "> at " + At(tagStart) + " closes no open element");
            continue;
        }
        for (size_t m = open.size(); m > match; --m)
            if (!EndTagOptional(open[m - 1].name))
                problems.push_back("<" + open[m - 1].name + "> opened at " + At(open[m - 1].at) +
                                   " is not closed before </" + name + "> at " + At(tagStart));
        open.resize(match - 1);
    }
    for (const auto &o : open)
        if (!EndTagOptional(o.name))
            problems.push_back("<" + o.name + "> opened at " + At(o.at) + " is never closed");
    return problems;
}

size_t CountFindings(const std::vector<Finding> &findings)
{
    return size_t(std::count_if(findings.begin(), findings.end(), [](const Finding &f) { return !f.note; }));
}

namespace {

void Add(std::vector<Finding> &out, LintCheck check, const std::string &item, const std::string &message)
{
    out.push_back({LintCheckName(check), item, message, false});
}

std::vector<std::u16string> VariableNames(const PackageRecipe &recipe)
{
    std::vector<std::u16string> names;
    for (const auto &v : recipe.variables)
        names.push_back(v.first);
    return names;
}

// The text table's size, and placeholders no variable fills in.
void LintTexts(const PackageRecipe &recipe, std::vector<Finding> &out)
{
    const auto &texts = recipe.texts;
    if (texts.size() < TextCount)
        Add(out, LintCheck::TextCount, "texts",
            "the package holds " + std::to_string(texts.size()) +
                " texts; the setup program refuses a package with fewer than 30");
    else if (texts.size() > TextCount)
        Add(out, LintCheck::TextCount, "texts",
            "the package holds " + std::to_string(texts.size()) + " texts; those after the thirtieth are never shown");

    const std::vector<std::u16string> variableNames = VariableNames(recipe);
    for (size_t i = 0; i < texts.size(); ++i)
        for (const auto &token : UnknownPlaceholders(texts[i], variableNames))
            Add(out, LintCheck::UndefinedPlaceholder, TextKey(i),
                TextKey(i) + " uses " + U8(token) +
                    ", which is neither %SoftwareName%, %CompanyName% nor a variable, so it shows as written");
}

// The destination: only the two names are filled in there.
void LintDestination(const PackageRecipe &recipe, std::vector<Finding> &out)
{
    const std::vector<std::u16string> variableNames = VariableNames(recipe);
    for (const auto &token : UnknownPlaceholders(recipe.destination, {})) {
        bool isVariable = false;
        for (const auto &v : variableNames)
            isVariable = isVariable || wceload::SameName(v, token);
        Add(out, LintCheck::UndefinedPlaceholder, "package.destination",
            "package.destination uses " + U8(token) +
                (isVariable ? ", a variable, but variables are not applied to the destination (only %SoftwareName% "
                              "and %CompanyName% are)"
                            : ", which is neither %SoftwareName% nor %CompanyName%, so it stays in the folder name"));
    }
    std::u16string destination = ExpandDestination(recipe);
    if (destination.empty()) {
        Add(out, LintCheck::DestinationEmpty, "package.destination", "package.destination is empty");
    } else if (destination.size() > MaxDevicePath) {
        Add(out, LintCheck::DestinationTooLong, "package.destination",
            "package.destination is " + std::to_string(destination.size()) +
                " characters long once the names are filled in; the device allows " + std::to_string(MaxDevicePath));
    } else {
        std::u16string normalised;
        if (!wceload::NormaliseDevicePath(destination, 0, &normalised))
            Add(out, LintCheck::DestinationInvalid, "package.destination",
                "package.destination '" + U8(destination) +
                    "' is not a device folder: it must start with '\\' and every part must be a valid file name");
    }
}

// Component names are shown as written, and must tell the components apart.
void LintComponentNames(const PackageRecipe &recipe, std::vector<Finding> &out)
{
    for (size_t i = 0; i < recipe.components.size(); ++i) {
        const std::u16string &name = recipe.components[i].name;
        std::vector<std::u16string> tokens = Placeholders(name);
        if (!tokens.empty())
            Add(out, LintCheck::PlaceholderInName, ComponentItem(recipe, i),
                ComponentItem(recipe, i) + ": component names are shown as written, so " + U8(tokens[0]) +
                    " is not filled in");
        for (size_t k = 0; k < i; ++k)
            if (recipe.components[k].name == name) {
                Add(out, LintCheck::DuplicateComponent, ComponentItem(recipe, i),
                    ComponentItem(recipe, i) + " has the same name as component " + std::to_string(k + 1) +
                        "; the components page cannot tell them apart");
                break;
            }
    }
}

// Pages that never show, or that ask for what nothing uses.
void LintPages(const PackageRecipe &recipe, uint8_t storedPageFlags, std::vector<Finding> &out)
{
    const uint8_t pages = storedPageFlags & PageAll;
    const bool udl = recipe.useDefaultLocation != 0;
    if (storedPageFlags & ~PageAll)
        Add(out, LintCheck::PageFlags, "package.pages",
            "the page flags hold bits that name no page (stored 0x" +
                std::string(1, "0123456789ABCDEF"[storedPageFlags >> 4]) +
                std::string(1, "0123456789ABCDEF"[storedPageFlags & 15]) + ")");
    // Without a location page nothing changes the skip, so the destination
    // page shows only where the wizard starts on it.
    if ((pages & PageDestination) && udl && !(pages & PageLocation)) {
        if (LowestPage(PagesShown(pages, udl)) != PageDestination)
            Add(out, LintCheck::UnreachablePage, "package.pages",
                "the destination page is never shown: use_default_location is true and there is no location page");
        else
            Add(out, LintCheck::UnreachablePage, "package.pages",
                "the destination page shows only because it is the first page: use_default_location is true and "
                "there is no location page, so Back from the page after it leaves the wizard empty");
    }
    if ((pages & PageLocation) && !(pages & PageDestination))
        Add(out, LintCheck::LocationWithoutDestination, "package.pages",
            "the location page has no destination page after it: a user who chooses a folder there is never asked "
            "for one, and package.destination is used");
    bool anyAccepts = false, anySelected = false;
    for (const auto &c : recipe.components) {
        anyAccepts = anyAccepts || c.acceptsDestination;
        anySelected = anySelected || c.selected;
    }
    if ((pages & (PageLocation | PageDestination)) && !anyAccepts)
        Add(out, LintCheck::NoDestinationComponent, "package.pages",
            "the location or destination page is selected but no component accepts a destination");
    if (!anySelected && !(pages & PageComponents) && !recipe.components.empty())
        Add(out, LintCheck::NothingSelected, "component",
            "no component is selected and there is no components page, so Setup installs nothing");
}

// Texts that the selected pages need.
void LintPageTexts(const PackageRecipe &recipe, uint8_t storedPageFlags, std::vector<Finding> &out)
{
    const auto &texts = recipe.texts;
    const uint8_t pages = storedPageFlags & PageAll;
    const auto defaults = DefaultTexts();
    if ((pages & PageAgreement) && texts.size() > TextAgreementBody && texts[TextAgreementBody] == defaults[TextAgreementBody])
        Add(out, LintCheck::AgreementMissing, "texts.agreement_body",
            "the agreement page is selected but texts.agreement_body is not given");
    if ((pages & PageDestination) && texts.size() > TextSpaceRequired &&
        FindFolded(texts[TextSpaceRequired], u"<space>", 0) == std::u16string::npos)
        Add(out, LintCheck::SpacePlaceholderMissing, "texts.space_required",
            "texts.space_required has no \"<space>\" for the program to fill in");

    for (int index : {TextWelcomeBody, TextLocationBody, TextComponentsBody, TextReadyBody}) {
        if (size_t(index) >= texts.size())
            continue;
        for (const auto &problem : HtmlProblems(texts[size_t(index)]))
            Add(out, LintCheck::Html, TextKey(size_t(index)), TextKey(size_t(index)) + " is not well-formed HTML: " + problem);
    }
}

}  // namespace

std::vector<Finding> LintSpec(const PackageRecipe &recipe, uint8_t storedPageFlags)
{
    std::vector<Finding> out;
    LintTexts(recipe, out);
    LintDestination(recipe, out);
    LintComponentNames(recipe, out);
    LintPages(recipe, storedPageFlags, out);
    LintPageTexts(recipe, storedPageFlags, out);
    return out;
}

std::vector<Finding> LintCab(CabBytes &cab, const std::string &item, const std::string &file, const PackageRecipe &recipe,
                             size_t component)
{
    std::vector<Finding> out;
    std::string its = item + ": " + (file.empty() ? "its CAB" : "its CAB '" + file + "'");
    auto add = [&](LintCheck check, const std::string &message, bool note = false) {
        out.push_back({LintCheckName(check), item, its + " " + message, note});
        return out;
    };

    CabDirectory dir;
    std::string why = ReadCabDirectory(cab, &dir);
    if (!why.empty())
        return add(LintCheck::NotACab, "is not a cabinet that can be read: " + why);
    if (dir.Spans())
        return add(LintCheck::NotADeviceCab,
                   "continues from or into another cabinet; the device installs one cabinet on its own");

    DeviceSetupInfo d = ReadDeviceSetupInfo(cab, dir);
    switch (d.state) {
    case SetupInfoState::None:
        return add(LintCheck::NotADeviceCab,
                   "has no setup-information member (a name ending in \".000\"), so it is not a device CAB");
    case SetupInfoState::Several:
        return add(LintCheck::NotADeviceCab, "has " + std::to_string(d.count) +
                                           " setup-information members (names ending in \".000\"); a device CAB has one");
    case SetupInfoState::Undecoded:
        return add(LintCheck::CabUnchecked, "was not checked: its setup information " + d.member + " cannot be read: " + d.why,
                   true);
    case SetupInfoState::Unreadable:
        return add(LintCheck::BadSetupInfo, "setup information " + d.member + " cannot be read: " + d.why);
    case SetupInfoState::Malformed:
        return add(LintCheck::BadSetupInfo, "has setup information " + d.member + " that is malformed: " + d.why);
    case SetupInfoState::Unplannable:
        return add(LintCheck::BadSetupInfo, "has setup information " + d.member + " that the device installer cannot use: " + d.why);
    case SetupInfoState::Planned:
        break;
    }

    if (component < recipe.components.size() && recipe.components[component].acceptsDestination) {
        std::u16string destination;
        wceload::InstallPlan plan;
        std::string error;
        if (wceload::NormaliseDevicePath(ExpandDestination(recipe), 0, &destination) &&
            !wceload::PlanInstall(d.info, d.names, destination, 0, &plan, &error))
            return add(LintCheck::BadSetupInfo, "cannot be installed into package.destination '" + U8(destination) +
                                             "': " + error);
    }
    return out;
}

namespace {

class FileCab : public CabBytes {
public:
    explicit FileCab(const std::string &path) : file_(path, "CAB file") {}
    uint64_t size() const override { return file_.size(); }
    void Read(uint64_t offset, size_t n, uint8_t *out) override { std::memcpy(out, file_.data() + offset, n); }

private:
    MappedFile file_;
};

// A component's CAB, decoded chunk by chunk as it is read.  Chunks are
// zlib streams of their own, so any one can be decoded alone; their decoded
// lengths are learnt as they are reached.
class PackageCab : public CabBytes {
public:
    PackageCab(const uint8_t *file, const ComponentInfo &c, size_t index)
        : file_(file), c_(c), label_(c.Label(index)), starts_{0} {}
    uint64_t size() const override { return c_.unpackedSize; }

    void Read(uint64_t offset, size_t n, uint8_t *out) override
    {
        while (n > 0) {
            size_t k = ChunkAt(offset);
            const std::vector<uint8_t> &data = Chunk(k);
            uint64_t within = offset - starts_[k];
            size_t take = size_t(std::min<uint64_t>(n, data.size() - within));
            std::memcpy(out, data.data() + within, take);
            out += take, offset += take, n -= take;
        }
    }

private:
    // The chunk holding decoded byte `offset`.
    size_t ChunkAt(uint64_t offset)
    {
        size_t k = size_t(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
        while (k + 1 == starts_.size()) {   // not known to end before `offset`: learn its length
            uint64_t end = starts_[k] + Chunk(k).size();
            if (offset < end)
                return k;
            if (k + 1 >= c_.chunks.size())
                throw Damage(c_.recordOffset + 6, label_,
                             "UnpackedSize says " + std::to_string(c_.unpackedSize) + " bytes but the chunks decode to " +
                                 std::to_string(end));
            starts_.push_back(end);
            ++k;
        }
        return k;
    }

    const std::vector<uint8_t> &Chunk(size_t k)
    {
        if (k == cachedIndex_)
            return cached_;
        const ChunkInfo &b = c_.chunks[k];
        const uint8_t *stored = file_ + b.offset + (b.compressed ? BLOCK_PREFIX_COMPRESSED : BLOCK_PREFIX_STORED);
        if (!ProgramChunk(stored, b, cached_))
            throw Damage(b.offset, label_ + ", chunk " + std::to_string(k + 1), "zlib stream damaged");
        cachedIndex_ = k;
        return cached_;
    }

    const uint8_t *file_;
    const ComponentInfo &c_;
    std::string label_;
    std::vector<uint64_t> starts_;   // decoded start of each chunk known so far
    size_t cachedIndex_ = SIZE_MAX;
    std::vector<uint8_t> cached_;
};

}  // namespace

Diagnostic AsDiagnostic(const Finding &f)
{
    return {f.file, f.line, f.col, f.note ? Severity::Note : Severity::Warning, f.check, f.message};
}

void RenameFindingItem(Finding &f, const std::string &item)
{
    for (size_t at = 0; (at = f.message.find(f.item, at)) != std::string::npos; at += item.size())
        f.message.replace(at, f.item.size(), item);
    f.item = item;
}

namespace {

// A language's findings about its own texts, named "texts.<tag>.<name>".
void LintLanguage(const Manifest &m, const ManifestLanguage &lang, std::vector<Finding> &out)
{
    PackageRecipe recipe = RecipeForLanguage(m, lang.tag);
    std::vector<Finding> found = LintSpec(recipe, recipe.pageFlags);
    std::vector<Finding> fit = TextFitFindings(m, recipe);
    found.insert(found.end(), fit.begin(), fit.end());
    for (Finding f : found) {
        size_t i = 0;
        while (i < TextNames().size() && f.item != "texts." + TextNames()[i])
            ++i;
        if (i == TextNames().size() || !lang.given[i])
            continue;   // not its own text: the default texts' findings say it
        RenameFindingItem(f, "texts." + lang.tag + "." + TextNames()[i]);
        out.push_back(f);
    }
}

}  // namespace

std::vector<Finding> LintManifest(const Manifest &m)
{
    std::vector<Finding> out = LintSpec(m.recipe, m.recipe.pageFlags);
    std::vector<Finding> fit = TextFitFindings(m, m.recipe);
    out.insert(out.end(), fit.begin(), fit.end());
    for (const auto &lang : m.languages)
        LintLanguage(m, lang, out);
    for (size_t i = 0; i < m.components.size(); ++i) {
        std::string item = ComponentItem(m.recipe, i);
        const std::string &path = m.components[i].cabPath;
        std::string label = item;
        try {
            CheckCabFile(path, label);
        } catch (const Failure &e) {
            if (e.code != ExitBadInput)   // missing or unreadable: bad input, as for build
                throw DiagnosticFailure(e.code, {m.path, m.components[i].cab.line, m.components[i].cab.col,
                                                 Severity::Error, "", e.what()});
            std::string why = e.what();
            std::string suffix = " [" + label + "]";
            if (why.size() > suffix.size() && why.compare(why.size() - suffix.size(), suffix.size(), suffix) == 0)
                why.resize(why.size() - suffix.size());
            out.push_back({LintCheckName(LintCheck::NotACab), item, item + ": " + why, false, m.path, m.components[i].cab.line,
                           m.components[i].cab.col});
            continue;
        }
        FileCab cab(path);
        for (Finding f : LintCab(cab, item, m.components[i].cabAsWritten, m.recipe, i)) {
            f.line = m.components[i].cab.line, f.col = m.components[i].cab.col;   // about the CAB: at its name
            out.push_back(f);
        }
    }
    std::vector<Finding> kept;
    for (Finding &f : out) {
        if (std::find(m.lintDisabled.begin(), m.lintDisabled.end(), f.check) != m.lintDisabled.end())
            continue;
        // A text that is not written: the page that needs it is.
        bool unwritten = f.item.rfind("texts.", 0) == 0 && !m.places.count(f.item);
        SourcePlace at = m.PlaceOf(unwritten ? "package.pages" : f.item);
        for (size_t i = 0; i < m.components.size(); ++i)
            if (f.item == ComponentItem(m.recipe, i))
                at = f.line ? SourcePlace{f.line, f.col} : m.PlaceOf("component " + std::to_string(i + 1));
        f.file = m.path;
        f.line = at.line;
        f.col = at.col;
        kept.push_back(std::move(f));
    }
    return kept;
}

std::vector<Finding> LintPackage(const uint8_t *data, uint64_t size)
{
    PackageInfo p = ReadPackage(data, size, ReadDepth::Walk, nullptr, true);
    PackageRecipe recipe;
    recipe.softwareName = p.softwareName;
    recipe.companyName = p.companyName;
    recipe.destination = p.destination;
    recipe.useDefaultLocation = p.useDefaultLocation;
    recipe.requireInstallArgument = p.requireInstallArgument;
    recipe.pageFlags = p.storedPageFlags;
    recipe.variables = p.variables;
    for (const auto &c : p.components) {
        ComponentRecipe cs;
        cs.name = c.name;
        cs.acceptsDestination = c.acceptsDestination != 0;
        cs.selected = c.selected != 0;
        recipe.components.push_back(cs);
    }
    for (const auto &t : p.texts)
        recipe.texts.push_back(t.text);

    std::vector<Finding> out = LintSpec(recipe, p.storedPageFlags);
    PeHeaders pe;
    std::string why;
    if (!ReadPeHeaders(data, p.headerOffset, pe, why) || !IsDeviceProgram(pe))
        out.push_back({LintCheckName(LintCheck::DesktopStub), "setup program",
                       "the setup program is " + DescribeStub(data, p.headerOffset) + ", not " + DeviceProgramWanted +
                           "; the package will not run on the device"});
    for (size_t i = 0; i < p.components.size(); ++i) {
        PackageCab cab(data, p.components[i], i);
        auto found = LintCab(cab, ComponentItem(recipe, i), "", recipe, i);
        out.insert(out.end(), found.begin(), found.end());
    }
    auto fit = TextFitFindings(p, data, size);
    out.insert(out.end(), fit.begin(), fit.end());
    return out;
}

bool LooksLikePackage(const uint8_t *data, uint64_t size)
{
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z')
        return true;
    return size >= TRAILER_SIZE && std::memcmp(data + size - TRAILER_MAGIC_SIZE, TRAILER_MAGIC, TRAILER_MAGIC_SIZE) == 0;
}

}  // namespace velkor
