// main.cpp -- the `velkor` command line: build, sign, list, verify,
// extract, lint, diff and preview.
// Each command reports a failure as one line on stderr and exits with the
// code of errors.h; README.md documents both.
#include "build.h"
#include "buildcmd.h"
#include "diag.h"
#include "diff.h"
#include "errors.h"
#include "files.h"
#include "init.h"
#include "json.h"
#include "lint.h"
#include "manifest.h"
#include "pkgread.h"
#include "pkgwrite.h"
#include "paths.h"
#include "pefile.h"
#include "preview.h"
#include "sign.h"
#include "textfit.h"
#include "try.h"

#include "format.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <new>
#include <set>

using namespace velkor;

namespace {

const char *const ExitCodeHelp =
    "Exit codes: 0 success, 1 internal error, 2 bad command line, 3 input file missing or unreadable,\n"
    "4 bad manifest, 5 component is not a CAB or stub is not a program, 6 package would pass 4 GiB,\n"
    "7 not a package or a damaged package, 8 output cannot be written, 9 lint found problems,\n"
    "10 diff found differences, 11 preview failed, 12 try: the installation did not succeed,\n"
    "13 signing failed or no good signature, 130 interrupted.";

const char *const BenchHelp = "The Wine test bench: bench.sh or its folder (default: the one that came with velkor)";
const char *const WinBinHelp =
    "Folder of the desktop Windows programs: robot.exe, wceload.exe, and setup.exe, which runs a package built for "
    "the device (default: the ones that came with velkor)";

std::string U8(const std::u16string &s) { return Utf16ToUtf8(s); }

// Control characters made visible, so that a text shows on one line.
std::string Visible(const std::u16string &s) { return velkor::Visible(U8(s), false); }

std::string PageName(uint8_t flag) { return PageNameOf(flag, "none"); }

std::string Join(const std::vector<std::string> &v)
{
    std::string s;
    for (const auto &x : v)
        s += (s.empty() ? "" : " ") + x;
    return s.empty() ? "(none)" : s;
}

void SignatureJson(JsonWriter &j, const SignatureInfo &sig)
{
    j.Key("signature").BeginObject().Key("signed").Bool(sig.isSigned);
    if (sig.isSigned) {
        j.Key("certificates_offset").Number(sig.tableOffset).Key("certificates_size").Number(sig.tableSize);
        j.Key("signer").String(sig.signer).Key("checked").Bool(sig.checked);
        j.Key("matches").Bool(sig.matches).Key("trusted").Bool(sig.trusted);
        if (!sig.problem.empty())
            j.Key("problem").String(sig.problem);
    }
    j.EndObject();
}

// Why `verify` fails on the signature, or "".
std::string SignatureFailure(const SignatureInfo &sig, bool required)
{
    if (sig.isSigned && sig.checked && !sig.matches)
        return "the signature does not match the file: " + sig.problem;
    if (required && !sig.isSigned)
        return "not signed, and --require-signature was given";
    if (required && !sig.checked)
        return "the signature could not be checked: " + sig.problem;
    return "";
}

double Ratio(const ComponentInfo &c) { return c.unpackedSize ? double(c.payloadSize) / c.unpackedSize : 0.0; }

void PrintList(const std::string &path, const PackageInfo &p, const std::string &program, const SignatureInfo &sig)
{
    std::printf("Package %s: %llu bytes\n", path.c_str(), (unsigned long long)p.fileSize);
    std::printf("  setup program  at 0, %u bytes, %s\n", p.headerOffset, program.c_str());
    std::printf("  header         at %u, %llu bytes\n", p.headerOffset, (unsigned long long)p.headerSize);
    std::printf("  trailer        at %llu\n", (unsigned long long)p.trailerOffset);
    if (sig.isSigned)
        std::printf("  certificates   at %llu, %llu bytes\n", (unsigned long long)sig.tableOffset,
                    (unsigned long long)sig.tableSize);
    std::printf("Signature                %s\n", DescribeSignature(sig).c_str());
    std::printf("Software name            %s\n", Visible(p.softwareName).c_str());
    std::printf("Company name             %s\n", Visible(p.companyName).c_str());
    std::printf("Destination              %s\n", Visible(p.destination).c_str());
    std::printf("UseDefaultLocation       %u (%s)\n", p.useDefaultLocation,
                p.useDefaultLocation ? "the device's installer chooses the location"
                                     : "the user's folder applies to components that accept one");
    std::printf("RequireInstallArgument   %u (%s)\n", p.requireInstallArgument,
                p.requireInstallArgument ? "runs only when started with \"install\"" : "always runs");
    std::printf("PageFlags                0x%02X stored; pages shown: %s\n", p.storedPageFlags,
                Join(PageNamesOf(p.pageFlags)).c_str());
    std::printf("FirstPage                %u (%s)\n", p.firstPage, PageName(p.firstPage).c_str());
    std::printf("LastPage                 %u (%s)\n", p.lastPage, PageName(p.lastPage).c_str());

    std::printf("Variables (%zu)\n", p.variables.size());
    for (const auto &v : p.variables)
        std::printf("  %s = %s\n", Visible(v.first).c_str(), Visible(v.second).c_str());

    std::printf("Components (%zu)\n", p.components.size());
    std::printf("  %-3s %-11s %-11s %-11s %-7s %-7s %-5s %-8s %s\n", "#", "unpacked", "payload at", "stored",
                "chunks", "ratio", "dest", "selected", "name");
    for (size_t i = 0; i < p.components.size(); ++i) {
        const ComponentInfo &c = p.components[i];
        std::printf("  %-3zu %-11u %-11u %-11llu %-7zu %5.1f%%  %-5s %-8s %s\n", i + 1, c.unpackedSize,
                    c.payloadOffset, (unsigned long long)c.payloadSize, c.chunks.size(), 100.0 * Ratio(c),
                    c.acceptsDestination ? "yes" : "no", c.selected ? "yes" : "no", Visible(c.name).c_str());
    }

    std::printf("Texts (%zu)\n", p.texts.size());
    for (size_t i = 0; i < p.texts.size(); ++i) {
        std::string name = i < TextNames().size() ? TextNames()[i] : "(unused)";
        std::printf("  %2zu %-24s \"%s\"\n", i, name.c_str(), Visible(p.texts[i].text).c_str());
    }
}

// The setup program before the package: what it is, for whom, and its
// version resource.
std::string DescribeSetupProgram(const uint8_t *data, const PackageInfo &p)
{
    return DescribeStub(data, p.headerOffset) + ", " + DescribeVersion(ReadVersionResource(data, p.headerOffset));
}

void PrintListJson(const std::string &path, const PackageInfo &p, const uint8_t *data, const SignatureInfo &sig)
{
    JsonWriter j;
    j.BeginObject();
    j.Key("file").String(path);
    j.Key("file_size").Number(p.fileSize);
    PeHeaders pe;
    std::string why;
    bool program = ReadPeHeaders(data, p.headerOffset, pe, why);
    PeVersion version = ReadVersionResource(data, p.headerOffset);
    j.Key("setup_program").BeginObject().Key("size").Number(p.headerOffset);
    j.Key("description").String(DescribeSetupProgram(data, p));
    j.Key("device").Bool(program && IsDeviceProgram(pe));
    if (version.found)
        j.Key("version").String(version.fileVersion.empty() ? version.fixedVersion : version.fileVersion);
    else
        j.Key("version").Null();
    j.EndObject();
    j.Key("header_offset").Number(p.headerOffset);
    j.Key("header_size").Number(p.headerSize);
    j.Key("trailer_offset").Number(p.trailerOffset);
    SignatureJson(j, sig);
    j.Key("software_name").String(U8(p.softwareName));
    j.Key("company_name").String(U8(p.companyName));
    j.Key("destination").String(U8(p.destination));
    j.Key("use_default_location").Number(p.useDefaultLocation);
    j.Key("require_install_argument").Number(p.requireInstallArgument);
    j.Key("page_flags").Number(p.storedPageFlags);
    j.Key("pages").BeginArray();
    for (const auto &name : PageNamesOf(p.pageFlags))
        j.String(name);
    j.EndArray();
    j.Key("first_page").BeginObject().Key("flag").Number(p.firstPage);
    j.Key("name").String(PageName(p.firstPage)).EndObject();
    j.Key("last_page").BeginObject().Key("flag").Number(p.lastPage);
    j.Key("name").String(PageName(p.lastPage)).EndObject();
    j.Key("variables").BeginArray();
    for (const auto &v : p.variables)
        j.BeginObject().Key("name").String(U8(v.first)).Key("value").String(U8(v.second)).EndObject();
    j.EndArray();
    j.Key("components").BeginArray();
    for (size_t i = 0; i < p.components.size(); ++i) {
        const ComponentInfo &c = p.components[i];
        j.BeginObject();
        j.Key("index").Number(i + 1);
        j.Key("name").String(U8(c.name));
        j.Key("accepts_destination").Bool(c.acceptsDestination != 0);
        j.Key("selected").Bool(c.selected != 0);
        j.Key("unpacked_size").Number(c.unpackedSize);
        j.Key("payload_offset").Number(c.payloadOffset);
        j.Key("stored_size").Number(c.payloadSize);
        j.Key("chunk_count").Number(c.chunks.size());
        if (c.unpackedSize)
            j.Key("ratio").Real(Ratio(c));
        else
            j.Key("ratio").Null();
        j.EndObject();
    }
    j.EndArray();
    j.Key("texts").BeginArray();
    for (size_t i = 0; i < p.texts.size(); ++i) {
        j.BeginObject();
        j.Key("index").Number(i);
        if (i < TextNames().size())
            j.Key("name").String(TextNames()[i]);
        else
            j.Key("name").Null();
        j.Key("offset").Number(p.texts[i].offset);
        j.Key("text").String(U8(p.texts[i].text));
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    std::fputs(j.str().c_str(), stdout);
}

int RunSign(const std::string &path, std::string out, const SignOptions &sign)
{
    if (out.empty())
        out = path;
    SignPackageFile(path, out, sign);
    std::printf("%s\n", SignedFileLine(out).c_str());
    return ExitOk;
}

int RunList(const std::string &path, bool json)
{
    MappedFile f(path, "package");
    PackageInfo p = ReadPackage(f.data(), f.size(), ReadDepth::Walk);
    SignatureInfo sig = InspectSignature(path, f.data(), f.size());
    if (json)
        PrintListJson(path, p, f.data(), sig);
    else
        PrintList(path, p, DescribeSetupProgram(f.data(), p), sig);
    return ExitOk;
}

int RunVerify(const std::string &path, bool json, bool requireSignature)
{
    MappedFile f(path, "package");
    try {
        // The program's loader first: its verdict on the header is the one
        // that matters, and this reader's payload pass comes after.
        PackageInfo header = ReadPackage(f.data(), f.size(), ReadDepth::Header);
        CheckWithProgramLoader(f.data(), f.size(), header);
        PackageInfo p = ReadPackage(f.data(), f.size(), ReadDepth::Decode);
        size_t chunks = 0;
        for (const auto &c : p.components)
            chunks += c.chunks.size();
        SignatureInfo sig = InspectSignature(path, f.data(), f.size());
        // A signature that does not match is damage, asked for or not.
        std::string unsignedWhy = SignatureFailure(sig, requireSignature);
        if (json) {
            JsonWriter j;
            j.BeginObject().Key("file").String(path).Key("ok").Bool(unsignedWhy.empty());
            j.Key("components").Number(p.components.size()).Key("chunks").Number(chunks);
            j.Key("texts").Number(p.texts.size());
            SignatureJson(j, sig);
            if (!unsignedWhy.empty())
                j.Key("problem").String(unsignedWhy);
            j.EndObject();
            std::fputs(j.str().c_str(), stdout);
        } else if (unsignedWhy.empty()) {
            std::printf("%s: OK: %zu components, %zu chunks and %zu texts decode; the setup program's loader "
                        "accepts it; %s\n",
                        path.c_str(), p.components.size(), chunks, p.texts.size(), DescribeSignature(sig).c_str());
        }
        if (!unsignedWhy.empty())
            throw Failure(ExitSignature, path + ": " + unsignedWhy);
        return ExitOk;
    } catch (const Damage &d) {
        if (json) {
            JsonWriter j;
            j.BeginObject().Key("file").String(path).Key("ok").Bool(false);
            j.Key("offset").Number(d.offset).Key("item").String(d.item).Key("problem").String(d.problem);
            j.Key("message").String(d.what()).EndObject();
            std::fputs(j.str().c_str(), stdout);
        }
        throw;
    }
}

int RunLint(const std::string &path, bool json, const Defines &defines)
{
    bool package;
    {
        MappedFile f(path, "manifest or package");
        package = LooksLikePackage(f.data(), f.size());
    }
    std::vector<Finding> findings;
    if (package) {
        MappedFile f(path, "package");
        findings = LintPackage(f.data(), f.size());
    } else {
        findings = LintManifest(LoadManifest(path, defines));
    }
    size_t count = CountFindings(findings);
    if (json) {
        JsonWriter j;
        j.BeginObject();
        j.Key("file").String(path);
        j.Key("kind").String(package ? "package" : "manifest");
        j.Key("clean").Bool(count == 0);
        j.Key("finding_count").Number(count);
        j.Key("findings").BeginArray();
        for (const auto &f : findings) {
            j.BeginObject().Key("check").String(f.check).Key("severity").String(f.note ? "note" : "warning");
            j.Key("item").String(f.item).Key("message").String(f.message);
            j.Key("file").String(path);
            if (f.line)
                j.Key("line").Number(f.line).Key("column").Number(f.col ? f.col : 1);
            else
                j.Key("line").Null().Key("column").Null();
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        std::fputs(j.str().c_str(), stdout);
    } else {
        for (auto f : findings) {
            f.file = path;
            std::printf("%s\n", FormatDiagnostic(AsDiagnostic(f)).c_str());
        }
        if (count == 0)
            std::printf("%s: no findings\n", path.c_str());
        else
            std::printf("%s: %zu finding%s\n", path.c_str(), count, count == 1 ? "" : "s");
    }
    return count ? ExitFindings : ExitOk;
}

int RunDiff(const std::string &pathA, const std::string &pathB, bool json)
{
    auto summarise = [](const std::string &path) {
        MappedFile f(path, "package");
        try {
            return SummarisePackage(f.data(), f.size());
        } catch (const Damage &d) {
            throw Failure(ExitDamaged, path + ": " + d.what());
        }
    };
    PackageSummary a = summarise(pathA), b = summarise(pathB);
    std::vector<Difference> diffs = DiffPackages(a, b);
    std::fputs((json ? FormatDiffJson(pathA, pathB, diffs) : FormatDiff(pathA, pathB, diffs)).c_str(), stdout);
    return diffs.empty() ? ExitOk : ExitDiffers;
}

// A file name for a component: its name with everything but letters,
// digits and a few marks replaced, never a path, never empty.
std::string SafeFileName(const std::u16string &name, size_t index, std::set<std::string> &taken)
{
    std::string base;
    for (char16_t c : name) {
        bool keep = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                    c == u' ' || c == u'-' || c == u'_' || c == u'.' || c == u'(' || c == u')' || c == u'+';
        char ch = keep ? char(c) : '_';
        if (ch == '_' && !base.empty() && base.back() == '_')
            continue;
        base += ch;
    }
    while (!base.empty() && (base.front() == '.' || base.front() == ' ' || base.front() == '_' || base.front() == '-'))
        base.erase(0, 1);
    while (!base.empty() && (base.back() == '.' || base.back() == ' ' || base.back() == '_'))
        base.pop_back();
    if (base.size() > 80)
        base.resize(80);
    if (base.empty())
        base = "component-" + std::to_string(index + 1);
    auto lower = [](std::string s) {
        for (char &c : s)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::string name8 = base + ".cab";
    for (int n = 2; taken.count(lower(name8)); ++n)
        name8 = base + "-" + std::to_string(n) + ".cab";
    taken.insert(lower(name8));
    return name8;
}

int RunExtract(const std::string &path, const std::string &dir)
{
    MappedFile f(path, "package");
    PackageInfo p = ReadPackage(f.data(), f.size(), ReadDepth::Header);
    MakeDirectory(dir);
    std::set<std::string> taken;
    std::vector<std::string> names;
    std::vector<std::unique_ptr<AtomicOutput>> outputs;
    for (size_t i = 0; i < p.components.size(); ++i) {
        names.push_back(SafeFileName(p.components[i].name, i, taken));
        outputs.push_back(std::make_unique<AtomicOutput>(dir + "/" + names.back()));
    }
    // Everything is decoded and checked before any file takes its name.
    ReadPackage(f.data(), f.size(), ReadDepth::Decode, [&](size_t i, const uint8_t *data, size_t n) {
        ThrowIfStopped();
        outputs[i]->Write(data, n);
    });
    for (size_t i = 0; i < outputs.size(); ++i) {
        outputs[i]->Commit();
        std::printf("%s/%s  (%s, %u bytes)\n", dir.c_str(), names[i].c_str(), p.components[i].Label(i).c_str(),
                    p.components[i].unpackedSize);
    }
    return ExitOk;
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"velkor: builds, lists, verifies and unpacks Velkor setup packages.", "velkor"};
    app.footer(ExitCodeHelp);
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("velkor ") + VELKOR_VERSION);
    const DataPaths data = FindDataPaths();

    std::string manifest, stub, out, package, dir;
    unsigned jobs = 0;
    bool json = false;
    std::vector<std::string> defineArgs;
    BuildCommand buildCmd;

    CLI::App *build = app.add_subcommand("build", "Write the setup program followed by the package a manifest describes.");
    build->add_option("manifest", manifest, "TOML manifest (format: tools/velkor/README.md)")->required()->type_name("MANIFEST");
    CLI::Option *stubOpt = build->add_option(
        "--stub", stub, "The setup program, without a package (default: the device's one that came with velkor)")
        ->type_name("SETUP_EXE");
    build->add_option("-o,--output", out, "File to write (replaced only when complete); with --all-languages, the folder")->required()->type_name("OUT");
    build->add_option("-j,--jobs", jobs, "Threads compressing chunks; 0 = one per core (default). The output is the same for any value")
        ->check(CLI::Range(0u, 1024u))->type_name("N");
    build->add_option("-D", defineArgs, "Fill ${NAME} in the manifest's strings with VALUE (repeatable)")
        ->type_name("NAME=VALUE")->allow_extra_args(false);
    auto *langOpt = build->add_option("--lang", buildCmd.language, "Build with the texts of the manifest's [texts.TAG] table")
        ->type_name("TAG");
    build->add_flag("--all-languages", buildCmd.allLanguages,
                    "Build one setup file per language into the folder -o names: <manifest stem>.exe with the default "
                    "texts and <manifest stem>-<TAG>.exe for each [texts.TAG]")
        ->excludes(langOpt);
    build->add_flag("--json", json, "Print what was written as JSON (warnings also go to stderr)");
    build->add_flag("--desktop-stub", buildCmd.desktopStub,
                    "Accept a setup program built for the desktop (the Wine test bench) instead of the device; "
                    "without --stub, the desktop one that came with velkor");
    AddSignOptions(build, buildCmd.sign);
    build->footer(ExitCodeHelp);

    std::string signedOut;
    SignOptions sign;
    CLI::App *signCmd = app.add_subcommand("sign", "Sign a built package with an Authenticode signature (osslsigncode).");
    signCmd->add_option("package", package, "A built setup program, signed or not")->required()->type_name("PACKAGE");
    signCmd->add_option("-o,--output", signedOut, "File to write (default: PACKAGE itself; replaced only when complete)")
        ->type_name("OUT");
    AddSignOptions(signCmd, sign);
    signCmd->footer(ExitCodeHelp);

    CLI::App *list = app.add_subcommand("list", "Show what a package holds: names, flags, pages, variables, components, texts.");
    list->add_option("package", package, "A built setup program")->required()->type_name("PACKAGE");
    list->add_flag("--json", json, "Print JSON instead of text");
    list->footer(ExitCodeHelp);

    CLI::App *verify = app.add_subcommand("verify", "Decode every part of a package and report the first damage.");
    verify->add_option("package", package, "A built setup program")->required()->type_name("PACKAGE");
    verify->add_flag("--json", json, "Print the verdict as JSON on stdout (the error line still goes to stderr)");
    bool requireSignature = false;
    verify->add_flag("--require-signature", requireSignature, "Fail unless the file carries a signature that matches it");
    verify->footer(ExitCodeHelp);

    CLI::App *lint = app.add_subcommand("lint", "Report what in a manifest or package will not work as meant.");
    lint->add_option("input", package, "A manifest, or a built setup program")->required()->type_name("MANIFEST|PACKAGE");
    lint->add_flag("--json", json, "Print the findings as JSON");
    lint->add_option("-D", defineArgs, "Fill ${NAME} in the manifest's strings with VALUE (repeatable)")
        ->type_name("NAME=VALUE")->allow_extra_args(false);
    lint->footer("Exit codes: 0 no findings, 9 findings; otherwise as for the other commands:\n" +
                 std::string(ExitCodeHelp));

    std::string packageB;
    CLI::App *diff = app.add_subcommand("diff", "Show what changed between two built packages.");
    diff->add_option("old", package, "The earlier package")->required()->type_name("A");
    diff->add_option("new", packageB, "The later package")->required()->type_name("B");
    diff->add_flag("--json", json, "Print the differences as JSON");
    diff->footer("Exit codes: 0 identical, 10 different; otherwise as for the other commands:\n" +
                 std::string(ExitCodeHelp));

    PreviewOptions preview;
    preview.bench = data.bench;
    preview.winBin = data.winBin;
    CLI::App *previewCmd = app.add_subcommand(
        "preview", "Take a picture of every page of a package, shown by the real setup program under Wine.");
    previewCmd->add_option("package", preview.package, "A built setup program")->required()->type_name("PACKAGE");
    previewCmd->add_option("-o,--output", preview.outDir, "Folder for the pictures and the contact sheet (created if missing)")
        ->required()->type_name("DIR");
    previewCmd->add_option("--bench", preview.bench, BenchHelp)->type_name("PATH");
    previewCmd->add_option("--win-bin", preview.winBin, WinBinHelp)->type_name("DIR");
    previewCmd->add_option("--state", preview.state,
                           "Bench state folder to use and keep, so its Wine prefix is reused next time "
                           "(default: a temporary folder, removed afterwards)")
        ->type_name("DIR");
    previewCmd->add_option("--timeout", preview.timeoutSeconds, "Longest the walk through the wizard may take")
        ->check(CLI::Range(10u, 86400u))->type_name("SECONDS")->capture_default_str();
    previewCmd->add_flag("--json", preview.json,
                         "Print the pictures, the texts that do not fit and every text measured as JSON");
    previewCmd->add_flag("--strict", preview.strict, "Exit with code 9 when a text does not fit its control");
    auto *previewManifest =
        previewCmd->add_option("--manifest", preview.manifest, "The package's manifest, so findings name its lines")
            ->type_name("MANIFEST");
    previewCmd->add_option("--lang", preview.language, "The manifest's [texts.TAG] the package was built with")
        ->type_name("TAG")->needs(previewManifest);
    previewCmd->footer("Exit codes: 0 pictures written, 9 (with --strict) a text does not fit, 11 the bench, the robot\n"
                       "or montage failed; otherwise as for\n"
                       "the other commands:\n" + std::string(ExitCodeHelp));

    CLI::App *extract = app.add_subcommand("extract", "Write each component's CAB file into a folder.");
    extract->add_option("package", package, "A built setup program")->required()->type_name("PACKAGE");
    extract->add_option("-o,--output", dir, "Folder to write into (created if missing)")->required()->type_name("DIR");
    extract->footer(ExitCodeHelp);

    InitOptions init;
    CLI::App *initCmd = app.add_subcommand("init", "Write a first manifest from device CABs: one component per CAB, every text at its default.");
    initCmd->add_option("cabs", init.cabs, "Device CAB files; the first names the product and its maker")
        ->required()->type_name("CAB...");
    initCmd->add_option("-o,--output", init.output, "Manifest to write")->type_name("MANIFEST")->capture_default_str();
    initCmd->add_flag("--force", init.force, "Replace an existing manifest");
    initCmd->footer(ExitCodeHelp);

    TryOptions tryOptions;
    tryOptions.bench = data.bench;
    tryOptions.winBin = data.winBin;
    std::string location;
    CLI::App *tryCmd = app.add_subcommand(
        "try", "Install a package through the real setup program and installer under Wine; show what landed.");
    tryCmd->add_option("package", tryOptions.package, "A built setup program")->required()->type_name("PACKAGE");
    CLI::Option *choicesOpt = tryCmd->add_option("--choices", tryOptions.choicesFile,
        "TOML file of choices: components = [...], location = \"default\"|\"folder\", destination = '...'")
        ->type_name("FILE");
    CLI::Option *componentsOpt = tryCmd->add_option("--components", tryOptions.choices.components,
        "Tick exactly these components on the components page (names as in the package)")->type_name("NAME...");
    CLI::Option *locationOpt = tryCmd->add_option("--location", location, "On the location page: the device's choice or a folder")
        ->check(CLI::IsMember({"default", "folder"}))->type_name("WHERE");
    CLI::Option *destinationOpt = tryCmd->add_option("--destination", tryOptions.choices.destination,
        "Type this folder on the destination page")->type_name("PATH");
    for (CLI::Option *opt : {componentsOpt, locationOpt, destinationOpt})
        choicesOpt->excludes(opt);
    tryCmd->add_flag("--json", tryOptions.json, "Print the report as JSON");
    tryCmd->add_option("--bench", tryOptions.bench, BenchHelp)->type_name("PATH");
    tryCmd->add_option("--win-bin", tryOptions.winBin, WinBinHelp)->type_name("DIR");
    tryCmd->add_option("--state", tryOptions.state,
                       "Bench state folder to use and keep, so its Wine prefix is reused next time "
                       "(default: a temporary folder, removed afterwards)")->type_name("DIR");
    tryCmd->add_option("--timeout", tryOptions.timeoutSeconds, "Longest the installation may take")
        ->check(CLI::Range(10u, 86400u))->type_name("SECONDS")->capture_default_str();
    tryCmd->footer("Exit codes: 0 installed, 12 the installation did not succeed (the report is printed), 11 the\n"
                   "bench failed; otherwise as for the other commands:\n" + std::string(ExitCodeHelp));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "velkor: error: %s (see velkor --help)\n", e.what());
        return ExitUsage;
    }

    CatchStopSignals();
    std::string target = package;
    try {
        Defines defines;
        for (const auto &d : defineArgs)
            AddDefine(defines, d);
        if (*build) {
            buildCmd.defaultStub = stubOpt->count() == 0;
            if (buildCmd.defaultStub)
                stub = buildCmd.desktopStub ? data.desktopStub : data.stub;
            buildCmd.manifest = manifest, buildCmd.stub = stub, buildCmd.output = out;
            buildCmd.jobs = jobs, buildCmd.defines = defines, buildCmd.json = json;
            return RunBuildCommand(buildCmd);
        }
        if (*signCmd)
            return RunSign(package, signedOut, sign);
        if (*list)
            return RunList(package, json);
        if (*verify)
            return RunVerify(package, json, requireSignature);
        if (*extract)
            return RunExtract(package, dir);
        if (*lint)
            return RunLint(package, json, defines);
        if (*diff)
            return RunDiff(package, packageB, json);
        if (*previewCmd) {
            target = preview.package;
            return RunPreview(preview);
        }
        if (*initCmd)
            return RunInit(init);
        if (*tryCmd) {
            target = tryOptions.package;
            tryOptions.choices.hasComponents = componentsOpt->count() > 0;
            tryOptions.choices.hasDestination = destinationOpt->count() > 0;
            if (!location.empty())
                tryOptions.choices.location = location == "folder" ? 1 : 0;
            return RunTry(tryOptions);
        }
    } catch (const DiagnosticFailure &d) {
        PrintDiagnostic(stderr, d.diag);
        return d.code;
    } catch (const Damage &d) {
        std::fprintf(stderr, "velkor: error: %s: %s\n", target.c_str(), d.what());
        return d.code;
    } catch (const Failure &f) {
        std::fprintf(stderr, "velkor: error: %s\n", f.what());
        return f.code;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "velkor: error: out of memory\n");
        return ExitInternal;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "velkor: internal error: %s\n", e.what());
        return ExitInternal;
    }
    return ExitUsage;
}
