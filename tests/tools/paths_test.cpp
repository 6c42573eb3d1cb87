// paths_test.cpp -- an installed velkor finds the setup program beside
// itself (../share/velkor/bin) and never the build tree it came from:
// `build` without --stub, in a copy laid out as an installation.
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

    // Nothing installed beside it yet: the missing stub is named where it
    // was looked for, not found in the build tree.
    fs::path before = fs::current_path();
    fs::current_path(dir / "work");
    int code = RunProgram({velkor, "build", "app.toml", "-o", "pkg.exe"});
    fs::current_path(before);
    EXPECT_EQ(code, 3);
    EXPECT_FALSE(fs::exists(dir / "work" / "pkg.exe"));

    fs::create_directories(dir / "usr" / "share" / "velkor" / "bin");
    Bytes stub = Stub();
    WriteBytes(dir / "usr" / "share" / "velkor" / "bin" / "setup.exe", stub);
    fs::current_path(dir / "work");
    code = RunProgram({velkor, "build", "app.toml", "-o", "pkg.exe"});
    fs::current_path(before);
    ASSERT_EQ(code, 0);
    Bytes built = ReadBytes(dir / "work" / "pkg.exe");
    ASSERT_GT(built.size(), stub.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), built.begin()));

    // The build tree's own velkor keeps working from there (the tests above
    // rely on it), and --version names the project's version.
    Result r = Velkor({"--version"}, dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "velkor " VELKOR_VERSION "\n");
}

}  // namespace
