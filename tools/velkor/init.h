// init.h -- `velkor init`: a first manifest from the device CABs an author
// already has.  Each CAB's setup information (its .000 member) gives the
// application's name, its provider, the folder it installs into and how
// many files it holds; the manifest gets one component per CAB, the pages
// most packages want and every text at its default, each with a comment
// saying where it shows, so that it builds as it stands and is edited from
// there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velkor {

// What init learns from one CAB.
struct CabSummary {
    std::string file;           // as written into the manifest
    bool device = false;        // has setup information
    std::string appName;        // UTF-8; the file's stem for a plain CAB
    std::string provider;       // UTF-8; empty for a plain CAB
    std::string installFolder;  // device path, UTF-8; empty for a plain CAB
    size_t fileCount = 0;       // files the setup information installs, or CAB members
    std::string note;           // why a CAB is taken as plain, when it has a .000 that was not read
};

// Reads one CAB.  Throws Failure: ExitCannotRead (missing, unreadable),
// ExitBadInput (not a cabinet, spans cabinets, several .000 members, a
// .000 that is malformed or that the device installer could not plan).
CabSummary SummariseCab(const std::string &path);

// The manifest text for these CABs (at least one), in this order.
std::string InitManifest(const std::vector<CabSummary> &cabs);

struct InitOptions {
    std::vector<std::string> cabs;
    std::string output = "manifest.toml";
    bool force = false;
};

// Reads the CABs, writes the manifest (refusing to replace one without
// force) and says what it wrote.  Nothing is written when a CAB fails.
int RunInit(const InitOptions &options);

}  // namespace velkor
