// tooltest.h -- helpers for running velkor as a subprocess on fixtures made
// at test time: a private temporary folder, CAB files from gcab, a stub,
// manifests, and a map of where each item of a built package lies.
#pragma once

#include "pkgwrite.h"
#include "textfit.h"
#include "../support/filebytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;
using velkor::Bytes;

struct Result {
    int code = -1;
    std::string out, err;
};

// Runs velkor with the arguments; stdout and stderr are captured.
Result Velkor(const std::vector<std::string> &args, const fs::path &workDir = fs::current_path());
// Makes the folder `sub` and builds `manifest` (named as from there) into
// sub/`out`, on the device program `device` or on the desktop setup.exe in
// `winBin`; velkor's result.
Result BuildOnStub(const fs::path &sub, const std::string &manifest, const std::string &out, bool onDevice,
                   const fs::path &device, const fs::path &winBin);
// Runs a program (argv[0] a path) the same way.
Result RunCapturing(const std::vector<std::string> &argv, const fs::path &workDir);
// Starts velkor without waiting (output discarded); WaitExit reaps it.
int StartVelkor(const std::vector<std::string> &args, const fs::path &workDir);
int WaitExit(int pid);
// Runs any program (gcab) and returns its exit code.
int RunProgram(const std::vector<std::string> &argv);

// Copies the sample package's folder (samples/make-sample-cabs.sh: the CABs,
// manifest and licence), which the ctest fixture sample_cabs makes once, to
// `to`.  False when it was not made.
bool CopySample(const fs::path &to);

// s with its first `from` replaced by `to` (a test failure when it has none).
std::string Replace(std::string s, const std::string &from, const std::string &to);

using testsupport::ReadBytes;
std::string ReadText(const fs::path &p);   // empty when missing
using testsupport::WriteBytes;
void WriteText(const fs::path &p, const std::string &s);

// Deterministic pseudo-random bytes (incompressible) and a compressible mix.
Bytes Noise(size_t n, uint32_t seed);
Bytes Prose(size_t n);

// A device CAB made by gcab: the setup information "SETUP.000", which
// installs member "data.001" as "%CE1%\Tool\data.bin", and "data.001"
// holding `content`.
Bytes MakeCab(const fs::path &cab, const Bytes &content);
// A CAB made by gcab from (member name, bytes) in this order; mszip: MSZIP
// compression, else stored.
Bytes MakeCabOf(const fs::path &cab, const std::vector<std::pair<std::string, Bytes>> &members, bool mszip = false);
// A CAB with one LZX folder (window 2^15), written here since no tool at
// hand writes LZX: each 32 KiB frame is one LZX "uncompressed" block, which
// every LZX decoder must take.  The CFDATA checksums are left 0 (unchecked).
Bytes MakeLzxCab(const fs::path &cab, const std::vector<std::pair<std::string, Bytes>> &members);
// A setup-information file (.000) that installs file numbers 1, 2, ... as
// `targets` into %CE1%\<app>.
Bytes SetupInfo(const std::string &app, const std::vector<std::string> &targets);
// A CAB of exactly `size` bytes (content sized to fit the gcab overhead).
Bytes MakeCabOfSize(const fs::path &cab, size_t size, uint32_t seed);

// What a build starts from, in dir: setup.exe (the stub) and main.cab
// holding `main`.  Returns main.cab's bytes.
Bytes WriteStubAndCab(const fs::path &dir, const Bytes &main);
// A build's inputs in dir: the stub and main.cab as above, help.cab holding
// `help` unless it is empty, and `manifest` as the file `manifestFile`.
void WriteInputs(const fs::path &dir, const std::string &manifestFile, const std::string &manifest, const Bytes &main,
                 const Bytes &help = {});
// The inputs of a build whose agreement text is eula.txt ("Terms.\n"),
// main.cab holding `proseBytes` of prose and `manifest` as app.toml; then
// `spoil`, when set, run on the folder.
void WriteSpoiledInputs(const fs::path &dir, const std::string &manifest, size_t proseBytes,
                        const std::function<void(const fs::path &dir)> &spoil);

// The start of a Windows program: "MZ", a PE header naming the machine and
// subsystem, filler.  Stub() is a device one (ARM, Windows CE GUI).
Bytes PeStub(uint16_t machine, uint16_t subsystem);
Bytes Stub();

// Where the items of a built package lie, found by walking it
// independently of velkor's own reader.
struct PackageMap {
    uint32_t headerOffset = 0;
    std::vector<uint64_t> textBlocks;          // 30 Block offsets
    std::vector<uint64_t> componentRecords;    // record offsets
    std::vector<uint32_t> payloads;
    std::vector<std::vector<uint64_t>> chunks; // Block offset of each chunk
};
PackageMap Map(const Bytes &file);
uint32_t GetU32(const Bytes &b, uint64_t at);
void SetU32(Bytes &b, uint64_t at, uint32_t v);

// Files in a folder, by name (to see that nothing was left behind).
std::vector<std::string> Listing(const fs::path &dir);

// A command velkor must refuse: its exit code and a part of its message.
struct Refusal {
    std::vector<std::string> args;
    int code;
    const char *message;
};
// velkor refused a command: exit code `code`, `message` within the one
// line it wrote to stderr, nothing on stdout.
void ExpectRefused(const Result &r, int code, const std::string &message);

// The text of a manifest, each table after a blank line: [package] with
// name, company, the Package() lines and pages; then each Variable(), each
// Component() and each Texts() table, in the order they were added.  So
// ManifestText().Component() is
//   1 [package]
//   2 name = "Tool"
//   3 company = "Acme"
//   4 pages = ["welcome", "ready"]
//   5
//   6 [[component]]
//   7 name = "Main"
//   8 cab = "main.cab"
// and tests can count the lines at which they expect a message.
class ManifestText {
public:
    explicit ManifestText(const std::string &pages = R"(["welcome", "ready"])", const std::string &name = "Tool",
                          const std::string &company = "Acme");
    // More [package] lines, each ending in "\n".
    ManifestText &Package(const std::string &lines);
    ManifestText &Variable(const std::string &name, const std::string &value);
    // `lines` (each ending in "\n") follow name and cab.
    ManifestText &Component(const std::string &name = "Main", const std::string &cab = "main.cab",
                            const std::string &lines = "");
    // [texts], or [texts.LANGUAGE], with these lines (it may have none).
    ManifestText &Texts(const std::string &lines, const std::string &language = "");
    operator std::string() const { return head_ + pages_ + tables_; }

private:
    std::string head_, pages_, tables_;
};

// A text of exactly `width` pixels in the width table's font, made of
// lower-case letters; empty when no mix of them comes to it.
std::u16string TextOfWidth(const velkor::DeviceFont &font, int width, bool bold);

// The room a place has by the width table and the tool's rule (RoomFor),
// looked up as the tests see it: a control of its own page, else the same
// control on the welcome page, else the page's width for a header.
int RoomByTable(const velkor::FitPlace &place);

// A fresh folder per test, removed afterwards.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path dir;
};

}  // namespace tooltest
