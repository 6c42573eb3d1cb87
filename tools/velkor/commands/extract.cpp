// extract.cpp -- `velkor extract`: each component's CAB file written into a
// folder, all of them only once every one decodes.
#include "command.h"

#include "errors.h"
#include "files.h"
#include "pkgread.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <set>

namespace velkor {

namespace {

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

CommandRunner DeclareExtract(CLI::App &extract, const DataPaths &)
{
    struct Options {
        std::string package, dir;
    };
    auto o = std::make_shared<Options>();
    extract.add_option("package", o->package, "A built setup program")->required()->type_name("PACKAGE");
    extract.add_option("-o,--output", o->dir, "Folder to write into (created if missing)")->required()->type_name("DIR");
    return [o](std::string &target) {
        target = o->package;
        return RunExtract(o->package, o->dir);
    };
}

}  // namespace

const Command ExtractCommand = {"extract", "Write each component's CAB file into a folder.", nullptr, DeclareExtract};

}  // namespace velkor
