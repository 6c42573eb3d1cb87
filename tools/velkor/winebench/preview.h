// preview.h -- `velkor preview`: pictures of every page of a package, taken
// from the real setup program running under Wine.  The Wine test bench
// (tests/wine/bench.sh) provides a private X server and Wine prefix, and
// the robot (robot.exe) walks the wizard with sample choices and takes the
// screenshots; ImageMagick's montage makes the contact sheet.  Whatever
// happens, the bench is stopped before the command returns, so no X server
// or wineserver is left running.
#pragma once

#include "pkgread.h"

#include <string>
#include <vector>

namespace velkor {

struct PreviewOptions {
    std::string package;
    std::string outDir;
    std::string bench;          // bench.sh, or the folder holding it
    std::string winBin;         // folder with robot.exe (and wceload.exe)
    std::string state;          // bench state folder to keep; empty: a temporary one
    unsigned timeoutSeconds = 600;   // the whole walk through the wizard
    bool json = false;          // the pictures and the text-fit findings as JSON
    bool strict = false;        // a text that does not fit makes the exit code 9
    std::string manifest;       // the package's manifest: findings name its lines
    std::string language;       // the [texts.TAG] the package was built with ("" : the default texts)
};

// The pages the robot sees, in order, choosing "choose a folder" on the
// location page, accepting the agreement and keeping the components: the
// page flags of each, as the setup program's sequencing leads from one to
// the next.  It stops before a Next that would start the installation.
std::vector<uint8_t> PreviewPages(const PackageInfo &p);
// The same for a given choice on the location page: -1 keeps the one the
// page starts with, 0 lets the device choose, 1 chooses a folder.
std::vector<uint8_t> WizardPages(const PackageInfo &p, int locationChoice);

// File name of the picture of page number `n` (from 1) with flag `page`:
// "01-welcome.png".
std::string PreviewFileName(size_t n, uint8_t page);

// The robot script for those pages.  setupExe and shotsDir are Windows
// paths; the pictures are written there under PreviewFileName.  With a
// measurement file (a Windows path) and the expanded texts, the robot also
// measures every text that must fit its control on each page, and those of
// the progress window at the end.
std::string PreviewScript(const PackageInfo &p, const std::vector<uint8_t> &pages, const std::string &setupExe,
                          const std::string &shotsDir, const std::string &measureFile = "",
                          const std::vector<std::u16string> &texts = {});

// Runs the preview and prints the files written, one per line, then the
// texts that do not fit.  Throws
// Failure: ExitCannotRead (package, bench or robot missing), ExitDamaged,
// ExitCannotWrite, ExitPreviewFailed, ExitInterrupted.
int RunPreview(const PreviewOptions &options);

}  // namespace velkor
