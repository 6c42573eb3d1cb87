// init.cpp -- `velkor init`: a first manifest from the device CABs an author
// already has.  Each CAB's setup information (its .000 member) gives the
// application's name, its provider, the folder it installs into and how
// many files it holds; the manifest gets one component per CAB, the pages
// most packages want and every text at its default, each with a comment
// saying where it shows, so that it builds as it stands and is edited from
// there.
//
// The CABs are read with the same directory reader and setup-information
// parser as lint, so what init accepts, lint and the installer accept too.
#include "command.h"

#include "cabdir.h"
#include "errors.h"
#include "files.h"
#include "manifest.h"
#include "memcab.h"
#include "pkgwrite.h"

#include "ce000.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace velkor {

namespace fs = std::filesystem;

namespace {

// What init learns from one CAB.
struct CabSummary {
    std::string file;           // as written into the manifest
    bool device = false;        // has setup information
    std::string appName;        // UTF-8; the file's stem for a plain CAB
    std::string provider;       // UTF-8; empty for a plain CAB
    std::string installFolder;  // device path, UTF-8; empty for a plain CAB
    size_t fileCount = 0;       // files the setup information installs, or CAB members
    std::string note;           // why a CAB is taken as plain, when it has a .000 that was not read
};

// Reads one CAB.  Throws Failure: ExitCannotRead (missing, unreadable),
// ExitBadInput (not a cabinet, spans cabinets, several .000 members, a
// .000 that is malformed or that the device installer could not plan).
CabSummary SummariseCab(const std::string &path);

// The manifest text for these CABs (at least one), in this order.
std::string InitManifest(const std::vector<CabSummary> &cabs);

struct InitOptions {
    std::vector<std::string> cabs;
    std::string output = "manifest.toml";
    bool force = false;
};

// Where each text shows, for the comment above it (text-table order).
const char *const TextPlaces[] = {
    "the title of the wizard and the caption of Setup's messages",
    "the Next button of every page but the last",
    "the button of the last page, which starts the installation",
    "the Back button",
    "the Cancel button of the pages and of the progress window",
    "the heading of the welcome page",
    "the welcome page's text (HTML)",
    "the heading of the agreement page",
    "the agreement itself, plain text; { file = \"license.txt\" } reads it from a UTF-8 file",
    "agreement page: the choice that accepts",
    "agreement page: the choice that declines",
    "the heading of the location page",
    "the location page's text (HTML)",
    "location page: the choice that lets the device's installer pick the folder",
    "location page: the choice that leads to the destination page",
    "the heading of the destination page",
    "destination page: the space line; <space> becomes the size needed",
    "the heading of the components page",
    "the components page's text above the list (HTML)",
    "the heading of the ready page",
    "the ready page's text (HTML)",
    "the heading of the progress window",
    "progress window: the line above the name of the component being installed",
    "message when Next is tapped on the components page with nothing ticked",
    "message when the destination's volume has too little room",
    "message after the installation was cancelled",
    "message when Setup cannot create its temporary CAB file",
    "message when a component in the package is damaged",
    "message when the device's installer cannot be started",
    "question when Cancel is tapped while installing",
};
static_assert(sizeof TextPlaces / sizeof TextPlaces[0] == 30, "one place per text");

// A TOML string: literal ('...') when it can be, so that device paths keep
// single backslashes; basic with escapes otherwise.
std::string Toml(const std::string &s)
{
    bool literal = s.find('\'') == std::string::npos;
    for (unsigned char c : s)
        literal = literal && (c >= 0x20 || c == '\t') && c != 0x7F;
    if (literal && s.find('\\') != std::string::npos)
        return "'" + s + "'";
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

// The install folder with the parts that name the product or its maker
// replaced by the placeholders the destination accepts.
std::string WithPlaceholders(const std::string &folder, const std::string &product, const std::string &company)
{
    std::string out;
    size_t at = 0;
    while (at <= folder.size()) {
        size_t end = folder.find('\\', at);
        std::string part = folder.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!part.empty() && AsciiLower(part) == AsciiLower(product))
            part = "%SoftwareName%";
        else if (!part.empty() && !company.empty() && AsciiLower(part) == AsciiLower(company))
            part = "%CompanyName%";
        out += part;
        if (end == std::string::npos)
            break;
        out += '\\';
        at = end + 1;
    }
    return out;
}

bool UnderProgramFiles(const std::string &folder)
{
    std::string f = AsciiLower(folder);
    return f == "\\program files" || f.compare(0, 15, "\\program files\\") == 0;
}

// True when `folder` is `base` or lies inside it.  Device paths ignore
// case, and a trailing backslash changes nothing.
bool SameOrInside(const std::string &folder, const std::string &base)
{
    std::string f = AsciiLower(folder), b = AsciiLower(base);
    while (!f.empty() && f.back() == '\\')
        f.pop_back();
    while (!b.empty() && b.back() == '\\')
        b.pop_back();
    return f == b || (f.size() > b.size() && f.compare(0, b.size(), b) == 0 && f[b.size()] == '\\');
}

std::string Plural(size_t n, const char *one, const char *many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

CabSummary SummariseCab(const std::string &path)
{
    MappedFile file(path, "CAB file");
    MemoryCab cab(file.data(), file.size());
    CabSummary s;
    s.file = path;
    auto bad = [&](const std::string &why) { return Failure(ExitBadInput, path + ": " + why); };

    CabDirectory dir;
    std::string why = ReadCabDirectory(cab, &dir);
    if (!why.empty())
        throw bad("is not a cabinet that can be read: " + why);
    if (dir.Spans())
        throw bad("continues from or into another cabinet; the device installs one cabinet on its own");

    DeviceSetupInfo d = ReadDeviceSetupInfo(cab, dir);
    s.appName = fs::path(path).stem().string();
    s.fileCount = dir.members.size();
    switch (d.state) {
    case SetupInfoState::None:
        return s;
    case SetupInfoState::Several:
        throw bad("has " + std::to_string(d.count) +
                  " setup-information members (names ending in \".000\"); a device CAB has one");
    case SetupInfoState::Undecoded:
        // Compression velkor does not decode is not the CAB's fault.
        s.note = "its setup information " + d.member + " was not read (" + d.why + ")";
        return s;
    case SetupInfoState::Unreadable:
        throw bad("its setup information " + d.member + " cannot be read: " + d.why);
    case SetupInfoState::Malformed:
        throw bad("its setup information " + d.member + " is malformed: " + d.why);
    case SetupInfoState::Unplannable:
        throw bad("its setup information " + d.member + " cannot be installed by the device's installer: " + d.why);
    case SetupInfoState::Planned:
        break;
    }
    const wceload::InstallPlan &plan = d.plan;
    s.device = true;
    s.appName = Utf16ToUtf8(plan.AppName);
    s.provider = Utf16ToUtf8(plan.Provider);
    s.installFolder = Utf16ToUtf8(plan.InstallFolder);
    s.fileCount = plan.Files.size();
    return s;
}

std::string InitManifest(const std::vector<CabSummary> &cabs)
{
    const CabSummary &first = cabs.at(0);
    std::string product = first.appName, company = first.provider;
    for (const auto &c : cabs)
        if (company.empty())
            company = c.provider;
    std::string destination = "\\Program Files\\%SoftwareName%";
    if (first.device)
        destination = WithPlaceholders(first.installFolder, product, company);

    // Components whose folder a user may move are those under \Program
    // Files; folders elsewhere (My Documents, Windows) stay where they are.
    // A CAB installing neither into the first CAB's folder nor inside it is
    // another product: the user's one folder would take both products, so
    // it keeps its own.
    std::vector<bool> accepts, otherProduct;
    bool anyAccepts = false;
    for (size_t i = 0; i < cabs.size(); ++i) {
        const CabSummary &c = cabs[i];
        otherProduct.push_back(i > 0 && first.device && c.device && !SameOrInside(c.installFolder, first.installFolder));
        accepts.push_back(!c.device || (UnderProgramFiles(c.installFolder) && !otherProduct.back()));
        anyAccepts = anyAccepts || accepts.back();
    }
    std::vector<std::string> pages{"welcome"};
    if (cabs.size() > 1)
        pages.push_back("components");
    if (anyAccepts)
        pages.insert(pages.end(), {"location", "destination"});
    pages.push_back("ready");

    std::string m;
    m += "# Setup package manifest, written by velkor init from " + Plural(cabs.size(), "CAB", "CABs") + ".\n";
    m += "# Build it:  velkor build THIS_FILE -o setup.exe      (format: velkor's README)\n\n";
    m += "[package]\n";
    m += company.empty() ? "# %SoftwareName% and %CompanyName%: the CAB names no provider, so fill in the company\n"
                         : "# %SoftwareName% and %CompanyName%, from the first CAB\n";
    m += "name = " + Toml(product) + "\n";
    m += "company = " + Toml(company) + "\n";
    m += "# The folder offered to the user; only %SoftwareName% and %CompanyName% are filled in here.\n";
    m += "destination = " + Toml(destination) + "\n";
    m += "# true: the device's installer picks the folder; the location page lets the user decide.\n";
    m += "use_default_location = false\n";
    m += "# true: Setup runs only when started with the argument \"install\".\n";
    m += "require_install_argument = false\n";
    m += "# Pages in the order shown: welcome, agreement, components, location, destination, ready.\n";
    m += "# For a licence, add \"agreement\" and set texts.agreement_body below.\n";
    m += "pages = [";
    for (size_t i = 0; i < pages.size(); ++i)
        m += (i ? ", \"" : "\"") + pages[i] + "\"";
    m += "]\n";

    m += "\n# One component per CAB, installed in this order.  name: shown to the user as written;\n";
    m += "# accepts_destination: the user's folder applies to it; selected: ticked when the wizard starts.\n";
    std::set<std::string> taken;
    for (size_t i = 0; i < cabs.size(); ++i) {
        const CabSummary &c = cabs[i];
        std::string name = c.appName.empty() ? "Component " + std::to_string(i + 1) : c.appName;
        for (int n = 2; taken.count(AsciiLower(name)); ++n)
            name = (c.appName.empty() ? "Component" : c.appName) + " (" + std::to_string(n) + ")";
        taken.insert(AsciiLower(name));
        m += "\n";
        if (c.device) {
            m += "# " + c.appName + (c.provider.empty() ? "" : " by " + c.provider) + ": " +
                 Plural(c.fileCount, "file", "files") + " into " + c.installFolder + "\n";
            if (otherProduct[i] && UnderProgramFiles(c.installFolder))
                m += "# Its folder is neither the first CAB's (" + first.installFolder + ") nor inside it, so it is\n"
                     "# taken as another product: it keeps its own folder whatever folder the user picks.\n";
            else if (!accepts[i])
                m += "# They stay there whatever folder the user picks.\n";
        } else {
            m += "# A plain CAB (" + Plural(c.fileCount, "file", "files") + "; " +
                 (c.note.empty() ? "no setup information" : c.note) + "): named after its file.\n";
        }
        m += "[[component]]\n";
        m += "name = " + Toml(name) + "\n";
        m += "cab = " + Toml(c.file) + "\n";
        m += std::string("accepts_destination = ") + (accepts[i] ? "true" : "false") + "\n";
        m += "selected = true\n";
    }

    m += "\n# Every text at its default.  %SoftwareName%, %CompanyName% and [[variable]] names are\n";
    m += "# filled in; line breaks are kept.\n";
    m += "[texts]\n";
    const auto defaults = DefaultTexts();
    const auto &names = TextNames();
    for (size_t i = 0; i < names.size() && i < defaults.size(); ++i) {
        m += "# " + std::string(TextPlaces[i]) + "\n";
        m += names[i] + " = " + Toml(Utf16ToUtf8(defaults[i])) + "\n";
    }
    return m;
}

int RunInit(const InitOptions &o)
{
    struct stat st;
    if (!o.force && lstat(o.output.c_str(), &st) == 0)
        throw Failure(ExitCannotWrite, "'" + o.output + "' exists; give --force to replace it");

    std::error_code ec;
    fs::path parent = fs::path(o.output).parent_path();
    fs::path folder = fs::weakly_canonical(fs::absolute(parent.empty() ? fs::path(".") : parent), ec);
    std::vector<CabSummary> cabs;
    for (const auto &path : o.cabs) {
        ThrowIfStopped();
        cabs.push_back(SummariseCab(path));
        // Paths in a manifest are relative to its folder.
        fs::path abs = fs::weakly_canonical(fs::absolute(path), ec);
        fs::path relative = abs.lexically_relative(folder);
        cabs.back().file = relative.empty() ? abs.string() : relative.string();
        if (!cabs.back().note.empty())
            std::fprintf(stderr, "velkor: warning: %s: %s; the component is named after its file\n", path.c_str(),
                         cabs.back().note.c_str());
    }
    std::string text = InitManifest(cabs);
    // What init writes must load as it stands.
    ParseManifest(text, o.output);

    AtomicOutput out(o.output);
    out.Write(text.data(), text.size());
    out.Commit();
    size_t device = 0;
    for (const auto &c : cabs)
        device += c.device ? 1 : 0;
    std::printf("wrote %s: %s, %zu of them with setup information\n", o.output.c_str(),
                Plural(cabs.size(), "component", "components").c_str(), device);
    std::printf("next: velkor build %s -o setup.exe\n", o.output.c_str());
    return ExitOk;
}

CommandRunner DeclareInit(CLI::App &init, const DataPaths &)
{
    auto o = std::make_shared<InitOptions>();
    init.add_option("cabs", o->cabs, "Device CAB files; the first names the product and its maker")
        ->required()->type_name("CAB...");
    init.add_option("-o,--output", o->output, "Manifest to write")->type_name("MANIFEST")->capture_default_str();
    init.add_flag("--force", o->force, "Replace an existing manifest");
    return [o](std::string &) { return RunInit(*o); };
}

}  // namespace

const Command InitCommand = {
    "init", "Write a first manifest from device CABs: one component per CAB, every text at its default.", nullptr,
    DeclareInit};

}  // namespace velkor
