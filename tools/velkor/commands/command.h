// command.h -- velkor's command table: each command's file exports one row
// (its name, what it does, its options and how it runs), and main() loops
// over the rows.
#pragma once

#include "paths.h"

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace velkor {

// Runs a command once its options are parsed.  It sets `target` to the
// file a package's damage is reported against.
using CommandRunner = std::function<int(std::string &target)>;

struct Command {
    const char *name;
    const char *summary;
    // The codes this command gives a meaning of its own, said before the
    // list every command shares; nullptr when it has none.
    const char *ownExitCodes;
    // Declares the command's options on its subcommand; what they fill
    // lives in the returned runner.
    CommandRunner (*declare)(CLI::App &command, const DataPaths &data);
};

extern const Command InitCommand, BuildCommand, SignCommand, ListCommand, VerifyCommand, ExtractCommand,
    LintCommand, DiffCommand, PreviewCommand, TryCommand;

// The -D option of build and lint: NAME=VALUE arguments, turned into
// Defines by AddDefine when the command runs.
void AddDefineOption(CLI::App &command, std::vector<std::string> &defineArgs);
// --sign, --key, --pkcs12, --password-file and --password-env of build
// and sign.
struct SignOptions;
void AddSignOptions(CLI::App *command, SignOptions &options);
// --bench, --win-bin and --state of preview and try.
void AddBenchOptions(CLI::App &command, std::string &bench, std::string &winBin, std::string &state);

}  // namespace velkor
