// preview_test.cpp -- the parts of `velkor preview` that need no Wine: the
// pages the robot will see for each kind of package, the script it gets,
// and the inputs refused before any bench is started.
#include "tooltest.h"

#include "preview.h"

#include "format.h"
#include "pkgwrite.h"

using namespace tooltest;
using velkor::Bytes;

namespace {

velkor::PackageInfo Info(uint8_t flags, bool useDefault)
{
    velkor::PackageInfo p;
    p.storedPageFlags = flags;
    p.pageFlags = (flags == PageDestination && useDefault) ? 0 : flags;
    p.useDefaultLocation = useDefault;
    for (int bit = 0; bit < 6; ++bit)
        if (p.pageFlags & (1 << bit)) {
            if (!p.firstPage)
                p.firstPage = uint8_t(1 << bit);
            p.lastPage = uint8_t(1 << bit);
        }
    return p;
}

TEST(PreviewPages, FollowTheWizardWithTheSampleChoices)
{
    const uint8_t W = PageWelcome, A = PageAgreement, C = PageComponents, L = PageLocation, D = PageDestination,
                  R = PageReady;
    struct Case {
        uint8_t flags;
        bool useDefault;
        std::vector<uint8_t> pages;
    } cases[] = {
        {63, false, {W, A, C, L, D, R}},
        {63, true, {W, A, C, L, D, R}},   // the robot chooses a folder on the location page
        {W | C | R, true, {W, C, R}},
        {W | D | R, true, {W, R}},        // the destination page is skipped
        {W | D, true, {W}},               // Next on welcome would install at once
        {W | D, false, {W, D}},
        {D | R, true, {D, R}},            // shown first although skipped later
        {D, false, {D}},
        {D, true, {}},                    // loaded as a package without pages
        {0, false, {}},
        {L | D, true, {L, D}},
        {A | C, false, {A, C}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags) + (c.useDefault ? ", default location" : ""));
        EXPECT_EQ(velkor::PreviewPages(Info(c.flags, c.useDefault)), c.pages);
    }
}

TEST(PreviewPages, ScriptMakesTheChoicesAndNeverPressesTheLastNext)
{
    velkor::PackageInfo p = Info(63, false);
    p.requireInstallArgument = 1;
    p.destination = u"  ";
    velkor::ComponentInfo zed, alpha;
    zed.name = u"Zed \"Q\"";
    alpha.name = u"Alpha";
    p.components = {zed, alpha};   // neither selected
    std::string s = velkor::PreviewScript(p, velkor::PreviewPages(p), "Z:\\s\\setup.exe", "Z:\\shots");

    EXPECT_NE(s.find("launch \"Z:\\\\s\\\\setup.exe\" install\n"), std::string::npos) << s;
    EXPECT_NE(s.find("wait-page 129\nclick 1005\n"), std::string::npos) << s;       // accept
    EXPECT_NE(s.find("wait-page 132\ntick 1012 \"Alpha\" 1\n"), std::string::npos) << s;   // first by name
    EXPECT_NE(s.find("wait-page 130\nclick 1009\n"), std::string::npos) << s;       // choose a folder
    EXPECT_NE(s.find("wait-page 131\ntype 1010 \"\\\\Program Files\"\n"), std::string::npos) << s;
    EXPECT_NE(s.find("screenshot \"Z:\\\\shots\\\\06-ready.png\"\n"), std::string::npos) << s;
    // Five Next presses for six pages; the ready page's OK would install.
    size_t clicks = 0;
    for (size_t at = 0; (at = s.find("click 1\n", at)) != std::string::npos; ++at)
        ++clicks;
    EXPECT_EQ(clicks, 5u) << s;
    EXPECT_EQ(s.rfind("click 1\n") < s.find("wait-page 133"), true) << s;

    // With a component selected and a destination, those pages are kept.
    p.components[0].selected = 1;
    p.destination = u"\\Program Files\\Tool";
    s = velkor::PreviewScript(p, velkor::PreviewPages(p), "Z:\\setup.exe", "Z:\\shots");
    EXPECT_EQ(s.find("tick"), std::string::npos) << s;
    EXPECT_EQ(s.find("type"), std::string::npos) << s;
    EXPECT_EQ(velkor::PreviewFileName(3, PageComponents), "03-components.png");
}

TEST(PreviewPages, ScriptMeasuresWhatEachPageShowsAndTheProgressWindow)
{
    velkor::PackageInfo p = Info(PageWelcome | PageLocation | PageDestination, false);
    std::vector<std::u16string> texts = velkor::DefaultTexts();
    texts[TextWelcomeTitle] = u"Hi";
    texts[TextProgressLabel] = u"\u00C4";
    std::string s = velkor::PreviewScript(p, velkor::PreviewPages(p), "Z:\\setup.exe", "Z:\\shots", "Z:\\m.txt", texts);
    const std::string step = "measure \"Z:\\\\m.txt\" ", exe = " \"Z:\\\\setup.exe\" ";
    // The header's text goes with the step; a control's is read on screen.
    EXPECT_NE(s.find(step + "welcome_title" + exe + "102 0 00480069\n"), std::string::npos) << s;
    EXPECT_NE(s.find(step + "next_button" + exe + "102 1\n"), std::string::npos) << s;
    EXPECT_NE(s.find(step + "cancel_button" + exe + "102 2\n"), std::string::npos) << s;
    // The walk chooses a folder on the location page, so OK reads Next there.
    EXPECT_NE(s.find(step + "next_button" + exe + "130 1\n"), std::string::npos) << s;
    EXPECT_EQ(s.find(step + "install_button" + exe + "130 1"), std::string::npos) << s;
    EXPECT_NE(s.find(step + "choose_folder_choice" + exe + "130 1009\n"), std::string::npos) << s;
    EXPECT_NE(s.find(step + "install_button" + exe + "131 1\n"), std::string::npos) << s;
    EXPECT_NE(s.find(step + "space_required" + exe + "131 1016\n"), std::string::npos) << s;
    // Each page is measured after its picture and before OK leaves it.
    EXPECT_LT(s.find("01-welcome.png"), s.find(step + "welcome_title"));
    EXPECT_LT(s.find(step + "back_button" + exe + "102"), s.find("click 1\n"));
    // The progress window, never shown by the walk, from its template.
    size_t progress = s.find(step + "progress_label" + exe + "134 1013 00C4\n");
    EXPECT_NE(progress, std::string::npos) << s;
    EXPECT_GT(progress, s.find("03-destination.png"));
    EXPECT_NE(s.find(step + "cancel_button" + exe + "134 2 "), std::string::npos) << s;
    EXPECT_EQ(s.find("agreement"), std::string::npos) << s;
}

TEST_F(ToolTest, PreviewRefusesBeforeStartingWine)
{
    velkor::PackageRecipe recipe;
    recipe.softwareName = u"Tool";
    recipe.destination = u"\\Program Files\\Tool";
    recipe.pageFlags = 0x21;
    recipe.components.push_back({u"Main", MakeCab(dir / "main.cab", Prose(100)), true, true});
    recipe.texts = velkor::DefaultTexts();
    WriteBytes(dir / "pkg.exe", velkor::BuildPackage(Stub(), recipe, 1));
    recipe.pageFlags = 0;
    WriteBytes(dir / "nopages.exe", velkor::BuildPackage(Stub(), recipe, 1));
    recipe.texts.pop_back();
    WriteBytes(dir / "refused.exe", velkor::BuildPackage(Stub(), recipe, 1));
    fs::create_directory(dir / "emptybin");
    WriteText(dir / "bench.sh", "#!/bin/sh\nexit 99\n");
    const std::string bench = "--bench=" + (dir / "bench.sh").string();

    const Refusal cases[] = {
        {{"preview", "pkg.exe"}, 2, "velkor: error: --output is required"},
        {{"preview", "missing.exe", "-o", "out"}, 3, "velkor: error: cannot read package 'missing.exe'"},
        {{"preview", "main.cab", "-o", "out"}, 7, "velkor: error: main.cab: trailer at offset"},
        {{"preview", "refused.exe", "-o", "out"}, 7, "29 texts; a package needs all 30"},
        {{"preview", "pkg.exe", "-o", "out", "--bench", "nowhere"}, 3, "cannot find the Wine bench 'nowhere' (give --bench)"},
        {{"preview", "pkg.exe", "-o", "out", bench, "--win-bin", "emptybin"}, 3, "cannot find robot.exe in 'emptybin'"},
        {{"preview", "pkg.exe", "-o", "out", "--timeout", "1"}, 2, "velkor: error: --timeout"},
        {{"preview", "pkg.exe", "-o", "out", "--manifest", "missing.toml"}, 3, "missing.toml"},
        {{"preview", "pkg.exe", "-o", "out", "--manifest", "main.cab"}, 4, "main.cab"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        Result r = Velkor(c.args, dir);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }

    // Nothing to show: said, and no bench is needed (this one would fail).
    fs::create_directory(dir / "bin");
    WriteText(dir / "bin" / "robot.exe", "MZ");
    Result r = Velkor({"preview", "nopages.exe", "-o", "out", bench, "--win-bin", "bin"}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "nopages.exe: the package has no pages (Setup installs at once); nothing to preview\n");

    // A bench that fails to start: a one-line error, no pictures.  (The
    // package is on a device stub, so the desktop program it runs on is
    // needed before the bench starts.)
    WriteBytes(dir / "bin" / "setup.exe", PeStub(0x8664, 2));
    r = Velkor({"preview", "pkg.exe", "-o", "out", bench, "--win-bin", "bin", "--state", "state"}, dir);
    EXPECT_EQ(r.code, 11) << r.err;
    EXPECT_NE(r.err.find("velkor: error: the Wine bench did not start"), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir / "out").size(), 0u);
}

}  // namespace
