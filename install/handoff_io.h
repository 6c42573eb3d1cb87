/*
 * handoff_io.h -- the platform calls of the installation: the temporary CAB
 * file, reads from the package, the installer's registry values, starting
 * the installer, the free-space query and the run's message boxes.
 *
 * They go through one table of function pointers, filled with the Win32
 * calls.  The in-process tests and the benchmark swap single entries (a
 * write that fails at the k-th call, a short read, a fake installer) and put
 * Win32InstallOs back afterwards; the setup program never changes it.
 */
#ifndef VELKOR_HANDOFF_IO_H
#define VELKOR_HANDOFF_IO_H

#include <windows.h>

typedef struct InstallPlatform {
    /* CreateFileW for writing, always anew, others may read.
     * INVALID_HANDLE_VALUE: the file cannot be created. */
    HANDLE (*CreateTemporary)(const WCHAR *path);
    /* WriteFile; FALSE on failure, *written gets the count either way. */
    BOOL (*Write)(HANDLE file, const void *data, DWORD size, DWORD *written);
    void (*Close)(HANDLE file);
    BOOL (*Delete)(const WCHAR *path);

    /* CreateFileW for reading, shared for reading and writing.
     * INVALID_HANDLE_VALUE: it cannot be opened. */
    HANDLE (*OpenSource)(const WCHAR *path);
    /* Length of the open source file; FALSE when it cannot be learnt. */
    BOOL (*SourceSize)(HANDLE source, ULONGLONG *size);
    /* Absolute position from the beginning; FALSE on failure. */
    BOOL (*Seek)(HANDLE source, DWORD offset);
    /* ReadFile; FALSE on failure, *delivered gets the count either way. */
    BOOL (*Read)(HANDLE source, void *buffer, DWORD size, DWORD *delivered);

    /* RegCreateKeyExW under HKEY_LOCAL_MACHINE with default options and
     * access; the result is the registry's error code. */
    LONG (*OpenKey)(const WCHAR *subkey, HKEY *key);
    LONG (*QueryValue)(HKEY key, const WCHAR *name, void *data, DWORD *size);
    LONG (*SetValue)(HKEY key, const WCHAR *name, DWORD type, const void *data, DWORD size);
    LONG (*DeleteValue)(HKEY key, const WCHAR *name);
    void (*CloseKey)(HKEY key);

    /* CreateProcessW with no attributes, inheritance, flags, environment or
     * folder; the thread handle is closed at once.  commandLine may be NULL
     * and must otherwise be writable.  FALSE: it could not be started, and
     * GetLastError() says why. */
    BOOL (*StartProcess)(const WCHAR *application, WCHAR *commandLine, HANDLE *process);
    /* Waits without a time limit for the process to end, then closes it. */
    void (*WaitProcess)(HANDLE process);

    /* GetFileAttributesW: INVALID_FILE_ATTRIBUTES when the path is absent. */
    DWORD (*FileAttributes)(const WCHAR *path);
    /* GetDiskFreeSpaceExW's total number of free bytes of the volume
     * holding folder; FALSE when the query fails. */
    BOOL (*FreeBytes)(const WCHAR *folder, ULONGLONG *totalFree);

    /* MessageBoxW. */
    int (*Message)(HWND owner, const WCHAR *text, const WCHAR *caption, UINT style);
} InstallPlatform;

extern InstallPlatform InstallOs;
extern const InstallPlatform Win32InstallOs;

#endif
