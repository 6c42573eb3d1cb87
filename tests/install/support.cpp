// support.cpp -- the fake platform, the shell stand-ins and the package
// builders of the in-process installation tests.
#include "support.h"

#include "format.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace installtest {

Fakes fake;
const DWORD ShippedDrainInterval = DrainInterval;
const DWORD ShippedInstallerStartPause = InstallerStartPause;

// -------------------------------------------------------------- registry --

const std::wstring InstallerKeyName = L"software\\apps\\microsoft application installer";
const std::wstring InstallKeyName = L"software\\apps\\microsoft application installer\\install";

static std::wstring Lower(std::wstring s)
{
    for (wchar_t &c : s)
        c = wchar_t(std::towlower(c));
    return s;
}

Bytes DwordBytes(DWORD v)
{
    Bytes out;
    velkor::PutU32(out, v);
    return out;
}

Bytes WideBytes(const std::wstring &s)
{
    Bytes out;
    for (wchar_t c : s) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

void SetAskDest(const Bytes &data, DWORD type) { fake.registry[InstallerKeyName][L"faskdest"] = {type, data}; }
void SetAskDest(DWORD value) { SetAskDest(DwordBytes(value)); }

const RegistryValue *FindValue(const std::map<std::wstring, RegistryKey> &registry, const std::wstring &key,
                               const std::wstring &name)
{
    auto k = registry.find(Lower(key));
    if (k == registry.end())
        return nullptr;
    auto v = k->second.find(Lower(name));
    return v == k->second.end() ? nullptr : &v->second;
}

// Open fake keys are small numbers standing for the key's name.
static std::vector<std::wstring> openKeyNames;

static LONG FakeOpenKey(const WCHAR *subkey, HKEY *key)
{
    ++fake.opens;
    if (fake.failOpenAt == fake.opens)
        return ERROR_ACCESS_DENIED;
    fake.registry[Lower(subkey)];
    openKeyNames.push_back(Lower(subkey));
    ++fake.openKeys;
    *key = HKEY(uintptr_t(openKeyNames.size()));
    return ERROR_SUCCESS;
}

static RegistryKey &KeyOf(HKEY key) { return fake.registry[openKeyNames.at(uintptr_t(key) - 1)]; }

static LONG FakeQueryValue(HKEY key, const WCHAR *name, void *data, DWORD *size)
{
    RegistryKey &k = KeyOf(key);
    auto v = k.find(Lower(name));
    if (v == k.end())
        return ERROR_FILE_NOT_FOUND;
    if (v->second.data.size() > *size) {
        *size = DWORD(v->second.data.size());
        return ERROR_MORE_DATA;
    }
    std::copy(v->second.data.begin(), v->second.data.end(), static_cast<uint8_t *>(data));
    *size = DWORD(v->second.data.size());
    return ERROR_SUCCESS;
}

static LONG FakeSetValue(HKEY key, const WCHAR *name, DWORD type, const void *data, DWORD size)
{
    ++fake.sets;
    if (fake.failSetAt == fake.sets)
        return ERROR_ACCESS_DENIED;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    KeyOf(key)[Lower(name)] = {type, Bytes(p, p + size)};
    return ERROR_SUCCESS;
}

static LONG FakeDeleteValue(HKEY key, const WCHAR *name)
{
    return KeyOf(key).erase(Lower(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

static void FakeCloseKey(HKEY key) { --fake.openKeys; }

// ---------------------------------------------------------- files, reads --

static HANDLE FakeCreateTemporary(const WCHAR *path)
{
    ++fake.creates;
    if (fake.failCreate)
        return INVALID_HANDLE_VALUE;
    return Win32InstallOs.CreateTemporary(path);
}

static BOOL FakeWrite(HANDLE file, const void *data, DWORD size, DWORD *written)
{
    ++fake.writes;
    if (fake.failWriteAt == fake.writes) {
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (fake.shortWriteAt == fake.writes)
        return Win32InstallOs.Write(file, data, size / 2, written);
    return Win32InstallOs.Write(file, data, size, written);
}

static BOOL FakeDelete(const WCHAR *path)
{
    ++fake.deletes;
    return Win32InstallOs.Delete(path);
}

static HANDLE FakeOpenSource(const WCHAR *path)
{
    if (fake.failOpenSource)
        return INVALID_HANDLE_VALUE;
    return Win32InstallOs.OpenSource(path);
}

static BOOL FakeSourceSize(HANDLE source, ULONGLONG *size)
{
    if (fake.failSourceSize)
        return FALSE;
    return Win32InstallOs.SourceSize(source, size);
}

static BOOL FakeSeek(HANDLE source, DWORD offset)
{
    if (fake.failSeek)
        return FALSE;
    return Win32InstallOs.Seek(source, offset);
}

static BOOL FakeRead(HANDLE source, void *buffer, DWORD size, DWORD *delivered)
{
    int n = ++fake.reads;
    if (fake.onRead)
        fake.onRead(n, size);
    if (fake.failReadAt == n) {
        *delivered = 0;
        return FALSE;
    }
    if (fake.shortReadAt == n)
        return Win32InstallOs.Read(source, buffer, size / 2, delivered);
    return Win32InstallOs.Read(source, buffer, size, delivered);
}

// -------------------------------------------------------------- installer --

static BOOL FakeStartProcess(const WCHAR *application, WCHAR *commandLine, HANDLE *process)
{
    ++fake.starts;
    if (fake.failStart)
        return FALSE;
    if (!fake.startErrors.empty()) {
        SetLastError(fake.startErrors.front());
        fake.startErrors.erase(fake.startErrors.begin());
        return FALSE;
    }
    InstallerRun run;
    run.withCommandLine = commandLine != nullptr;
    if (commandLine)
        run.commandLine = commandLine;
    run.cabExists = Exists(TemporaryCabPath);
    run.cab = ReadBytes(TemporaryCabPath);
    run.registry = fake.registry;
    wchar_t name[256] = L"";
    GetDlgItemTextW(ProgressPage, IDC_PROGRESS_NAME, name, 256);
    run.componentName = name;
    run.waitCursor = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
    run.frameVisible = IsWindowVisible(host.Frame) != FALSE;
    fake.runs.push_back(run);
    *process = nullptr;
    return TRUE;
}

static void FakeWaitProcess(HANDLE process) {}

// ------------------------------------------------------------------ space --

static DWORD FakeFileAttributes(const WCHAR *path)
{
    ++fake.attributeQueries;
    if (fake.realSpace)
        return Win32InstallOs.FileAttributes(path);
    for (const std::wstring &e : fake.existing)
        if (Lower(e) == Lower(path))
            return FILE_ATTRIBUTE_DIRECTORY;
    return INVALID_FILE_ATTRIBUTES;
}

static BOOL FakeFreeBytes(const WCHAR *folder, ULONGLONG *totalFree)
{
    fake.freeQueries.push_back(folder);
    if (fake.realSpace)
        return Win32InstallOs.FreeBytes(folder, totalFree);
    if (fake.failFree)
        return FALSE;
    *totalFree = fake.freeBytes;
    return TRUE;
}

static int FakeMessage(HWND owner, const WCHAR *text, const WCHAR *caption, UINT style)
{
    fake.messages.push_back({owner, text ? text : L"", caption ? caption : L"", style});
    if ((style & MB_TYPEMASK) == MB_YESNO)
        return fake.confirmAnswer;
    return IDOK;
}

void UseFakePlatform()
{
    openKeyNames.clear();
    InstallOs = Win32InstallOs;
    InstallOs.CreateTemporary = FakeCreateTemporary;
    InstallOs.Write = FakeWrite;
    InstallOs.Delete = FakeDelete;
    InstallOs.OpenSource = FakeOpenSource;
    InstallOs.SourceSize = FakeSourceSize;
    InstallOs.Seek = FakeSeek;
    InstallOs.Read = FakeRead;
    InstallOs.OpenKey = FakeOpenKey;
    InstallOs.QueryValue = FakeQueryValue;
    InstallOs.SetValue = FakeSetValue;
    InstallOs.DeleteValue = FakeDeleteValue;
    InstallOs.CloseKey = FakeCloseKey;
    InstallOs.StartProcess = FakeStartProcess;
    InstallOs.WaitProcess = FakeWaitProcess;
    InstallOs.FileAttributes = FakeFileAttributes;
    InstallOs.FreeBytes = FakeFreeBytes;
    InstallOs.Message = FakeMessage;
}

// ------------------------------------------------------------- messages --

void ClickCancel()
{
    PostMessageW(ProgressPage, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 LPARAM(GetDlgItem(ProgressPage, IDCANCEL)));
}

// ---------------------------------------------------------------- fixture --

void InstallFixture::SetUp()
{
    fake = Fakes();
    UseFakePlatform();
    VHeapFailAt(0);
    // Drain after every chunk, so a click lands in the chunk it was made in.
    DrainInterval = 0;
    InstallerStartPause = 1;
    CancelRequested = 0;
    ProgressPage = nullptr;
    ProgressBar = nullptr;
    ASSERT_NE(CreateFrameStandIn(), nullptr);
    DeleteFileW(TemporaryCabPath);
    baselineBlocks = VHeapLiveBlocks();
}

void InstallFixture::TearDown()
{
    VHeapFailAt(0);
    DrainInterval = ShippedDrainInterval;
    InstallerStartPause = ShippedInstallerStartPause;
    for (HANDLE h : sources)
        CloseHandle(h);
    sources.clear();
    if (ProgressPage)
        DestroyWindow(ProgressPage);
    ProgressPage = nullptr;
    ProgressBar = nullptr;
    DestroyFrameStandIn();
    Unload();
    Pump();
    InstallOs = Win32InstallOs;
    EXPECT_FALSE(Exists(TemporaryCabPath)) << "the temporary CAB file was left behind";
    DeleteFileW(TemporaryCabPath);
    EXPECT_EQ(fake.openKeys, 0) << "a registry key was left open";
}

void InstallFixture::Unload()
{
    // ReleasePackage frees without forgetting: never twice for one load.
    ReleasePackage();
    memset(&Package, 0, sizeof Package);
}

void InstallFixture::Load(const PackageFile &file, bool withProgress)
{
    Unload();
    std::wstring path = DeviceRoot() + L"package.bin";
    ASSERT_TRUE(WriteBytes(path, file.bytes)) << "cannot write the test file";
    lstrcpynW(ModulePath, path.c_str(), MODULE_PATH_UNITS);
    ASSERT_EQ(LoadPackage(), LoadSucceeded);
    if (withProgress) {
        ProgressPage = CreateProgressPage(&host);
        ASSERT_NE(ProgressPage, nullptr);
    }
    Pump();
    baselineBlocks = VHeapLiveBlocks();
}

HANDLE InstallFixture::Source(const std::wstring &path)
{
    HANDLE h = Win32InstallOs.OpenSource(path.empty() ? ModulePath : path.c_str());
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    sources.push_back(h);
    return h;
}

int InstallFixture::RunHandOff(size_t component, const std::wstring &sourcePath)
{
    return HandOffComponent(&host, Source(sourcePath), &Package.Components[component]);
}

}  // namespace installtest
