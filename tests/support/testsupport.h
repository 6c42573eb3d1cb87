// testsupport.h -- what the test programs share: the sample package most
// tests start from, the image and trailer around a package, and on Windows
// the device root of the bench run, whole-file reads and writes, folders,
// text conversions, message pumping and a clock.
#pragma once

#include "pkgwrite.h"

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <map>
#endif

namespace testsupport {

using velkor::Bytes;

// ---- sample packages ----

// "Tool" by "Acme" with every default text and no component yet.
velkor::PackageRecipe ToolRecipe(uint8_t pageFlags = 0, uint8_t useDefaultLocation = 0,
                                 const std::u16string &destination = u"\\Program Files\\%SoftwareName%");
// Adds a component (no CAB) per name, selected unless `selected` says otherwise.
void AddComponents(velkor::PackageRecipe &recipe, const std::vector<std::u16string> &names,
                   const std::vector<bool> &selected = {}, bool acceptsDestination = true);
// The trailer that points at a header at `headerOffset`.
Bytes Trailer(uint32_t headerOffset, const char magic[4] = "VKR1");
// `image`, the header of `recipe` whose component i reports sizes[i] bytes,
// and the trailer; no payloads, so it is for loading and looking only.
Bytes SizedPackage(const Bytes &image, const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes);

#ifdef _WIN32
// ---- the device root and its files ----

// The bench run's device root, "X:\": VELKOR_ROOT, else the current drive.
std::wstring DeviceRoot();
bool Exists(const std::wstring &path);
Bytes ReadBytes(const std::wstring &path);              // empty when missing or unreadable
bool WriteBytes(const std::wstring &path, const Bytes &bytes);
std::string ReadText(const std::wstring &path);         // empty when missing
// Makes each folder under `root` with its parents; false when one is missing after.
bool MakeFolders(const std::wstring &root, const std::vector<std::wstring> &relativePaths,
                 std::wstring *failed = nullptr);
void RemoveTree(const std::wstring &folder);            // the folder and all it holds

// The lines of the installer stand-in's log ("windows\wceload.log" under the
// device root) as field -> value, in the order run.  Values have their %XX
// escapes undone; a list's items are joined by "|".
using LogLine = std::map<std::string, std::string>;
std::vector<LogLine> InstallerLog(const std::wstring &deviceRoot = DeviceRoot());

// ---- the prefix's registry, where the installer keeps its values ----
extern const wchar_t InstallerKey[];   // under HKEY_LOCAL_MACHINE
extern const wchar_t InstallKey[];
// Writes "fAskDest" as a DWORD, or deletes it when not `present`; false
// when the key cannot be created.
bool SetRegistryAskDest(bool present, DWORD value = 0);
// "fAskDest" when it is there and fits a DWORD.
bool ReadAskDest(DWORD *value, DWORD *type = nullptr);
// Deletes the "\kCABFILE.cab" value the installer leaves under InstallKey.
void ClearInstallValue();
// "fAskDest" as text, "missing" when it is absent.
std::string AskDestText();
// The installer's values as a test starts them: "fAskDest" as given (see
// SetRegistryAskDest) and no "\kCABFILE.cab" value.  False when the key
// cannot be created.
bool ResetInstallerValues(bool present, DWORD value = 0);

// ---- text ----
std::string Narrow(const std::wstring &s);      // UTF-8
std::wstring Widen(const std::string &s);       // from UTF-8
std::string Printable(const std::wstring &s);   // printable ASCII, anything else '?'

// ---- messages and time ----
// Handles what is queued, without waiting.
void Pump();
// Handles the thread's messages (translated) for `ms` milliseconds.
void PumpFor(DWORD ms);
// Seconds on the performance counter.
double Now();
#endif

}  // namespace testsupport
