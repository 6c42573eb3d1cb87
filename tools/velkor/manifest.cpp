// manifest.cpp -- reads the TOML manifest into a PackageRecipe.  Unknown keys
// are errors, not ignored, so a misspelt key cannot silently fall back to a
// default.  The CAB files are only located here, not read.
#include "manifest.h"

#include "errors.h"
#include "files.h"
#include "format.h"

#include <cstring>
#include <memory>
#include "tomlpp.h"

namespace velkor {

namespace {

// Longest text we store, in UTF-16 code units: plenty for an agreement,
// and it keeps a wrong file (a CAB named as the agreement) from going in.
const size_t MaxTextUnits = 1 << 20;

const char *const DefaultDestination = "\\Program Files\\%SoftwareName%";

struct Reader {
    std::string file;   // as given on the command line, for messages
    std::string folder;
    Manifest *out;

    [[noreturn]] void Fail(const toml::node &at, const std::string &key, const std::string &what) const
    {
        Fail(at.source().begin.line, key, what);
    }

    [[noreturn]] void Fail(unsigned line, const std::string &key, const std::string &what) const
    {
        std::string where = file + (line ? ":" + std::to_string(line) : std::string());
        throw Failure(ExitBadManifest, where + ": " + key + ": " + what);
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
                unsigned line = key.source().begin.line ? key.source().begin.line : value.source().begin.line;
                Fail(line, prefix + std::string(key.str()), "unknown key (expected one of: " + list + ")");
            }
        }
    }

    const toml::table &Table(const toml::node &n, const std::string &key) const
    {
        if (!n.is_table())
            Fail(n, key, "expected a table, found " + TypeName(n));
        return *n.as_table();
    }

    std::string String(const toml::node &n, const std::string &key) const
    {
        if (!n.is_string())
            Fail(n, key, "expected a string, found " + TypeName(n));
        std::string s = n.as_string()->get();
        if (s.find('\0') != std::string::npos)
            Fail(n, key, "contains a NUL character, which would end the text early");
        return s;
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
            Fail(t.source().begin.line, prefix + key, "missing (this key is required)");
        return *n;
    }

    std::u16string TextFile(const std::string &name, const toml::node &n, const std::string &key) const;
    void ReadPackage(const toml::table &t);
    void ReadVariables(const toml::node &n);
    void ReadComponents(const toml::node &n);
    void ReadTexts(const toml::node &n);
};

// Strict UTF-8 to UTF-16: no overlong forms, surrogates or values past
// U+10FFFF.  Returns the offset of the first bad byte, or npos.
size_t DecodeUtf8(const std::string &s, std::u16string &out)
{
    size_t i = 0;
    while (i < s.size()) {
        uint8_t b = uint8_t(s[i]);
        uint32_t c;
        size_t extra;
        if (b < 0x80) {
            c = b, extra = 0;
        } else if (b >= 0xC2 && b < 0xE0) {
            c = b & 0x1F, extra = 1;
        } else if (b >= 0xE0 && b < 0xF0) {
            c = b & 0x0F, extra = 2;
        } else if (b >= 0xF0 && b < 0xF5) {
            c = b & 0x07, extra = 3;
        } else {
            return i;
        }
        if (extra > s.size() - i - 1)
            return i;
        for (size_t k = 1; k <= extra; ++k) {
            uint8_t cont = uint8_t(s[i + k]);
            if ((cont & 0xC0) != 0x80)
                return i;
            c = (c << 6) | (cont & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            return i;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
        i += extra + 1;
    }
    return std::string::npos;
}

std::u16string Reader::TextFile(const std::string &name, const toml::node &n, const std::string &key) const
{
    std::string path = ResolvePath(folder, name);
    std::unique_ptr<MappedFile> f;
    try {
        f = std::make_unique<MappedFile>(path, "text file");
    } catch (const Failure &e) {
        throw Failure(e.code, std::string(e.what()) + " [" + key + ", " + file + ":" +
                                  std::to_string(n.source().begin.line) + "]");
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
        mc.cabAsWritten = String(Required(t, "cab", "component."), "component.cab");
        if (mc.cabAsWritten.empty())
            Fail(*t.get("cab"), "component.cab", "is empty");
        mc.cabPath = ResolvePath(folder, mc.cabAsWritten);
        mc.line = int(t.source().begin.line);
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
    const toml::table &t = Table(n, "texts");
    const auto &names = TextNames();
    for (auto &&[key, value] : t) {
        std::string name(key.str());
        std::string full = "texts." + name;
        size_t i = 0;
        while (i < names.size() && names[i] != name)
            ++i;
        if (i == names.size())
            Fail(key.source().begin.line ? key.source().begin.line : value.source().begin.line, full,
                 "unknown text (README.md lists the thirty text names)");
        std::u16string text;
        if (value.is_table()) {
            const toml::table &ft = *value.as_table();
            OnlyKeys(ft, full + ".", {"file"});
            text = TextFile(String(Required(ft, "file", full + "."), full + ".file"), value, full);
        } else if (value.is_string()) {
            text = Text(value, full);
        } else {
            Fail(value, full, "expected a string or { file = \"...\" }, found " + TypeName(value));
        }
        text = NormalizeLineBreaks(text);
        if (text.size() > MaxTextUnits)
            Fail(value, full, "is longer than " + std::to_string(MaxTextUnits) + " characters");
        out->recipe.texts[i] = text;
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
    static const std::vector<std::string> names = {"welcome", "agreement", "components",
                                                   "location", "destination", "ready"};
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

Manifest LoadManifest(const std::string &path)
{
    MappedFile file(path, "manifest");
    return ParseManifest(std::string_view(reinterpret_cast<const char *>(file.data()), size_t(file.size())), path);
}

Manifest ParseManifest(std::string_view doc, const std::string &path)
{
    Manifest m;
    m.path = path;
    m.recipe.texts = DefaultTexts();
    Reader r{path, ParentDirectory(path), &m};

    toml::table root;
    try {
        root = toml::parse(doc, path);
    } catch (const toml::parse_error &e) {
        std::string msg(e.description());
        throw Failure(ExitBadManifest, path + ":" + std::to_string(e.source().begin.line) + ":" +
                                           std::to_string(e.source().begin.column) + ": " + msg);
    }

    r.OnlyKeys(root, "", {"package", "variable", "component", "texts"});
    const toml::node *package = root.get("package");
    if (!package)
        r.Fail(1, "package", "missing (the manifest needs a [package] table)");
    r.ReadPackage(r.Table(*package, "package"));
    if (const toml::node *n = root.get("variable"))
        r.ReadVariables(*n);
    const toml::node *components = root.get("component");
    if (!components)
        r.Fail(1, "component", "missing (the manifest needs at least one [[component]])");
    r.ReadComponents(*components);
    if (m.recipe.components.empty())
        r.Fail(*components, "component", "is empty (the manifest needs at least one [[component]])");
    if (const toml::node *n = root.get("texts"))
        r.ReadTexts(*n);

    return m;
}

}  // namespace velkor
