// packages.h -- setup programs with a package, written into the device root
// for the end-to-end tests and the robot's scripts.
#pragma once

#include "pkgwrite.h"

#include <string>

namespace robot {

// %VELKOR_BIN%\setup.exe
std::wstring SetupExePath();

// Writes `<device root>\<fileName>`: the bytes of setup.exe followed by the
// package of `recipe`.  Returns the file's Windows path; throws robot::Failure
// when setup.exe cannot be read or the file cannot be written.
std::wstring WritePackageExe(const velkor::PackageRecipe &recipe, const std::wstring &fileName);

// Writes raw bytes as `<device root>\<fileName>` (damaged packages).
std::wstring WriteDeviceFile(const std::wstring &fileName, const velkor::Bytes &bytes);

// The bytes of setup.exe, read once.
const velkor::Bytes &SetupImage();

// A package with every text, a product "Tool" by "Acme" and the page flags
// given; one selected component made from a fixture CAB when `withComponent`.
velkor::PackageRecipe SamplePackage(uint8_t pageFlags, uint8_t useDefaultLocation, bool withComponent);

}  // namespace robot
