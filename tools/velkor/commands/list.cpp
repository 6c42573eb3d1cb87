// list.cpp -- `velkor list`: what a package holds, as text or JSON.
#include "command.h"

#include "diff.h"
#include "errors.h"
#include "files.h"
#include "json.h"
#include "manifest.h"
#include "pefile.h"
#include "pkgread.h"
#include "pkgwrite.h"
#include "sign.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

// Control characters made visible, so that a text shows on one line.
std::string VisibleText(const std::u16string &s) { return Visible(U8(s), false); }

std::string PageName(uint8_t flag) { return PageNameOf(flag, "none"); }

std::string Join(const std::vector<std::string> &v)
{
    std::string s;
    for (const auto &x : v)
        s += (s.empty() ? "" : " ") + x;
    return s.empty() ? "(none)" : s;
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
    std::printf("Software name            %s\n", VisibleText(p.softwareName).c_str());
    std::printf("Company name             %s\n", VisibleText(p.companyName).c_str());
    std::printf("Destination              %s\n", VisibleText(p.destination).c_str());
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
        std::printf("  %s = %s\n", VisibleText(v.first).c_str(), VisibleText(v.second).c_str());

    std::printf("Components (%zu)\n", p.components.size());
    std::printf("  %-3s %-11s %-11s %-11s %-7s %-7s %-5s %-8s %s\n", "#", "unpacked", "payload at", "stored",
                "chunks", "ratio", "dest", "selected", "name");
    for (size_t i = 0; i < p.components.size(); ++i) {
        const ComponentInfo &c = p.components[i];
        std::printf("  %-3zu %-11u %-11u %-11llu %-7zu %5.1f%%  %-5s %-8s %s\n", i + 1, c.unpackedSize,
                    c.payloadOffset, (unsigned long long)c.payloadSize, c.chunks.size(), 100.0 * Ratio(c),
                    c.acceptsDestination ? "yes" : "no", c.selected ? "yes" : "no", VisibleText(c.name).c_str());
    }

    std::printf("Texts (%zu)\n", p.texts.size());
    for (size_t i = 0; i < p.texts.size(); ++i) {
        std::string name = i < TextNames().size() ? TextNames()[i] : "(unused)";
        std::printf("  %2zu %-24s \"%s\"\n", i, name.c_str(), VisibleText(p.texts[i].text).c_str());
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

CommandRunner DeclareList(CLI::App &list, const DataPaths &)
{
    struct Options {
        std::string package;
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    list.add_option("package", o->package, "A built setup program")->required()->type_name("PACKAGE");
    list.add_flag("--json", o->json, "Print JSON instead of text");
    return [o](std::string &target) {
        target = o->package;
        return RunList(o->package, o->json);
    };
}

}  // namespace

const Command ListCommand = {
    "list", "Show what a package holds: names, flags, pages, variables, components, texts.", nullptr, DeclareList};

}  // namespace velkor
