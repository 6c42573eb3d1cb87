// devicefiles.h -- files and the installer stand-in's log in the emulated
// device root, as the end-to-end installation tests look at them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace devicefiles {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::wstring &path);   // empty when missing or unreadable
bool WriteAll(const std::wstring &path, const Bytes &bytes);
bool Exists(const std::wstring &path);
void RemoveTree(const std::wstring &folder);   // the folder and all it holds

// The lines of the stand-in's log ("windows\wceload.log" under the device
// root, with its backslash) as field -> value, in the order run.
using LogLine = std::map<std::string, std::string>;
std::vector<LogLine> InstallerLog(const std::wstring &deviceRoot);

}  // namespace devicefiles
