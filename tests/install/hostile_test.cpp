// hostile_test.cpp -- hostile packages in process, through the loader and,
// when a package loads, through the installation as the program runs it
// (space check, progress window, one hand-off per selected component, the
// run's message).  Every prefix, every single-byte change of the header and
// of the first bytes of each payload, a boundary table of every count, size
// and offset field, odd but valid packages, and seeded random damage.
//
// Each attempt must end cleanly: a load result the program has a message
// for, at most one message and only one that damage can explain, no
// "\kCABFILE.cab" left, "fAskDest" as it was, no registry key left open, no
// heap block leaked, no request for more memory than the file could ever
// decode to, and every CAB the installer got identical to the one packed
// for that component.
#include "support.h"
#include "hostile.h"
#include "../support/pefake.h"

#include "format.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>

using namespace installtest;
using testsupport::Printable;

namespace {

// ---- the package served from memory to the loader and to the hand-off ----

const Bytes *image = nullptr;
struct MemorySource {
    uint64_t position = 0;
} memorySource;
HANDLE const MemoryHandle = HANDLE(&memorySource);
int overlongReads = 0;   // reads larger than the heap block they land in

HANDLE MemoryOpen(const WCHAR *) { memorySource.position = 0; return MemoryHandle; }

BOOL MemorySize(HANDLE h, ULONGLONG *size)
{
    if (h != MemoryHandle)
        return Win32InstallOs.SourceSize(h, size);
    *size = image->size();
    return TRUE;
}

BOOL MemorySeek(HANDLE h, DWORD offset)
{
    if (h != MemoryHandle)
        return Win32InstallOs.Seek(h, offset);
    memorySource.position = offset;   // SetFilePointer lets a file pointer pass the end
    return TRUE;
}

// A read into a heap block must fit that block; stack buffers are the
// fixed-size prefixes and are not checked here.
void CheckFits(const void *buffer, DWORD size)
{
    NT_TIB *tib = reinterpret_cast<NT_TIB *>(NtCurrentTeb());
    if (buffer >= tib->StackLimit && buffer < tib->StackBase)
        return;
    HANDLE heap = GetProcessHeap();
    if (size && HeapValidate(heap, 0, buffer) && HeapSize(heap, 0, buffer) < size)
        ++overlongReads;
}

BOOL MemoryRead(HANDLE h, void *buffer, DWORD size, DWORD *delivered)
{
    if (h != MemoryHandle)
        return Win32InstallOs.Read(h, buffer, size, delivered);
    ++fake.reads;
    CheckFits(buffer, size);
    uint64_t left = memorySource.position < image->size() ? image->size() - memorySource.position : 0;
    DWORD n = DWORD(std::min<uint64_t>(size, left));
    if (n)
        memcpy(buffer, image->data() + memorySource.position, n);
    memorySource.position += n;
    *delivered = n;
    return TRUE;
}

BOOL (*FakeWrite)(HANDLE, const void *, DWORD, DWORD *);
BOOL CheckedWrite(HANDLE file, const void *data, DWORD size, DWORD *written)
{
    CheckFits(data, size);
    return FakeWrite(file, data, size, written);
}

void (*FakeClose)(HANDLE);
void MemoryClose(HANDLE h)
{
    if (h != MemoryHandle)
        FakeClose(h);
}

// ---- tallies ----

struct Tally {
    int attempts = 0;
    int notAPackage = 0, damaged = 0;         // load refused, with the built-in invalid-package message
    int silent = 0;                           // loaded, ends without "install" on the command line
    int failedCleanly = 0;                    // installation ended with a package message
    int installedIdentical = 0;               // every selected component installed, each CAB as packed
    int nothingSelected = 0;
    int identicalHandOffs = 0;                // installer runs with the CAB as packed
    int wrongCab = 0;                         // installer runs with any other CAB: must stay 0
    std::map<std::string, int> messages;      // which package message ended the failed runs
    size_t largestRequest = 0;
    double slowestMs = 0;
    std::vector<std::string> problems;

    std::string Summary() const
    {
        std::ostringstream s;
        s << attempts << " attempts: load refused " << notAPackage + damaged << " (not a package "
          << notAPackage << ", damaged " << damaged << "), silent end " << silent
          << ", installs failed cleanly " << failedCleanly << ", installs identical " << installedIdentical
          << ", nothing selected " << nothingSelected << "; installer runs identical " << identicalHandOffs
          << ", with a different CAB " << wrongCab << "; largest allocation " << largestRequest
          << " bytes; slowest " << slowestMs << " ms";
        for (auto &[m, n] : messages)
            s << "\n    " << n << " x " << m;
        return s.str();
    }
};

const wchar_t *TextOr(uint32_t index)
{
    return Package.TextTable && index < Package.TextCount && Package.TextTable[index] ? Package.TextTable[index] : L"";
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Hostile : InstallFixture {
    void SetUp() override
    {
        InstallFixture::SetUp();
        FakeWrite = InstallOs.Write;
        FakeClose = InstallOs.Close;
        InstallOs.OpenSource = MemoryOpen;
        InstallOs.SourceSize = MemorySize;
        InstallOs.Seek = MemorySeek;
        InstallOs.Read = MemoryRead;
        InstallOs.Write = CheckedWrite;
        InstallOs.Close = MemoryClose;
    }
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    void TearDown() override
    {
        UseFilePackages();
        InstallFixture::TearDown();
    }

    // Loads `file` as the program loads its own file and, when it loads,
    // installs as the program does; checks everything that must hold and
    // counts the outcome.  `cabs` are the CABs packed, by component.
    void Attempt(const std::string &name, const Bytes &file, const std::vector<Bytes> &cabs, Tally &t,
                 HostileCase::Expect expect = HostileCase::Clean)
    {
        auto started = std::chrono::steady_clock::now();
        if (++t.attempts % 2000 == 0)
            std::cout << "[hostile]   ... " << t.attempts << " attempts" << std::endl;
        auto problem = [&](const std::string &what) {
            if (t.problems.size() < 40)
                t.problems.push_back(name + ": " + what);
        };
        fake = Fakes();
        fake.freeBytes = 64u << 20;
        SetAskDest(7);
        overlongReads = 0;
        image = &file;
        long blocks = VHeapLiveBlocks();
        VHeapResetLargest();

        UseMemoryPackage(file.data(), file.size());
        lstrcpyW(ModulePath, L"\\package.bin");
        LoadResult r = LoadPackage();
        if (r != LoadSucceeded) {
            (r == LoadNotAPackage ? t.notAPackage : t.damaged)++;
            // No allocation is refused here: out of memory would be damage
            // told to the user as a shortage.
            if (r != LoadNotAPackage && r != LoadDamaged)
                problem("load result " + std::to_string(r));
            if (expect == HostileCase::Installs)
                problem("a valid package did not load: " + std::to_string(r));
        } else if (expect == HostileCase::NotAPackage) {
            problem("loaded, expected not a package");
        } else if (Package.RequireInstallArgument) {
            ++t.silent;   // started without "install": the program ends at once
        } else {
            Install(cabs, t, problem, expect);
        }
        if (r != LoadSucceeded && expect == HostileCase::NotAPackage && r != LoadNotAPackage)
            problem("expected not a package");
        UseFilePackages();
        Unload();

        if (VHeapLiveBlocks() != blocks)
            problem("heap blocks leaked: " + std::to_string(VHeapLiveBlocks() - blocks));
        // Nothing may ask for more than the file could decode to (deflate
        // expands at most 1032:1) plus the decoder's own state.
        size_t largest = VHeapLargestRequest();
        t.largestRequest = std::max(t.largestRequest, largest);
        if (largest > file.size() * 1032 + 65536)
            problem("asked the heap for " + std::to_string(largest) + " bytes");
        if (overlongReads)
            problem("a read larger than its buffer");
        if (Exists(TemporaryCabPath)) {
            problem("\\kCABFILE.cab left behind");
            DeleteFileW(TemporaryCabPath);
        }
        const RegistryValue *ask = FindValue(fake.registry, InstallerKeyName, L"fAskDest");
        if (!ask || !(*ask == RegistryValue{REG_DWORD, DwordBytes(7)}))
            problem("fAskDest not put back");
        if (fake.openKeys != 0)
            problem("a registry key left open");
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        t.slowestMs = std::max(t.slowestMs, ms);
    }

    template <class Problem>
    void Install(const std::vector<Bytes> &cabs, Tally &t, Problem problem, HostileCase::Expect expect)
    {
        // The selected components, in order, as the run will hand them off.
        std::vector<uint32_t> selected;
        for (uint32_t i = 0; i < Package.ComponentCount; ++i)
            if (Package.Components[i].Selected)
                selected.push_back(i);
        std::wstring title = TextOr(TextWindowTitle);
        std::wstring corrupted = TextOr(TextPackageCorrupted), noSpace = TextOr(TextNotEnoughSpace);

        BOOL ran = RunInstallation(&host);
        if (ProgressPage)
            DestroyWindow(ProgressPage);
        ProgressPage = nullptr;
        ProgressBar = nullptr;
        Pump();

        size_t identical = 0;
        for (size_t k = 0; k < fake.runs.size(); ++k) {
            if (k < selected.size() && selected[k] < cabs.size() && fake.runs[k].cab == cabs[selected[k]]) {
                ++identical;
                continue;
            }
            ++t.wrongCab;
            problem("installer run " + std::to_string(k) + " got a CAB of " + std::to_string(fake.runs[k].cab.size()) +
                    " bytes that is not the one packed");
        }
        t.identicalHandOffs += int(identical);

        if (fake.messages.empty()) {
            if (!ran)
                problem("the run refused without a message");
            if (fake.runs.size() != selected.size())
                problem("no message, but " + std::to_string(fake.runs.size()) + " of " +
                        std::to_string(selected.size()) + " components handed off");
            else if (selected.empty())
                ++t.nothingSelected;
            else if (identical == selected.size())
                ++t.installedIdentical;
        } else {
            ++t.failedCleanly;
            if (expect == HostileCase::Installs)
                problem("a valid package failed: " + Printable(fake.messages[0].text));
            if (fake.messages.size() != 1)
                problem(std::to_string(fake.messages.size()) + " messages");
            const MessageRecord &m = fake.messages[0];
            std::string which;
            if (m.text == corrupted && m.style == MB_ICONHAND && m.caption == title)
                which = "package damaged (TextPackageCorrupted)";
            else if (m.text == noSpace && m.style == MB_ICONHAND && m.caption == title && !ran)
                which = "not enough space (TextNotEnoughSpace)";
            else
                problem("unexpected message \"" + Printable(m.text) + "\" style " + std::to_string(m.style));
            if (!which.empty())
                t.messages[which]++;
        }
    }

    void Report(const char *what, const Tally &t)
    {
        std::cout << "[hostile] " << Seconds(since) << " s since the test began" << std::endl;
        std::cout << "[hostile] " << what << ": " << t.Summary() << std::endl;
        for (const std::string &p : t.problems)
            ADD_FAILURE() << p;
        EXPECT_EQ(t.wrongCab, 0);
    }
};

// The two-component sample: every prefix as it is (no trailer: N of N are
// not a package), and every prefix with the trailer put back behind it, so
// the loader and the hand-off meet every place a package can end.
TEST_F(Hostile, EveryPrefixOfTheTwoComponentSample)
{
    auto started = std::chrono::steady_clock::now();
    HostileSample s = TwoComponentSample();
    const size_t n = s.file.size();
    std::cout << "[hostile] package of " << n << " bytes" << std::endl;
    Tally plain, withTrailer;
    // With the trailer put back: every cut up to 64 bytes into each payload,
    // then every 16th (each of those installs, which is slow under Wine).
    auto everyByte = [&](size_t cut) {
        if (cut < s.payloadOffsets[0] + 64)
            return true;
        return cut >= s.payloadOffsets[1] && cut < s.payloadOffsets[1] + 64;
    };
    for (size_t cut = 0; cut < n; ++cut) {
        Bytes prefix(s.file.begin(), s.file.begin() + cut);
        Attempt("prefix " + std::to_string(cut), prefix, s.cabs, plain, HostileCase::NotAPackage);
        if (!everyByte(cut) && cut % 16 != 0)
            continue;
        prefix.insert(prefix.end(), s.file.end() - 8, s.file.end());
        Attempt("prefix " + std::to_string(cut) + " + trailer", prefix, s.cabs, withTrailer);
    }
    Attempt("whole", s.file, s.cabs, plain, HostileCase::Installs);
    std::cout << "[hostile] " << Seconds(started) << " s" << std::endl;
    std::cout << "[hostile] package of " << n << " bytes (header at " << s.headerOffset << ", payloads at "
              << s.payloadOffsets[0] << " and " << s.payloadOffsets[1] << ")" << std::endl;
    std::cout << "[hostile] " << plain.attempts - 1 << " of " << n << " prefixes handled" << std::endl;
    Report("prefixes", plain);
    Report("prefixes with the trailer put back", withTrailer);
    EXPECT_EQ(plain.notAPackage, int(n));
    EXPECT_GT(withTrailer.damaged, 0) << "a header cut short is damage";
    EXPECT_EQ(plain.installedIdentical, 1);
    // Only cuts inside the old trailer keep every payload whole.
    EXPECT_LE(withTrailer.installedIdentical, 1) << "a cut package installed completely";
}

// Every single-byte change of the header, of the first 64 bytes of each
// payload and of the trailer, three values each.
TEST_F(Hostile, EverySingleByteChangeOfTheTwoComponentSample)
{
    HostileSample s = TwoComponentSample();
    std::vector<std::pair<uint32_t, uint32_t>> ranges = {{s.headerOffset, s.payloadOffsets[0]}};
    for (uint32_t p : s.payloadOffsets)
        ranges.push_back({p, p + 64});
    ranges.push_back({s.payloadEnd, uint32_t(s.file.size())});
    Tally t;
    size_t positions = 0;
    for (auto [from, to] : ranges) {
        for (uint32_t at = from; at < to; ++at) {
            ++positions;
            uint8_t was = s.file[at];
            for (uint8_t v : {uint8_t(was ^ 0xFF), uint8_t(0), uint8_t(was + 1)}) {
                if (v == was)
                    continue;
                Bytes bad = s.file;
                bad[at] = v;
                char name[64];
                snprintf(name, sizeof name, "byte %u: %02X -> %02X", at, was, v);
                Attempt(name, bad, s.cabs, t);
            }
        }
    }
    std::cout << "[hostile] " << positions << " byte positions changed" << std::endl;
    Report("single-byte changes", t);
    EXPECT_GT(t.failedCleanly, 0);
    EXPECT_GT(t.installedIdentical, 0);   // flag bytes, a larger decoded size...
}

TEST_F(Hostile, BoundaryTableOfEveryCountSizeAndOffset)
{
    for (HostileSample s : {TwoComponentSample(), DemoLikeSample()}) {
        Tally t;
        std::vector<HostileCase> cases = BoundaryCases(s);
        for (const HostileCase &c : cases)
            Attempt(c.name, c.file, s.cabs, t, c.expect);
        std::cout << "[hostile] " << FieldsOf(s).size() << " fields, " << cases.size() << " named cases" << std::endl;
        Report(("boundary table, " + s.name).c_str(), t);
        // A field's value only ever made the program ask for a little.
        EXPECT_LT(t.largestRequest, size_t(16) << 20);
    }
}

TEST_F(Hostile, OddButValidPackagesAndJunk)
{
    HostileSample s = TwoComponentSample();
    Tally t;
    for (const HostileCase &c : OddCases()) {
        Tally one;
        Attempt(c.name, c.file, s.cabs, one, c.expect);
        std::cout << "[hostile]   " << c.name << ": " << one.Summary() << std::endl;
        for (const std::string &p : one.problems)
            t.problems.push_back(p);
        t.attempts += one.attempts;
        t.installedIdentical += one.installedIdentical;
        t.wrongCab += one.wrongCab;
    }
    Report("odd packages", t);
}

// Signed packages, PE32+ and PE32: damage between the PE header and the
// trailer, every alignment, and every prefix (only the cut right after the
// trailer, the package as it was before signing, installs).
TEST_F(Hostile, SignedPackages)
{
    for (bool plus : {true, false}) {
        HostileSample s = Signed(TwoComponentSample(pefake::Image(plus)));
        Tally t, prefixes;
        std::vector<HostileCase> cases = SignedCases(s);
        for (const HostileCase &c : cases)
            Attempt(c.name, c.file, s.cabs, t, c.expect);
        Report((s.name + (plus ? " (PE32+)" : " (PE32)")).c_str(), t);
        EXPECT_GT(t.installedIdentical, 8);

        const size_t unsignedEnd = s.payloadEnd + 8;
        for (size_t cut = 0; cut < s.file.size(); ++cut)
            Attempt("signed prefix " + std::to_string(cut), Bytes(s.file.begin(), s.file.begin() + cut), s.cabs, prefixes,
                    cut == unsignedEnd ? HostileCase::Installs : HostileCase::NotAPackage);
        Report("every prefix of the signed sample", prefixes);
        std::cout << "[hostile] " << cases.size() << " signed cases, " << s.file.size() << " prefixes" << std::endl;
        EXPECT_EQ(prefixes.notAPackage, int(s.file.size()) - 1);
        EXPECT_EQ(prefixes.installedIdentical, 1);
    }
}

// 1000 runs per sample with 1% of the package's bytes changed (header,
// payloads and trailer), and 250 with 1% of the payload bytes only, so
// that these reach the installation.  Run k uses seed k.
TEST_F(Hostile, RandomDamage)
{
    for (HostileSample s : {TwoComponentSample(), DemoLikeSample()}) {
        for (bool payloadsOnly : {false, true}) {
            Tally t;
            uint32_t from = payloadsOnly ? s.payloadOffsets[0] : s.headerOffset;
            const uint32_t runs = payloadsOnly ? 250 : 1000;
            for (uint32_t seed = 1; seed <= runs; ++seed) {
                Bytes bad = RandomDamage(s.file, from, seed);
                if (payloadsOnly)   // keep the trailer
                    std::copy(s.file.end() - 8, s.file.end(), bad.end() - 8);
                Attempt("seed " + std::to_string(seed), bad, s.cabs, t);
            }
            std::string what = "random damage, " + s.name + (payloadsOnly ? ", payloads only" : ", whole package");
            Report(what.c_str(), t);
            EXPECT_EQ(t.attempts, int(runs));
        }
    }
}

}  // namespace
