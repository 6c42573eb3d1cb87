/*
 * handoff_io_win.cpp -- the installation's platform calls as the device
 * offers them.  No logic lives here: each entry is one or two Win32 calls.
 */
#include "handoff_io.h"

static HANDLE CreateTemporary(const WCHAR *path)
{
    /* A leftover of that name that is read-only, hidden or system would
     * refuse CREATE_ALWAYS, or (where it is overwritten anyway) refuse
     * DeleteFileW afterwards and stay behind: it is ours to replace. */
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static BOOL Write(HANDLE file, const void *data, DWORD size, DWORD *written)
{
    *written = 0;
    return WriteFile(file, data, size, written, NULL);
}

static void Close(HANDLE file)
{
    CloseHandle(file);
}

static BOOL Delete(const WCHAR *path)
{
    return DeleteFileW(path);
}

static HANDLE OpenSource(const WCHAR *path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

static BOOL SourceSize(HANDLE source, ULONGLONG *size)
{
    DWORD high = 0;
    DWORD low = GetFileSize(source, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return FALSE;
    *size = ((ULONGLONG)high << 32) | low;
    return TRUE;
}

static BOOL Seek(HANDLE source, DWORD offset)
{
    /* Offsets above 2 GiB need the high word, or they would count as negative. */
    LONG high = 0;
    DWORD result = SetFilePointer(source, (LONG)offset, &high, FILE_BEGIN);
    return !(result == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

static BOOL Read(HANDLE source, void *buffer, DWORD size, DWORD *delivered)
{
    *delivered = 0;
    return ReadFile(source, buffer, size, delivered, NULL);
}

/* The device ignores the access mask (it must be 0 there); the desktop
 * grants exactly what is asked for, and 0 would refuse every set. */
#ifdef _WIN32_WCE
#define INSTALLER_KEY_ACCESS 0
#else
#define INSTALLER_KEY_ACCESS (KEY_QUERY_VALUE | KEY_SET_VALUE)
#endif

static LONG OpenKey(const WCHAR *subkey, HKEY *key)
{
    DWORD disposition;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, NULL, 0, INSTALLER_KEY_ACCESS, NULL, key, &disposition);
}

static LONG QueryValue(HKEY key, const WCHAR *name, void *data, DWORD *size)
{
    return RegQueryValueExW(key, name, NULL, NULL, (BYTE *)data, size);
}

static LONG SetValue(HKEY key, const WCHAR *name, DWORD type, const void *data, DWORD size)
{
    return RegSetValueExW(key, name, 0, type, (const BYTE *)data, size);
}

static LONG DeleteValue(HKEY key, const WCHAR *name)
{
    return RegDeleteValueW(key, name);
}

static void CloseKey(HKEY key)
{
    RegCloseKey(key);
}

/* The device takes no start-up information (its CreateProcessW wants NULL
 * there); the desktop needs one. */
#ifdef _WIN32_WCE
#define STARTUP_INFO(startup) NULL
#else
#define STARTUP_INFO(startup) (startup)
#endif

static BOOL StartProcess(const WCHAR *application, WCHAR *commandLine, HANDLE *process)
{
    STARTUPINFOW startup;
    PROCESS_INFORMATION info;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessW(application, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, STARTUP_INFO(&startup), &info))
        return FALSE;
    CloseHandle(info.hThread);
    *process = info.hProcess;
    return TRUE;
}

static void WaitProcess(HANDLE process)
{
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
}

static DWORD FileAttributes(const WCHAR *path)
{
    return GetFileAttributesW(path);
}

static BOOL FreeBytes(const WCHAR *folder, ULONGLONG *totalFree)
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExW(folder, &available, &total, &free))
        return FALSE;
    *totalFree = free.QuadPart;
    return TRUE;
}

static int Message(HWND owner, const WCHAR *text, const WCHAR *caption, UINT style)
{
    return MessageBoxW(owner, text, caption, style);
}

/* Both are filled in at compile time from one list: a copy of
 * Win32InstallOs would be made by a static constructor on the device. */
#define WIN32_INSTALL_OS {                                                          \
    CreateTemporary, Write,  Close,   Delete,       OpenSource, SourceSize,  Seek,  \
    Read,            OpenKey, QueryValue, SetValue, DeleteValue, CloseKey,   StartProcess, \
    WaitProcess,     FileAttributes, FreeBytes, Message,                            \
}

const InstallPlatform Win32InstallOs = WIN32_INSTALL_OS;
InstallPlatform InstallOs = WIN32_INSTALL_OS;
