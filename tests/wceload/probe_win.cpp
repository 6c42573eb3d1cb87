/*
 * probe_win.cpp -- test helper run inside an emulated device root: follows
 * a script of steps (stage files, set or clear registry values, start
 * "\windows\wceload.exe" the way the setup program does, dump registry keys)
 * and writes what it saw to a report file.  A script, not arguments, so that
 * paths with spaces, quotes and backslashes reach it unchanged.
 *
 * Script: UTF-8, one step per line, fields separated by tabs:
 *   report  <file>                      where the report goes (first line)
 *   copy    <from> <to>                 copy a file
 *   write   <to> <text>                 create a file holding text
 *   mkdir   <folder>
 *   askdest <number|delete|text>        fAskDest as a DWORD, removed, or as REG_SZ
 *   install <value name> <folder>       the Install value for a CAB
 *   uninstall <value name>
 *   delkey  <HKLM|HKCU|HKCR|HKU> <key>  remove a key with everything below it
 *   run     <command line>              application "\windows\wceload.exe"
 *   runnone                             the same with no command line at all
 *   runshell <command line>             no application name: the line as a shell builds it
 *   dump    <root> <key>                report every value below the key
 * Report lines: "exit <code>", "value <root>\<key>\<name>\t<type>\t<data>",
 * "error <text>".  The probe's own exit code is the last run's.
 */
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::wstring FromUtf8(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

std::string ToUtf8(const std::wstring &w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::string Report;

void Say(const std::string &line) { Report += line + "\n"; }

HKEY Root(const std::wstring &name)
{
    if (name == L"HKCU")
        return HKEY_CURRENT_USER;
    if (name == L"HKCR")
        return HKEY_CLASSES_ROOT;
    if (name == L"HKU")
        return HKEY_USERS;
    return HKEY_LOCAL_MACHINE;
}

const wchar_t InstallerKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";

void SetValue(const wchar_t *keyName, const std::wstring &name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        Say("error cannot create key");
        return;
    }
    if (type == REG_NONE)
        RegDeleteValueW(key, name.c_str());
    else if (RegSetValueExW(key, name.c_str(), 0, type, (const BYTE *)data, size) != ERROR_SUCCESS)
        Say("error cannot set value");
    RegCloseKey(key);
}

std::string Hex(const BYTE *data, DWORD size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

void Dump(HKEY root, const std::wstring &rootName, const std::wstring &keyName)
{
    HKEY key;
    if (RegOpenKeyExW(root, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        BYTE data[65536];
        DWORD nameLength = 16384, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::string text;
        if (type == REG_DWORD && size == 4)
            text = "dword\t" + std::to_string(*(DWORD *)data);
        else if (type == REG_SZ || type == REG_EXPAND_SZ)
            text = "sz\t" + ToUtf8(std::wstring((wchar_t *)data, wcsnlen((wchar_t *)data, size / 2)));
        else if (type == REG_MULTI_SZ) {
            text = "multi\t";
            std::wstring all((wchar_t *)data, size / 2);
            for (wchar_t &c : all)
                if (!c)
                    c = L'|';
            text += ToUtf8(all);
        } else
            text = "binary\t" + Hex(data, size);
        Say("value " + ToUtf8(rootName + L"\\" + keyName + L"\\" + name) + "\t" + text);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring &sub : subkeys)
        Dump(root, rootName, keyName + L"\\" + sub);
}

int Launch(const wchar_t *application, const std::wstring *commandLine)
{
    std::vector<wchar_t> line;
    if (commandLine) {
        line.assign(commandLine->begin(), commandLine->end());
        line.push_back(0);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // As the setup program does: a start that failed for a passing reason
    // (under Wine on a loaded machine, a process that ends in its own
    // start-up) is tried again, three times in all.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(application, commandLine ? line.data() : nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &process))
            break;
        DWORD error = GetLastError();
        bool passing = error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
                       error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_COMMITMENT_LIMIT ||
                       error == ERROR_INTERNAL_ERROR;
        if (attempt == 3 || !passing) {
            Say("error cannot start wceload.exe: " + std::to_string(error));
            return 100;
        }
        Sleep(500);
    }
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
        Say("error waited 120 s in vain for wceload.exe to end");
    DWORD code = 101;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    Say("exit " + std::to_string(code));
    return int(code);
}

std::vector<std::wstring> Fields(const std::wstring &line)
{
    std::vector<std::wstring> fields(1);
    for (wchar_t c : line) {
        if (c == L'\t')
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: wceload_probe SCRIPT\n");
        return 102;
    }
    FILE *in = _wfopen(argv[1], L"rb");
    if (!in) {
        fprintf(stderr, "cannot open the script\n");
        return 103;
    }
    std::string script;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        script.append(buffer, n);
    fclose(in);

    std::wstring reportPath;
    int last = 0;
    size_t pos = 0;
    while (pos < script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos)
            end = script.size();
        std::string raw = script.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        std::vector<std::wstring> f = Fields(FromUtf8(raw));
        const std::wstring &op = f[0];
        auto arg = [&](size_t i) { return i < f.size() ? f[i] : std::wstring(); };
        if (op == L"report") {
            reportPath = arg(1);
        } else if (op == L"copy") {
            if (!CopyFileW(arg(1).c_str(), arg(2).c_str(), FALSE))
                Say("error cannot copy " + ToUtf8(arg(1)));
        } else if (op == L"write") {
            std::string text = ToUtf8(arg(2));
            HANDLE h = CreateFileW(arg(1).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD put;
            if (h == INVALID_HANDLE_VALUE || !WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr))
                Say("error cannot write " + ToUtf8(arg(1)));
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        } else if (op == L"mkdir") {
            CreateDirectoryW(arg(1).c_str(), nullptr);
        } else if (op == L"askdest") {
            std::wstring v = arg(1);
            if (v == L"delete") {
                SetValue(InstallerKey, L"fAskDest", REG_NONE, nullptr, 0);
            } else if (!v.empty() && v.find_first_not_of(L"0123456789") == std::wstring::npos) {
                DWORD d = wcstoul(v.c_str(), nullptr, 10);
                SetValue(InstallerKey, L"fAskDest", REG_DWORD, &d, 4);
            } else {
                SetValue(InstallerKey, L"fAskDest", REG_SZ, v.c_str(), DWORD((v.size() + 1) * 2));
            }
        } else if (op == L"install") {
            std::wstring v = arg(2);
            SetValue(L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install", arg(1), REG_SZ, v.c_str(),
                     DWORD((v.size() + 1) * 2));
        } else if (op == L"uninstall") {
            SetValue(L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install", arg(1), REG_NONE, nullptr, 0);
        } else if (op == L"delkey") {
            RegDeleteTreeW(Root(arg(1)), arg(2).c_str());
            RegDeleteKeyW(Root(arg(1)), arg(2).c_str());
        } else if (op == L"run") {
            std::wstring line = arg(1);
            last = Launch(L"\\windows\\wceload.exe", &line);
        } else if (op == L"runnone") {
            last = Launch(L"\\windows\\wceload.exe", nullptr);
        } else if (op == L"runshell") {
            std::wstring line = arg(1);
            last = Launch(nullptr, &line);
        } else if (op == L"dump") {
            Dump(Root(arg(1)), arg(1), arg(2));
        } else if (!op.empty()) {
            Say("error unknown step " + ToUtf8(op));
        }
    }
    if (!reportPath.empty()) {
        HANDLE h = CreateFileW(reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD put;
        if (h != INVALID_HANDLE_VALUE) {
            WriteFile(h, Report.data(), DWORD(Report.size()), &put, nullptr);
            CloseHandle(h);
        }
    }
    return last;
}
