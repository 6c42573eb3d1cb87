// paths_test.cpp -- an installed velkor finds the setup programs beside
// itself (../share/velkor/device for the device's, ../share/velkor/desktop
// for the desktop build) and never the build tree it came from: `build`
// without --stub, in a copy laid out as an installation.
#include "tooltest.h"

using namespace tooltest;

namespace {

TEST_F(ToolTest, BuildWithoutStubUsesTheInstalledSetupProgram)
{
    fs::create_directories(dir / "usr" / "bin");
    fs::copy_file(VELKOR_EXE, dir / "usr" / "bin" / "velkor");
    fs::create_directories(dir / "work");
    MakeCab(dir / "work" / "main.cab", Prose(2000));
    WriteText(dir / "work" / "app.toml", ManifestText("[]").Component());
    const std::string velkor = (dir / "usr" / "bin" / "velkor").string();
    const fs::path share = dir / "usr" / "share" / "velkor";
    auto build = [&](std::vector<std::string> args) {
        args.insert(args.begin(), velkor);
        return RunCapturing(args, dir / "work");
    };

    // Nothing installed beside it yet: the missing stub is named where it
    // was looked for, not found in the build tree, and the message says
    // what to give instead.
    Result r = build({"build", "app.toml", "-o", "pkg.exe"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("'" + (share / "device" / "setup.exe").lexically_normal().string() + "'"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("came without the device's setup program: give --stub"), std::string::npos) << r.err;
    r = build({"build", "app.toml", "--desktop-stub", "-o", "pkg.exe"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find((share / "desktop" / "setup.exe").lexically_normal().string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "work" / "pkg.exe"));

    // Without flags, the device's program; with --desktop-stub alone, the
    // desktop one; --stub still names any.
    fs::create_directories(share / "device");
    fs::create_directories(share / "desktop");
    Bytes device = Stub(), desktop = PeStub(0x8664, 2);
    desktop.resize(6000, 0x5A);
    WriteBytes(share / "device" / "setup.exe", device);
    WriteBytes(share / "desktop" / "setup.exe", desktop);
    WriteBytes(dir / "work" / "other.exe", PeStub(0x01C0, 9));
    struct Case {
        std::vector<std::string> flags;
        Bytes stub;
    } cases[] = {{{}, device}, {{"--desktop-stub"}, desktop}, {{"--stub", "other.exe"}, PeStub(0x01C0, 9)}};
    for (const Case &c : cases) {
        std::vector<std::string> args{"build", "app.toml", "-o", "pkg.exe"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        r = build(args);
        ASSERT_EQ(r.code, 0) << r.err;
        Bytes built = ReadBytes(dir / "work" / "pkg.exe");
        ASSERT_GT(built.size(), c.stub.size());
        EXPECT_TRUE(std::equal(c.stub.begin(), c.stub.end(), built.begin())) << (c.flags.empty() ? "" : c.flags[0]);
        EXPECT_EQ(GetU32(built, built.size() - 8), c.stub.size());
    }

    // The build tree's own velkor keeps working from there (the tests above
    // rely on it), and --version names the project's version.
    r = Velkor({"--version"}, dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "velkor " VELKOR_VERSION "\n");
}

}  // namespace
