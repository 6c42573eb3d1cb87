// twin_test.cpp -- a package built on the device's setup program, laid
// onto the desktop one for `try` and `preview`: byte for byte the desktop
// build of the same manifest, whichever program is larger and whether or
// not the package is signed; refused in one line, with nothing left
// behind, when it cannot be made.
#include "tooltest.h"
#include "../support/pefake.h"

#include "errors.h"
#include "files.h"
#include "pkgwrite.h"
#include "twin.h"

#include <cstdlib>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string Manifest = ManifestText(R"(["welcome", "components", "ready"])", "App", "Co")
                                 .Variable("%Version%", "2.0")
                                 .Component("Main", "main.cab")
                                 .Component("Big", "big.cab", "selected = false\n")
                                 .Component("Tiny", "tiny.cab", "accepts_destination = false\n")
                                 .Texts("welcome_title = \"Hello %Version%\"\n");

// Programs with 16 data directories, so that a signature can be found.
Bytes ArmProgram(size_t size)
{
    Bytes b = pefake::Image(false, size);
    pefake::Set16(b, pefake::PeAt + 24 + 68, 9);
    return b;
}

Bytes DesktopProgram(size_t size)
{
    Bytes b = pefake::Image(true, size);
    pefake::Set16(b, pefake::PeAt + 24 + 68, 2);
    return b;
}

class TwinTest : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        MakeCab(dir / "main.cab", Prose(3000));
        MakeCabOfSize(dir / "big.cab", 2 * 65536 + 1, 5);
        MakeCab(dir / "tiny.cab", Bytes{1});
        WriteText(dir / "app.toml", Manifest);
        fs::create_directory(dir / "tmp");
        const char *tmp = std::getenv("TMPDIR");
        oldTmp = tmp ? tmp : "";
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void TearDown() override
    {
        if (oldTmp.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTmp.c_str(), 1);
        ToolTest::TearDown();
    }

    Bytes Build(const Bytes &stub, bool desktop)
    {
        WriteBytes(dir / "stub.exe", stub);
        std::vector<std::string> args{"build", "app.toml", "--stub", "stub.exe", "-o", "built.exe"};
        if (desktop)
            args.push_back("--desktop-stub");
        Result r = Velkor(args, dir);
        EXPECT_EQ(r.code, 0) << r.err;
        return ReadBytes(dir / "built.exe");
    }

    // The twin as WritePackageOnStub writes it, in dir/twin.exe.
    Bytes Twin(const Bytes &package, const Bytes &desktop)
    {
        velkor::AtomicOutput out((dir / "twin.exe").string());
        velkor::WritePackageOnStub(package.data(), package.size(), desktop.data(), desktop.size(), "desktop.exe", out);
        out.Commit();
        return ReadBytes(dir / "twin.exe");
    }

    std::string oldTmp;
};

}  // namespace

TEST_F(TwinTest, IsTheDesktopBuildOfTheSameManifest)
{
    const Bytes device = Build(ArmProgram(3001), false);
    const Bytes signedDevice = pefake::Sign(device);
    // Smaller than the device's program, the same size, larger.
    for (size_t size : {1024u, 3001u, 70001u}) {
        SCOPED_TRACE(size);
        const Bytes desktop = DesktopProgram(size);
        const Bytes expected = Build(desktop, true);
        EXPECT_EQ(Twin(device, desktop), expected);
        // The signature stays behind: it covers the device's program.
        EXPECT_EQ(Twin(signedDevice, desktop), expected);
    }
}

TEST_F(TwinTest, RefusesWhatCannotBeMovedAndLeavesNothing)
{
    const Bytes device = Build(ArmProgram(3001), false);
    const Bytes desktop = DesktopProgram(5000);
    const Bytes desktopPackage = Build(desktop, true);

    // A package whose payload lies inside its setup program, before the
    // header: the loader takes it, but the header's piece leaves it behind.
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Odd";
    recipe.companyName = u"Co";
    recipe.components.push_back({u"Main", Prose(100)});
    recipe.texts = velkor::DefaultTexts();
    Bytes odd = ArmProgram(3001);
    uint32_t payloadAt = uint32_t(odd.size());
    Bytes payload = velkor::BuildPayload(recipe.components[0].cab);
    odd.insert(odd.end(), payload.begin(), payload.end());
    uint32_t headerAt = uint32_t(odd.size());
    Bytes header = velkor::BuildHeader(recipe, {payloadAt}, {100});
    odd.insert(odd.end(), header.begin(), header.end());
    velkor::PutTrailer(odd, headerAt);

    Bytes noTrailer = device;
    noTrailer.back() ^= 0xFF;
    struct Case {
        const char *name;
        Bytes package, stub;
        int code;
        const char *message;
    } cases[] = {
        {"desktop program carrying a package", device, desktopPackage, velkor::ExitBadInput, "already carries a package"},
        {"signed desktop program", device, pefake::Sign(desktop), velkor::ExitBadInput, "is signed"},
        {"not a program", device, Bytes(600, 'x'), velkor::ExitBadInput, "does not start with \"MZ\""},
        {"no trailer", noTrailer, desktop, velkor::ExitDamaged, "not \"VKR1\""},
        {"payload inside the setup program", odd, desktop, velkor::ExitDamaged, "before the end of the header"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Twin(c.package, c.stub);
            ADD_FAILURE() << "made a twin";
        } catch (const velkor::Failure &f) {
            EXPECT_EQ(f.code, c.code) << f.what();
            EXPECT_NE(std::string(f.what()).find(c.message), std::string::npos) << f.what();
        }
        for (const auto &name : Listing(dir))
            EXPECT_EQ(name.find("twin.exe"), std::string::npos) << name;
    }
}

// The temporary twin goes with its object, whether it was made or not.
TEST_F(TwinTest, TemporaryTwinIsRemovedInEveryOutcome)
{
    const Bytes device = Build(ArmProgram(3001), false);
    const Bytes desktop = DesktopProgram(5000);
    const Bytes expected = Build(desktop, true);
    WriteBytes(dir / "desktop.exe", desktop);
    {
        velkor::DesktopTwin twin(device.data(), device.size(), (dir / "desktop.exe").string());
        EXPECT_EQ(fs::path(twin.path()).parent_path().parent_path(), dir / "tmp");
        EXPECT_EQ(ReadBytes(twin.path()), expected);
    }
    EXPECT_EQ(Listing(dir / "tmp"), std::vector<std::string>{});

    WriteBytes(dir / "arm.exe", ArmProgram(5000));
    WriteBytes(dir / "carrying.exe", expected);
    struct Case {
        const char *stub;
        int code;
        const char *message;
    } cases[] = {
        {"arm.exe", velkor::ExitBadInput, "Windows CE GUI (subsystem 9) program, which Wine cannot run"},
        {"carrying.exe", velkor::ExitBadInput, "already carries a package"},
        {"missing.exe", velkor::ExitCannotRead, "cannot read desktop setup program"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stub);
        try {
            velkor::DesktopTwin twin(device.data(), device.size(), (dir / c.stub).string());
            ADD_FAILURE() << "made a twin";
        } catch (const velkor::Failure &f) {
            EXPECT_EQ(f.code, c.code) << f.what();
            EXPECT_NE(std::string(f.what()).find(c.message), std::string::npos) << f.what();
        }
        EXPECT_EQ(Listing(dir / "tmp"), std::vector<std::string>{});
    }
}

// try and preview check the twin before Wine starts: a desktop program
// that cannot take the package is one line, exit code 5, nothing left.
TEST_F(TwinTest, TryAndPreviewRefuseADesktopProgramThatCannotTakeThePackage)
{
    Build(ArmProgram(3001), false);
    fs::create_directory(dir / "bin");
    WriteBytes(dir / "bin" / "robot.exe", Bytes{'M', 'Z'});
    WriteBytes(dir / "bin" / "wceload.exe", Bytes{'M', 'Z'});
    WriteBytes(dir / "bin" / "setup.exe", ArmProgram(5000));
    const std::string bench = VELKOR_SOURCE_DIR "/tests/wine/bench.sh";
    for (const char *command : {"try", "preview"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args{command, "built.exe", "--bench", bench, "--win-bin", "bin"};
        if (std::string(command) == "preview")
            args.insert(args.end(), {"-o", "pages"});
        ExpectRefused(Velkor(args, dir), 5, "' is an ARM (0x01C0) Windows CE GUI (subsystem 9) program, which Wine cannot run");
        EXPECT_FALSE(fs::exists(dir / "pages"));
        EXPECT_EQ(Listing(dir / "tmp"), std::vector<std::string>{});
    }
}
