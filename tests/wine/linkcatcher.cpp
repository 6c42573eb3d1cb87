// linkcatcher.cpp -- registered in the bench's Wine prefix as the program for
// http, https and mailto links, so that a tapped link never opens a browser.
// It appends its argument, one line in UTF-8, to %VELKOR_LINK_LOG% (or to
// links.log next to itself when that is unset).
#include <windows.h>
#include <shellapi.h>

#include <string>

static std::wstring LogPath()
{
    wchar_t buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"VELKOR_LINK_LOG", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return std::wstring(buffer, n);
    n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"links.log";
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring target = argv && argc > 1 ? argv[1] : L"";
    for (int i = 2; argv && i < argc; ++i)
        target += std::wstring(L" ") + argv[i];

    int n = WideCharToMultiByte(CP_UTF8, 0, target.c_str(), int(target.size()), nullptr, 0, nullptr, nullptr);
    std::string line(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, target.c_str(), int(target.size()), line.data(), n, nullptr, nullptr);
    line += "\n";

    // FILE_APPEND_DATA alone makes every write land at the end, whoever else
    // appends at the same time.
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50 && f == INVALID_HANDLE_VALUE; ++attempt) {
        f = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            Sleep(20);
    }
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(f, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == line.size() ? 0 : 1;
}
