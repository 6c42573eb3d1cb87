// diff.cpp -- `velkor diff`: what changed between two built packages.
#include "command.h"

#include "diff.h"
#include "errors.h"
#include "files.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

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

CommandRunner DeclareDiff(CLI::App &diff, const DataPaths &)
{
    struct Options {
        std::string a, b;
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    diff.add_option("old", o->a, "The earlier package")->required()->type_name("A");
    diff.add_option("new", o->b, "The later package")->required()->type_name("B");
    diff.add_flag("--json", o->json, "Print the differences as JSON");
    return [o](std::string &target) {
        target = o->a;
        return RunDiff(o->a, o->b, o->json);
    };
}

}  // namespace

const Command DiffCommand = {"diff", "Show what changed between two built packages.", "0 identical, 10 different",
                             DeclareDiff};

}  // namespace velkor
