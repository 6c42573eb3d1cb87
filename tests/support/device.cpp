// device.cpp -- the device root, files, text, pumping and time on Windows.
#include "testsupport.h"

#include "rules.h"

#include <sstream>

namespace testsupport {

std::wstring DeviceRoot()
{
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(L"VELKOR_ROOT", buffer, 1024);
    std::wstring root = n && n < 1024 ? std::wstring(buffer, n) : std::wstring();
    if (root.empty()) {
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        root.assign(current, 3);
    }
    if (root.back() != L'\\')
        root += L'\\';
    return root;
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes ReadBytes(const std::wstring &path)
{
    Bytes out;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return out;
    out.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!out.empty() && !ReadFile(f, out.data(), DWORD(out.size()), &got, nullptr))
        got = 0;
    out.resize(got);
    CloseHandle(f);
    return out;
}

bool WriteBytes(const std::wstring &path, const Bytes &bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

std::string ReadText(const std::wstring &path)
{
    Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

bool MakeFolders(const std::wstring &root, const std::vector<std::wstring> &relativePaths, std::wstring *failed)
{
    for (const std::wstring &relative : relativePaths) {
        std::wstring path = root;
        size_t start = 0;
        while (start <= relative.size()) {
            size_t end = relative.find(L'\\', start);
            if (end == std::wstring::npos)
                end = relative.size();
            path += relative.substr(start, end - start);
            CreateDirectoryW(path.c_str(), nullptr);
            path += L'\\';
            start = end + 1;
        }
        DWORD a = GetFileAttributesW((root + relative).c_str());
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            if (failed)
                *failed = relative;
            return false;
        }
    }
    return true;
}

void RemoveTree(const std::wstring &folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::vector<LogLine> InstallerLog(const std::wstring &deviceRoot)
{
    std::vector<LogLine> lines;
    std::istringstream in(ReadText(deviceRoot + L"windows\\wceload.log"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        // A line that is no installer run still counts, with no fields.
        std::vector<wceload::LogField> read;
        wceload::ParseLogLine(line, &read);
        LogLine fields;
        for (const wceload::LogField &f : read)
            fields[f.Key] = f.Value;
        lines.push_back(fields);
    }
    return lines;
}

const wchar_t InstallerKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";
const wchar_t InstallKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install";

bool SetRegistryAskDest(bool present, DWORD value)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    if (present)
        RegSetValueExW(key, L"fAskDest", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    else
        RegDeleteValueW(key, L"fAskDest");
    RegCloseKey(key);
    return true;
}

bool ReadAskDest(DWORD *value, DWORD *type)
{
    DWORD read = 0, size = sizeof read, kind = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, InstallerKey, L"fAskDest", RRF_RT_ANY, &kind, &read, &size) != ERROR_SUCCESS)
        return false;
    *value = read;
    if (type)
        *type = kind;
    return true;
}

void ClearInstallValue()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"\\kCABFILE.cab");
        RegCloseKey(key);
    }
}

std::string AskDestText()
{
    DWORD value = 0;
    return ReadAskDest(&value) ? std::to_string(value) : "missing";
}

bool ResetInstallerValues(bool present, DWORD value)
{
    if (!SetRegistryAskDest(present, value))
        return false;
    ClearInstallValue();
    return true;
}

std::string Narrow(const std::wstring &s)
{
    if (s.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string &s)
{
    if (s.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n);
    return out;
}

std::string Printable(const std::wstring &s)
{
    std::string out;
    for (wchar_t c : s)
        out += c >= 32 && c < 127 ? char(c) : '?';
    return out;
}

void Pump()
{
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
}

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (ms)
            Sleep(5);
    } while (GetTickCount() - start < ms);
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

}  // namespace testsupport
