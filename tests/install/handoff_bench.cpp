// handoff_bench.cpp -- how fast HandOffComponent unpacks a component next to
// a bare loop that inflates the same chunks with zlib and writes them, and
// whether its memory stays flat when the component grows from 1 MiB to
// 64 MiB.  The installer is not started (its time is not the hand-off's).
//
// Run it through the Wine bench (bench.sh run ... -- handoff_bench.exe), so
// that "\kCABFILE.cab" lands in a device root.  Each memory figure comes from
// a fresh child process, so the first run's high-water mark cannot hide the
// second's.
#include "install.h"
#include "handoff_io.h"
#include "hoststandin.h"
#include "testpackages.h"
#include "format.h"
#include "littleendian.h"

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace installtest;
using testsupport::Now;

namespace {

const wchar_t PackagePath[] = L"\\handoff_bench.pkg";
const uint32_t SmallSize = 1u << 20;
const uint32_t LargeSize = 64u << 20;

bool WritePackage()
{
    velkor::PackageRecipe recipe = ToolPackage(1);
    recipe.components.push_back({u"Small", Pattern(SmallSize, 1), true, true});
    recipe.components.push_back({u"Large", Pattern(LargeSize, 2), true, true});
    std::vector<Bytes> payloads;
    std::vector<uint32_t> sizes;
    for (const auto &c : recipe.components) {
        payloads.push_back(velkor::BuildPayload(c.cab, 0));
        sizes.push_back(uint32_t(c.cab.size()));
    }
    return testsupport::WriteBytes(PackagePath, Assemble(recipe, payloads, sizes).bytes);
}

// ---- the setup program's surroundings: frame, package, progress window ----

BOOL NoInstaller(const WCHAR *, WCHAR *, HANDLE *process)
{
    *process = nullptr;
    return TRUE;
}
void NoWait(HANDLE) {}

bool OpenSetup()
{
    CreateFrameStandIn();
    wchar_t full[MAX_PATH];
    GetFullPathNameW(PackagePath, MAX_PATH, full, nullptr);
    lstrcpynW(ModulePath, full, MODULE_PATH_UNITS);
    if (!host.Frame || LoadPackage() != LoadSucceeded)
        return false;
    ProgressPage = CreateProgressPage(&host);
    InstallOs.StartProcess = NoInstaller;
    InstallOs.WaitProcess = NoWait;
    return ProgressPage != nullptr;
}

// ---- memory ----

size_t HeapInUse()
{
    HANDLE heap = GetProcessHeap();
    PROCESS_HEAP_ENTRY entry = {};
    size_t busy = 0;
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

size_t heapPeak = 0;
long blocksPeak = 0;

// Samples the heap at every write, when a chunk's stored and decoded
// buffers are both alive.
BOOL SampledWrite(HANDLE file, const void *data, DWORD size, DWORD *written)
{
    heapPeak = std::max(heapPeak, HeapInUse());
    blocksPeak = std::max(blocksPeak, VHeapLiveBlocks());
    return Win32InstallOs.Write(file, data, size, written);
}

int MeasureMemory(int component)
{
    if (!OpenSetup())
        return 2;
    HANDLE source = Win32InstallOs.OpenSource(ModulePath);
    size_t before = HeapInUse();
    long blocksBefore = VHeapLiveBlocks();
    InstallOs.Write = SampledWrite;
    int result = HandOffComponent(&host, source, &Package.Components[component]);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    printf("%d %zu %zu %ld %zu %zu\n", result, before, heapPeak, blocksPeak - blocksBefore,
           size_t(counters.PeakWorkingSetSize), size_t(counters.PeakPagefileUsage));
    return result == InstallDone ? 0 : 1;
}

struct MemoryFigures {
    bool ok = false;
    size_t heapBefore = 0, heapPeak = 0, workingSetPeak = 0, privatePeak = 0;
    long blocks = 0;
};

MemoryFigures MemoryInChild(int component)
{
    MemoryFigures m;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --memory " + std::to_wstring(component);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return m;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return m;
    }
    std::string out;
    char buffer[256];
    DWORD got;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
        out.append(buffer, got);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    CloseHandle(readEnd);
    int result;
    m.ok = sscanf(out.c_str(), "%d %zu %zu %ld %zu %zu", &result, &m.heapBefore, &m.heapPeak, &m.blocks,
                  &m.workingSetPeak, &m.privatePeak) == 6 &&
           result == InstallDone;
    return m;
}

// ---- throughput ----

double TimeHandOff(HANDLE source, const Component *component)
{
    double start = Now();
    int result = HandOffComponent(&host, source, component);
    double seconds = Now() - start;
    return result == InstallDone ? seconds : -1;
}

// The least a program must do for the same result: read each chunk, inflate
// it with zlib into one reused buffer, write it, delete the file.
double TimeBareLoop(HANDLE source, uint32_t payloadOffset)
{
    double start = Now();
    SetFilePointer(source, LONG(payloadOffset), nullptr, FILE_BEGIN);
    HANDLE out = CreateFileW(TemporaryCabPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return -1;
    std::vector<uint8_t> stored, decoded(CHUNK_SIZE);
    uint8_t raw[9];
    DWORD got, written;
    bool ok = ReadFile(source, raw, 4, &got, nullptr) && got == 4;
    uint32_t count = ok ? ReadLittle32(raw) : 0;
    for (uint32_t i = 0; ok && i < count; ++i) {
        ok = ReadFile(source, raw, 9, &got, nullptr) && got == 9 && raw[0] != 0;
        uint32_t storedSize = ReadLittle32(raw + 1), decodedSize = ReadLittle32(raw + 5);
        stored.resize(storedSize);
        if (decoded.size() < decodedSize)
            decoded.resize(decodedSize);
        ok = ok && ReadFile(source, stored.data(), storedSize, &got, nullptr) && got == storedSize;
        uLongf length = uLongf(decoded.size());
        ok = ok && uncompress(decoded.data(), &length, stored.data(), storedSize) == Z_OK;
        ok = ok && WriteFile(out, decoded.data(), DWORD(length), &written, nullptr) && written == length;
    }
    CloseHandle(out);
    DeleteFileW(TemporaryCabPath);
    double seconds = Now() - start;
    return ok ? seconds : -1;
}

double MiBps(uint32_t bytes, double seconds) { return bytes / 1048576.0 / seconds; }

int Benchmark()
{
    printf("building a package with a 1 MiB and a 64 MiB component...\n");
    fflush(stdout);
    if (!WritePackage()) {
        fprintf(stderr, "handoff_bench: cannot write %ls (run it through bench.sh run)\n", PackagePath);
        return 2;
    }
    if (!OpenSetup()) {
        fprintf(stderr, "handoff_bench: cannot load the package\n");
        return 2;
    }
    HANDLE source = Win32InstallOs.OpenSource(ModulePath);

    const int rounds = 9;
    const DWORD shippedInterval = DrainInterval, pacedInterval = 50;
    for (int c = 0; c < 2; ++c) {
        const Component *component = &Package.Components[c];
        double bestHandOff = 1e9, bestEveryChunk = 1e9, bestBare = 1e9;
        std::vector<double> ratios;
        // Interleaved, so a busy moment on the machine hits all alike.
        for (int round = 0; round < rounds; ++round) {
            double h = TimeHandOff(source, component);
            DrainInterval = pacedInterval;
            double e = TimeHandOff(source, component);
            DrainInterval = shippedInterval;
            double b = TimeBareLoop(source, component->PayloadOffset);
            if (h < 0 || e < 0 || b < 0) {
                fprintf(stderr, "handoff_bench: unpacking failed\n");
                return 1;
            }
            bestHandOff = std::min(bestHandOff, h);
            bestEveryChunk = std::min(bestEveryChunk, e);
            bestBare = std::min(bestBare, b);
            ratios.push_back(b / h);
        }
        std::sort(ratios.begin(), ratios.end());
        uint32_t size = component->UnpackedSize;
        printf("\nunpacking the %u MiB component (%u chunks), best of %d:\n", size >> 20, (size + 65535) / 65536,
               rounds);
        printf("  HandOffComponent  %8.1f MiB/s  (%.3f s)  draining after every chunk, as shipped\n",
               MiBps(size, bestHandOff), bestHandOff);
        printf("    ... paced       %8.1f MiB/s  (%.3f s)  draining every %lu ms (ratio %.3f)\n",
               MiBps(size, bestEveryChunk), bestEveryChunk, (unsigned long)pacedInterval, bestBare / bestEveryChunk);
        printf("  bare zlib loop    %8.1f MiB/s  (%.3f s)\n", MiBps(size, bestBare), bestBare);
        printf("  ratio             %8.3f        of the best times; %.3f median of the rounds (goal >= 0.9)\n",
               bestBare / bestHandOff, ratios[ratios.size() / 2]);
    }
    CloseHandle(source);

    MemoryFigures small = MemoryInChild(0), large = MemoryInChild(1);
    if (!small.ok || !large.ok) {
        fprintf(stderr, "handoff_bench: a memory run failed\n");
        return 1;
    }
    auto kib = [](size_t bytes) { return double(bytes) / 1024.0; };
    printf("\npeak memory while unpacking, a fresh process each:\n");
    printf("                     heap at start  heap peak  blocks  working set peak  private peak\n");
    for (auto [name, m] : {std::pair<const char *, MemoryFigures>{"1 MiB component ", small}, {"64 MiB component", large}})
        printf("  %s   %9.1f KiB %7.1f KiB  %6ld  %12.1f KiB  %8.1f KiB\n", name, kib(m.heapBefore), kib(m.heapPeak),
               m.blocks, kib(m.workingSetPeak), kib(m.privatePeak));
    printf("  difference          heap peak %+.1f KiB, working set peak %+.1f KiB, private peak %+.1f KiB\n",
           kib(large.heapPeak) - kib(small.heapPeak), kib(large.workingSetPeak) - kib(small.workingSetPeak),
           kib(large.privatePeak) - kib(small.privatePeak));
    printf("  (goal: the same within one chunk, %d KiB)\n", CHUNK_SIZE / 1024);
    DeleteFileW(PackagePath);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--memory")
        return MeasureMemory(_wtoi(argv[2]));
    return Benchmark();
}
