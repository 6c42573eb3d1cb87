// setup_bench.cpp -- what setup.exe costs on top of the installer, measured
// side by side in one run under the Wine bench (scripts/bench-setup.sh makes
// the CAB and runs it):
//
//   setup.exe, no pages, one component made of the CAB   vs
//   \windows\wceload.exe alone on the same CAB already at \kCABFILE.cab
//
// and where the difference goes: setup.exe's own start and end (a package
// without components), unpacking with the progress window (the installer
// replaced by a program that ends at once), the installer's process start,
// and the queue drain with the progress bar after every chunk, timed alone.
// Also the time from starting setup.exe to its first page on screen, next
// to a minimal dialog program started the same way.
//
//   setup_bench.exe CAB [ROUNDS]     (Windows path of the CAB)
//
// Started as "wceload.exe" it is the installer that ends at once; with
// "--dialog" it is the minimal dialog program.
#include "packages.h"
#include "robot.h"
#include "testsupport.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace robot;
using testsupport::Now;

namespace {

double Best(const std::vector<double> &v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Starts a program as setup.exe starts the installer (application name and
// a bare command line) and returns its process.
HANDLE Start(const std::wstring &exe, const std::wstring &arguments)
{
    std::wstring line = arguments;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessW(exe.c_str(), line.empty() ? nullptr : line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        fprintf(stderr, "setup_bench: cannot start %ls (error %lu)\n", exe.c_str(), GetLastError());
        exit(1);
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

double RunToEnd(const std::wstring &exe, const std::wstring &arguments)
{
    double t0 = Now();
    HANDLE process = Start(exe, arguments);
    WaitForSingleObject(process, INFINITE);
    double t = Now() - t0;
    CloseHandle(process);
    return t;
}

void Clean()
{
    DeleteFileW((DeviceRoot() + L"windows\\wceload.log").c_str());
    DeleteFileW((DeviceRoot() + L"kCABFILE.cab").c_str());
    testsupport::RemoveTree(DeviceRoot() + L"Program Files\\kCABFILE");
}

// The first window of the process that is visible and passes `shown`.
HWND VisibleWindowOf(DWORD pid, const std::function<bool(HWND)> &shown)
{
    struct Search {
        DWORD pid;
        const std::function<bool(HWND)> *shown;
        HWND found;
    } search = {pid, &shown, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            Search *s = reinterpret_cast<Search *>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && IsWindowVisible(w) && (*s->shown)(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        LPARAM(&search));
    return search.found;
}

// Seconds from the start of `exe` until `shown` holds for one of its
// windows; then the window is closed and the process awaited.
double TimeToWindow(const std::wstring &exe, const std::wstring &arguments, const std::function<bool(HWND)> &shown)
{
    double t0 = Now();
    HANDLE process = Start(exe, arguments);
    DWORD pid = GetProcessId(process);
    HWND w = nullptr;
    while (!(w = VisibleWindowOf(pid, shown))) {
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            fprintf(stderr, "setup_bench: %ls ended before its window showed\n", exe.c_str());
            exit(1);
        }
        Sleep(1);
    }
    double t = Now() - t0;
    PostMessageW(w, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    CloseHandle(process);
    return t;
}

bool HasVisiblePage(HWND frame)
{
    for (HWND c = GetWindow(frame, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (IsWindowVisible(c))
            return true;
    return false;
}

// The queue drain with the progress bar, as the hand-off does it per chunk
// (a drain after reading, a position posted and a drain after writing),
// without unpacking anything.
double DrainCost(uint32_t chunks)
{
    InitCommonControls();
    HWND window = CreateWindowExW(0, L"STATIC", L"drain", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 240, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 12, window, nullptr,
                               nullptr, nullptr);
    PostMessageW(bar, PBM_SETRANGE32, 0, LPARAM(chunks));
    testsupport::Pump();
    double t0 = Now();
    for (uint32_t i = 0; i < chunks; ++i) {
        testsupport::Pump();
        PostMessageW(bar, PBM_SETPOS, WPARAM(i + 1), 0);
        testsupport::Pump();
    }
    double t = Now() - t0;
    DestroyWindow(window);
    return t;
}

INT_PTR CALLBACK MinimalDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

// A dialog template in memory: one window of the frame's size, no controls.
int ShowMinimalDialog()
{
    struct alignas(4) {
        DLGTEMPLATE t;
        WORD menu, cls, title;
    } tpl = {};
    tpl.t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_CENTER;
    tpl.t.cx = 160;
    tpl.t.cy = 166;
    return int(DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &tpl.t, nullptr, MinimalDialog, 0));
}

bool EndsWith(const std::wstring &s, const std::wstring &tail)
{
    if (s.size() < tail.size())
        return false;
    return CompareStringOrdinal(s.c_str() + s.size() - tail.size(), int(tail.size()), tail.c_str(), int(tail.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (EndsWith(self, L"wceload.exe"))
        return 0;   // the installer that ends at once
    if (argc >= 2 && std::wstring(argv[1]) == L"--dialog")
        return ShowMinimalDialog();
    if (argc < 2) {
        fprintf(stderr, "usage: setup_bench.exe CAB [ROUNDS]\n");
        return 2;
    }
    int rounds = argc >= 3 ? std::max(1, _wtoi(argv[2])) : 5;
    HANDLE f = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "setup_bench: cannot open %ls\n", argv[1]);
        return 1;
    }
    DWORD size = GetFileSize(f, nullptr);
    velkor::Bytes cab(size);
    DWORD got = 0;
    ReadFile(f, cab.data(), size, &got, nullptr);
    CloseHandle(f);

    std::wstring installer = DeviceRoot() + L"windows\\wceload.exe";
    std::wstring realInstaller = DeviceRoot() + L"windows\\wceload.real";
    std::wstring noop = DeviceRoot() + L"windows\\noop\\wceload.exe";
    CreateDirectoryW((DeviceRoot() + L"windows\\noop").c_str(), nullptr);
    CopyFileW(self, noop.c_str(), FALSE);
    CopyFileW(installer.c_str(), realInstaller.c_str(), FALSE);

    velkor::PackageRecipe one = SamplePackage(0, 1, false);
    one.components.push_back({u"Mix", cab, true, true});
    std::wstring setupOne = WritePackageExe(one, L"bench_one.exe");
    std::wstring setupNone = WritePackageExe(SamplePackage(0, 1, false), L"bench_none.exe");
    std::wstring setupPaged = WritePackageExe(SamplePackage(1, 1, false), L"bench_paged.exe");
    uint32_t chunks = uint32_t((cab.size() + 65535) / 65536);
    printf("component: %.1f MiB CAB, %u chunks of 64 KiB; best of %d rounds (median in brackets)\n", cab.size() / 1048576.0, chunks,
           rounds);

    std::vector<double> installerAlone, setup, setupNoInstaller, setupEmpty, processStart, drain, firstPage, dialog;
    for (int r = 0; r < rounds; ++r) {
        Clean();
        HANDLE out = CreateFileW((DeviceRoot() + L"kCABFILE.cab").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(out, cab.data(), DWORD(cab.size()), &written, nullptr);
        CloseHandle(out);
        installerAlone.push_back(RunToEnd(installer, L"\\kCABFILE.cab"));
        if (GetFileAttributesW((DeviceRoot() + L"Program Files\\kCABFILE").c_str()) == INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "setup_bench: the installer alone installed nothing\n");
            return 1;
        }
        Clean();
        setup.push_back(RunToEnd(setupOne, L""));
        if (GetFileAttributesW((DeviceRoot() + L"Program Files\\kCABFILE").c_str()) == INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "setup_bench: setup.exe installed nothing\n");
            return 1;
        }
        Clean();
        CopyFileW(noop.c_str(), installer.c_str(), FALSE);
        setupNoInstaller.push_back(RunToEnd(setupOne, L""));
        CopyFileW(realInstaller.c_str(), installer.c_str(), FALSE);
        setupEmpty.push_back(RunToEnd(setupNone, L""));
        processStart.push_back(RunToEnd(noop, L"\\kCABFILE.cab"));
        drain.push_back(DrainCost(chunks));
        firstPage.push_back(TimeToWindow(setupPaged, L"", [](HWND w) { return HasVisiblePage(w); }));
        dialog.push_back(TimeToWindow(self, L"\"" + std::wstring(self) + L"\" --dialog", [](HWND) { return true; }));
    }
    Clean();

    double tInstaller = Best(installerAlone), tSetup = Best(setup), tNoInstaller = Best(setupNoInstaller);
    double tEmpty = Best(setupEmpty), tStart = Best(processStart), tDrain = Best(drain);
    double unpack = tNoInstaller - tEmpty - tStart;
    printf("\ninstalling the component (seconds):\n");
    printf("  installer alone, CAB on disk     %7.3f   (%.3f)\n", tInstaller, Median(installerAlone));
    printf("  setup.exe, no pages              %7.3f   (%.3f)   ratio %.3f (%.3f), goal <= 1.15\n", tSetup,
           Median(setup), tSetup / tInstaller, Median(setup) / Median(installerAlone));
    printf("\nwhere the difference (%.3f s) goes:\n", tSetup - tInstaller);
    printf("  setup.exe start and end          %7.3f   (a package without components)\n", tEmpty);
    printf("  unpacking, progress and drain    %7.3f   (the installer replaced by a program that ends\n", unpack);
    printf("                                             at once, less start/end and its start)\n");
    printf("    of it: drain + progress bar    %7.3f   (%u chunks, timed alone: %.1f us a chunk)\n", tDrain, chunks,
           tDrain / chunks * 1e6);
    printf("  rest: the installer inside setup %7.3f   (less alone: caches, load)\n", tSetup - tInstaller - tEmpty - unpack);
    printf("  (a process start, in both runs   %7.3f)\n", tStart);
    printf("\ndevice-like case, the drain's cost under Wine taken out:\n");
    printf("  setup.exe less the drain         %7.3f   ratio %.3f\n", tSetup - tDrain, (tSetup - tDrain) / tInstaller);
    printf("\nstart to first page on screen (seconds):\n");
    printf("  setup.exe, welcome page          %7.3f   (%.3f)\n", Best(firstPage), Median(firstPage));
    printf("  minimal dialog program           %7.3f   (%.3f)   ratio %.3f\n", Best(dialog), Median(dialog),
           Best(firstPage) / Best(dialog));
    return 0;
}
