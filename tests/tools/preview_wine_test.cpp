// preview_wine_test.cpp -- `velkor preview` end to end: the real setup
// program under Wine, walked by the robot.  One package that needs every
// sample choice (the agreement, no component selected, the location, a
// blank destination, the "install" argument); then a robot that fails.
// Then the texts measured on screen: at the edge of every control and a
// pixel past it, and German ones, against the width table lint uses.
// After each run nothing that the preview's bench started may be running.
#include "tooltest.h"

#include "format.h"
#include "manifest.h"
#include "minijson.h"
#include "textfit.h"

#include <set>

#include <dirent.h>

using namespace tooltest;
using velkor::Bytes;

namespace {

const std::string Manifest =
    ManifestText(R"(["welcome", "agreement", "components", "location", "destination", "ready"])", "Preview")
        .Package("destination = ''\nuse_default_location = true\nrequire_install_argument = true\n")
        .Component("Main", "main.cab", "selected = false\n")
        .Component("Extras", "extras.cab", "selected = false\n")
        .Texts("agreement_body = \"Be nice.\"\n");

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

// Every text that must fit, made exactly as wide as its place leaves room
// for by the width table (`over` pixels more); the screen must agree: no
// finding at the edge, one per text a pixel past it, and no measured width
// more than a pixel away from the table's.
std::string EdgeManifest(int over, uint32_t cabSize)
{
    using namespace velkor;
    const DeviceFont &font = TheDeviceFont();
    std::string texts;
    std::vector<bool> done(TextCount, false);
    for (const FitPlace &p : FitPlaces(PageAll)) {
        if (done[size_t(p.textIndex)])
            continue;
        done[size_t(p.textIndex)] = true;
        int target = RoomByTable(p) + over;
        bool space = p.textIndex == TextSpaceRequired;
        if (space)
            target -= TableWidth(font, SpaceText(cabSize), false);
        std::u16string text = TextOfWidth(font, target, p.kind == FitKind::Header);
        texts += TextNames()[size_t(p.textIndex)] + " = \"" + Utf16ToUtf8(text) + (space ? "<space>" : "") + "\"\n";
    }
    return "[package]\nname = \"Edge\"\ncompany = \"Acme\"\nuse_default_location = false\n"
           "pages = [\"welcome\", \"agreement\", \"components\", \"location\", \"destination\", \"ready\"]\n\n"
           "[[component]]\nname = \"Main\"\ncab = \"main.cab\"\n\n[texts]\nagreement_body = \"Be nice.\"\n" +
           texts;
}

TEST_F(ToolTest, PreviewMeasuresTextsAsTheWidthTableDoes)
{
    const fs::path winBin = VELKOR_WIN_BIN;
    const fs::path state = VELKOR_PREVIEW_STATE;
    Bytes cab = MakeCab(dir / "main.cab", Prose(3000));
    for (int over : {0, 1}) {
        SCOPED_TRACE(over);
        WriteText(dir / "edge.toml", EdgeManifest(over, uint32_t(cab.size())));
        Result b = Velkor({"build", "edge.toml", "--stub", (winBin / "setup.exe").string(), "--desktop-stub", "-o", "edge.exe"}, dir);
        ASSERT_EQ(b.code, 0) << b.err;
        Result r = Velkor({"preview", "edge.exe", "-o", "shots", "--state", state.string(), "--win-bin",
                           winBin.string(), "--json", "--strict", "--manifest", "edge.toml"},
                          dir);
        ASSERT_EQ(r.code, over ? 9 : 0) << r.err << r.out;
        EXPECT_EQ(r.err.find("width table"), std::string::npos) << r.err;
        minijson::Value v = minijson::Parse(r.out);
        const minijson::Value &measured = v["measurements"];
        std::set<std::string> items;
        for (size_t i = 0; i < measured.size(); ++i) {
            const minijson::Value &m = measured[i];
            items.insert(m["item"].string);
            EXPECT_LE(std::abs(m["needed"].number - m["table"].number), 1) << m["item"].string << " " << m["place"].string;
            EXPECT_EQ(m["needed"].number, m["room"].number + over) << m["item"].string << " " << m["place"].string;
        }
        EXPECT_EQ(items.size(), 17u);   // six headers and the progress window's, four buttons, four radios, two statics
        EXPECT_EQ(v["finding_count"].number, over ? 17 : 0);
        for (size_t i = 0; i < v["findings"].size(); ++i) {
            const minijson::Value &f = v["findings"][i];
            EXPECT_EQ(f["check"].string, "text-fit");
            EXPECT_EQ(f["file"].string, "edge.toml");
            EXPECT_GT(f["line"].number, 10);
        }
    }
    EXPECT_EQ(Leftovers(state), std::vector<std::string>{});
}

// German texts with capitals, accents, quotes, dashes and a mnemonic: the
// OK button and the header are cut, and the table agrees with the screen
// on every text.
const std::string GermanManifest =
    ManifestText(R"(["welcome", "agreement", "components", "location", "destination", "ready"])", "Taschennotizen",
                 "Velkor Beispiele")
        .Package("use_default_location = false\n")
        .Component("Notizen", "main.cab")
        .Texts(R"toml(next_button = "&Weiter >"
install_button = "Installieren"
back_button = "< Zurück"
welcome_title = "Willkommen bei der Installation von %SoftwareName% – Größe & Übersicht"
agreement_title = "Lizenzvertrag"
agreement_body = "Seien Sie nett."
accept_choice = "Ich akzeptiere die Bedingungen (§ 1–9)"
decline_choice = "Ich lehne ab — «Nein»"
default_location_choice = "Vom Gerät gewählter Ort: „Standard“"
choose_folder_choice = "Ordner wählen… ÀÉÎÕÜ çñ øå ß"
destination_title = "Zielordner für %SoftwareName%"
space_required = "Benötigter Speicherplatz: <space>"
progress_title = "Installation läuft"
progress_label = "%SoftwareName% wird installiert… 100 %"
)toml");

TEST_F(ToolTest, PreviewFindsTheGermanOkButtonAndHeaderCutOff)
{
    const fs::path winBin = VELKOR_WIN_BIN;
    const fs::path state = VELKOR_PREVIEW_STATE;
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "de.toml", GermanManifest);
    ASSERT_EQ(Velkor({"build", "de.toml", "--stub", (winBin / "setup.exe").string(), "--desktop-stub", "-o", "de.exe"}, dir).code, 0);
    Result r = Velkor({"preview", "de.exe", "-o", "shots", "--state", state.string(), "--win-bin", winBin.string(),
                       "--manifest", "de.toml"},
                      dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("de.toml:13:1: warning: texts.install_button \"Installieren\" is "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("de.toml:15:1: warning: texts.welcome_title \"Willkommen bei der Installation von "
                         "Taschennotizen – Größe & Übersicht\" is "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err.find("width table"), std::string::npos) << r.err;

    r = Velkor({"preview", "de.exe", "-o", "shots", "--state", state.string(), "--win-bin", winBin.string(), "--json"},
               dir);
    ASSERT_EQ(r.code, 0) << r.err;
    minijson::Value v = minijson::Parse(r.out);
    std::set<std::string> found;
    for (size_t i = 0; i < v["findings"].size(); ++i)
        found.insert(v["findings"][i]["item"].string);
    EXPECT_EQ(found.count("texts.install_button"), 1u);
    EXPECT_EQ(found.count("texts.welcome_title"), 1u);
    const minijson::Value &measured = v["measurements"];
    EXPECT_GE(measured.size(), 17u);
    for (size_t i = 0; i < measured.size(); ++i)
        EXPECT_LE(std::abs(measured[i]["needed"].number - measured[i]["table"].number), 1)
            << measured[i]["item"].string << " \"" << measured[i]["text"].string << "\"";
    // lint, without Wine, finds the same texts.
    Result l = Velkor({"lint", "de.toml", "--json"}, dir);
    minijson::Value lv = minijson::Parse(l.out);
    std::set<std::string> linted;
    for (size_t i = 0; i < lv["findings"].size(); ++i)
        if (lv["findings"][i]["check"].string == "text-fit")
            linted.insert(lv["findings"][i]["item"].string);
    EXPECT_EQ(linted, found);
    EXPECT_EQ(Leftovers(state), std::vector<std::string>{});
}

// A package built on the device's program is shown by the desktop one, and
// said so once: the same pictures, findings and measurements as the same
// manifest built on the desktop program.
TEST_F(ToolTest, PreviewOfADevicePackageIsThatOfTheDesktopBuild)
{
    const fs::path winBin = VELKOR_WIN_BIN;
    const fs::path state = VELKOR_PREVIEW_STATE;
    MakeCab(dir / "main.cab", Prose(3000));
    WriteText(dir / "de.toml", GermanManifest);
    const fs::path device = fs::exists(VELKOR_DEVICE_STUB) ? fs::path(VELKOR_DEVICE_STUB) : dir / "arm.exe";
    WriteBytes(dir / "arm.exe", PeStub(0x01C0, 9));
    Result runs[2];
    for (int onDevice : {0, 1}) {
        const fs::path sub = dir / (onDevice ? "device" : "desktop");
        ASSERT_EQ(BuildOnStub(sub, "../de.toml", "de.exe", onDevice, device, winBin).code, 0);
        runs[onDevice] = Velkor({"preview", "de.exe", "-o", "shots", "--state", state.string(), "--win-bin",
                                 winBin.string(), "--json", "--manifest", "../de.toml"},
                                sub);
        ASSERT_EQ(runs[onDevice].code, 0) << runs[onDevice].err;
    }
    EXPECT_EQ(runs[0].err, "");
    EXPECT_EQ(runs[1].err, "velkor: note: de.exe is built on the device's setup program (ARM); preview runs the same "
                           "package on the desktop one under Wine (" + (winBin / "setup.exe").string() + ")\n");
    EXPECT_EQ(runs[1].out, runs[0].out);
    minijson::Value v = minijson::Parse(runs[1].out);
    EXPECT_GT(v["finding_count"].number, 0);
    ASSERT_EQ(v["pictures"].size(), 7u);
    for (size_t i = 0; i < v["pictures"].size(); ++i) {
        const std::string &picture = v["pictures"][i].string;
        EXPECT_EQ(ReadBytes(dir / "device" / picture), ReadBytes(dir / "desktop" / picture)) << picture;
    }
    EXPECT_EQ(Leftovers(state), std::vector<std::string>{});
}

}  // namespace
