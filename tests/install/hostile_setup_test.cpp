// hostile_setup_test.cpp -- a sample of the hostile packages through the
// real setup.exe and the installer stand-in: prefixes, single-byte changes,
// the boundary table, odd packages and random damage.  The loader, run in
// this process on the same bytes, says what the program must do: show the
// built-in message of its load result, end silently, show its first page,
// or install.  A package without its trailer and a damaged one both say
// "invalid package"; nothing here runs short of memory, so the loader
// saying out of memory is itself a fault.  An installation must end with
// no message or with the package's own damaged-package or no-space
// message; every CAB that reached
// the installer must have installed (exit 0) into the files packed, no
// "\kCABFILE.cab" may stay and "fAskDest" must be as it was.
//
// Packages that fail to load run side by side; installations share the
// device root's temporary file and the installer's log, so they take turns.
#include "robot.h"
#include "packages.h"
#include "hostile.h"
#include "testsupport.h"

#include "package.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

using namespace robot;
using namespace installtest;

using namespace testsupport;

namespace {

const wchar_t BuiltInCaption[] = L"Velkor";
const wchar_t BuiltInNotAPackage[] = L"Invalid Velkor setup package. Please download this setup package again.";


// What the program must do with a package, from the loader run here.
struct Prediction {
    LoadResult load = LoadNotAPackage;
    bool silent = false;               // RequireInstallArgument without "install"
    bool pages = false;                // a wizard page comes first
    std::vector<uint32_t> selected;    // components the installation hands off, in order
    std::wstring title, corrupted, noSpace;
};

std::mutex loaderLock;   // the loader fills one process-wide model

Prediction Predict(const Bytes &file)
{
    std::lock_guard<std::mutex> hold(loaderLock);
    Prediction p;
    UseMemoryPackage(file.data(), file.size());
    ModulePath[0] = 0;
    p.load = LoadPackage();
    UseFilePackages();
    if (p.load == LoadSucceeded) {
        p.silent = Package.RequireInstallArgument != 0;
        p.pages = Package.FirstPage != 0;
        for (uint32_t i = 0; i < Package.ComponentCount; ++i)
            if (Package.Components[i].Selected)
                p.selected.push_back(i);
        p.title = Package.TextTable[TextWindowTitle];
        p.corrupted = Package.TextTable[TextPackageCorrupted];
        p.noSpace = Package.TextTable[TextNotEnoughSpace];
    }
    ReleasePackage();
    return p;
}

struct Case {
    std::string name;
    Bytes file;
    const HostileSample *sample;
    LoadResult mustLoad = LoadResult(0);   // when set, what the loader must say
};

struct Outcome {
    std::string problem;               // empty: as it must be
    std::string ending;                // what happened, for the tally
};

std::mutex installing;

// The files one installer run wrote must be the members of the CAB packed
// for that component, with the same bytes.
std::string CheckInstalled(const LogLine &line, const std::vector<std::pair<std::string, Bytes>> &members)
{
    std::string dest = line.count("dest") ? line.at("dest") : "";
    std::string files = line.count("files") ? line.at("files") : "";
    std::vector<std::string> listed;
    std::istringstream parts(files);
    for (std::string f; std::getline(parts, f, '|');)
        listed.push_back(f);
    if (listed.size() != members.size())
        return "installed " + files + ", packed " + std::to_string(members.size()) + " files";
    for (const auto &[name, data] : members) {
        std::wstring path = DeviceRoot() + Widen(dest.substr(dest.empty() ? 0 : 1)) + L"\\" + Widen(name);
        if (ReadBytes(path) != data)
            return "installed " + Narrow(path) + " differs from the member packed";
    }
    return "";
}

// Waits until `condition` holds, or throws Timeout naming `what`.
void WaitFor(Wizard &w, const std::string &what, const std::function<bool()> &condition)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > Limit(w.TimeLimit()))
            throw Timeout("waited in vain for " + what + ": " + w.Describe());
        Sleep(20);
    }
}

// After the no-space message of a package without pages the frame stays,
// empty, and only a WM_CLOSE ends the program.
std::string CloseRefusedFrame(Wizard &w)
{
    WaitFor(w, "the message box to close", [&] { return !w.HasMessageBox(); });
    HWND frame = w.Frame();
    if (!w.Running() || !frame)
        return "the program ended after the no-space message instead of keeping its frame";
    try {
        w.Settle(frame);
    } catch (const Failure &) {
        return "the program ended after the no-space message instead of keeping its frame";
    }
    if (!w.Running() || w.Frame() != frame)
        return "the program ended after the no-space message instead of keeping its frame";
    if (w.PageId() != 0)
        return "a page shows after the no-space message of a package without pages";
    PostMessageW(frame, WM_CLOSE, 0, 0);
    return "";
}

Outcome RunCase(size_t index, const Case &c)
{
    Outcome out;
    Prediction p = Predict(c.file);
    if (p.load == LoadOutOfMemory)
        return {"the loader calls damage out of memory", "built-in: out of memory"};
    if (c.mustLoad && p.load != c.mustLoad)
        return {"the loader says " + std::to_string(p.load) + ", not " + std::to_string(c.mustLoad), ""};
    std::wstring exe = WriteDeviceFile(L"hostile" + std::to_wstring(index) + L".exe", c.file);
    bool installs = p.load == LoadSucceeded && !p.silent && !p.pages;
    std::unique_lock<std::mutex> turn(installing, std::defer_lock);
    if (installs) {
        turn.lock();
        DeleteFileW((DeviceRoot() + L"windows\\wceload.log").c_str());
        RemoveTree(DeviceRoot() + L"Program Files");
        CreateDirectoryW((DeviceRoot() + L"Program Files").c_str(), nullptr);
        EXPECT_TRUE(SetRegistryAskDest(true, 5));
    }

    Wizard w;
    w.Launch(exe);
    if (p.load != LoadSucceeded) {
        out.ending = p.load == LoadNotAPackage ? "built-in: invalid package (no trailer)"
                                               : "built-in: invalid package (damaged)";
        MessageBoxInfo box = w.WaitMessageBox();
        std::wstring expected = BuiltInNotAPackage;
        if (box.text != expected || box.caption != BuiltInCaption || box.icon != Icon::Error)
            out.problem = "box \"" + Narrow(box.text) + "\" / " + Narrow(box.caption) + " / " + IconName(box.icon) +
                          ", expected \"" + Narrow(expected) + "\"";
        w.Answer(box, IDOK);
    } else if (p.silent) {
        out.ending = "silent end (install argument required)";
    } else if (p.pages) {
        out.ending = "wizard shown, cancelled";
        w.WaitFrame();
        WaitFor(w, "a page", [&] { return w.PageId() != 0; });
        w.Click(IDCANCEL);
    } else {
        // The installation runs at once; at most one message ends it.
        DWORD start = GetTickCount();
        while (w.Running() && !w.HasMessageBox()) {
            if (GetTickCount() - start > Limit(w.TimeLimit()))
                throw Timeout("the installation did not end: " + w.Describe());
            Sleep(20);
        }
        if (w.Running()) {
            MessageBoxInfo box = w.WaitMessageBox();
            if (box.text == p.corrupted && box.caption == p.title && box.icon == Icon::Error)
                out.ending = "package message: damaged";
            else if (box.text == p.noSpace && box.caption == p.title && box.icon == Icon::Error)
                out.ending = "package message: not enough space";
            else
                out.problem = "unexpected box \"" + Narrow(box.text) + "\" / " + Narrow(box.caption);
            w.Answer(box, IDOK);
            // A refused start leaves the empty frame up until it is closed.
            if (out.ending == "package message: not enough space")
                out.problem = CloseRefusedFrame(w);
        } else {
            out.ending = "installed";
        }
    }
    DWORD code = w.WaitExit();
    if (code != 0 && out.problem.empty())
        out.problem = "exit code " + std::to_string(code);

    if (installs) {
        std::vector<LogLine> log = InstallerLog();
        if (out.ending == "installed" && log.size() != p.selected.size())
            out.problem = "no message, but " + std::to_string(log.size()) + " of " + std::to_string(p.selected.size()) +
                          " components reached the installer";
        for (size_t k = 0; k < log.size() && out.problem.empty(); ++k) {
            if (k >= p.selected.size() || p.selected[k] >= c.sample->members.size()) {
                out.problem = "the installer ran for a component that is not in the package";
                break;
            }
            // A destination the device cannot use (lone surrogates, say) is
            // the installer's to refuse, with its own message; setup.exe
            // hands the folder on as the package states it.
            if (log[k]["exit"] == "7")
                out.ending = "installer refused the destination";
            else if (log[k]["exit"] != "0")
                out.problem = "the installer got a CAB it refused (" + log[k]["error"] + "), reported as installed";
            else
                out.problem = CheckInstalled(log[k], c.sample->members[p.selected[k]]);
        }
        if (out.problem.empty() && Exists(DeviceRoot() + L"kCABFILE.cab"))
            out.problem = "\\kCABFILE.cab left behind";
        if (out.problem.empty() && AskDestText() != "5")
            out.problem = "fAskDest is " + AskDestText() + " afterwards";
        DeleteFileW((DeviceRoot() + L"kCABFILE.cab").c_str());
    }
    DeleteFileW(exe.c_str());
    return out;
}

std::vector<Outcome> RunAll(const std::vector<Case> &cases)
{
    unsigned threads = 6;
    std::wstring t = Env(L"VELKOR_ROBOT_THREADS");
    if (!t.empty())
        threads = unsigned(std::max(1, _wtoi(t.c_str())));
    std::vector<Outcome> results(cases.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads && i < cases.size(); ++i) {
        workers.emplace_back([&] {
            for (size_t k; (k = next++) < cases.size();) {
                try {
                    results[k] = RunCase(k, cases[k]);
                } catch (const std::exception &e) {
                    results[k].problem = e.what();
                }
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    return results;
}

struct SetupHostile : ::testing::Test {
    void SetUp() override
    {
        std::wstring root = DeviceRoot();
        DeleteFileW((root + L"windows\\wceload.log").c_str());
        DeleteFileW((root + L"kCABFILE.cab").c_str());
        CopyFileW((BinDir() + L"wceload.exe").c_str(), (root + L"windows\\wceload.exe").c_str(), FALSE);
    }
};

TEST_F(SetupHostile, ASampleOfHostilePackagesThroughSetupExe)
{
    auto started = std::chrono::steady_clock::now();
    HostileSample two = TwoComponentSample(SetupImage());
    HostileSample demo = DemoLikeSample(SetupImage(), 0);   // no pages: installs at once
    HostileSample signedTwo = Signed(two);
    std::vector<Case> cases;
    const Bytes &f = two.file;
    const uint32_t h = two.headerOffset, p0 = two.payloadOffsets[0], p1 = two.payloadOffsets[1];

    cases.push_back({"the sample itself", f, &two});
    // Prefixes: a few as they are, more with the trailer put back.
    // (A cut inside setup.exe's own image leaves no program to start.)
    for (size_t cut : {size_t(h), size_t(h + 1), f.size() - 1}) {
        cases.push_back({"prefix " + std::to_string(cut), Bytes(f.begin(), f.begin() + cut), &two});
    }
    for (uint32_t cut : {h, h + 2, h + 4, h + 13, h + 40, h + 100, p0 - 200, p0 - 30, p0 - 12, p0 - 1, p0, p0 + 2,
                         p0 + 9, p0 + 13, p0 + 200, p1 - 1, p1, p1 + 20, uint32_t(two.payloadEnd - 1)}) {
        Bytes cut_(f.begin(), f.begin() + cut);
        cut_.insert(cut_.end(), f.end() - 8, f.end());
        cases.push_back({"prefix " + std::to_string(cut) + " + trailer", cut_, &two});
    }
    // Damage after the trailer, each kind by name: the program must call it
    // an invalid package.
    std::vector<Field> fields = FieldsOf(two);
    auto at = [&](const std::string &name) {
        for (const Field &fd : fields)
            if (fd.name == name)
                return fd.offset;
        ADD_FAILURE() << "no field " << name;
        return uint32_t(0);
    };
    auto damaged = [&](const std::string &name, std::function<void(Bytes &)> change) {
        Bytes bad = f;
        change(bad);
        cases.push_back({"damaged: " + name, bad, &two, LoadDamaged});
    };
    const uint32_t firstText = at("text 0 compressed byte"), lastText = at("text 29 compressed byte");
    damaged("header offset past the end", [&](Bytes &b) { Set32(b, uint32_t(b.size() - 8), uint32_t(b.size() + 100)); });
    damaged("header offset 2^32-1", [&](Bytes &b) { Set32(b, uint32_t(b.size() - 8), 0xFFFFFFFFu); });
    damaged("header cut short", [&](Bytes &b) {
        Bytes cut(b.begin(), b.begin() + lastText);
        cut.insert(cut.end(), b.end() - 8, b.end());
        b = cut;
    });
    damaged("text 0's deflate data", [&](Bytes &b) { b[firstText + 9 + Get32(b, firstText + 1) / 2] ^= 0x55; });
    damaged("text 29's Adler-32 check", [&](Bytes &b) { b[lastText + 9 + Get32(b, lastText + 1) - 1] ^= 1; });
    damaged("text 29's decoded size too small", [&](Bytes &b) { Set32(b, lastText + 5, 1); });
    damaged("component count the file cannot hold", [&](Bytes &b) { Set32(b, at("component count"), 0x10000000u); });
    damaged("text count the file cannot hold", [&](Bytes &b) { Set32(b, at("text count"), 0xFFFFFFFFu); });
    damaged("destination's stored size past the end",
            [&](Bytes &b) { Set32(b, at("destination stored size"), 0x7FFFFFFFu); });

    // Single-byte changes: every field of the header once, and bytes of
    // the first chunks.
    for (const Field &fd : fields) {
        Bytes bad = f;
        bad[fd.offset] ^= 0xFF;
        cases.push_back({fd.name + ": first byte ^ 0xFF", bad, &two});
    }
    for (uint32_t at : {p0 + 4, p0 + 13, p0 + 14, p0 + 30, p1 + 4, p1 + 13, p1 + 50}) {
        Bytes bad = f;
        bad[at] = 0;
        cases.push_back({"byte " + std::to_string(at) + " = 0", bad, &two});
    }
    // The boundary table, one value of each kind per field.
    for (const HostileCase &b : BoundaryCases(two)) {
        bool pick = b.name.find("2^32-1") != std::string::npos || b.name.find("rest of the file + 1") != std::string::npos ||
                    b.name.find("wraps to 1") != std::string::npos || b.name.find("inside the trailer (length-4)") != std::string::npos ||
                    b.name.find("payload 1 (") != std::string::npos || b.name.find("= 128") != std::string::npos;
        if (pick)
            cases.push_back({b.name, b.file, &two});
    }
    for (const HostileCase &o : OddCases(SetupImage()))
        if (o.name.find("1 MiB destination") == std::string::npos)
            cases.push_back({o.name, o.file, &two});
    // Signed: damage between the headers and the trailer, every alignment.
    for (const HostileCase &c : SignedCases(signedTwo, true))
        cases.push_back({c.name, c.file, &signedTwo});
    // Random damage, 1% of the bytes: whole packages and payloads only.
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        cases.push_back({"random damage seed " + std::to_string(seed), RandomDamage(f, h, seed), &two});
        Bytes payloads = RandomDamage(f, p0, 1000 + seed);
        std::copy(f.end() - 8, f.end(), payloads.end() - 8);
        cases.push_back({"payload damage seed " + std::to_string(seed), payloads, &two});
        Bytes demoDamage = RandomDamage(demo.file, demo.payloadOffsets[0], 2000 + seed);
        std::copy(demo.file.end() - 8, demo.file.end(), demoDamage.end() - 8);
        cases.push_back({"demo-like payload damage seed " + std::to_string(seed), demoDamage, &demo});
    }

    std::vector<Outcome> results = RunAll(cases);
    std::map<std::string, int> endings;
    int failed = 0;
    for (size_t k = 0; k < cases.size(); ++k) {
        endings[results[k].ending.empty() ? "(none)" : results[k].ending]++;
        if (!results[k].problem.empty()) {
            ++failed;
            ADD_FAILURE() << cases[k].name << ": " << results[k].problem;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "[hostile] " << cases.size() << " packages through setup.exe, " << failed << " failed, " << seconds
              << " s" << std::endl;
    for (auto &[e, n] : endings)
        std::cout << "[hostile]   " << n << " x " << e << std::endl;
    EXPECT_EQ(AskDestText(), "5");
}

}  // namespace
