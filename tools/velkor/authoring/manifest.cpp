// manifest.cpp -- reads the TOML manifest into a PackageRecipe.  Unknown keys
// are errors, not ignored, so a misspelt key cannot silently fall back to a
// default.  The CAB files are only located here, not read.
#include "manifest.h"

#include "diag.h"
#include "errors.h"
#include "files.h"
#include "format.h"
#include "pagetable.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include "tomlpp.h"

namespace velkor {

namespace {

// Longest text we store, in UTF-16 code units: plenty for an agreement,
// and it keeps a wrong file (a CAB named as the agreement) from going in.
const size_t MaxTextUnits = 1 << 20;

const char *const DefaultDestination = "\\Program Files\\%SoftwareName%";

SourcePlace PlaceOf(const toml::source_region &r) { return {r.begin.line, r.begin.column}; }

bool IsLanguageTag(const std::string &s)
{
    // "de", "pt-BR", "zh-Hant": it also names a file, so nothing else.
    size_t i = 0;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
        ++i;
    if (i < 2 || i > 3)
        return false;
    while (i < s.size()) {
        if (s[i++] != '-')
            return false;
        size_t n = 0;
        while (i < s.size() && std::isalnum(static_cast<unsigned char>(s[i])))
            ++i, ++n;
        if (n < 1 || n > 8)
            return false;
    }
    return true;
}

struct Reader {
    std::string file;   // as given on the command line, for messages
    std::string folder;
    Manifest *out;
    std::string_view doc;
    const Defines *defines;

    [[noreturn]] void Fail(const toml::node &at, const std::string &key, const std::string &what) const
    {
        Fail(PlaceOf(at.source()), key, what);
    }

    [[noreturn]] void Fail(SourcePlace at, const std::string &key, const std::string &what) const
    {
        Diagnostic d;
        d.file = file;
        d.line = at.line;
        d.col = at.line ? std::max(1u, at.col) : 0;
        d.message = key + ": " + what;
        throw DiagnosticFailure(ExitBadManifest, d);
    }

    static std::string TypeName(const toml::node &n)
    {
        switch (n.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a number";
        case toml::node_type::boolean: return "true/false";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
        }
    }

    static SourcePlace KeyPlace(const toml::key &key, const toml::node &value)
    {
        return key.source().begin.line ? PlaceOf(key.source()) : PlaceOf(value.source());
    }

    // Every key of `table` must be one of `allowed`.
    void OnlyKeys(const toml::table &table, const std::string &prefix, std::initializer_list<const char *> allowed) const
    {
        for (auto &&[key, value] : table) {
            bool known = false;
            for (const char *a : allowed)
                known = known || key.str() == a;
            if (!known) {
                std::string list;
                for (const char *a : allowed)
                    list += std::string(list.empty() ? "" : ", ") + a;
                Fail(KeyPlace(key, value), prefix + std::string(key.str()), "unknown key (expected one of: " + list + ")");
            }
            out->places[prefix + std::string(key.str())] = KeyPlace(key, value);
        }
    }

    const toml::table &Table(const toml::node &n, const std::string &key) const
    {
        if (!n.is_table())
            Fail(n, key, "expected a table, found " + TypeName(n));
        return *n.as_table();
    }

    // Where in the manifest the first "${name}" at or after `from` stands;
    // `from` where it cannot be found (an escape sequence wrote it).
    SourcePlace Find(const std::string &token, SourcePlace from) const
    {
        size_t at = 0;
        for (unsigned line = 1; line < from.line; ++line) {
            size_t nl = doc.find('\n', at);
            if (nl == std::string_view::npos)
                return from;
            at = nl + 1;
        }
        for (unsigned c = 1; c < from.col && at < doc.size(); ++c) {
            ++at;
            while (at < doc.size() && (static_cast<unsigned char>(doc[at]) & 0xC0) == 0x80)
                ++at;
        }
        size_t hit = doc.find(token, at);
        if (hit == std::string_view::npos)
            return from;
        SourcePlace p{1, 1};
        for (size_t i = 0; i < hit; ++i) {
            if (doc[i] == '\n')
                p.line++, p.col = 1;
            else if ((static_cast<unsigned char>(doc[i]) & 0xC0) != 0x80)
                p.col++;
        }
        return p;
    }

    // ${NAME} replaced by its -D value; "$${" stands for a literal "${".
    std::string Expand(const std::string &s, const toml::node &n, const std::string &key) const
    {
        std::string outS;
        size_t i = 0;
        while (i < s.size()) {
            size_t dollar = s.find('$', i);
            if (dollar == std::string::npos) {
                outS.append(s, i, std::string::npos);
                break;
            }
            outS.append(s, i, dollar - i);
            if (s.compare(dollar, 3, "$${") == 0) {
                outS += "${";
                i = dollar + 3;
                continue;
            }
            size_t close = s.compare(dollar, 2, "${") == 0 ? s.find('}', dollar + 2) : std::string::npos;
            std::string name = close == std::string::npos ? "" : s.substr(dollar + 2, close - dollar - 2);
            if (!IsDefineName(name)) {
                outS += '$';   // not a ${NAME}: a dollar like any other character
                i = dollar + 1;
                continue;
            }
            auto it = defines->find(name);
            if (it == defines->end())
                Fail(Find("${" + name + "}", PlaceOf(n.source())), key,
                     "${" + name + "} is not defined (give it with -D " + name + "=VALUE)");
            outS += it->second;
            i = close + 1;
        }
        return outS;
    }

    std::string String(const toml::node &n, const std::string &key) const
    {
        if (!n.is_string())
            Fail(n, key, "expected a string, found " + TypeName(n));
        std::string s = n.as_string()->get();
        if (s.find('\0') != std::string::npos)
            Fail(n, key, "contains a NUL character, which would end the text early");
        return Expand(s, n, key);
    }

    std::u16string Text(const toml::node &n, const std::string &key) const
    {
        return Utf8ToUtf16(String(n, key));
    }

    bool Bool(const toml::node &n, const std::string &key) const
    {
        if (!n.is_boolean())
            Fail(n, key, "expected true or false, found " + TypeName(n));
        return n.as_boolean()->get();
    }

    const toml::node &Required(const toml::table &t, const char *key, const std::string &prefix) const
    {
        const toml::node *n = t.get(key);
        if (!n)
            Fail(PlaceOf(t.source()), prefix + key, "missing (this key is required)");
        return *n;
    }

    std::u16string TextFile(const std::string &name, const toml::node &n, const std::string &key) const;
    void ReadPackage(const toml::table &t);
    void ReadVariables(const toml::node &n);
    void ReadComponents(const toml::node &n);
    void ReadTexts(const toml::node &n);
    void ReadTextTable(const toml::table &t, const std::string &prefix, std::vector<std::u16string> &texts,
                       std::vector<bool> *given, bool languagesAllowed);
    void ReadLint(const toml::node &n);
};

std::u16string Reader::TextFile(const std::string &name, const toml::node &n, const std::string &key) const
{
    std::string path = ResolvePath(folder, name);
    std::unique_ptr<MappedFile> f;
    try {
        f = std::make_unique<MappedFile>(path, "text file");
    } catch (const Failure &e) {
        Diagnostic d{file, n.source().begin.line, n.source().begin.column, Severity::Error, "", std::string(e.what()) + " [" + key + "]"};
        throw DiagnosticFailure(e.code, d);
    }
    std::string bytes(reinterpret_cast<const char *>(f->data()), size_t(f->size()));
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::u16string text;
    size_t bad = DecodeUtf8(bytes, text);
    if (bad != std::string::npos)
        Fail(n, key, "text file '" + path + "' is not UTF-8 (bad byte at offset " + std::to_string(bad) + ")");
    if (text.find(u'\0') != std::u16string::npos)
        Fail(n, key, "text file '" + path + "' contains a NUL character");
    return text;
}

void Reader::ReadPackage(const toml::table &t)
{
    OnlyKeys(t, "package.", {"name", "company", "destination", "use_default_location", "require_install_argument", "pages"});
    PackageRecipe &recipe = out->recipe;
    recipe.softwareName = Text(Required(t, "name", "package."), "package.name");
    recipe.companyName = Text(Required(t, "company", "package."), "package.company");
    recipe.destination = Utf8ToUtf16(DefaultDestination);
    if (const toml::node *n = t.get("destination"))
        recipe.destination = Text(*n, "package.destination");
    recipe.useDefaultLocation = 0;
    if (const toml::node *n = t.get("use_default_location"))
        recipe.useDefaultLocation = Bool(*n, "package.use_default_location") ? 1 : 0;
    recipe.requireInstallArgument = 0;
    if (const toml::node *n = t.get("require_install_argument"))
        recipe.requireInstallArgument = Bool(*n, "package.require_install_argument") ? 1 : 0;

    const toml::node &pages = Required(t, "pages", "package.");
    if (!pages.is_array())
        Fail(pages, "package.pages", "expected an array of page names, found " + TypeName(pages));
    uint8_t flags = 0;
    for (const toml::node &p : *pages.as_array()) {
        std::string name = String(p, "package.pages");
        const auto &names = PageNames();
        size_t i = 0;
        while (i < names.size() && names[i] != name)
            ++i;
        if (i == names.size())
            Fail(p, "package.pages",
                 "unknown page '" + name + "' (pages: welcome, agreement, components, location, destination, ready)");
        if (flags & (1u << i))
            Fail(p, "package.pages", "page '" + name + "' is listed twice");
        flags |= uint8_t(1u << i);
    }
    recipe.pageFlags = flags;
}

void Reader::ReadVariables(const toml::node &n)
{
    if (!n.is_array_of_tables())
        Fail(n, "variable", "expected [[variable]] tables, found " + TypeName(n));
    for (const toml::node &v : *n.as_array()) {
        const toml::table &t = *v.as_table();
        OnlyKeys(t, "variable.", {"name", "value"});
        std::u16string name = Text(Required(t, "name", "variable."), "variable.name");
        if (name.empty())
            Fail(*t.get("name"), "variable.name", "is empty (a variable's name is the text it replaces, e.g. \"%Version%\")");
        std::u16string value = Text(Required(t, "value", "variable."), "variable.value");
        out->recipe.variables.emplace_back(name, value);
    }
}

void Reader::ReadComponents(const toml::node &n)
{
    if (!n.is_array_of_tables())
        Fail(n, "component", "expected [[component]] tables, found " + TypeName(n));
    for (const toml::node &c : *n.as_array()) {
        const toml::table &t = *c.as_table();
        OnlyKeys(t, "component.", {"name", "cab", "accepts_destination", "selected"});
        ComponentRecipe recipe;
        recipe.name = Text(Required(t, "name", "component."), "component.name");
        if (recipe.name.empty())
            Fail(*t.get("name"), "component.name", "is empty");
        ManifestComponent mc;
        const toml::node &cab = Required(t, "cab", "component.");
        mc.cabAsWritten = String(cab, "component.cab");
        mc.cab = PlaceOf(cab.source());
        if (mc.cabAsWritten.empty())
            Fail(*t.get("cab"), "component.cab", "is empty");
        mc.cabPath = ResolvePath(folder, mc.cabAsWritten);
        mc.line = int(t.source().begin.line);
        out->places["component " + std::to_string(out->components.size() + 1)] = PlaceOf(t.source());
        recipe.acceptsDestination = true;
        if (const toml::node *f = t.get("accepts_destination"))
            recipe.acceptsDestination = Bool(*f, "component.accepts_destination");
        recipe.selected = true;
        if (const toml::node *f = t.get("selected"))
            recipe.selected = Bool(*f, "component.selected");
        out->recipe.components.push_back(recipe);
        out->components.push_back(mc);
    }
}

void Reader::ReadTexts(const toml::node &n)
{
    ReadTextTable(Table(n, "texts"), "texts.", out->recipe.texts, nullptr, true);
}

// The texts of one table; the default table may also hold a [texts.<tag>]
// table per language.
void Reader::ReadTextTable(const toml::table &t, const std::string &prefix, std::vector<std::u16string> &texts,
                           std::vector<bool> *given, bool languagesAllowed)
{
    const auto &names = TextNames();
    for (auto &&[key, value] : t) {
        std::string name(key.str());
        std::string full = prefix + name;
        size_t i = 0;
        while (i < names.size() && names[i] != name)
            ++i;
        if (i == names.size() && languagesAllowed && value.is_table() && IsLanguageTag(name)) {
            ManifestLanguage lang;
            lang.tag = name;
            lang.texts = DefaultTexts();
            lang.given.assign(lang.texts.size(), false);
            lang.place = KeyPlace(key, value);
            out->places[full] = lang.place;
            ReadTextTable(*value.as_table(), full + ".", lang.texts, &lang.given, false);
            out->languages.push_back(std::move(lang));
            continue;
        }
        if (i == names.size())
            Fail(KeyPlace(key, value), full,
                 languagesAllowed ? "unknown text (README.md lists the thirty text names; a language's texts go in "
                                    "a [texts.<language>] table)"
                                  : "unknown text (README.md lists the thirty text names)");
        out->places[full] = KeyPlace(key, value);
        std::u16string text;
        if (value.is_table()) {
            const toml::table &ft = *value.as_table();
            OnlyKeys(ft, full + ".", {"file"});
            const toml::node &fileNode = Required(ft, "file", full + ".");
            text = TextFile(String(fileNode, full + ".file"), fileNode, full);
        } else if (value.is_string()) {
            text = Text(value, full);
        } else {
            Fail(value, full, "expected a string or { file = \"...\" }, found " + TypeName(value));
        }
        text = NormalizeLineBreaks(text);
        if (text.size() > MaxTextUnits)
            Fail(value, full, "is longer than " + std::to_string(MaxTextUnits) + " characters");
        texts[i] = text;
        if (given)
            (*given)[i] = true;
    }
}

void Reader::ReadLint(const toml::node &n)
{
    const toml::table &t = Table(n, "lint");
    OnlyKeys(t, "lint.", {"disable"});
    const toml::node *d = t.get("disable");
    if (!d)
        return;
    if (!d->is_array())
        Fail(*d, "lint.disable", "expected an array of check names, found " + TypeName(*d));
    const auto &checks = LintCheckNames();
    for (const toml::node &c : *d->as_array()) {
        std::string name = String(c, "lint.disable");
        if (std::find(checks.begin(), checks.end(), name) == checks.end()) {
            std::string list;
            for (const auto &k : checks)
                list += (list.empty() ? "" : ", ") + k;
            Fail(c, "lint.disable", "unknown check '" + name + "' (checks: " + list + ")");
        }
        out->lintDisabled.push_back(name);
    }
}

}  // namespace

const std::vector<std::string> &TextNames()
{
    static const std::vector<std::string> names = {
        "window_title", "next_button", "install_button", "back_button", "cancel_button",
        "welcome_title", "welcome_body", "agreement_title", "agreement_body", "accept_choice",
        "decline_choice", "location_title", "location_body", "default_location_choice",
        "choose_folder_choice", "destination_title", "space_required", "components_title",
        "components_body", "ready_title", "ready_body", "progress_title", "progress_label",
        "no_component_selected", "not_enough_space", "install_incomplete", "cannot_install",
        "package_corrupted", "installer_failed", "confirm_cancel",
    };
    return names;
}

const std::vector<std::string> &PageNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const PageTemplate &p : PageTemplates)
            v.push_back(p.Name);
        return v;
    }();
    return names;
}

std::string PageNameOf(uint8_t flag, const std::string &other)
{
    for (size_t i = 0; i < PageNames().size(); ++i)
        if (flag == (1u << i))
            return PageNames()[i];
    return other;
}

std::vector<std::string> PageNamesOf(uint8_t flags)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < PageNames().size(); ++i)
        if (flags & (1u << i))
            names.push_back(PageNames()[i]);
    return names;
}

std::u16string NormalizeLineBreaks(const std::u16string &s)
{
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n')
            continue;   // the LF that follows writes the pair
        if (s[i] == u'\n' || s[i] == u'\r') {
            out += u"\r\n";
            continue;
        }
        out += s[i];
    }
    return out;
}

bool IsDefineName(const std::string &name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

SourcePlace Manifest::PlaceOf(const std::string &item) const
{
    for (std::string key = item;;) {
        auto it = places.find(key);
        if (it != places.end())
            return it->second;
        size_t dot = key.rfind('.');
        if (dot == std::string::npos)
            return {1, 1};
        key.resize(dot);
    }
}

const ManifestLanguage *Manifest::Language(const std::string &tag) const
{
    for (const auto &l : languages)
        if (l.tag == tag)
            return &l;
    return nullptr;
}

PackageRecipe RecipeForLanguage(const Manifest &m, const std::string &tag)
{
    PackageRecipe r = m.recipe;
    if (tag.empty())
        return r;
    const ManifestLanguage *l = m.Language(tag);
    if (!l) {
        std::string list;
        for (const auto &x : m.languages)
            list += (list.empty() ? "" : ", ") + x.tag;
        throw Failure(ExitUsage, "--lang " + tag + ": " + m.path + " has no [texts." + tag + "] table" +
                                     (list.empty() ? " (it has no languages besides its default texts)"
                                                   : " (its languages: " + list + ")"));
    }
    // Texts a language leaves out are the manifest's default texts, not the
    // built-in ones.
    for (size_t i = 0; i < l->texts.size() && i < r.texts.size(); ++i)
        if (l->given[i])
            r.texts[i] = l->texts[i];
    return r;
}

Manifest LoadManifest(const std::string &path, const Defines &defines)
{
    MappedFile file(path, "manifest");
    return ParseManifest(std::string_view(reinterpret_cast<const char *>(file.data()), size_t(file.size())), path,
                         defines);
}

Manifest ParseManifest(std::string_view doc, const std::string &path, const Defines &defines)
{
    Manifest m;
    m.path = path;
    m.recipe.texts = DefaultTexts();
    Reader r{path, ParentDirectory(path), &m, doc, &defines};

    toml::table root;
    try {
        root = toml::parse(doc, path);
    } catch (const toml::parse_error &e) {
        Diagnostic d{path, e.source().begin.line, e.source().begin.column, Severity::Error, "",
                     std::string(e.description())};
        if (!d.line)
            d.line = 1;
        throw DiagnosticFailure(ExitBadManifest, d);
    }

    r.OnlyKeys(root, "", {"package", "variable", "component", "texts", "lint"});
    const toml::node *package = root.get("package");
    if (!package)
        r.Fail(SourcePlace{1, 1}, "package", "missing (the manifest needs a [package] table)");
    r.ReadPackage(r.Table(*package, "package"));
    if (const toml::node *n = root.get("variable"))
        r.ReadVariables(*n);
    const toml::node *components = root.get("component");
    if (!components)
        r.Fail(SourcePlace{1, 1}, "component", "missing (the manifest needs at least one [[component]])");
    r.ReadComponents(*components);
    if (m.recipe.components.empty())
        r.Fail(*components, "component", "is empty (the manifest needs at least one [[component]])");
    if (const toml::node *n = root.get("texts"))
        r.ReadTexts(*n);
    if (const toml::node *n = root.get("lint"))
        r.ReadLint(*n);

    return m;
}

void AddDefine(Defines &defines, const std::string &arg)
{
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    if (eq == std::string::npos || !IsDefineName(name))
        throw Failure(ExitUsage, "-D " + arg + ": expected NAME=VALUE, NAME a letter or '_' then letters, digits "
                                               "or '_'");
    defines[name] = arg.substr(eq + 1);
}

}  // namespace velkor
