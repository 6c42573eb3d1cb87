// armrun_main.cpp -- runs the ARM driver (armcore.exe) on packages:
//
//   armrun [--map MAP] [--count FUNCTION] EXE PACKAGE...
//
// For each package a "package NAME" line, then the lines the program
// reports, as the native driver prints them; a failure of the run (an
// unaligned access, a stray access, a call without a stand-in...) is a
// "FAULT ..." line, and the exit code is 1.  On stderr: what was checked.
// With --count, the instructions run inside FUNCTION per byte written from
// it (the inflate-and-write of a component).  With --setup, each file is a
// setup program with its package appended, started with its own file as
// its module, up to the first window it creates ("window: ...") or its end;
// what it says in message boxes is printed ("MessageBoxW ...").
#include "armhost.h"
#include "armrun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static int RunSetups(const armrun::LinkMap &map, int count, char **files)
{
    int faults = 0;
    for (int k = 0; k < count; ++k) {
        printf("setup %s\n", armhost::PackageHeading(files[k]).c_str() + 8);
        armrun::Image image;
        std::string problem = image.Load(files[k]);
        if (!problem.empty()) {
            printf("FAULT %s\n", problem.c_str());
            ++faults;
            continue;
        }
        armrun::Options options;
        options.modulePath = armhost::Widen(files[k]);
        options.requireHeapFreed = false;   // the process's end frees its heap
        options.print = [](const std::string &line) { printf("%s\n", line.c_str()); };
        armrun::Result r = armrun::Runner(image, map).Run(options);
        if (!r.ok) {
            printf("FAULT %s\n", r.failure.c_str());
            ++faults;
        } else if (r.window.empty()) {
            printf("ended with %u, %llu heap blocks left\n", r.exitCode, (unsigned long long)r.heapBlocksLeft);
        }
        fprintf(stderr, "armrun: %s: %llu loads and stores checked for alignment\n", files[k],
                (unsigned long long)r.accessesChecked);
    }
    return faults ? 1 : 0;
}

int main(int argc, char **argv)
{
    std::string mapPath, count;
    bool setup = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        if (!strcmp(argv[i], "--map") && i + 1 < argc)
            mapPath = argv[++i];
        else if (!strcmp(argv[i], "--count") && i + 1 < argc)
            count = argv[++i];
        else if (!strcmp(argv[i], "--setup"))
            setup = true;
        else
            break;
    }
    if (argc - i < 1) {
        fprintf(stderr, "usage: armrun [--map MAP] [--count FUNCTION] EXE PACKAGE...\n"
                        "       armrun [--map MAP] --setup SETUP_EXE...\n");
        return 2;
    }
    armrun::LinkMap map;
    if (!mapPath.empty() && !map.Load(mapPath)) {
        fprintf(stderr, "armrun: cannot read the link map %s\n", mapPath.c_str());
        return 2;
    }
    if (setup)
        return RunSetups(map, argc - i, argv + i);
    armrun::Image image;
    std::string problem = image.Load(argv[i]);
    if (!problem.empty()) {
        fprintf(stderr, "armrun: %s\n", problem.c_str());
        return 2;
    }
    armrun::Runner runner(image, map, count);
    armrun::Options options;
    options.print = [](const std::string &line) { printf("%s\n", line.c_str()); };
    int runs = 0, faults = 0;
    std::vector<std::pair<double, std::string>> slowest;
    uint64_t accesses = 0, halfwords = 0, words = 0, counted = 0, countedBytes = 0, moved = 0, movedCounted = 0;
    for (++i; i < argc; ++i) {
        printf("%s\n", armhost::PackageHeading(argv[i]).c_str());
        options.commandLine = armhost::Widen(argv[i]);
        auto start = std::chrono::steady_clock::now();
        armrun::Result r = runner.Run(options);
        slowest.push_back({std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), argv[i]});
        ++runs;
        accesses += r.accessesChecked;
        halfwords += r.halfwordAccesses;
        words += r.wordAccesses;
        counted += r.counted;
        countedBytes += r.bytesWrittenCounted;
        moved += r.standInBytes;
        movedCounted += r.standInBytesCounted;
        if (!r.ok) {
            ++faults;
            printf("FAULT %s\n", r.failure.c_str());
            fprintf(stderr, "armrun: %s: %s\n", argv[i], r.failure.c_str());
        }
        fflush(stdout);
    }
    fprintf(stderr,
            "armrun: %d runs, %d failed; %llu loads and stores checked for alignment (%llu halfword, %llu word); "
            "%llu bytes moved by the memcpy/memset stand-ins\n",
            runs, faults, (unsigned long long)accesses, (unsigned long long)halfwords, (unsigned long long)words,
            (unsigned long long)moved);
    std::sort(slowest.rbegin(), slowest.rend());
    slowest.resize(std::min<size_t>(slowest.size(), 3));
    for (const auto &[seconds, name] : slowest)
        fprintf(stderr, "armrun: %.2f s for %s\n", seconds, armhost::PackageHeading(name).c_str() + 8);
    if (!count.empty())
        fprintf(stderr,
                "armrun: %llu instructions in %s for %llu bytes written: %.2f instructions per byte "
                "(and %llu bytes moved by the memcpy/memset stand-ins in there, not counted)\n",
                (unsigned long long)counted, count.c_str(), (unsigned long long)countedBytes,
                countedBytes ? double(counted) / double(countedBytes) : 0.0, (unsigned long long)movedCounted);
    return faults ? 1 : 0;
}
