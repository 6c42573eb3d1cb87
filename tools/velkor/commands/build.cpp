// build.cpp -- `velkor build`: the manifest read with its -D values, lint's
// warnings, one language or all of them, and the report as text or JSON.
// With --all-languages every setup file is written under a temporary name
// first and all are moved into place only when the last one is complete.
#include "command.h"

#include "build.h"
#include "diag.h"
#include "errors.h"
#include "files.h"
#include "json.h"
#include "lint.h"
#include "sign.h"

#include "format.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace velkor {

namespace {

struct BuildRequest {
    std::string manifest, stub, output;   // output: a file, or a folder with allLanguages
    unsigned jobs = 0;
    Defines defines;
    std::string language;                 // "" : the default texts
    bool allLanguages = false;
    bool json = false;
    bool desktopStub = false;             // accept a stub that is not a device program
    bool defaultStub = false;             // stub is the one that came with velkor, not --stub
    SignOptions sign;                     // sign every file written, when wanted
};

struct Built {
    std::string language, path;
    BuildSummary summary;
};

Json BuiltJson(const Manifest &m, const Built &b)
{
    const BuildSummary &s = b.summary;
    Json j = Json::object();
    j["output"] = b.path;
    j["language"] = b.language.empty() ? Json(nullptr) : Json(b.language);
    j["file_size"] = s.fileSize;
    j["stub_size"] = s.stubSize;
    j["header_size"] = s.headerSize;
    j["unpacked_size"] = s.unpackedTotal;
    uint64_t stored = 0;
    for (const auto &c : s.components)
        stored += c.storedSize;
    j["stored_size"] = stored;
    j["chunk_count"] = s.chunkCount;
    j["ratio"] = s.unpackedTotal ? Json(std::round(double(stored) / s.unpackedTotal * 10000) / 10000) : Json(nullptr);
    j["components"] = Json::array();
    for (size_t i = 0; i < s.components.size(); ++i) {
        const auto &c = s.components[i];
        Json cj = Json::object();
        cj["index"] = i + 1;
        cj["name"] = Utf16ToUtf8(m.recipe.components[i].name);
        cj["cab"] = m.components[i].cabPath;
        cj["unpacked_size"] = c.unpackedSize;
        cj["stored_size"] = c.storedSize;
        cj["chunk_count"] = c.chunkCount;
        cj["ratio"] = c.unpackedSize ? Json(std::round(double(c.storedSize) / c.unpackedSize * 10000) / 10000)
                                     : Json(nullptr);
        j["components"].push_back(cj);
    }
    return j;
}

void PrintBuilt(const Manifest &m, const Built &b)
{
    const BuildSummary &s = b.summary;
    std::printf("wrote %s: %llu bytes (setup program %llu, header %llu, %zu components in %llu chunks, "
                "%llu bytes unpacked)\n",
                b.path.c_str(), (unsigned long long)s.fileSize, (unsigned long long)s.stubSize,
                (unsigned long long)s.headerSize, m.recipe.components.size(), (unsigned long long)s.chunkCount,
                (unsigned long long)s.unpackedTotal);
}

// The manifest with one language's texts in its recipe.
Manifest ForLanguage(const Manifest &m, const std::string &tag)
{
    Manifest copy = m;
    copy.recipe = RecipeForLanguage(m, tag);
    return copy;
}

// One setup file, signed when the command asks for it.
BuildSummary Build(const Manifest &m, const BuildRequest &c, const std::string &path)
{
    if (c.sign.Wanted())
        return BuildSignedPackageFile(m, c.stub, path, c.jobs, c.sign);
    return BuildPackageFile(m, c.stub, path, c.jobs);
}

// The file --all-languages writes for a language ("" : the default texts):
// "<manifest's file stem>-<tag>.exe", or "<stem>.exe".
std::string LanguageFileName(const std::string &manifestPath, const std::string &tag)
{
    std::string stem = std::filesystem::path(manifestPath).stem().string();
    if (stem.empty())
        stem = "setup";
    return stem + (tag.empty() ? "" : "-" + tag) + ".exe";
}

// Writes the setup file(s); throws Failure as BuildPackageFile does.
int RunBuild(const BuildRequest &c)
{
    CheckSignOptions(c.sign);
    Manifest m = LoadManifest(c.manifest, c.defines);
    if (c.defaultStub) {
        try {
            FileSize(c.stub, "stub");
        } catch (const Failure &e) {
            throw Failure(e.code, std::string(e.what()) + "; this velkor came without the " +
                                      (c.desktopStub ? "desktop" : "device's") +
                                      " setup program: give --stub SETUP_EXE");
        }
    }
    CheckStubProgram(c.stub, c.desktopStub);
    if (!c.language.empty())
        RecipeForLanguage(m, c.language);   // an unknown language fails before anything is read

    std::vector<Diagnostic> warnings;
    // A component that is not a CAB stops the build with its own error below.
    for (const auto &f : LintManifest(m))
        if (!f.note && f.check != "not-a-cab")
            warnings.push_back(AsDiagnostic(f));
    for (const auto &w : warnings)
        PrintDiagnostic(stderr, w);

    std::vector<Built> built;
    if (!c.allLanguages) {
        Built b{c.language, c.output, Build(ForLanguage(m, c.language), c, c.output)};
        built.push_back(b);
    } else {
        MakeDirectory(c.output);
        std::vector<std::string> tags{""};
        for (const auto &l : m.languages)
            tags.push_back(l.tag);
        const std::string pending = ".velkor-new";
        try {
            for (const auto &tag : tags) {
                std::string path = c.output + "/" + LanguageFileName(c.manifest, tag);
                built.push_back({tag, path, Build(ForLanguage(m, tag), c, path + pending)});
            }
            for (const auto &b : built) {
                std::error_code e;
                std::filesystem::rename(b.path + pending, b.path, e);
                if (e)
                    throw Failure(ExitCannotWrite, "cannot create output '" + b.path + "': " + e.message());
            }
        } catch (...) {
            std::error_code ignored;
            for (const auto &b : built)
                std::filesystem::remove(b.path + pending, ignored);
            throw;
        }
    }

    if (c.json) {
        Json j = Json::object();
        j["manifest"] = c.manifest;
        if (c.allLanguages) {
            j["outputs"] = Json::array();
            for (const auto &b : built)
                j["outputs"].push_back(BuiltJson(m, b));
        } else {
            Json one = BuiltJson(m, built[0]);
            for (auto it = one.begin(); it != one.end(); ++it)
                j[it.key()] = it.value();
        }
        j["warnings"] = Json::array();
        for (const auto &w : warnings)
            j["warnings"].push_back(DiagnosticJson(w));
        std::fputs(DumpJson(j).c_str(), stdout);
    } else {
        for (const auto &b : built) {
            PrintBuilt(m, b);
            if (c.sign.Wanted())
                std::printf("%s\n", SignedFileLine(b.path).c_str());
        }
    }
    return ExitOk;
}

CommandRunner DeclareBuild(CLI::App &build, const DataPaths &data)
{
    struct Options {
        BuildRequest request;
        std::vector<std::string> defineArgs;
        CLI::Option *stub = nullptr;
    };
    auto o = std::make_shared<Options>();
    BuildRequest &r = o->request;
    build.add_option("manifest", r.manifest, "TOML manifest (format: tools/velkor/README.md)")
        ->required()->type_name("MANIFEST");
    o->stub = build.add_option("--stub", r.stub,
                               "The setup program, without a package (default: the device's one that came with velkor)")
                  ->type_name("SETUP_EXE");
    build.add_option("-o,--output", r.output, "File to write (replaced only when complete); with --all-languages, the folder")
        ->required()->type_name("OUT");
    build.add_option("-j,--jobs", r.jobs, "Threads compressing chunks; 0 = one per core (default). The output is the same for any value")
        ->check(CLI::Range(0u, 1024u))->type_name("N");
    AddDefineOption(build, o->defineArgs);
    auto *lang = build.add_option("--lang", r.language, "Build with the texts of the manifest's [texts.TAG] table")
        ->type_name("TAG");
    build.add_flag("--all-languages", r.allLanguages,
                   "Build one setup file per language into the folder -o names: <manifest stem>.exe with the default "
                   "texts and <manifest stem>-<TAG>.exe for each [texts.TAG]")
        ->excludes(lang);
    build.add_flag("--json", r.json, "Print what was written as JSON (warnings also go to stderr)");
    build.add_flag("--desktop-stub", r.desktopStub,
                   "Accept a setup program built for the desktop (the Wine test bench) instead of the device; "
                   "without --stub, the desktop one that came with velkor");
    AddSignOptions(&build, r.sign);
    return [o, data](std::string &) {
        BuildRequest &r = o->request;
        for (const auto &d : o->defineArgs)
            AddDefine(r.defines, d);
        r.defaultStub = o->stub->count() == 0;
        if (r.defaultStub)
            r.stub = r.desktopStub ? data.desktopStub : data.stub;
        return RunBuild(r);
    };
}

}  // namespace

void AddDefineOption(CLI::App &command, std::vector<std::string> &defineArgs)
{
    command.add_option("-D", defineArgs, "Fill ${NAME} in the manifest's strings with VALUE (repeatable)")
        ->type_name("NAME=VALUE")->allow_extra_args(false);
}

const Command BuildCommand = {"build", "Write the setup program followed by the package a manifest describes.", nullptr,
                              DeclareBuild};

}  // namespace velkor
