// preview_wine_test.cpp -- `velkor preview` end to end: the real setup
// program under Wine, walked by the robot.  One package that needs every
// sample choice (the agreement, no component selected, the location, a
// blank destination, the "install" argument); then a robot that fails.
// After each run nothing that the preview's bench started may be running.
#include "tooltest.h"

#include <dirent.h>

using namespace tooltest;
using velkor::Bytes;

namespace {

const char *const Manifest = R"([package]
name = "Preview"
company = "Acme"
destination = ''
use_default_location = true
require_install_argument = true
pages = ["welcome", "agreement", "components", "location", "destination", "ready"]

[[component]]
name = "Main"
cab = "main.cab"
selected = false

[[component]]
name = "Extras"
cab = "extras.cab"
selected = false

[texts]
agreement_body = "Be nice."
)";

struct Png {
    bool ok = false;
    uint32_t width = 0, height = 0;
};

Png ReadPng(const fs::path &p)
{
    Bytes b = ReadBytes(p);
    Png png;
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (b.size() < 24 || !std::equal(signature, signature + 8, b.begin()) || std::string(b.begin() + 12, b.begin() + 16) != "IHDR")
        return png;
    auto be = [&](size_t at) { return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3]; };
    png.ok = true;
    png.width = be(16);
    png.height = be(20);
    return png;
}

// Processes whose environment names this preview state: the X server, the
// wineserver and every Wine process the bench started carry it.
std::vector<std::string> Leftovers(const fs::path &state)
{
    std::string marker = "VELKOR_PREVIEW_STATE=" + fs::absolute(state).lexically_normal().string();
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator("/proc")) {
        std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(getpid()))
            continue;
        std::ifstream env(e.path() / "environ", std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(env)), {});
        size_t at = all.find(marker);
        if (at != std::string::npos && (at == 0 || all[at - 1] == '\0') &&
            (at + marker.size() == all.size() || all[at + marker.size()] == '\0')) {
            std::ifstream cmd(e.path() / "cmdline", std::ios::binary);
            std::string line((std::istreambuf_iterator<char>(cmd)), {});
            std::replace(line.begin(), line.end(), '\0', ' ');
            found.push_back(pid + ": " + line);
        }
    }
    return found;
}

TEST_F(ToolTest, PreviewShowsEveryPageAndLeavesNothingRunning)
{
    const fs::path winBin = VELKOR_WIN_BIN;
    const fs::path state = VELKOR_PREVIEW_STATE;
    ASSERT_TRUE(fs::exists(winBin / "setup.exe")) << "the cross build did not make setup.exe";
    MakeCab(dir / "main.cab", Prose(3000));
    MakeCab(dir / "extras.cab", Prose(500));
    WriteText(dir / "app.toml", Manifest);
    Result b = Velkor({"build", "app.toml", "--stub", (winBin / "setup.exe").string(), "--desktop-stub", "-o", "pkg.exe"}, dir);
    ASSERT_EQ(b.code, 0) << b.err;

    Result r = Velkor({"preview", "pkg.exe", "-o", "shots", "--state", state.string(), "--win-bin", winBin.string()}, dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    const std::vector<std::string> names = {"01-welcome.png", "02-agreement.png", "03-components.png",
                                            "04-location.png", "05-destination.png", "06-ready.png",
                                            "contact-sheet.png"};
    std::string listed;
    for (const auto &n : names)
        listed += "shots/" + n + "\n";
    EXPECT_EQ(r.out, listed);
    EXPECT_EQ(Listing(dir / "shots"), names);

    Png first = ReadPng(dir / "shots" / names[0]);
    ASSERT_TRUE(first.ok);
    EXPECT_GE(first.width, 200u);
    EXPECT_GE(first.height, 200u);
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        Png png = ReadPng(dir / "shots" / names[i]);
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.width, first.width);   // the same frame every time
        EXPECT_EQ(png.height, first.height);
        for (size_t k = 0; k < i; ++k)
            EXPECT_NE(ReadBytes(dir / "shots" / names[i]), ReadBytes(dir / "shots" / names[k])) << names[k];
    }
    Png sheet = ReadPng(dir / "shots" / "contact-sheet.png");
    ASSERT_TRUE(sheet.ok);
    EXPECT_GT(sheet.width, 3 * first.width);
    EXPECT_GT(sheet.height, 2 * first.height);
    EXPECT_EQ(Leftovers(state), std::vector<std::string>{});

    // A robot that is not one: the failure is reported in one line, no
    // picture is written, and the bench is stopped all the same.
    fs::create_directory(dir / "fakebin");
    fs::copy_file(winBin / "wceload.exe", dir / "fakebin" / "robot.exe");
    r = Velkor({"preview", "pkg.exe", "-o", "none", "--state", state.string(), "--win-bin", "fakebin"}, dir);
    EXPECT_EQ(r.code, 11) << r.err;
    EXPECT_EQ(r.err.rfind("velkor: error: the robot stopped (exit code ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(Listing(dir / "none").size(), 0u);
    EXPECT_EQ(Leftovers(state), std::vector<std::string>{});
}

}  // namespace
