// try.h -- `velkor try`: a package's whole installation, run by the real
// setup program and the installer stand-in under the Wine bench, without a
// device.  The robot walks the wizard with the package's defaults or with
// the author's choices (components, location, destination) and presses
// Install; afterwards the emulated device root, the installer's log and the
// registry show what the installation left behind.
#pragma once

#include "pkgread.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

// What the wizard is told on its pages.  Unset choices keep what the
// package starts with.
struct TryChoices {
    bool hasComponents = false;
    std::vector<std::string> components;   // names ticked; the rest are cleared
    int location = -1;                     // -1 as the page starts, 0 device's choice, 1 a folder
    bool hasDestination = false;
    std::string destination;
};

// Reads a choices file (TOML: components = [...], location = "default" or
// "folder", destination = '...').  Throws Failure: ExitCannotRead,
// ExitBadManifest for syntax, unknown keys and bad values.
TryChoices LoadChoices(const std::string &path);

// The robot script that installs the package with these choices, and the
// pages it walks.  Throws Failure(ExitUsage) for a choice the package has
// no page for, a component it does not hold, or a destination page that
// would start blank with no --destination.
std::string TryScript(const PackageInfo &p, const TryChoices &choices, const std::string &setupExe,
                      unsigned waitSeconds, std::vector<uint8_t> *pages);

// The components Setup hands to the installer with these choices.
std::vector<size_t> TrySelected(const PackageInfo &p, const TryChoices &choices);

// One run of the installer, a line of \windows\wceload.log.
struct InstallerRun {
    std::string component;          // the package's component it installed, as far as known
    std::string cmdline, cab, dest, askDest, asked, error;
    std::vector<std::string> files, skipped;
    long registry = 0;
    long exitCode = -1;
};
std::vector<InstallerRun> ParseInstallerLog(const std::string &text);

struct DeviceFile {
    std::string path;   // device path, "\Program Files\Tool\a.txt"
    uint64_t size = 0;
};
struct DeviceShortcut {
    std::string path, target;
};
struct RegistryValue {
    std::string key, name, type, data;
};

// Files and folders of an emulated device root, the bench's own files
// (\windows\wceload.exe, the installer's log) left out; shortcut files
// found by their contents.
void ReadDeviceRoot(const std::string &root, std::vector<std::string> *folders, std::vector<DeviceFile> *files,
                    std::vector<DeviceShortcut> *shortcuts);

// The registry values (full key, value name or "(Default)") a device
// CAB's setup information writes; none for a CAB that is not one.
std::vector<std::pair<std::string, std::string>> PlannedRegistryValues(const std::vector<uint8_t> &cab);

// Values in the output of `reg query KEY /s`.
std::vector<RegistryValue> ParseRegQuery(const std::string &text);

// What a try found, and the two ways it is printed.  The JSON is valid
// UTF-8 whatever the package and the device hold (bad sequences and lone
// surrogates become U+FFFD).
struct TryReport {
    std::string package;
    bool ok = false;
    std::string problem;
    std::vector<uint8_t> pages;          // walked, in order
    std::vector<std::string> selected;   // components handed to the installer
    std::vector<InstallerRun> runs;
    std::vector<std::string> folders;
    std::vector<DeviceFile> files;
    std::vector<DeviceShortcut> shortcuts;
    std::vector<RegistryValue> registry;
};
std::string TryText(const TryReport &report);
std::string TryJson(const TryReport &report);

struct TryOptions {
    std::string package;
    TryChoices choices;
    std::string choicesFile;
    bool json = false;
    std::string bench, winBin, state;
    unsigned timeoutSeconds = 600;
};

// Runs the installation and prints what landed.  Throws Failure:
// ExitCannotRead, ExitDamaged, ExitUsage, ExitPreviewFailed (the bench),
// ExitTryFailed (the installation did not succeed; the report is printed
// first), ExitInterrupted.
int RunTry(const TryOptions &options);

}  // namespace velkor
