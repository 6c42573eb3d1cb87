// main.cpp -- the `velkor` command line: the command table, and one loop
// that declares each command, runs the one chosen and turns its failure
// into one line on stderr and the exit code of errors.h.  README.md
// documents both.
#include "command.h"
#include "diag.h"
#include "errors.h"
#include "files.h"
#include "paths.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <new>
#include <vector>

using namespace velkor;

namespace {

// In the order `velkor --help` lists them.
const Command *const Commands[] = {&BuildCommand, &SignCommand,    &ListCommand, &VerifyCommand, &LintCommand,
                                   &DiffCommand,  &PreviewCommand, &ExtractCommand, &InitCommand, &TryCommand};

std::string Footer(const Command &c)
{
    if (!c.ownExitCodes)
        return ExitCodeHelp();
    return "Exit codes: " + std::string(c.ownExitCodes) + "; otherwise as for the other commands:\n" + ExitCodeHelp();
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"velkor: builds, lists, verifies and unpacks Velkor setup packages.", "velkor"};
    app.footer(ExitCodeHelp());
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("velkor ") + VELKOR_VERSION);
    const DataPaths data = FindDataPaths();

    std::vector<std::pair<CLI::App *, CommandRunner>> declared;
    for (const Command *c : Commands) {
        CLI::App *sub = app.add_subcommand(c->name, c->summary);
        declared.emplace_back(sub, c->declare(*sub, data));
        sub->footer(Footer(*c));
    }

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
    std::string target;
    try {
        for (auto &[sub, run] : declared)
            if (*sub)
                return run(target);
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
