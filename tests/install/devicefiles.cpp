// devicefiles.cpp -- see devicefiles.h.
#include "devicefiles.h"

#include <sstream>

namespace devicefiles {

Bytes ReadAll(const std::wstring &path)
{
    Bytes out;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
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

bool WriteAll(const std::wstring &path, const Bytes &bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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
    Bytes raw = ReadAll(deviceRoot + L"windows\\wceload.log");
    std::vector<LogLine> lines;
    std::istringstream in(std::string(raw.begin(), raw.end()));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        LogLine fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t')) {
            size_t eq = field.find('=');
            fields[eq == std::string::npos ? field : field.substr(0, eq)] =
                eq == std::string::npos ? "" : field.substr(eq + 1);
        }
        lines.push_back(fields);
    }
    return lines;
}

}  // namespace devicefiles
