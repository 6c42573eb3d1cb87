// stub_test.cpp -- `velkor build` takes only a device setup program as its
// stub (ARM, Windows CE GUI) unless told --desktop-stub, refuses what is no
// Windows program at all, and leaves nothing behind when it refuses; `list`
// and `lint` say what the stub of a package is.
#include "tooltest.h"

#include "littleendian.h"
#include "pefile.h"

#include <algorithm>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string OneCabManifest = ManifestText().Component();

const char *const Wanted = "a device stub is an ARM (0x01C0 or 0x01C2) Windows CE GUI (subsystem 9) program";

Bytes WithU32(Bytes b, size_t at, uint32_t v)
{
    SetU32(b, at, v);
    return b;
}

Bytes MzOnly()
{
    Bytes b = Noise(4096, 7);
    b[0] = 'M';
    b[1] = 'Z';
    SetU32(b, 0x3C, 0x80);            // points at filler, not at "PE\0\0"
    return b;
}

struct StubCase {
    const char *name;
    Bytes stub;
    bool desktopFlag;
    int code;
    const char *message;              // in stderr; nullptr: built
};

std::vector<StubCase> StubCases()
{
    Bytes shortOptional = PeStub(0x01C2, 9);
    shortOptional[0x80 + 20] = 40;    // too small to reach the subsystem field
    Bytes cutShort = PeStub(0x01C2, 9);
    cutShort.resize(0x80 + 24 + 60);  // ends inside the optional header
    Bytes notMz = PeStub(0x01C2, 9);
    notMz[0] = 'Z';
    return {
        {"ArmCe", PeStub(0x01C0, 9), false, 0, nullptr},
        {"ThumbCe", PeStub(0x01C2, 9), false, 0, nullptr},
        {"DesktopX64", PeStub(0x8664, 2), false, 5,
         "stub 'setup.exe' is an x86-64 (0x8664) Windows GUI (subsystem 2) program; "},
        {"DesktopX64Allowed", PeStub(0x8664, 2), true, 0, nullptr},
        {"ArmDesktopGui", PeStub(0x01C2, 2), false, 5, "is an ARM Thumb (0x01C2) Windows GUI (subsystem 2) program"},
        {"X86Ce", PeStub(0x014C, 9), false, 5, "is an x86 (0x014C) Windows CE GUI (subsystem 9) program"},
        {"Thumb2Ce", PeStub(0x01C4, 9), false, 5, "is an ARM Thumb-2 (0x01C4) Windows CE GUI (subsystem 9) program"},
        {"ArmConsole", PeStub(0x01C0, 3), false, 5, "Windows console (subsystem 3)"},
        {"UnknownMachine", PeStub(0x1234, 9), false, 5, "an unknown machine (0x1234)"},
        {"MzWithoutPe", MzOnly(), false, 5, "is not a Windows program: it has no PE header"},
        {"MzWithoutPeEvenForDesktop", MzOnly(), true, 5, "is not a Windows program: it has no PE header"},
        {"PeOffsetPastTheEnd", WithU32(PeStub(0x01C2, 9), 0x3C, 0xFFFFFFF0u), true, 5, "it has no PE header"},
        {"PeOffsetAtTheLastBytes", WithU32(PeStub(0x01C2, 9), 0x3C, 4096 - 8), false, 5, "it has no PE header"},
        {"OptionalHeaderTooSmall", shortOptional, false, 5, "too short to name a subsystem"},
        {"CutInsideTheOptionalHeader", cutShort, true, 5, "too short to name a subsystem"},
        {"TooShortForAPeHeader", Bytes{'M', 'Z', 0, 0}, false, 5, "too short for a PE header"},
        {"NotMzAsBefore", notMz, true, 5, "is not a Windows program (it does not start with \"MZ\")"},
    };
}

class StubTest : public ToolTest, public testing::WithParamInterface<StubCase> {};

TEST_P(StubTest, BuildTakesOnlyADeviceStubUnlessTold)
{
    const StubCase &c = GetParam();
    WriteBytes(dir / "setup.exe", c.stub);
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "app.toml", OneCabManifest);
    std::vector<std::string> args{"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"};
    if (c.desktopFlag)
        args.push_back("--desktop-stub");

    Result r = Velkor(args, dir);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (!c.message) {
        EXPECT_EQ(Velkor({"verify", "out.exe"}, dir).code, 0);
        return;
    }
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.exe"));
    for (const auto &e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("out.exe"), std::string::npos) << e.path();
}

TEST_F(ToolTest, RefusalSaysWhatIsWantedAndHowToOverride)
{
    WriteBytes(dir / "setup.exe", PeStub(0x8664, 2));
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "app.toml", OneCabManifest);
    Result r = Velkor({"build", "app.toml", "--stub", "setup.exe", "-o", "out.exe"}, dir);
    EXPECT_NE(r.err.find(Wanted), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--desktop-stub"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Stubs, StubTest, testing::ValuesIn(StubCases()),
                         [](const testing::TestParamInfo<StubCase> &i) { return std::string(i.param.name); });

// list names the stub's machine and subsystem; lint warns about a desktop
// one and says nothing about a device one.
TEST_F(ToolTest, ListAndLintShowTheStub)
{
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "app.toml", OneCabManifest);
    WriteBytes(dir / "device.exe", PeStub(0x01C2, 9));
    WriteBytes(dir / "desktop.exe", PeStub(0x8664, 2));
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "device.exe", "-o", "d.exe"}, dir).code, 0);
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "desktop.exe", "--desktop-stub", "-o", "w.exe"}, dir).code, 0);

    Result dl = Velkor({"list", "d.exe"}, dir);
    EXPECT_NE(dl.out.find("setup program  at 0, 4096 bytes, an ARM Thumb (0x01C2) Windows CE GUI (subsystem 9) program"),
              std::string::npos)
        << dl.out;
    Result wl = Velkor({"list", "w.exe"}, dir);
    EXPECT_NE(wl.out.find("at 0, 4096 bytes, an x86-64 (0x8664) Windows GUI (subsystem 2) program"), std::string::npos)
        << wl.out;

    Result dlint = Velkor({"lint", "d.exe"}, dir);
    EXPECT_EQ(dlint.code, 0) << dlint.out;
    EXPECT_EQ(dlint.out.find("desktop-stub"), std::string::npos) << dlint.out;
    Result wlint = Velkor({"lint", "w.exe"}, dir);
    EXPECT_EQ(wlint.code, 9) << wlint.out;
    EXPECT_NE(wlint.out.find("the setup program is an x86-64 (0x8664) Windows GUI (subsystem 2) program, not an ARM"),
              std::string::npos)
        << wlint.out;
    EXPECT_NE(wlint.out.find("[desktop-stub]"), std::string::npos) << wlint.out;
}

}  // namespace

namespace {

struct RealProgram {
    fs::path path;
    bool device;
    const char *what;
};

std::vector<RealProgram> RealPrograms()
{
    std::vector<RealProgram> found;
    for (const RealProgram &p : {RealProgram{VELKOR_DEVICE_STUB, true, "an ARM (0x01C0) Windows CE GUI (subsystem 9) program"},
                                 RealProgram{VELKOR_WIN_BIN "/setup.exe", false,
                                             "an x86-64 (0x8664) Windows GUI (subsystem 2) program"}})
        if (fs::exists(p.path))
            found.push_back(p);
    return found;
}

}  // namespace

// The setup programs the build made: list names what each is and its
// version resource; lint and verify find nothing to say about the device's.
TEST_F(ToolTest, ListNamesTheRealProgramsAndTheirVersion)
{
    std::vector<RealProgram> programs = RealPrograms();
    if (programs.empty())
        GTEST_SKIP() << "neither the device program nor the desktop one was built";
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "app.toml", OneCabManifest);
    for (const RealProgram &p : programs) {
        SCOPED_TRACE(p.path);
        std::vector<std::string> args{"build", "app.toml", "--stub", p.path.string(), "-o", "pkg.exe"};
        if (!p.device)
            args.push_back("--desktop-stub");
        ASSERT_EQ(Velkor(args, dir).code, 0);
        Result list = Velkor({"list", "pkg.exe"}, dir);
        EXPECT_NE(list.out.find(std::string(p.what) + ", \"Velkor setup program\" version " VELKOR_VERSION "\n"),
                  std::string::npos)
            << list.out;
        Result json = Velkor({"list", "pkg.exe", "--json"}, dir);
        EXPECT_NE(json.out.find(std::string("\"device\": ") + (p.device ? "true" : "false")), std::string::npos)
            << json.out;
        EXPECT_NE(json.out.find("\"version\": \"" VELKOR_VERSION "\""), std::string::npos) << json.out;
        Result lint = Velkor({"lint", "pkg.exe"}, dir);
        EXPECT_EQ(lint.code, p.device ? 0 : 9) << lint.out;
        EXPECT_EQ(lint.out.find("desktop-stub") == std::string::npos, p.device) << lint.out;
        Result verify = Velkor({"verify", "pkg.exe"}, dir);
        EXPECT_EQ(verify.code, 0) << verify.err;
        EXPECT_EQ((list.out + verify.out + verify.err).find("desktop"), std::string::npos);
    }
}

// The version resource is read from whatever the file holds: every cut of
// a real program and every changed byte of its headers and its version
// resource stays inside the bytes given (the sanitizers watch), and only a
// whole resource is found.
TEST(VersionResource, CutOrChangedProgramsAreReadSafely)
{
    std::vector<RealProgram> programs = RealPrograms();
    if (programs.empty())
        GTEST_SKIP() << "neither the device program nor the desktop one was built";
    const std::u16string key = u"VS_VERSION_INFO";
    for (const RealProgram &p : programs) {
        SCOPED_TRACE(p.path);
        const Bytes whole = ReadBytes(p.path);
        velkor::PeVersion v = velkor::ReadVersionResource(whole.data(), whole.size());
        ASSERT_TRUE(v.found);
        EXPECT_EQ(v.description, "Velkor setup program");
        EXPECT_EQ(v.fileVersion, VELKOR_VERSION);
        EXPECT_EQ(v.fixedVersion, VELKOR_VERSION ".0");

        Bytes keyBytes = velkor::Utf16Bytes(key, false);
        auto at = std::search(whole.begin(), whole.end(), keyBytes.begin(), keyBytes.end());
        ASSERT_NE(at, whole.end());
        const size_t start = size_t(at - whole.begin()) - 6, end = start + ReadLittle16(&whole[start]);
        // Every cut in the headers and in the resource, a sample elsewhere.
        for (size_t n = 0; n < whole.size(); n += n < 1024 || (n >= start && n <= end) ? 1 : 97) {
            Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(n));   // its own buffer, so overreads show
            velkor::PeVersion c = velkor::ReadVersionResource(cut.data(), cut.size());
            if (n < end)
                EXPECT_FALSE(c.found && c.description == v.description && c.fileVersion == v.fileVersion) << n;
        }
        Bytes changed = whole;
        auto flip = [&](size_t i) {
            changed[i] ^= 0xFF;
            velkor::ReadVersionResource(changed.data(), changed.size());
            changed[i] ^= 0xFF;
        };
        for (size_t i = 0; i < 1024; ++i)
            flip(i);
        for (size_t i = start; i < end; ++i)
            flip(i);
    }
}
