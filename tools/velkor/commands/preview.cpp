// preview.cpp -- `velkor preview`: a picture of every page of a package,
// taken from the real setup program under the Wine bench.
#include "command.h"

#include "preview.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace velkor {

namespace {

CommandRunner DeclarePreview(CLI::App &preview, const DataPaths &data)
{
    auto o = std::make_shared<PreviewOptions>();
    o->bench = data.bench;
    o->winBin = data.winBin;
    preview.add_option("package", o->package, "A built setup program")->required()->type_name("PACKAGE");
    preview.add_option("-o,--output", o->outDir, "Folder for the pictures and the contact sheet (created if missing)")
        ->required()->type_name("DIR");
    AddBenchOptions(preview, o->bench, o->winBin, o->state);
    preview.add_option("--timeout", o->timeoutSeconds, "Longest the walk through the wizard may take")
        ->check(CLI::Range(10u, 86400u))->type_name("SECONDS")->capture_default_str();
    preview.add_flag("--json", o->json, "Print the pictures, the texts that do not fit and every text measured as JSON");
    preview.add_flag("--strict", o->strict, "Exit with code 9 when a text does not fit its control");
    auto *manifest = preview.add_option("--manifest", o->manifest, "The package's manifest, so findings name its lines")
                         ->type_name("MANIFEST");
    preview.add_option("--lang", o->language, "The manifest's [texts.TAG] the package was built with")
        ->type_name("TAG")->needs(manifest);
    return [o](std::string &target) {
        target = o->package;
        return RunPreview(*o);
    };
}

}  // namespace

void AddBenchOptions(CLI::App &command, std::string &bench, std::string &winBin, std::string &state)
{
    command.add_option("--bench", bench, "The Wine test bench: bench.sh or its folder (default: the one that came with velkor)")
        ->type_name("PATH");
    command.add_option("--win-bin", winBin,
                       "Folder of the desktop Windows programs: robot.exe, wceload.exe, and setup.exe, which runs a "
                       "package built for the device (default: the ones that came with velkor)")
        ->type_name("DIR");
    command.add_option("--state", state,
                       "Bench state folder to use and keep, so its Wine prefix is reused next time "
                       "(default: a temporary folder, removed afterwards)")
        ->type_name("DIR");
}

const Command PreviewCommand = {
    "preview", "Take a picture of every page of a package, shown by the real setup program under Wine.",
    "0 pictures written, 9 (with --strict) a text does not fit, 11 the bench, the robot\nor montage failed",
    DeclarePreview};

}  // namespace velkor
