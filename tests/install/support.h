// support.h -- the in-process bench of the installation tests: a fake of
// the installation's platform layer (temporary file, package reads,
// registry, installer, free space, message boxes) with fault injection,
// the few shell pieces the installation calls, and package builders.
#pragma once

#include "install.h"
#include "handoff_io.h"
#include "testpackages.h"
#include "hoststandin.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace installtest {

using velkor::Bytes;

// ---- files in the device root ----
using testsupport::DeviceRoot;
using testsupport::Exists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// ---- the fake platform ----
struct RegistryValue {
    DWORD type = 0;
    Bytes data;
};
inline bool operator==(const RegistryValue &a, const RegistryValue &b) { return a.type == b.type && a.data == b.data; }
using RegistryKey = std::map<std::wstring, RegistryValue>;   // by lower-case name

struct MessageRecord {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT style = 0;
};

struct InstallerRun {
    bool withCommandLine = false;
    std::wstring commandLine;
    bool cabExists = false;
    Bytes cab;
    std::map<std::wstring, RegistryKey> registry;   // as the installer found it
    std::wstring componentName;                     // control IDC_PROGRESS_NAME
    bool waitCursor = false;
    bool frameVisible = false;
};

struct Fakes {
    // temporary file
    bool failCreate = false;
    int creates = 0;
    int writes = 0;
    int failWriteAt = 0;          // the k-th write fails
    int shortWriteAt = 0;         // the k-th write delivers half
    int deletes = 0;
    // package reads
    bool failOpenSource = false;
    bool failSourceSize = false;  // its length cannot be learnt
    bool failSeek = false;        // it cannot be positioned
    int reads = 0;
    int failReadAt = 0;
    int shortReadAt = 0;
    std::function<void(int read, DWORD size)> onRead;
    // registry: key path (lower case) -> values
    std::map<std::wstring, RegistryKey> registry;
    int opens = 0;
    int failOpenAt = 0;           // the k-th RegCreateKeyEx fails
    int sets = 0;
    int failSetAt = 0;            // the k-th RegSetValueEx fails
    int openKeys = 0;             // opened and not yet closed
    // installer
    bool failStart = false;
    std::vector<DWORD> startErrors;   // starts fail with these in turn (SetLastError) first
    int starts = 0;
    std::vector<InstallerRun> runs;
    // space
    bool realSpace = false;
    std::vector<std::wstring> existing;   // folders whose attributes exist
    int attributeQueries = 0;
    ULONGLONG freeBytes = 1ull << 40;
    bool failFree = false;
    std::vector<std::wstring> freeQueries;
    // message boxes
    std::vector<MessageRecord> messages;
    int confirmAnswer = IDYES;    // for MB_YESNO boxes
};

extern Fakes fake;
// DrainInterval as the setup program has it; the fixture sets 0.
extern const DWORD ShippedDrainInterval;
// InstallerStartPause as the setup program has it; the fixture sets 1.
extern const DWORD ShippedInstallerStartPause;

// Installs the fake table; the real calls stay reachable underneath.
void UseFakePlatform();

// Registry helpers on the fake.
extern const std::wstring InstallerKeyName;   // lower case
extern const std::wstring InstallKeyName;
void SetAskDest(const Bytes &data, DWORD type = REG_DWORD);
void SetAskDest(DWORD value);
const RegistryValue *FindValue(const std::map<std::wstring, RegistryKey> &registry, const std::wstring &key,
                               const std::wstring &name);
Bytes DwordBytes(DWORD v);
Bytes WideBytes(const std::wstring &s);       // with the terminator

// Posts a click of the progress window's Cancel button, as the button does.
void ClickCancel();
// Handles what is queued (without the installation's own drain).
using testsupport::Pump;

// ---- fixture ----
class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes the package as "\package.bin" of the device root, points
    // ModulePath at it, loads it and creates the progress window.
    void Load(const PackageFile &file, bool withProgress = true);
    void Unload();
    HANDLE Source(const std::wstring &path = L"");   // opened for reading; closed in TearDown
    int RunHandOff(size_t component, const std::wstring &sourcePath = L"");
    long baselineBlocks = 0;
    std::vector<HANDLE> sources;
};

}  // namespace installtest
