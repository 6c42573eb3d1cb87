// verify.cpp -- `velkor verify`: every part of a package decoded, the first damage
// reported, and the signature checked.
#include "command.h"

#include "errors.h"
#include "files.h"
#include "json.h"
#include "pkgread.h"
#include "sign.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace velkor {

namespace {

// Why `verify` fails on the signature, or "".
std::string SignatureFailure(const SignatureInfo &sig, bool required)
{
    if (sig.isSigned && sig.checked && !sig.matches)
        return "the signature does not match the file: " + sig.problem;
    if (required && !sig.isSigned)
        return "not signed, and --require-signature was given";
    if (required && !sig.checked)
        return "the signature could not be checked: " + sig.problem;
    return "";
}

int RunVerify(const std::string &path, bool json, bool requireSignature)
{
    MappedFile f(path, "package");
    try {
        // The program's loader first: its verdict on the header is the one
        // that matters, and this reader's payload pass comes after.
        PackageInfo header = ReadPackage(f.data(), f.size(), ReadDepth::Header);
        CheckWithProgramLoader(f.data(), f.size(), header);
        PackageInfo p = ReadPackage(f.data(), f.size(), ReadDepth::Decode);
        size_t chunks = 0;
        for (const auto &c : p.components)
            chunks += c.chunks.size();
        SignatureInfo sig = InspectSignature(path, f.data(), f.size());
        // A signature that does not match is damage, asked for or not.
        std::string unsignedWhy = SignatureFailure(sig, requireSignature);
        if (json) {
            JsonWriter j;
            j.BeginObject().Key("file").String(path).Key("ok").Bool(unsignedWhy.empty());
            j.Key("components").Number(p.components.size()).Key("chunks").Number(chunks);
            j.Key("texts").Number(p.texts.size());
            SignatureJson(j, sig);
            if (!unsignedWhy.empty())
                j.Key("problem").String(unsignedWhy);
            j.EndObject();
            std::fputs(j.str().c_str(), stdout);
        } else if (unsignedWhy.empty()) {
            std::printf("%s: OK: %zu components, %zu chunks and %zu texts decode; the setup program's loader "
                        "accepts it; %s\n",
                        path.c_str(), p.components.size(), chunks, p.texts.size(), DescribeSignature(sig).c_str());
        }
        if (!unsignedWhy.empty())
            throw Failure(ExitSignature, path + ": " + unsignedWhy);
        return ExitOk;
    } catch (const Damage &d) {
        if (json) {
            JsonWriter j;
            j.BeginObject().Key("file").String(path).Key("ok").Bool(false);
            j.Key("offset").Number(d.offset).Key("item").String(d.item).Key("problem").String(d.problem);
            j.Key("message").String(d.what()).EndObject();
            std::fputs(j.str().c_str(), stdout);
        }
        throw;
    }
}

CommandRunner DeclareVerify(CLI::App &verify, const DataPaths &)
{
    struct Options {
        std::string package;
        bool json = false, requireSignature = false;
    };
    auto o = std::make_shared<Options>();
    verify.add_option("package", o->package, "A built setup program")->required()->type_name("PACKAGE");
    verify.add_flag("--json", o->json, "Print the verdict as JSON on stdout (the error line still goes to stderr)");
    verify.add_flag("--require-signature", o->requireSignature,
                    "Fail unless the file carries a signature that matches it");
    return [o](std::string &target) {
        target = o->package;
        return RunVerify(o->package, o->json, o->requireSignature);
    };
}

}  // namespace

const Command VerifyCommand = {"verify", "Decode every part of a package and report the first damage.", nullptr,
                               DeclareVerify};

}  // namespace velkor
