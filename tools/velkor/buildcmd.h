// buildcmd.h -- the `velkor build` command around BuildPackageFile: the
// manifest read with its -D values, lint's warnings, one language or all
// of them, and the report as text or JSON.
#pragma once

#include "manifest.h"
#include "sign.h"

#include <string>

namespace velkor {

struct BuildCommand {
    std::string manifest, stub, output;   // output: a file, or a folder with allLanguages
    unsigned jobs = 0;
    Defines defines;
    std::string language;                 // "" : the default texts
    bool allLanguages = false;
    bool json = false;
    bool desktopStub = false;             // accept a stub that is not a device program
    bool defaultStub = false;             // stub is the one that came with velkor, not --stub
    SignOptions sign;                     // sign every file written, when wanted
};

// Writes the setup file(s); throws Failure as BuildPackageFile does.  With
// allLanguages nothing new is left in the folder unless every file builds.
int RunBuildCommand(const BuildCommand &c);

// "NAME=VALUE" into defines; throws Failure(ExitUsage) for anything else.
void AddDefine(Defines &defines, const std::string &arg);

// The file --all-languages writes for a language ("" : the default texts):
// "<manifest's file stem>-<tag>.exe", or "<stem>.exe".
std::string LanguageFileName(const std::string &manifestPath, const std::string &tag);

}  // namespace velkor
