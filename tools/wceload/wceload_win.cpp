/*
 * wceload_win.cpp -- the desktop stand-in for the device's CAB installer
 * "\windows\wceload.exe": extracts a CAB with the system's FDI into the
 * emulated device root (the current drive) and keeps the hand-off contract
 * of the setup program.  It never deletes the CAB unless told "/delete 1".
 *
 * Command line: [options] <CAB path>, the path unsplit (spaces need no
 * quotes; one pair of surrounding quotes is removed).  Options: /noaskdest,
 * /askdest, /delete 0|1, /nodelete, /noui, /silent, /nouninstall.  With no
 * command line the CAB is "\kCABFILE.cab" and its destination the REG_SZ
 * value of that name under HKLM "SOFTWARE\Apps\Microsoft Application
 * Installer\Install" (with /noaskdest: the value named by the given path).
 *
 * Log: one line per run appended to "\windows\wceload.log", UTF-8, CRLF,
 * tab-separated, fields always in this order:
 *   wceload  cmdline=<arguments>  cab=<CAB path>  dest=<folder installed into>
 *   fAskDest=<number|missing|invalid>  asked=<yes|no>  files=<a|b\c|\Windows\x>
 *   skipped=<same form>  registry=<values written>  error=<text, empty on success>
 *   exit=<code>
 * files lists what was written, relative to dest, or as a device path
 * ("\..."), when it lies outside dest.  In values %, tab, CR, LF and | are
 * written as %XX.
 *
 * Exit codes: 0 success, 1 bad command line, 2 CAB missing, 3 FDI refused
 * the cabinet (not a CAB, damaged, truncated, spanned), 4 refused member
 * name, 5 write failure, 6 CAB without files, 7 unusable destination,
 * 8 malformed setup information (.000), 9 out of memory.  On every failure
 * nothing stays behind: files are staged in a private folder inside the
 * destination and moved into place only when the whole CAB is good.
 */
#include <windows.h>
#include <fdi.h>

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "ce000.h"
#include "rules.h"

using namespace wceload;

namespace {

const wchar_t InstallerKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";
const wchar_t InstallKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install";
const wchar_t LogPath[] = L"\\windows\\wceload.log";
const char CabinetAlias[] = "wceload-cabinet";   // FDI asks for this; we open the real path

std::wstring W(const Str &s) { return std::wstring(s.begin(), s.end()); }
Str S(const wchar_t *s) { return Str(s, s + wcslen(s)); }

struct Failure {
    int Code;
    std::string Text;
};

// ---- FDI streams: the cabinet, staged files and the in-memory .000 ----

struct Stream {
    bool Open = false;
    HANDLE File = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> *Memory = nullptr;
    size_t Member = 0;
    uint64_t Written = 0;
};

struct Member {
    Str Name;
    uint32_t Size = 0;
    FILETIME Time = {0, 0};
    bool Staged = false;
};

struct FdiRun {
    std::wstring CabPath;
    bool Listing = true;                 // first pass: names only, .000 into memory
    std::vector<Member> Members;
    std::vector<uint8_t> SetupInfo;
    int SetupInfoCount = 0;
    bool SetupInfoTooBig = false;
    std::vector<bool> Wanted;            // second pass: which members to stage
    std::wstring StageFolder;
    size_t Next = 0;
    bool WriteFailed = false;
    bool Spanned = false;
    bool Mismatch = false;
};

std::vector<Stream> Streams;             // handle = index + 1
FdiRun *Current = nullptr;

INT_PTR NewStream(const Stream &s)
{
    for (size_t i = 0; i < Streams.size(); ++i)
        if (!Streams[i].Open) {
            Streams[i] = s;
            Streams[i].Open = true;
            return INT_PTR(i + 1);
        }
    Streams.push_back(s);
    Streams.back().Open = true;
    return INT_PTR(Streams.size());
}

Stream *GetStream(INT_PTR handle)
{
    if (handle <= 0 || size_t(handle) > Streams.size() || !Streams[handle - 1].Open)
        return nullptr;
    return &Streams[handle - 1];
}

void CloseStream(Stream *s)
{
    if (s->File != INVALID_HANDLE_VALUE)
        CloseHandle(s->File);
    *s = Stream();
}

FNALLOC(FdiAlloc) { return malloc(cb); }
FNFREE(FdiFree) { free(pv); }

FNOPEN(FdiOpen)
{
    // Only the cabinet itself is opened through here; spanned sets and
    // spill files are not supported.
    if (strcmp(pszFile, CabinetAlias) != 0 || !Current)
        return -1;
    Stream s;
    s.File = CreateFileW(Current->CabPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (s.File == INVALID_HANDLE_VALUE)
        return -1;
    return NewStream(s);
}

FNREAD(FdiRead)
{
    Stream *s = GetStream(hf);
    DWORD got = 0;
    if (!s || s->File == INVALID_HANDLE_VALUE || !ReadFile(s->File, pv, cb, &got, nullptr))
        return UINT(-1);
    return got;
}

FNWRITE(FdiWrite)
{
    Stream *s = GetStream(hf);
    if (!s)
        return UINT(-1);
    if (s->Memory) {
        if (cb > CeMaxSetupInfoSize - s->Memory->size()) {
            Current->SetupInfoTooBig = true;
            return UINT(-1);
        }
        s->Memory->insert(s->Memory->end(), (uint8_t *)pv, (uint8_t *)pv + cb);
        s->Written += cb;
        return cb;
    }
    DWORD put = 0;
    if (!WriteFile(s->File, pv, cb, &put, nullptr) || put != cb) {
        Current->WriteFailed = true;
        return UINT(-1);
    }
    s->Written += cb;
    return cb;
}

FNCLOSE(FdiClose)
{
    Stream *s = GetStream(hf);
    if (!s)
        return -1;
    CloseStream(s);
    return 0;
}

FNSEEK(FdiSeek)
{
    Stream *s = GetStream(hf);
    if (!s || s->File == INVALID_HANDLE_VALUE)
        return -1;
    DWORD method = seektype == SEEK_SET ? FILE_BEGIN : seektype == SEEK_CUR ? FILE_CURRENT : FILE_END;
    DWORD pos = SetFilePointer(s->File, dist, nullptr, method);
    return pos == INVALID_SET_FILE_POINTER ? -1 : LONG(pos);
}

Str MemberName(const FDINOTIFICATION *n)
{
    UINT codePage = (n->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    int len = MultiByteToWideChar(codePage, 0, n->psz1, -1, nullptr, 0);
    if (len <= 0)
        return Str();
    std::wstring w(len, L'\0');
    MultiByteToWideChar(codePage, 0, n->psz1, -1, &w[0], len);
    w.resize(len - 1);
    return Str(w.begin(), w.end());
}

FNFDINOTIFY(FdiNotify)
{
    FdiRun *run = Current;
    switch (fdint) {
    case fdintCOPY_FILE: {
        Str name = MemberName(pfdin);
        if (run->Listing) {
            Member m;
            m.Name = name;
            m.Size = uint32_t(pfdin->cb);
            FILETIME local;
            if (!DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) || !LocalFileTimeToFileTime(&local, &m.Time))
                m.Time = FILETIME{0, 0};
            run->Members.push_back(m);
            if (MemberFileNumber(name) == 0 && ++run->SetupInfoCount == 1) {
                Stream s;
                s.Memory = &run->SetupInfo;
                s.Member = run->Members.size() - 1;
                return NewStream(s);
            }
            return 0;
        }
        size_t index = run->Next++;
        if (index >= run->Members.size() || run->Members[index].Name != name) {
            run->Mismatch = true;
            return -1;
        }
        if (!run->Wanted[index])
            return 0;
        Stream s;
        s.Member = index;
        std::wstring path = run->StageFolder + L"\\" + std::to_wstring(index);
        s.File = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (s.File == INVALID_HANDLE_VALUE) {
            run->WriteFailed = true;
            return -1;
        }
        return NewStream(s);
    }
    case fdintCLOSE_FILE_INFO: {
        Stream *s = GetStream(pfdin->hf);
        if (!s)
            return FALSE;
        Member &m = run->Members[s->Member];
        if (s->File != INVALID_HANDLE_VALUE && (m.Time.dwLowDateTime || m.Time.dwHighDateTime))
            SetFileTime(s->File, nullptr, nullptr, &m.Time);
        if (!run->Listing && s->Written == m.Size)
            m.Staged = true;
        CloseStream(s);
        return TRUE;
    }
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
        run->Spanned = true;
        return -1;
    default:
        return 0;
    }
}

// One FDI pass over the cabinet.  Fails with 3 (cabinet), 5 (write) or 9.
bool RunFdi(FdiRun *run, Failure *failure)
{
    ERF erf = {};
    HFDI fdi = FDICreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &erf);
    if (!fdi) {
        *failure = {ExitOutOfMemory, "cabinet library could not start"};
        return false;
    }
    Current = run;
    bool ok = true;
    if (run->Listing) {
        INT_PTR h = FdiOpen(const_cast<char *>(CabinetAlias), 0, 0);
        FDICABINETINFO info = {};
        ok = h != -1 && FDIIsCabinet(fdi, h, &info);
        if (h != -1)
            FdiClose(h);
        if (!ok)
            *failure = {ExitCabinetFailure, "not a cabinet file"};
        else if (info.hasprev || info.hasnext || info.iCabinet != 0) {
            *failure = {ExitCabinetFailure, "cabinet is part of a spanned set"};
            ok = false;
        }
    }
    if (ok && !FDICopy(fdi, const_cast<char *>(CabinetAlias), const_cast<char *>(""), 0, FdiNotify, nullptr, run)) {
        ok = false;
        if (run->WriteFailed)
            *failure = {ExitWriteFailure, "cannot write a staged file"};
        else if (run->SetupInfoTooBig)
            *failure = {ExitBadSetupInfo, "setup information too large"};
        else if (run->Spanned)
            *failure = {ExitCabinetFailure, "cabinet continues in another cabinet"};
        else if (erf.erfOper == FDIERROR_ALLOC_FAIL)
            *failure = {ExitOutOfMemory, "out of memory in the cabinet library"};
        else
            *failure = {ExitCabinetFailure, "cabinet library error " + std::to_string(erf.erfOper)};
    }
    FDIDestroy(fdi);
    for (size_t i = 0; i < Streams.size(); ++i)   // what FDI left open after an error
        if (Streams[i].Open)
            CloseStream(&Streams[i]);
    Current = nullptr;
    return ok;
}

// ---- registry ----

HKEY RootKey(uint16_t root)
{
    switch (root) {
    case RootClassesRoot: return HKEY_CLASSES_ROOT;
    case RootCurrentUser: return HKEY_CURRENT_USER;
    case RootUsers: return HKEY_USERS;
    default: return HKEY_LOCAL_MACHINE;
    }
}

std::string ReadAskDest(DWORD *value)
{
    *value = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "missing";
    DWORD type = 0, data = 0, size = sizeof data;
    LONG r = RegQueryValueExW(key, L"fAskDest", nullptr, &type, (BYTE *)&data, &size);
    RegCloseKey(key);
    if (r == ERROR_FILE_NOT_FOUND)
        return "missing";
    if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data)
        return "invalid";
    *value = data;
    return std::to_string(data);
}

// The Install value named by the CAB path; false when there is none.
bool ReadDestinationValue(const Str &cabPath, Str *destination)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    std::wstring name = W(cabPath);
    DWORD type = 0, size = 0;
    bool ok = false;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, 0);
        DWORD got = DWORD(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, (BYTE *)data.data(), &got) == ERROR_SUCCESS) {
            data.back() = 0;
            *destination = S(data.data());
            ok = !destination->empty();
        }
    }
    RegCloseKey(key);
    return ok;
}

// ---- carrying out a plan, with everything needed to take it back ----

struct Placement {
    size_t Member;
    Str Target;          // device path
    uint32_t Flags;
};

class Installer {
public:
    explicit Installer(LogRecord *log) : log_(log) {}
    ~Installer() { Cleanup(); }

    bool EnsureFolder(const Str &devicePath);
    bool MakeStage(const Str &folder);
    const std::wstring &Stage() const { return stage_; }
    // Moves the staged member into place (or skips it as its flags say).
    bool Place(const Placement &p, const FdiRun &run);
    bool WriteShortcut(const PlannedLink &link);
    bool WriteValue(uint16_t root, const Str &key, const Str &name, DWORD type,
                    const std::vector<uint8_t> &data, bool keepExisting);
    void Commit() { committed_ = true; }
    std::string Why;

private:
    struct SavedValue { HKEY Root; std::wstring Key, Name; bool Existed; DWORD Type; std::vector<uint8_t> Data; };
    struct SavedKey { HKEY Root; std::wstring Key; };
    struct Written { std::wstring Target, Backup; };

    bool ParentFolder(const Str &devicePath);
    bool MoveAsideExisting(const std::wstring &target, std::wstring *backup);
    void Cleanup();

    LogRecord *log_;
    bool committed_ = false;
    std::wstring stage_;
    std::vector<std::wstring> createdFolders_;
    std::vector<Written> written_;
    std::vector<SavedValue> values_;
    std::vector<SavedKey> keys_;
    unsigned backups_ = 0;
};

bool Installer::EnsureFolder(const Str &devicePath)
{
    std::wstring path = W(devicePath);
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\')
            continue;
        std::wstring part = path.substr(0, i);
        DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                Why = "a file is in the way of folder " + ToUtf8(S(part.c_str()));
                return false;
            }
            continue;
        }
        if (!CreateDirectoryW(part.c_str(), nullptr)) {
            Why = "cannot create folder " + ToUtf8(S(part.c_str()));
            return false;
        }
        createdFolders_.push_back(part);
    }
    return true;
}

bool Installer::ParentFolder(const Str &devicePath)
{
    size_t slash = devicePath.find_last_of(u'\\');
    return slash == 0 || EnsureFolder(devicePath.substr(0, slash));
}

bool Installer::MakeStage(const Str &folder)
{
    if (!EnsureFolder(folder))
        return false;
    std::wstring f = W(folder);
    stage_ = (f == L"\\" ? L"" : f) + L"\\~wceload" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    if (!CreateDirectoryW(stage_.c_str(), nullptr)) {
        Why = "cannot create the staging folder";
        stage_.clear();
        return false;
    }
    return true;
}

bool Installer::MoveAsideExisting(const std::wstring &target, std::wstring *backup)
{
    backup->clear();
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        Why = "a folder is in the way of " + ToUtf8(S(target.c_str()));
        return false;
    }
    *backup = stage_ + L"\\old" + std::to_wstring(backups_++);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!MoveFileW(target.c_str(), backup->c_str())) {
        Why = "cannot replace " + ToUtf8(S(target.c_str()));
        return false;
    }
    return true;
}

bool Installer::Place(const Placement &p, const FdiRun &run)
{
    std::wstring target = W(p.Target);
    WIN32_FILE_ATTRIBUTE_DATA existing;
    bool exists = GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &existing) &&
                  !(existing.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const Member &m = run.Members[p.Member];
    bool skip = ((p.Flags & CeFileNeverOverwrite) && exists) || ((p.Flags & CeFileOnlyIfExists) && !exists) ||
                ((p.Flags & CeFileKeepNewer) && exists && CompareFileTime(&existing.ftLastWriteTime, &m.Time) > 0);
    if (skip) {
        log_->Skipped.push_back(p.Target);
        return true;
    }
    if (!ParentFolder(p.Target))
        return false;
    Written w{target, L""};
    if (!MoveAsideExisting(target, &w.Backup))
        return false;
    std::wstring staged = stage_ + L"\\" + std::to_wstring(p.Member);
    if (!MoveFileW(staged.c_str(), target.c_str())) {
        Why = "cannot move a file into " + ToUtf8(p.Target);
        if (!w.Backup.empty())
            MoveFileW(w.Backup.c_str(), target.c_str());
        return false;
    }
    written_.push_back(w);
    log_->Files.push_back(p.Target);
    return true;
}

bool Installer::WriteShortcut(const PlannedLink &link)
{
    if (!ParentFolder(link.Path))
        return false;
    std::wstring path = W(link.Path);
    Written w{path, L""};
    if (!MoveAsideExisting(path, &w.Backup))
        return false;
    std::string text = ToUtf8(ShortcutText(link.Target));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        written_.push_back(w);
        ok = WriteFile(file, text.data(), DWORD(text.size()), &put, nullptr) && put == text.size();
        CloseHandle(file);
    } else if (!w.Backup.empty()) {
        MoveFileW(w.Backup.c_str(), path.c_str());
    }
    if (!ok) {
        Why = "cannot write shortcut " + ToUtf8(link.Path);
        return false;
    }
    log_->Files.push_back(link.Path);
    return true;
}

bool Installer::WriteValue(uint16_t root, const Str &keyPath, const Str &name, DWORD type,
                           const std::vector<uint8_t> &data, bool keepExisting)
{
    HKEY rootKey = RootKey(root);
    std::wstring keyName = W(keyPath), valueName = W(name);
    // Create the key one level at a time so that exactly the new ones are
    // removed again on failure.
    for (size_t i = 0; i <= keyName.size(); ++i) {
        if (i < keyName.size() && keyName[i] != L'\\')
            continue;
        HKEY k;
        DWORD disposition = 0;
        std::wstring part = keyName.substr(0, i);
        if (RegCreateKeyExW(rootKey, part.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, &disposition) != ERROR_SUCCESS) {
            Why = "cannot create registry key " + ToUtf8(keyPath);
            return false;
        }
        RegCloseKey(k);
        if (disposition == REG_CREATED_NEW_KEY)
            keys_.push_back(SavedKey{rootKey, part});
    }
    HKEY key;
    if (RegOpenKeyExW(rootKey, keyName.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) {
        Why = "cannot open registry key " + ToUtf8(keyPath);
        return false;
    }
    SavedValue saved{rootKey, keyName, valueName, false, 0, {}};
    DWORD size = 0;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &saved.Type, nullptr, &size) == ERROR_SUCCESS) {
        saved.Existed = true;
        saved.Data.resize(size);
        if (size && RegQueryValueExW(key, valueName.c_str(), nullptr, &saved.Type, saved.Data.data(), &size) != ERROR_SUCCESS)
            saved.Data.clear();
    }
    if (saved.Existed && keepExisting) {
        RegCloseKey(key);
        return true;
    }
    LONG r = RegSetValueExW(key, valueName.c_str(), 0, type, data.empty() ? nullptr : data.data(), DWORD(data.size()));
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        Why = "cannot write registry value " + ToUtf8(name) + " under " + ToUtf8(keyPath);
        return false;
    }
    values_.push_back(saved);
    log_->RegistryValues++;
    return true;
}

void Installer::Cleanup()
{
    if (!committed_) {
        for (auto v = values_.rbegin(); v != values_.rend(); ++v) {
            HKEY key;
            if (RegOpenKeyExW(v->Root, v->Key.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
                continue;
            if (v->Existed)
                RegSetValueExW(key, v->Name.c_str(), 0, v->Type, v->Data.empty() ? nullptr : v->Data.data(), DWORD(v->Data.size()));
            else
                RegDeleteValueW(key, v->Name.c_str());
            RegCloseKey(key);
        }
        for (auto k = keys_.rbegin(); k != keys_.rend(); ++k)
            RegDeleteKeyW(k->Root, k->Key.c_str());
        for (auto w = written_.rbegin(); w != written_.rend(); ++w) {
            DeleteFileW(w->Target.c_str());
            if (!w->Backup.empty())
                MoveFileW(w->Backup.c_str(), w->Target.c_str());
        }
        log_->Files.clear();
        log_->Skipped.clear();
        log_->RegistryValues = 0;
    }
    if (!stage_.empty()) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((stage_ + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((stage_ + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(stage_.c_str());
    }
    if (!committed_)
        for (auto f = createdFolders_.rbegin(); f != createdFolders_.rend(); ++f)
            RemoveDirectoryW(f->c_str());
}

DWORD RegistryType(PlannedValueType type)
{
    switch (type) {
    case ValueDword: return REG_DWORD;
    case ValueMultiString: return REG_MULTI_SZ;
    case ValueBinary: return REG_BINARY;
    default: return REG_SZ;
    }
}

std::vector<uint8_t> Utf16Data(const Str &text)
{
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(uint8_t(c & 0xFF));
        data.push_back(uint8_t(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

// ---- the run ----

// Length of what the file system puts before a device path ("X:").
size_t RootLength()
{
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(L"\\", MAX_PATH, full, nullptr);
    return (n > 0 && n < MAX_PATH) ? n - 1 : 2;
}

// The arguments of this run: the command line without the program's name.
Str ArgumentsOfThisRun()
{
    wchar_t module[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const wchar_t *base = wcsrchr(module, L'\\');
    return StripProgramName(S(GetCommandLineW()), S(base ? base + 1 : module));
}

// The CAB the arguments name, or the hand-off's own when there are none;
// false with the reason logged when they make no sense.
bool CabPathFromArguments(ArgumentsResult parsed, Str *cabPath, LogRecord *log)
{
    switch (parsed) {
    case ArgumentsNone:
        *cabPath = u"\\kCABFILE.cab";
        return true;
    case ArgumentsPath:
        return true;
    case ArgumentsUnknownOption:
        log->Error = "unknown option";
        return false;
    case ArgumentsMissingValue:
        log->Error = "option needs a value";
        return false;
    case ArgumentsBadValue:
        log->Error = "bad option value";
        return false;
    case ArgumentsNoPath:
        log->Error = "no CAB path";
        return false;
    }
    return true;
}

// One CAB from its file to the device, in the order Install runs the steps:
// every name is judged and every member staged before anything is put in
// place.  A step that fails returns false with the exit code and its reason
// set.
class CabInstallation {
public:
    CabInstallation(const Str &cabPath, const Options &options, LogRecord *log)
        : cabPath_(cabPath), options_(options), log_(log), rootLength_(RootLength())
    {
    }
    int Result() const { return result_; }

    bool OpenCab();
    bool SettleGivenDestination(bool given, const Str &destination);
    bool ListMembers();
    bool ChooseFolder();
    bool JudgeMemberNames();
    bool PlanPlacements();
    bool CarryOut();

private:
    bool Fail(int code, const std::string &why);
    bool CollidesWithAnother(const Str &name, const Str &stageName) const;
    bool PlanDeviceCab();
    bool Stage(Installer *installer);
    bool Write(Installer *installer);
    bool WriteUninstallValues(Installer *installer);

    Str cabPath_;
    const Options &options_;
    LogRecord *log_;
    size_t rootLength_;
    int result_ = ExitSuccess;
    bool destinationGiven_ = false;
    Str destination_;                    // a usable device path once settled
    FdiRun run_;
    bool device_ = false;                // the CAB has setup information
    Str primary_;                        // the folder installed into; it holds the stage
    std::vector<Str> names_;             // the members' names, judged
    std::vector<Placement> placements_;
    InstallPlan plan_;                   // a device CAB's
};

bool CabInstallation::Fail(int code, const std::string &why)
{
    log_->Error = why;
    result_ = code;
    return false;
}

bool CabInstallation::OpenCab()
{
    HANDLE probe = CreateFileW(W(cabPath_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return Fail(ExitMissingCab, "cannot open the CAB file");
    CloseHandle(probe);
    return true;
}

bool CabInstallation::SettleGivenDestination(bool given, const Str &destination)
{
    destinationGiven_ = given;
    destination_ = destination;
    if (!given)
        return true;
    Str clean;
    if (!NormaliseDevicePath(destination, rootLength_, &clean)) {
        log_->Destination = destination;
        return Fail(ExitBadDestination, "destination is not a usable device folder");
    }
    destination_ = clean;
    return true;
}

// The first pass: the members' names, and the setup information into memory.
bool CabInstallation::ListMembers()
{
    run_.CabPath = W(cabPath_);
    Failure failure{0, ""};
    if (!RunFdi(&run_, &failure))
        return Fail(failure.Code, failure.Text);
    if (run_.Members.empty())
        return Fail(ExitEmptyCab, "the CAB holds no file");
    device_ = run_.SetupInfoCount > 0;
    return true;
}

// The folder a plain CAB goes to: the given destination, else its default
// folder.  Where a device CAB goes is known only once its .000 is read.
bool CabInstallation::ChooseFolder()
{
    if (device_) {
        log_->Destination = destinationGiven_ ? destination_ : Str();
        return true;
    }
    if (!destinationGiven_) {
        Str clean;
        if (!NormaliseDevicePath(DefaultDestination(cabPath_), rootLength_, &clean)) {
            log_->Destination = DefaultDestination(cabPath_);
            return Fail(ExitBadDestination, "default folder is not a usable device folder");
        }
        destination_ = clean;
    }
    primary_ = destination_;
    log_->Destination = destination_;
    return true;
}

// Every name is judged before anything is written.
bool CabInstallation::JudgeMemberNames()
{
    Str stageName = u"~wceload" + FromAscii(std::to_string(GetCurrentProcessId()).c_str()) + u".tmp";
    size_t baseLength = rootLength_ + (device_ ? 0 : (destination_ == u"\\" ? 0 : destination_.size())) + 1;
    for (const Member &m : run_.Members) {
        Str clean;
        NameVerdict v = CheckRelativeName(m.Name, baseLength, &clean);
        if (v != NameOk)
            return Fail(ExitRefusedName,
                        std::string("member name refused (") + NameVerdictText(v) + "): " + ToUtf8(m.Name));
        if (!device_ && CollidesWithAnother(clean, stageName))
            return Fail(ExitRefusedName, "member name repeats or collides with another: " + ToUtf8(m.Name));
        names_.push_back(clean);
    }
    return true;
}

// A plain CAB's member that repeats one judged before, lies inside it or
// holds it, or takes the staging folder's name.
bool CabInstallation::CollidesWithAnother(const Str &name, const Str &stageName) const
{
    bool clash = SameName(name.substr(0, name.find(u'\\')), stageName);
    for (const Str &other : names_)
        clash = clash || IsWithinFolder(name, other) || IsWithinFolder(other, name);
    return clash;
}

// Where each member goes: a device CAB's setup information says; a plain
// CAB's members go into the folder under their own names.
bool CabInstallation::PlanPlacements()
{
    if (device_)
        return PlanDeviceCab();
    for (size_t i = 0; i < names_.size(); ++i)
        placements_.push_back(
            Placement{i, destination_ == u"\\" ? u"\\" + names_[i] : destination_ + u"\\" + names_[i], 0});
    return true;
}

bool CabInstallation::PlanDeviceCab()
{
    if (run_.SetupInfoCount > 1)
        return Fail(ExitBadSetupInfo, "more than one setup information file");
    CeSetupInfo info;
    std::string why;
    if (!ParseSetupInfo(run_.SetupInfo.data(), run_.SetupInfo.size(), &info, &why) ||
        !PlanInstall(info, names_, destinationGiven_ ? destination_ : Str(), rootLength_, &plan_, &why))
        return Fail(ExitBadSetupInfo, why);
    primary_ = plan_.InstallFolder;
    log_->Destination = primary_;
    for (const PlannedFile &f : plan_.Files)
        placements_.push_back(Placement{f.Member, f.Target, f.Flags});
    return true;
}

// Stages and writes; the installer takes everything back unless the whole
// CAB went in.
bool CabInstallation::CarryOut()
{
    Installer installer(log_);
    if (!Stage(&installer) || !Write(&installer))
        return false;
    installer.Commit();
    return true;
}

// The second pass: the placed members, each whole, into the staging folder.
bool CabInstallation::Stage(Installer *installer)
{
    if (!installer->MakeStage(primary_))
        return Fail(ExitWriteFailure, installer->Why);
    run_.Listing = false;
    run_.StageFolder = installer->Stage();
    run_.Wanted.assign(run_.Members.size(), false);
    for (const Placement &p : placements_)
        run_.Wanted[p.Member] = true;
    Failure failure{0, ""};
    if (!RunFdi(&run_, &failure))
        return Fail(failure.Code, failure.Text);
    for (const Placement &p : placements_)
        if (!run_.Members[p.Member].Staged)
            return Fail(ExitCabinetFailure, "member not extracted whole: " + ToUtf8(run_.Members[p.Member].Name));
    return true;
}

// Files, shortcuts and registry values, then a device CAB's record of the
// application.
bool CabInstallation::Write(Installer *installer)
{
    bool ok = true;
    for (size_t i = 0; ok && i < placements_.size(); ++i)
        ok = installer->Place(placements_[i], run_);
    for (size_t i = 0; ok && i < plan_.Links.size(); ++i)
        ok = installer->WriteShortcut(plan_.Links[i]);
    for (size_t i = 0; ok && i < plan_.Values.size(); ++i) {
        const PlannedValue &v = plan_.Values[i];
        ok = installer->WriteValue(v.Root, v.Key, v.Name, RegistryType(v.Type), v.Data, v.KeepExisting);
    }
    if (ok && device_ && !options_.NoUninstall)
        ok = WriteUninstallValues(installer);
    if (!ok)
        return Fail(ExitWriteFailure, installer->Why);
    return true;
}

bool CabInstallation::WriteUninstallValues(Installer *installer)
{
    Str key = u"SOFTWARE\\Apps\\" + (plan_.Provider.empty() ? plan_.AppName : plan_.Provider + u" " + plan_.AppName);
    DWORD one = 1;
    std::vector<uint8_t> dword((uint8_t *)&one, (uint8_t *)&one + 4);
    return installer->WriteValue(RootLocalMachine, key, u"Instl", REG_DWORD, dword, false) &&
           installer->WriteValue(RootLocalMachine, key, u"InstlDir", REG_SZ, Utf16Data(plan_.InstallFolder), false) &&
           installer->WriteValue(RootLocalMachine, key, u"CabFile", REG_SZ, Utf16Data(cabPath_), false);
}

// The names in list that lie inside folder, made relative to it.
void RelateNames(std::vector<Str> *list, const Str &folder)
{
    for (Str &f : *list)
        if (IsWithinFolder(f, folder) && f.size() > folder.size())
            f = f.substr(folder == u"\\" ? 1 : folder.size() + 1);
}

int Install(LogRecord *log)
{
    Str arguments = ArgumentsOfThisRun();
    log->CommandLine = arguments;

    DWORD askDest = 0;
    log->AskDestValue = ReadAskDest(&askDest);

    Options options;
    Str cabPath;
    ArgumentsResult parsed = ParseArguments(arguments, &options, &cabPath);
    if (!CabPathFromArguments(parsed, &cabPath, log))
        return ExitBadCommandLine;
    log->CabPath = cabPath;

    Str destination;
    // No command line, or /noaskdest: the destination is the Install value
    // named by the CAB path.  A command line alone is the default case.
    bool destinationGiven = (parsed == ArgumentsNone || options.NoAskDest) &&
                            ReadDestinationValue(cabPath, &destination);
    log->Destination = destinationGiven ? destination : DefaultDestination(cabPath);
    log->WouldAsk = !destinationGiven && !options.NoUi && !options.Silent &&
                    (options.AskDest || (askDest != 0 && !options.NoAskDest));

    CabInstallation cab(cabPath, options, log);
    bool installed = cab.OpenCab() && cab.SettleGivenDestination(destinationGiven, destination) &&
                     cab.ListMembers() && cab.ChooseFolder() && cab.JudgeMemberNames() && cab.PlanPlacements() &&
                     cab.CarryOut();

    // Relative names for what landed inside the destination.
    if (!log->Destination.empty()) {
        RelateNames(&log->Files, log->Destination);
        RelateNames(&log->Skipped, log->Destination);
    }
    if (options.Delete == 1)
        DeleteFileW(W(cabPath).c_str());
    return installed ? ExitSuccess : cab.Result();
}

void AppendLog(const LogRecord &record)
{
    std::string line = FormatLogLine(record) + "\r\n";
    HANDLE file = CreateFileW(LogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD put = 0;
    WriteFile(file, line.data(), DWORD(line.size()), &put, nullptr);
    CloseHandle(file);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    LogRecord log;
    int code;
    try {
        code = Install(&log);
    } catch (const std::bad_alloc &) {
        log.Error = "out of memory";
        code = ExitOutOfMemory;
    }
    log.ExitCode = code;
    AppendLog(log);
    return code;
}
