// lint.cpp -- `velkor lint`: what in a manifest or package will not work as meant.
#include "command.h"

#include "diag.h"
#include "errors.h"
#include "files.h"
#include "json.h"
#include "lint.h"
#include "manifest.h"
#include "pkgread.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

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

CommandRunner DeclareLint(CLI::App &lint, const DataPaths &)
{
    struct Options {
        std::string input;
        bool json = false;
        std::vector<std::string> defineArgs;
    };
    auto o = std::make_shared<Options>();
    lint.add_option("input", o->input, "A manifest, or a built setup program")->required()->type_name("MANIFEST|PACKAGE");
    lint.add_flag("--json", o->json, "Print the findings as JSON");
    AddDefineOption(lint, o->defineArgs);
    return [o](std::string &target) {
        target = o->input;
        Defines defines;
        for (const auto &d : o->defineArgs)
            AddDefine(defines, d);
        return RunLint(o->input, o->json, defines);
    };
}

}  // namespace

const Command LintCommand = {"lint", "Report what in a manifest or package will not work as meant.",
                             "0 no findings, 9 findings", DeclareLint};

}  // namespace velkor
