// crashing_installer.cpp -- an installer that dies half-way: it notes that
// it was started and what it was handed in "\windows\crash.log", writes the
// first part of a file into the default folder and then touches address 0.
// The tests put it in place of "\windows\wceload.exe".
#include <windows.h>

static LONG WINAPI EndHere(EXCEPTION_POINTERS *info)
{
    // No debugger, no dialog: the process just ends with the fault's code.
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

static void Append(const wchar_t *path, const char *text)
{
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(f, text, DWORD(lstrlenA(text)), &written, nullptr);
    CloseHandle(f);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    SetUnhandledExceptionFilter(EndHere);
    bool cabThere = GetFileAttributesW(L"\\kCABFILE.cab") != INVALID_FILE_ATTRIBUTES;
    // Started without a command line, the system makes one of the program's name.
    const wchar_t *line = GetCommandLineW();
    Append(L"\\windows\\crash.log", line && wcsstr(line, L"kCABFILE") ? "started with a path" : "started without a path");
    Append(L"\\windows\\crash.log", cabThere ? " cab=yes\r\n" : " cab=no\r\n");
    CreateDirectoryW(L"\\Program Files", nullptr);
    CreateDirectoryW(L"\\Program Files\\kCABFILE", nullptr);
    Append(L"\\Program Files\\kCABFILE\\partial.txt", "half of a fi");
    *(volatile int *)nullptr = 1;
    return 0;
}
