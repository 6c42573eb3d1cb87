// sign.cpp -- `velkor sign`: an Authenticode signature on a built package.
#include "command.h"

#include "errors.h"
#include "sign.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

int RunSign(const std::string &path, std::string out, const SignOptions &sign)
{
    if (out.empty())
        out = path;
    SignPackageFile(path, out, sign);
    std::printf("%s\n", SignedFileLine(out).c_str());
    return ExitOk;
}

CommandRunner DeclareSign(CLI::App &sign, const DataPaths &)
{
    struct Options {
        std::string package, out;
        SignOptions sign;
    };
    auto o = std::make_shared<Options>();
    sign.add_option("package", o->package, "A built setup program, signed or not")->required()->type_name("PACKAGE");
    sign.add_option("-o,--output", o->out, "File to write (default: PACKAGE itself; replaced only when complete)")
        ->type_name("OUT");
    AddSignOptions(&sign, o->sign);
    return [o](std::string &target) {
        target = o->package;
        return RunSign(o->package, o->out, o->sign);
    };
}

}  // namespace

const Command SignCommand = {"sign", "Sign a built package with an Authenticode signature (osslsigncode).", nullptr,
                             DeclareSign};

}  // namespace velkor
