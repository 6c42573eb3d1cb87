// textfit_test.cpp -- texts against their controls by the width table:
// for each kind of control a text that just fits and one a pixel wider; the
// table's own bad input; the robot's lines; and `velkor lint` on a German
// manifest (findings with the manifest's line and column) and on the demo.
#include "textfit.h"

#include "errors.h"
#include "format.h"
#include "manifest.h"
#include "minijson.h"
#include "tooltest.h"

#include <map>
#include <sstream>

using namespace tooltest;
using namespace velkor;


namespace {

const uint8_t AllPages = PageAll;

struct EdgeCase {
    const char *name;
    int text;
    FitKind kind;
    uint8_t pages;
};

class TextFitEdge : public ::testing::TestWithParam<EdgeCase> {};

// Every other text is made empty, so only the one under test can be found.
TEST_P(TextFitEdge, JustFitsThenOnePixelTooWide)
{
    const EdgeCase &c = GetParam();
    const DeviceFont &font = TheDeviceFont();
    const uint32_t required = 5000;   // "4 Kb" on the space line
    const FitPlace *place = nullptr;
    auto places = FitPlaces(c.pages);
    for (const auto &p : places)
        if (p.textIndex == c.text && !place)
            place = &p;
    ASSERT_NE(place, nullptr);
    ASSERT_EQ(place->kind, c.kind);
    int room = RoomByTable(*place);
    ASSERT_GT(room, 0);
    std::u16string extra = c.text == TextSpaceRequired ? SpaceText(required) : u"";
    int extraWidth = TableWidth(font, extra, false);

    for (int over : {-1, 0, 1}) {
        SCOPED_TRACE(over);
        std::u16string filler = TextOfWidth(font, room + over - extraWidth, c.kind == FitKind::Header);
        ASSERT_FALSE(filler.empty());
        std::vector<std::u16string> texts(TextCount, u"");
        texts[size_t(c.text)] = filler + (extra.empty() ? u"" : u"<space>");
        auto findings = TableFitFindings(font, texts, c.pages, required);
        if (over <= 0) {
            EXPECT_TRUE(findings.empty()) << findings[0].message;
            continue;
        }
        ASSERT_EQ(findings.size(), 1u);
        EXPECT_EQ(findings[0].check, "text-fit");
        EXPECT_EQ(findings[0].item, "texts." + TextNames()[size_t(c.text)]);
        EXPECT_NE(findings[0].message.find(" is " + std::to_string(room + 1) + " pixels wide but "), std::string::npos)
            << findings[0].message;
        EXPECT_NE(findings[0].message.find("has room for " + std::to_string(room) + ":"), std::string::npos)
            << findings[0].message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, TextFitEdge,
    ::testing::Values(EdgeCase{"CancelButton", TextCancelButton, FitKind::Button, AllPages},
                      EdgeCase{"BackButton", TextBackButton, FitKind::Button, AllPages},
                      EdgeCase{"NextButton", TextNextButton, FitKind::DefaultButton, AllPages},
                      EdgeCase{"InstallButton", TextInstallButton, FitKind::DefaultButton, PageReady},
                      EdgeCase{"WelcomeHeader", TextWelcomeTitle, FitKind::Header, AllPages},
                      EdgeCase{"DestinationHeader", TextDestinationTitle, FitKind::Header, PageDestination},
                      EdgeCase{"ProgressHeader", TextProgressTitle, FitKind::Header, 0},
                      EdgeCase{"AcceptRadio", TextAcceptChoice, FitKind::Radio, AllPages},
                      EdgeCase{"DeclineRadio", TextDeclineChoice, FitKind::Radio, PageAgreement},
                      EdgeCase{"DefaultLocationRadio", TextDefaultLocationChoice, FitKind::Radio, AllPages},
                      EdgeCase{"ChooseFolderRadio", TextChooseFolderChoice, FitKind::Radio, PageLocation},
                      EdgeCase{"SpaceLine", TextSpaceRequired, FitKind::Static, AllPages},
                      EdgeCase{"ProgressLabel", TextProgressLabel, FitKind::Static, 0}),
    [](const ::testing::TestParamInfo<EdgeCase> &i) { return std::string(i.param.name); });

TEST(TextFit, TextsOfPagesNotShownAreNotChecked)
{
    std::vector<std::u16string> texts(TextCount, std::u16string(200, u'W'));
    auto findings = TableFitFindings(TheDeviceFont(), texts, 0, 0);
    std::vector<std::string> items;
    for (const auto &f : findings)
        items.push_back(f.item);
    // Without pages only the progress window shows.
    EXPECT_EQ(items, (std::vector<std::string>{"texts.progress_title", "texts.progress_label", "texts.cancel_button"}));
}

TEST(TextFit, OkCaptionsFollowTheLastPage)
{
    auto has = [](uint8_t pages, int text) {
        for (const auto &p : FitPlaces(pages))
            if (p.control == 1 && p.textIndex == text)
                return true;
        return false;
    };
    EXPECT_FALSE(has(PageWelcome, TextNextButton));   // the only page is the last
    EXPECT_TRUE(has(PageWelcome, TextInstallButton));
    EXPECT_TRUE(has(PageWelcome | PageReady, TextNextButton));
    // The location page before the destination page reads either.
    EXPECT_TRUE(has(PageLocation | PageDestination, TextNextButton));
    EXPECT_TRUE(has(PageLocation | PageDestination, TextInstallButton));
}

TEST(TextFit, MnemonicsAndUnknownCharacters)
{
    const DeviceFont &font = TheDeviceFont();
    EXPECT_EQ(TableWidth(font, u"&Weiter", false), TableWidth(font, u"Weiter", false));
    EXPECT_EQ(TableWidth(font, u"A&&B", false), TableWidth(font, u"A&B", false) + font.regular.at(u'&'));   // "A&B" shows AB
    EXPECT_EQ(TableWidth(font, u"Ende&", false), TableWidth(font, u"Ende", false));
    EXPECT_EQ(TableWidth(font, u"", true), 0);
    // Outside the table: the average width, a surrogate pair counted once.
    EXPECT_EQ(TableWidth(font, u"\u4E2D", false), font.averageRegular);
    EXPECT_EQ(TableWidth(font, u"\U0001F600", true), font.averageBold);
    EXPECT_GT(TableWidth(font, u"Abc", true), TableWidth(font, u"Abc", false) - 1);
}

TEST(TextFit, SpaceTextAsTheDestinationPageWritesIt)
{
    const std::pair<uint32_t, std::u16string> rows[] = {
        {0, u"0 bytes"}, {1023, u"1023 bytes"}, {1024, u"1 Kb"},          {1048575, u"1023 Kb"},
        {5242880, u"5 Mb"}, {3u << 30, u"3 Gb"}, {0xFFFFFFFFu, u"3 Gb"}};
    for (const auto &r : rows)
        EXPECT_EQ(SpaceText(r.first), r.second) << r.first;
}

TEST(TextFit, ShownSpaceIsTheSelectedOrTheFirstByName)
{
    std::vector<SizedComponent> c = {{u"Zeta", false, 100}, {u"Alpha", false, 7}, {u"Mid", false, 1000}};
    EXPECT_EQ(ShownRequiredSpace(c, PageComponents), 7u);   // the walk ticks the first by name
    EXPECT_EQ(ShownRequiredSpace(c, PageDestination), 0u);
    c[0].selected = c[2].selected = true;
    EXPECT_EQ(ShownRequiredSpace(c, PageComponents), 1100u);
    EXPECT_EQ(ShownRequiredSpace({}, PageComponents), 0u);
}

TEST(TextFit, BuiltInTableReadsAndKnowsTheControls)
{
    const DeviceFont &font = TheDeviceFont();
    EXPECT_GT(font.regular.count(u'W'), 0u);
    EXPECT_GT(font.bold.count(u'\u00FC'), 0u);   // ü
    for (const auto &p : FitPlaces(AllPages))
        EXPECT_GT(RoomByTable(p), 0) << DescribePlace(p);
}

// The table's control widths are the templates' dialog units at its base
// units: a template changed without measuring the font again shows here.
TEST(TextFit, TableWidthsFollowTheDialogTemplates)
{
    const fs::path resources = fs::path(VELKOR_SOURCE_DIR) / "resources";
    std::map<std::string, int> ids = {{"IDOK", 1}, {"IDCANCEL", 2}};
    std::ifstream header(resources / "resource.h");
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string define, name;
        int value = 0;
        if (words >> define >> name >> value && define == "#define")
            ids[name] = value;
    }
    // (template, control) -> width in dialog units; control 0: the template.
    std::map<std::pair<int, int>, int> units;
    std::ifstream rc(resources / "setup.rc");
    std::string all((std::istreambuf_iterator<char>(rc)), {}), statement;
    int current = 0;
    auto finish = [&] {
        if (statement.empty())
            return;
        std::vector<std::string> parts;
        std::istringstream cells(statement);
        for (std::string cell; std::getline(cells, cell, ',');)
            parts.push_back(cell);
        std::istringstream id(parts.at(1));
        std::string name;
        id >> name;
        ASSERT_TRUE(ids.count(name)) << statement;
        units[{current, ids[name]}] = std::stoi(parts.at(parts.size() - 2));
        statement.clear();
    };
    std::istringstream lines(all);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (second == "DIALOG") {
            current = ids.at(first);
            std::vector<std::string> xywh;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, ',');)
                xywh.push_back(cell);
            units[{current, 0}] = std::stoi(xywh.at(2));
        } else if (first == "CONTROL" || first == "END") {
            finish();
            if (first == "CONTROL")
                statement = line;
        } else if (!statement.empty()) {
            statement += line;
        }
    }
    const DeviceFont &font = TheDeviceFont();
    ASSERT_GT(font.baseX, 0);
    for (const auto &[place, width] : font.controlWidth) {
        ASSERT_TRUE(units.count(place)) << place.first << " " << place.second;
        EXPECT_EQ(width, units[place] * font.baseX / 4) << "template " << place.first << ", control " << place.second;
    }
    for (const auto &[id, width] : font.pageWidth)
        EXPECT_EQ(width, units[std::make_pair(id, 0)] * font.baseX / 4) << "template " << id;
    EXPECT_EQ(font.controlWidth.size(), 10u);
}

TEST(TextFit, DamagedTablesAreRefused)
{
    const std::string good = "zero 6\naverage 5 6\nregular 0041 7 7\nbold 0041 8\n";
    DeviceFont font;
    std::string error;
    ASSERT_TRUE(ParseDeviceFont(good, &font, &error)) << error;
    EXPECT_EQ(TableWidth(font, u"AB", false), 14);
    const std::pair<const char *, const char *> rows[] = {
        {"bad start", "regular 00G1 3\n"},
        {"no widths", "regular 0041\n"},
        {"width too large", "regular 0041 300\n"},
        {"past the last code unit", "regular FFFF 3 4\n"},
        {"word after widths", "regular 0041 3 x\n"},
        {"short control", "control 102 1\n"},
        {"unknown line", "kerning 1 2\n"},
    };
    for (const auto &r : rows) {
        DeviceFont f;
        std::string e;
        EXPECT_FALSE(ParseDeviceFont(good + r.second, &f, &e)) << r.first;
        EXPECT_NE(e.find("line 5"), std::string::npos) << r.first << ": " << e;
    }
    DeviceFont empty;
    EXPECT_FALSE(ParseDeviceFont("# nothing\n", &empty, &error));
}

TEST(TextFit, RobotLinesGiveRoomTableAndOneFindingPerText)
{
    const DeviceFont &font = TheDeviceFont();
    // "Installieren" on the OK buttons of two pages, 55 on screen.
    std::string lines = "install_button\t133\t1\tdefault-button\t55\t54\t6\t0049006E007300740061006C006C0069006500720065006E\r\n"
                        "install_button\t102\t1\tdefault-button\t55\t54\t6\t0049006E007300740061006C006C0069006500720065006E\n"
                        "back_button\t133\t1002\tbutton\t20\t54\t6\t\n";
    auto measured = ReadMeasurements(lines, font);
    ASSERT_EQ(measured.size(), 3u);
    EXPECT_EQ(measured[0].room, RoomFor(FitKind::DefaultButton, 54, 6));
    EXPECT_EQ(measured[0].place.page, PageReady);
    EXPECT_EQ(measured[0].text, u"Installieren");
    EXPECT_EQ(measured[0].table, TableWidth(font, u"Installieren", false));
    EXPECT_EQ(measured[2].text, u"");
    auto findings = MeasuredFitFindings(measured);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_NE(findings[0].message.find("the OK button of the ready page"), std::string::npos) << findings[0].message;

    const char *bad[] = {"install_button\t133\t1\tdefault-button\t55\t54\n",          // too few fields
                         "nonsense\t133\t1\tbutton\t5\t54\t6\t\n",                     // no such text
                         "back_button\t133\t1\twobbly\t5\t54\t6\t\n",                  // no such kind
                         "back_button\t133\t1\tbutton\t-5\t54\t6\t\n",                 // not a number
                         "back_button\t133\t1\tbutton\t5\t54\t6\t00G1\n",              // not hex
                         "back_button\t133\t1\tbutton\t5\t54\t6\t004\n"};              // not whole units
    for (const char *b : bad) {
        try {
            ReadMeasurements(b, font);
            ADD_FAILURE() << "accepted: " << b;
        } catch (const Failure &f) {
            EXPECT_EQ(f.code, ExitPreviewFailed) << b;
        }
    }
}

const std::string GermanManifest =
    ManifestText(R"(["welcome", "components", "ready"])", "Taschennotizen", "Velkor Beispiele")
        .Component("Taschennotizen", "notes.cab")
        .Texts("next_button = \"Weiter\"\n"
               "install_button = \"Installieren\"\n"
               "back_button = \"Zurück\"\n"
               "welcome_title = \"Willkommen bei der Installation von %SoftwareName%\"\n"
               "  progress_title = \"Installation\"\n");

// The German texts in a [texts.de] table of an English manifest: lint names
// and places them in that table, and so does preview's placement for a
// package built with --lang de; a text the table leaves out stays with
// [texts] or, not written at all, unplaced.
TEST_F(ToolTest, LanguageTablesAreWhereTextFitFindingsPoint)
{
    MakeCab(dir / "notes.cab", Prose(2000));
    WriteText(dir / "app.toml", ManifestText(R"(["welcome", "ready"])", "Notes")
                                    .Component("Notes", "notes.cab")
                                    .Texts("welcome_title = \"Welcome to the installation of Notes for your device\"\n")
                                    .Texts("  install_button = \"Installieren\"\n", "de"));
    Result r = Velkor({"lint", "app.toml"}, dir);
    EXPECT_EQ(r.code, 9) << r.err;
    EXPECT_NE(r.out.find("app.toml:14:3: warning: texts.de.install_button \"Installieren\" is "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("app.toml:11:1: warning: texts.welcome_title "), std::string::npos) << r.out;

    Manifest m = LoadManifest((dir / "app.toml").string());
    auto found = [](const std::string &item, const char *text) {
        Finding f;
        f.check = "text-fit";
        f.item = item;
        f.message = item + " \"" + text + "\" does not fit";
        return f;
    };
    std::vector<Finding> fs{found("texts.install_button", "Installieren"), found("texts.welcome_title", "Welcome"),
                            found("texts.cancel_button", "Abbrechen")};
    PlaceInManifest(m, fs, "de");
    EXPECT_EQ(fs[0].item, "texts.de.install_button");
    EXPECT_EQ(fs[0].message, "texts.de.install_button \"Installieren\" does not fit");
    EXPECT_EQ(fs[0].line, 14u);
    EXPECT_EQ(fs[0].col, 3u);
    EXPECT_EQ(fs[1].item, "texts.welcome_title");
    EXPECT_EQ(fs[1].line, 11u);
    EXPECT_EQ(fs[2].line, 0u);   // left at its default: nowhere in the manifest

    WriteBytes(dir / "setup.exe", Stub());
    ASSERT_EQ(Velkor({"build", "app.toml", "--stub", "setup.exe", "--lang", "de", "-o", "app.exe"}, dir).code, 0);
    Result bad = Velkor({"preview", "app.exe", "-o", "shots", "--manifest", "app.toml", "--lang", "fr"}, dir);
    EXPECT_EQ(bad.code, 2) << bad.err;
    EXPECT_NE(bad.err.find("no [texts.fr] table"), std::string::npos) << bad.err;
}

TEST_F(ToolTest, LintFindsGermanTextsThatDoNotFit)
{
    MakeCab(dir / "notes.cab", Prose(2000));
    WriteText(dir / "de.toml", GermanManifest);
    Result r = Velkor({"lint", "de.toml"}, dir);
    EXPECT_EQ(r.code, 9) << r.err;
    const DeviceFont &font = TheDeviceFont();
    std::string install = std::to_string(TableWidth(font, u"Installieren", false));
    EXPECT_NE(r.out.find("de.toml:12:1: warning: texts.install_button \"Installieren\" is " + install +
                         " pixels wide but the OK button of the ready page has room for "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("de.toml:14:1: warning: texts.welcome_title \"Willkommen bei der Installation von "
                         "Taschennotizen\" is "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("next_button"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("progress_title"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("de.toml: 2 findings"), std::string::npos) << r.out;

    Result j = Velkor({"lint", "de.toml", "--json"}, dir);
    minijson::Value v = minijson::Parse(j.out);
    ASSERT_EQ(v["findings"].size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const minijson::Value &f = v["findings"][i];
        EXPECT_EQ(f["check"].string, "text-fit");
        EXPECT_EQ(f["line"].number, f["item"].string == "texts.install_button" ? 12 : 14);
        EXPECT_EQ(f["column"].number, 1);
    }
    // A key indented in the manifest: its own column.
    std::string longer = GermanManifest;
    longer.replace(longer.find("\"Installation\""), 14, "\"Die Installation von %SoftwareName% l\xC3\xA4uft jetzt\"");
    WriteText(dir / "de.toml", longer);
    r = Velkor({"lint", "de.toml"}, dir);
    EXPECT_NE(r.out.find("de.toml:15:3: warning: texts.progress_title"), std::string::npos) << r.out;

    // The built package: the same findings, without lines.
    WriteText(dir / "de.toml", GermanManifest);
    WriteBytes(dir / "stub.exe", Stub());
    ASSERT_EQ(Velkor({"build", "de.toml", "--stub", "stub.exe", "-o", "de.exe"}, dir).code, 0);
    r = Velkor({"lint", "de.exe"}, dir);
    EXPECT_EQ(r.code, 9);
    EXPECT_NE(r.out.find("de.exe: warning: texts.install_button \"Installieren\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("de.exe: warning: texts.welcome_title"), std::string::npos) << r.out;
}

TEST_F(ToolTest, LintFindsNothingInTheDemoSample)
{
    fs::copy(fs::path(VELKOR_SOURCE_DIR) / "samples" / "demo", dir / "demo", fs::copy_options::recursive);
    fs::create_directory(dir / "demo" / "cabs");
    for (const char *cab : {"notes", "help", "dictionary", "samples"})
        MakeCab(dir / "demo" / "cabs" / (std::string(cab) + ".cab"), Prose(4000));
    Result r = Velkor({"lint", "demo/manifest.toml"}, dir);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "demo/manifest.toml: no findings\n");
}

}  // namespace
