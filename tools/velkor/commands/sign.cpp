// sign.cpp -- `velkor sign`: an Authenticode signature on a built package.
#include "command.h"

#include "errors.h"
#include "sign.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

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
        // Without -o, the package is signed where it is.
        const std::string &out = o->out.empty() ? o->package : o->out;
        SignPackageFile(o->package, out, o->sign);
        std::printf("%s\n", SignedFileLine(out).c_str());
        return int(ExitOk);
    };
}

}  // namespace

void AddSignOptions(CLI::App *command, SignOptions &o)
{
    command->add_option("--sign", o.cert, "Sign with this certificate (PEM or DER; with --key)")->type_name("CERT");
    command->add_option("--key", o.key, "The certificate's private key")->type_name("KEY");
    command->add_option("--pkcs12", o.pkcs12, "Sign with the certificate and key of this PKCS#12 file")
        ->type_name("FILE");
    command->add_option("--password-file", o.passwordFile, "Read the key's password from the first line of F")
        ->type_name("F");
    command->add_option("--password-env", o.passwordEnv, "Take the key's password from the environment variable NAME")
        ->type_name("NAME");
}

const Command SignCommand = {"sign", "Sign a built package with an Authenticode signature (osslsigncode).", nullptr,
                             DeclareSign};

}  // namespace velkor
