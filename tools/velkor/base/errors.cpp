// errors.cpp -- the exit codes' meanings, for the help texts.
#include "errors.h"

#include <iterator>

namespace velkor {

std::string ExitCodeHelp()
{
    static const struct {
        int code;
        const char *meaning;
    } meanings[] = {
        {ExitOk, "success"},
        {ExitInternal, "internal error"},
        {ExitUsage, "bad command line"},
        {ExitCannotRead, "input file missing or unreadable"},
        {ExitBadManifest, "bad manifest"},
        {ExitBadInput, "component is not a CAB or stub is not a program"},
        {ExitTooLarge, "package would pass 4 GiB"},
        {ExitDamaged, "not a package or a damaged package"},
        {ExitCannotWrite, "output cannot be written"},
        {ExitFindings, "lint found problems"},
        {ExitDiffers, "diff found differences"},
        {ExitPreviewFailed, "preview failed"},
        {ExitTryFailed, "try: the installation did not succeed"},
        {ExitSignature, "signing failed or no good signature"},
        {ExitInterrupted, "interrupted"},
    };
    // Wrapped at 100 columns, as the rest of the help.
    std::string help, line = "Exit codes:";
    for (const auto &m : meanings) {
        std::string item = " " + std::to_string(m.code) + " " + m.meaning + (&m == std::end(meanings) - 1 ? "." : ",");
        if (line.size() + item.size() > 100) {
            help += line + "\n";
            line = item.substr(1);
        } else {
            line += item;
        }
    }
    return help + line;
}

}  // namespace velkor
