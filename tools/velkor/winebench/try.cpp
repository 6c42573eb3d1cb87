// try.cpp -- `velkor try` (see try.h).  The package is copied into the
// bench's state folder and started there by the robot, in a device root of
// its own; the root, the installer's log and the registry are read after
// the setup program has ended.  The bench is stopped whatever happens.
#include "try.h"

#include "bench.h"
#include "process.h"
#include "robot.h"
#include "cabdir.h"
#include "errors.h"
#include "files.h"
#include "json.h"
#include "manifest.h"
#include "memcab.h"
#include "pkgwrite.h"
#include "preview.h"
#include "tomlpp.h"
#include "twin.h"

#include "format.h"

#include "ce000.h"
#include "rules.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace velkor {

namespace fs = std::filesystem;

namespace {

using namespace setupui;

const char *const DeviceName = "try";
// Seconds the robot waits for any one page; Wine's first start is slow.
const unsigned PageSeconds = 60;

std::string Slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// The target of a shortcut file, `<n>#<target>` with n the length of what
// follows '#', quotes around the target dropped; false for anything else.
bool ShortcutTarget(const std::string &text, std::string *target)
{
    size_t hash = text.find('#');
    if (hash == 0 || hash == std::string::npos || hash > 6)
        return false;
    for (size_t i = 0; i < hash; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    std::string rest = text.substr(hash + 1);
    if (std::stoul(text.substr(0, hash)) != Utf8ToUtf16(rest).size())
        return false;
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
    *target = rest;
    return true;
}

std::string DevicePath(const fs::path &relative)
{
    std::string s = relative.generic_string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return "\\" + s;
}

}  // namespace

TryChoices LoadChoices(const std::string &path)
{
    MappedFile file(path, "choices file");
    std::string_view doc(reinterpret_cast<const char *>(file.data()), size_t(file.size()));
    toml::table root;
    try {
        root = toml::parse(doc, path);
    } catch (const toml::parse_error &e) {
        throw Failure(ExitBadManifest, path + ":" + std::to_string(e.source().begin.line) + ":" +
                                           std::to_string(e.source().begin.column) + ": " + std::string(e.description()));
    }
    auto fail = [&](const toml::node &n, const std::string &what) {
        return Failure(ExitBadManifest, path + ":" + std::to_string(n.source().begin.line) + ": " + what);
    };
    TryChoices c;
    for (auto &&[key, value] : root) {
        std::string k(key.str());
        if (k == "components") {
            if (!value.is_array())
                throw fail(value, "components: expected an array of component names");
            c.hasComponents = true;
            for (const toml::node &n : *value.as_array()) {
                if (!n.is_string())
                    throw fail(n, "components: expected a component name (a string)");
                c.components.push_back(n.as_string()->get());
            }
        } else if (k == "location") {
            std::string v = value.is_string() ? value.as_string()->get() : "";
            if (v != "default" && v != "folder")
                throw fail(value, "location: expected \"default\" or \"folder\"");
            c.location = v == "folder" ? 1 : 0;
        } else if (k == "destination") {
            if (!value.is_string())
                throw fail(value, "destination: expected a device folder (a string)");
            c.hasDestination = true;
            c.destination = value.as_string()->get();
        } else {
            throw fail(value, k + ": unknown key (expected one of: components, location, destination)");
        }
    }
    return c;
}

std::vector<size_t> TrySelected(const PackageInfo &p, const TryChoices &choices)
{
    std::vector<size_t> out;
    bool page = (p.pageFlags & PageComponents) != 0;
    for (size_t i = 0; i < p.components.size(); ++i) {
        std::string name = Utf16ToUtf8(p.components[i].name);
        bool selected = p.components[i].selected != 0;
        if (page && choices.hasComponents)
            selected = std::find(choices.components.begin(), choices.components.end(), name) != choices.components.end();
        if (selected)
            out.push_back(i);
    }
    return out;
}

std::string TryScript(const PackageInfo &p, const TryChoices &c, const std::string &setupExe, unsigned waitSeconds,
                      std::vector<uint8_t> *pagesOut)
{
    std::vector<uint8_t> pages = WizardPages(p, c.location);
    auto shows = [&](uint8_t page) { return std::find(pages.begin(), pages.end(), page) != pages.end(); };
    if (c.hasComponents) {
        if (!shows(PageComponents))
            throw Failure(ExitUsage, "the package has no components page; it installs the components it selects");
        std::set<std::string> names;
        for (const auto &comp : p.components)
            names.insert(Utf16ToUtf8(comp.name));
        for (const auto &want : c.components)
            if (!names.count(want)) {
                std::string list;
                for (const auto &n : names)
                    list += (list.empty() ? "'" : ", '") + n + "'";
                throw Failure(ExitUsage, "the package has no component '" + want + "' (it has " + list + ")");
            }
    }
    if (c.location >= 0 && !shows(PageLocation))
        throw Failure(ExitUsage, "the package shows no location page, so the location cannot be chosen");
    if (c.hasDestination && !shows(PageDestination))
        throw Failure(ExitUsage, shows(PageLocation) && c.location != 1
                                     ? "the destination page is not shown with the device's location; add --location folder"
                                     : "the package shows no destination page, so the destination cannot be chosen");
    if (shows(PageDestination) && !c.hasDestination &&
        p.destination.find_first_not_of(u" \t") == std::u16string::npos)
        throw Failure(ExitUsage, "the destination page starts blank; give --destination");

    std::string s = "# velkor try: the whole installation\n";
    s += "timeout " + std::to_string(PageSeconds) + "\n";
    s += "launch " + RobotWord(setupExe) + (p.requireInstallArgument ? " install" : "") + "\n";
    if (!pages.empty())
        s += "wait-frame\n";
    for (uint8_t page : pages) {
        s += RobotEnterPage(page);
        switch (page) {
        case PageComponents:
            if (c.hasComponents) {
                std::set<std::string> done;
                for (const auto &comp : p.components) {
                    std::string name = Utf16ToUtf8(comp.name);
                    if (!done.insert(name).second)
                        continue;
                    bool tick = std::find(c.components.begin(), c.components.end(), name) != c.components.end();
                    s += "tick " + std::to_string(ComponentTree) + " " + RobotWord(name) + (tick ? " 1\n" : " 0\n");
                }
            }
            break;
        case PageLocation:
            if (c.location >= 0) {
                int choice = c.location ? ChooseFolderChoice : DefaultLocationChoice;
                s += "click " + std::to_string(choice) + "\n";
                s += "expect-checked " + std::to_string(choice) + " 1\n";
            }
            break;
        case PageDestination:
            if (c.hasDestination)
                s += "type " + std::to_string(DestinationField) + " " + RobotWord(c.destination) + "\n";
            break;
        default:
            break;
        }
        // OK may still be off while the page takes the choice in.
        s += "expect-enabled " + std::to_string(ButtonOk) + " 1\n";
        s += "click " + std::to_string(ButtonOk) + "\n";
    }
    // The last Next installs; the program ends when the run is over.  A
    // message box on the way fails this step and names its text.
    s += "timeout " + std::to_string(std::max(waitSeconds, PageSeconds)) + "\n";
    s += "wait-exit 0\n";
    if (pagesOut)
        *pagesOut = pages;
    return s;
}

std::vector<InstallerRun> ParseInstallerLog(const std::string &text)
{
    std::vector<InstallerRun> runs;
    std::istringstream in(text);
    std::vector<wceload::LogField> fields;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!wceload::ParseLogLine(line, &fields))
            continue;
        InstallerRun r;
        static const std::pair<const char *, std::string InstallerRun::*> texts[] = {
            {"cmdline", &InstallerRun::cmdline}, {"cab", &InstallerRun::cab},     {"dest", &InstallerRun::dest},
            {"fAskDest", &InstallerRun::askDest}, {"asked", &InstallerRun::asked}, {"error", &InstallerRun::error}};
        for (const wceload::LogField &f : fields) {
            for (const auto &text : texts)
                if (f.Key == text.first)
                    r.*text.second = f.Value;
            if (f.Key == "files")
                r.files = f.Items;
            else if (f.Key == "skipped")
                r.skipped = f.Items;
            else if (f.Key == "registry")
                r.registry = std::strtol(f.Value.c_str(), nullptr, 10);
            else if (f.Key == "exit")
                r.exitCode = f.Value.empty() ? -1 : std::strtol(f.Value.c_str(), nullptr, 10);
        }
        runs.push_back(r);
    }
    return runs;
}

void ReadDeviceRoot(const std::string &root, std::vector<std::string> *folders, std::vector<DeviceFile> *files,
                    std::vector<DeviceShortcut> *shortcuts)
{
    std::error_code ec;
    // The bench makes these for every device; what the installation put
    // into them is listed, not they themselves.
    const std::set<std::string> own = {"\\windows", "\\program files"};
    const std::set<std::string> benchFiles = {"\\windows\\wceload.exe", "\\windows\\wceload.log"};
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::directory_entry &e = *it;
        std::string path = DevicePath(fs::path(e.path()).lexically_relative(root));
        if (e.is_symlink(ec))
            continue;
        if (e.is_directory(ec)) {
            if (!own.count(AsciiLower(path)))
                folders->push_back(path);
            continue;
        }
        if (benchFiles.count(AsciiLower(path)))
            continue;
        uint64_t size = e.file_size(ec);
        files->push_back({path, ec ? 0 : size});
        std::string target;
        if (size < 1024 && ShortcutTarget(Slurp(e.path().string()), &target))
            shortcuts->push_back({path, target});
    }
    std::sort(folders->begin(), folders->end());
    std::sort(files->begin(), files->end(), [](const DeviceFile &a, const DeviceFile &b) { return a.path < b.path; });
    std::sort(shortcuts->begin(), shortcuts->end(),
              [](const DeviceShortcut &a, const DeviceShortcut &b) { return a.path < b.path; });
}

std::vector<RegistryValue> ParseRegQuery(const std::string &text)
{
    std::vector<RegistryValue> values;
    std::istringstream in(text);
    std::string key;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.compare(0, 5, "HKEY_") == 0) {
            key = line;
            continue;
        }
        // "    NAME    REG_TYPE    DATA"; a name may hold blanks, a type never.
        if (key.empty() || line.compare(0, 4, "    ") != 0)
            continue;
        size_t type = line.find("    REG_", 4);
        if (type == std::string::npos)
            continue;
        RegistryValue v;
        v.key = key;
        v.name = line.substr(4, type - 4);
        size_t typeEnd = line.find("    ", type + 4);
        v.type = line.substr(type + 4, typeEnd == std::string::npos ? std::string::npos : typeEnd - type - 4);
        v.data = typeEnd == std::string::npos ? "" : line.substr(typeEnd + 4);
        values.push_back(v);
    }
    return values;
}

namespace {

const char *RootName(uint16_t root)
{
    switch (root) {
    case wceload::RootClassesRoot: return "HKEY_CLASSES_ROOT";
    case wceload::RootCurrentUser: return "HKEY_CURRENT_USER";
    case wceload::RootLocalMachine: return "HKEY_LOCAL_MACHINE";
    default: return "HKEY_USERS";
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PlannedRegistryValues(const std::vector<uint8_t> &cab)
{
    std::vector<std::pair<std::string, std::string>> out;
    MemoryCab bytes(cab.data(), cab.size());
    CabDirectory dir;
    if (!ReadCabDirectory(bytes, &dir).empty())
        return out;
    DeviceSetupInfo d = ReadDeviceSetupInfo(bytes, dir);
    if (d.state != SetupInfoState::Planned)
        return out;
    for (const auto &v : d.plan.Values) {
        std::pair<std::string, std::string> item{std::string(RootName(v.Root)) + "\\" + Utf16ToUtf8(v.Key),
                                                 v.Name.empty() ? "(Default)" : Utf16ToUtf8(v.Name)};
        if (std::find(out.begin(), out.end(), item) == out.end())
            out.push_back(item);
    }
    return out;
}

namespace {

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = nullptr;
    int n = vasprintf(&text, format, args);
    va_end(args);
    std::string out = n >= 0 ? std::string(text, size_t(n)) : std::string();
    std::free(text);
    return out;
}

}  // namespace

std::string TryText(const TryReport &r)
{
    std::string o;
    size_t installed = 0;
    for (const auto &run : r.runs)
        installed += run.exitCode == 0 ? 1 : 0;
    if (r.ok)
        o += Format("%s: installed %zu of %zu components\n", r.package.c_str(), installed, r.selected.size());
    else
        o += Format("%s: the installation did not succeed: %s\n", r.package.c_str(), r.problem.c_str());
    std::string walk;
    for (uint8_t page : r.pages)
        walk += (walk.empty() ? "" : ", ") + PageNameOf(page, "page");
    o += Format("Wizard: %s\n", walk.empty() ? "no pages (Setup installs at once)" : walk.c_str());
    std::string chosen;
    for (const auto &s : r.selected)
        chosen += (chosen.empty() ? "" : ", ") + s;
    o += Format("Components handed to the installer: %s\n", chosen.empty() ? "(none)" : chosen.c_str());

    o += Format("Installer runs (\\windows\\wceload.log): %zu\n", r.runs.size());
    for (size_t i = 0; i < r.runs.size(); ++i) {
        const InstallerRun &run = r.runs[i];
        o += Format("  %zu %s: exit %ld, into %s, %zu files, %zu skipped, %ld registry values%s%s\n", i + 1,
                    run.component.empty() ? "(unknown component)" : run.component.c_str(), run.exitCode,
                    run.dest.c_str(), run.files.size(), run.skipped.size(), run.registry,
                    run.error.empty() ? "" : ", error: ", run.error.c_str());
        o += Format("    cmdline=%s cab=%s fAskDest=%s asked=%s\n", run.cmdline.empty() ? "(none)" : run.cmdline.c_str(),
                    run.cab.c_str(), run.askDest.c_str(), run.asked.c_str());
        for (const auto &f : run.files)
            o += Format("    + %s\n", f.c_str());
        for (const auto &f : run.skipped)
            o += Format("    - %s (skipped)\n", f.c_str());
    }
    o += Format("Folders (%zu)\n", r.folders.size());
    for (const auto &f : r.folders)
        o += Format("  %s\n", f.c_str());
    o += Format("Files (%zu)\n", r.files.size());
    for (const auto &f : r.files)
        o += Format("  %10llu  %s\n", (unsigned long long)f.size, f.path.c_str());
    o += Format("Shortcuts (%zu)\n", r.shortcuts.size());
    for (const auto &s : r.shortcuts)
        o += Format("  %s -> %s\n", s.path.c_str(), s.target.c_str());
    o += Format("Registry values (%zu)\n", r.registry.size());
    std::string key;
    for (const auto &v : r.registry) {
        if (v.key != key)
            o += Format("  %s\n", (key = v.key).c_str());
        o += Format("    %s  %s  %s\n", v.name.c_str(), v.type.c_str(), v.data.c_str());
    }
    return o;
}

std::string TryJson(const TryReport &r)
{
    Json j;
    j["package"] = r.package;
    j["ok"] = r.ok;
    j["problem"] = r.ok ? Json(nullptr) : Json(r.problem);
    Json pages = Json::array();
    for (uint8_t page : r.pages)
        pages.push_back(PageNameOf(page, "page"));
    j["pages"] = pages;
    j["components"] = Json(r.selected);
    Json runs = Json::array();
    for (const auto &run : r.runs) {
        Json o;
        o["component"] = run.component.empty() ? Json(nullptr) : Json(run.component);
        o["cmdline"] = run.cmdline;
        o["cab"] = run.cab;
        o["dest"] = run.dest;
        o["fAskDest"] = run.askDest;
        o["asked"] = run.asked == "yes";
        o["files"] = Json(run.files);
        o["skipped"] = Json(run.skipped);
        o["registry"] = run.registry;
        o["error"] = run.error;
        o["exit"] = run.exitCode;
        runs.push_back(o);
    }
    j["installer_runs"] = runs;
    j["folders"] = Json(r.folders);
    Json files = Json::array();
    for (const auto &f : r.files)
        files.push_back({{"path", f.path}, {"size", f.size}});
    j["files"] = files;
    Json links = Json::array();
    for (const auto &s : r.shortcuts)
        links.push_back({{"path", s.path}, {"target", s.target}});
    j["shortcuts"] = links;
    Json registry = Json::array();
    for (const auto &v : r.registry)
        registry.push_back({{"key", v.key}, {"name", v.name}, {"type", v.type}, {"data", v.data}});
    j["registry"] = registry;
    // Names from the package and the device may be anything; the output is
    // UTF-8 all the same (bad sequences, lone surrogates: U+FFFD).
    return DumpJson(j);
}

int RunTry(const TryOptions &o)
{
    PackageInfo p;
    std::vector<std::vector<uint8_t>> componentCabs;
    TryChoices choices = o.choicesFile.empty() ? o.choices : LoadChoices(o.choicesFile);
    std::vector<size_t> selected;
    MappedFile f(o.package, "package");
    p = ReadPackage(f.data(), f.size(), ReadDepth::Header);
    CheckWithProgramLoader(f.data(), f.size(), p);
    // The CABs, for the registry values their setup information names.
    selected = TrySelected(p, choices);
    componentCabs.resize(p.components.size());
    ReadPackage(f.data(), f.size(), ReadDepth::Decode, [&](size_t i, const uint8_t *data, size_t n) {
        ThrowIfStopped();
        if (std::find(selected.begin(), selected.end(), i) != selected.end())
            componentCabs[i].insert(componentCabs[i].end(), data, data + n);
    });
    std::string bench = BenchScript(o.bench);
    std::string robot = o.winBin + "/robot.exe";
    NeedWindowsPrograms(o.winBin, {"robot.exe", "wceload.exe"});
    // Checked before the bench starts: a choice the package cannot take.
    TryReport report;
    report.package = o.package;
    TryScript(p, choices, "", o.timeoutSeconds, &report.pages);
    for (size_t i : selected)
        report.selected.push_back(Utf16ToUtf8(p.components[i].name));
    std::unique_ptr<DesktopTwin> twin = TwinForBench("try", o.package, f.data(), f.size(), p, o.winBin + "/setup.exe");

    bool temporary = false;
    std::string state = BenchState(o.state, "try", &temporary);
    Bench session(bench, state, temporary);
    RobotRun run = PrepareRobotRun(state, "try", twin ? twin->path() : o.package);
    const std::string &work = run.work;
    WriteRobotScript(run, TryScript(p, choices, WinePath(run.setupCopy), o.timeoutSeconds, nullptr));

    session.Start();
    ThrowIfStopped();
    std::string winBin = fs::absolute(o.winBin).string();
    // A reused prefix keeps the registry of earlier runs; the device starts clean.
    session.Run(winBin, {"reg", "delete", "HKLM\\SOFTWARE\\Apps", "/f"}, 120, "try-registry", work + "/clear.log");
    std::string runLog = work + "/run.log";
    int rc = session.Run(winBin, {fs::absolute(robot).string(), WinePath(run.scriptPath)}, o.timeoutSeconds + 120,
                         DeviceName, runLog);

    std::string root = session.DeviceRoot(DeviceName);
    report.runs = ParseInstallerLog(Slurp(root + "/windows/wceload.log"));
    for (size_t i = 0; i < report.runs.size() && i < report.selected.size(); ++i)
        report.runs[i].component = report.selected[i];
    ReadDeviceRoot(root, &report.folders, &report.files, &report.shortcuts);
    std::string regLog = work + "/registry.txt";
    if (session.Run(winBin, {"reg", "query", "HKLM\\SOFTWARE\\Apps", "/s"}, 120, "try-registry", regLog) == 0)
        report.registry = ParseRegQuery(Slurp(regLog));
    // Values the components' setup information writes elsewhere: asked for
    // by key, and only those it names.
    const std::string apps = "hkey_local_machine\\software\\apps";
    std::vector<std::pair<std::string, std::string>> planned;
    for (const auto &cab : componentCabs)
        for (const auto &v : PlannedRegistryValues(cab))
            if (AsciiLower(v.first).compare(0, apps.size(), apps) != 0 &&
                std::find(planned.begin(), planned.end(), v) == planned.end())
                planned.push_back(v);
    std::set<std::string> asked;
    for (const auto &v : planned) {
        if (!asked.insert(v.first).second)
            continue;
        std::string keyLog = work + "/key-" + std::to_string(asked.size()) + ".txt";
        if (session.Run(winBin, {"reg", "query", v.first}, 120, "try-registry", keyLog) != 0)
            continue;
        for (const auto &found : ParseRegQuery(Slurp(keyLog)))
            for (const auto &w : planned)
                if (w.first == v.first && AsciiLower(w.second) == AsciiLower(found.name)) {
                    report.registry.push_back(found);
                    break;
                }
    }

    if (rc != 0) {
        // The robot's last words say what stood in the way (a message box
        // and its text, a page that never came).
        report.problem = "Setup did not finish: " + Tail(runLog, 2);
    } else if (report.runs.size() != selected.size()) {
        report.problem = std::to_string(report.runs.size()) + " of " + std::to_string(selected.size()) +
                         " components reached the installer";
    } else {
        for (size_t i = 0; i < report.runs.size() && report.problem.empty(); ++i)
            if (report.runs[i].exitCode != 0)
                report.problem = "the installer failed on '" + report.runs[i].component + "' (exit code " +
                                 std::to_string(report.runs[i].exitCode) + "): " + report.runs[i].error;
    }
    report.ok = report.problem.empty();
    std::fputs((o.json ? TryJson(report) : TryText(report)).c_str(), stdout);
    std::fflush(stdout);
    if (!report.ok)
        throw Failure(ExitTryFailed, o.package + ": the installation did not succeed: " + report.problem);
    return ExitOk;
}

}  // namespace velkor
