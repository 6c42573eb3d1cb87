// try.cpp -- `velkor try`: a package installed through the real setup
// program and installer under the Wine bench, and what landed.
#include "command.h"

#include "try.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace velkor {

namespace {

CommandRunner DeclareTry(CLI::App &tryCmd, const DataPaths &data)
{
    struct Options {
        TryOptions request;
        std::string location;
        CLI::Option *components = nullptr, *destination = nullptr;
    };
    auto o = std::make_shared<Options>();
    TryOptions &r = o->request;
    r.bench = data.bench;
    r.winBin = data.winBin;
    tryCmd.add_option("package", r.package, "A built setup program")->required()->type_name("PACKAGE");
    CLI::Option *choices = tryCmd.add_option("--choices", r.choicesFile,
        "TOML file of choices: components = [...], location = \"default\"|\"folder\", destination = '...'")
        ->type_name("FILE");
    o->components = tryCmd.add_option("--components", r.choices.components,
        "Tick exactly these components on the components page (names as in the package)")->type_name("NAME...");
    CLI::Option *location = tryCmd.add_option("--location", o->location,
                                              "On the location page: the device's choice or a folder")
        ->check(CLI::IsMember({"default", "folder"}))->type_name("WHERE");
    o->destination = tryCmd.add_option("--destination", r.choices.destination,
                                       "Type this folder on the destination page")->type_name("PATH");
    for (CLI::Option *opt : {o->components, location, o->destination})
        choices->excludes(opt);
    tryCmd.add_flag("--json", r.json, "Print the report as JSON");
    AddBenchOptions(tryCmd, r.bench, r.winBin, r.state);
    tryCmd.add_option("--timeout", r.timeoutSeconds, "Longest the installation may take")
        ->check(CLI::Range(10u, 86400u))->type_name("SECONDS")->capture_default_str();
    return [o](std::string &target) {
        TryOptions &r = o->request;
        target = r.package;
        r.choices.hasComponents = o->components->count() > 0;
        r.choices.hasDestination = o->destination->count() > 0;
        if (!o->location.empty())
            r.choices.location = o->location == "folder" ? 1 : 0;
        return RunTry(r);
    };
}

}  // namespace

const Command TryCommand = {
    "try", "Install a package through the real setup program and installer under Wine; show what landed.",
    "0 installed, 12 the installation did not succeed (the report is printed), 11 the\nbench failed", DeclareTry};

}  // namespace velkor
