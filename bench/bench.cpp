// bench.cpp -- speed figures of the package code, measured side by side in
// one run and printed as ratios (lower is better unless said otherwise).
// Not a test: timings depend on the machine; the ratios are what we watch.
#include "package.h"
#include "codec.h"
#include "pkgwrite.h"
#include "text.h"
#include "rescanning.h"

#ifdef VELKOR_ARMCORE_EXE
#include "armrun.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <zlib.h>

using velkor::Bytes;
using Clock = std::chrono::steady_clock;

// Best of several runs, in seconds.
static double Time(const std::function<void()> &f, int runs = 5)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

static void ExpandBench()
{
    // 1 MiB of text (512 Ki code units) with 10,000 placeholders.
    std::u16string text;
    const size_t units = 512 * 1024;
    const int placeholders = 10000;
    size_t gap = units / placeholders;
    while (text.size() < units) {
        text.append(gap - 14, u'x');
        text += u"%SoftwareName%";
    }
    std::u16string name = u"Pocket Notes";
    Package = SetupPackage{};
    Package.SoftwareName = name.data();
    Package.CompanyName = name.data();

    size_t sink = 0;
    double expand = Time([&] {
        VCHAR *r = ExpandText(text.c_str());
        sink += TextLength(r);
        VFree(r);
    });
    double scan = Time([&] {
        size_t n = 0;
        for (char16_t c : text)
            n += c == u'%';
        sink += n;
    });
    // The rescanning rule as written, on a tenth of the text (it is quadratic).
    std::u16string tenth = text.substr(0, units / 10);
    double rescanTenth = Time([&] {
        VCHAR *r = ReplaceAllRescanning(tenth.c_str(), u"%SoftwareName%", u"Pocket Notes", 1u << 30);
        sink += TextLength(r);
        VFree(r);
    }, 1);
    double linearTenth = Time([&] {
        VCHAR *r = ReplaceAll(tenth.c_str(), u"%SoftwareName%", u"Pocket Notes");
        sink += TextLength(r);
        VFree(r);
    });
    Package = SetupPackage{};
    std::printf("ExpandText, 1 MiB text, 10000 placeholders: %.2f ms; one linear scan: %.3f ms; ratio %.1f\n",
                expand * 1e3, scan * 1e3, expand / scan);
    std::printf("  (rescanning rule as first written, 1/10 of the text: %.1f ms vs %.2f ms, %.0fx slower)\n",
                rescanTenth * 1e3, linearTenth * 1e3, rescanTenth / linearTenth);
    if (sink == 42)
        std::puts("");
}

static void LoadBench()
{
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Pocket Notes";
    recipe.companyName = u"Velkor";
    recipe.destination = u"\\Program Files\\%SoftwareName%";
    for (int i = 0; i < 30; ++i) {
        std::u16string t;
        while (t.size() < 32 * 1024 - 1)     // 64 KiB with the terminator
            t += u"Lorem ipsum dolor sit amet, %SoftwareName% " + std::u16string(1, char16_t(u'a' + i % 26));
        t.resize(32 * 1024 - 1);
        recipe.texts.push_back(t);
    }
    Bytes file = velkor::BuildPackage(Bytes(4096, 0), recipe, 1);

    // The same blocks, taken straight out of the built file.
    std::vector<std::pair<Bytes, uLong>> blocks;
    for (const auto &t : recipe.texts) {
        Bytes raw = velkor::Utf16Bytes(t, true);
        blocks.push_back({velkor::ZlibCompress(raw), uLong(raw.size())});
    }
    double load = Time([&] {
        UseMemoryPackage(file.data(), file.size());
        if (LoadPackage() != LoadSucceeded)
            std::puts("load failed");
        ReleasePackage();
        UseFilePackages();
    });
    Bytes out(64 * 1024);
    double zlib = Time([&] {
        for (const auto &b : blocks) {
            uLongf n = uLongf(out.size());
            uncompress(out.data(), &n, b.first.data(), uLong(b.first.size()));
        }
    });
    std::printf("LoadPackage, 30 texts of 64 KiB: %.2f ms; zlib uncompress of the same blocks: %.2f ms; ratio %.2f\n",
                load * 1e3, zlib * 1e3, load / zlib);
}

static void BuildBench()
{
    Bytes cab(32u << 20);
    uint32_t x = 1;
    for (size_t i = 0; i < cab.size(); ++i) {
        x = x * 1103515245 + 12345;
        cab[i] = (i / 64) % 3 == 0 ? uint8_t(x >> 24) : uint8_t('a' + (i % 23));
    }
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    double one = Time([&] { velkor::BuildPayload(cab, 1); }, 2);
    double all = Time([&] { velkor::BuildPayload(cab, 0); }, 2);
    std::printf("build of a 32 MiB component: one core %.0f ms (%.1f MiB/s); %u cores %.0f ms (%.1f MiB/s); "
                "speed-up %.2f\n", one * 1e3, 32 / one, cores, all * 1e3, 32 / all, one / all);
}

// A device-like figure: the device build's package code (tests/device/arm,
// armcore.exe) inflating and writing one component, as ARM code under the
// CPU emulator.  It counts instructions, not time, so it does not move
// with the machine: those run inside UnpackComponent per byte written.
// The coredll stand-ins (heap, WriteFile, memcpy) run on the host and are
// not counted.
static void DeviceBench()
{
#ifdef VELKOR_ARMCORE_EXE
    armrun::Image image;
    std::string problem = image.Load(VELKOR_ARMCORE_EXE);
    armrun::LinkMap map;
    if (problem.empty() && !map.Load(VELKOR_ARMCORE_MAP))
        problem = "no link map " VELKOR_ARMCORE_MAP;
    if (!problem.empty()) {
        std::printf("device figure skipped: %s\n", problem.c_str());
        return;
    }
    // A 4 MiB component that compresses like a device CAB of programs and text.
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Pocket Notes";
    recipe.companyName = u"Velkor";
    recipe.texts = velkor::DefaultTexts();
    Bytes cab(4u << 20);
    uint32_t x = 1;
    for (size_t i = 0; i < cab.size(); ++i) {
        x = x * 1103515245 + 12345;
        cab[i] = (i / 64) % 3 == 0 ? uint8_t(x >> 24) : uint8_t('a' + (i % 23));
    }
    recipe.components.push_back({u"Main", cab, true, true});
    Bytes file = velkor::BuildPackage(Bytes(4096, 'M'), recipe, 0);
    char path[] = "/tmp/velkor-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, file.data(), file.size()) != ssize_t(file.size())) {
        std::puts("device figure skipped: no temporary file");
        return;
    }
    close(fd);
    armrun::Options options;
    options.commandLine = std::u16string(path, path + std::strlen(path));
    armrun::Result r = armrun::Runner(image, map, "UnpackComponent").Run(options);
    unlink(path);
    if (!r.ok || r.bytesWrittenCounted != cab.size()) {
        std::printf("device figure failed: %s\n", r.ok ? "not every byte was written" : r.failure.c_str());
        return;
    }
    std::printf("device (ARM under the emulator): inflate and write of a %zu MiB component (stored/unpacked %.2f): "
                "%.2f instructions per unpacked byte (%llu instructions; coredll's memcpy, run on the host, "
                "moved %llu bytes of it, not counted)\n",
                cab.size() >> 20, double(file.size() - 4096) / double(cab.size()),
                double(r.counted) / double(r.bytesWrittenCounted), (unsigned long long)r.counted,
                (unsigned long long)r.standInBytesCounted);
#endif
}

int main()
{
    ExpandBench();
    LoadBench();
    BuildBench();
    DeviceBench();
    return 0;
}
