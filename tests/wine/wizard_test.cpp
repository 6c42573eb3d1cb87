// wizard_test.cpp -- the setup program end to end, as a user meets it: a
// package that cannot be loaded, the "install" argument, what the pages show
// (panels, captions), tapped links, and the page order in special cases.
#include "wizard_support.h"

#include "format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>
#include <iterator>

using namespace robot;
using namespace wizardtest;
using velkor::Bytes;
using testsupport::Trailer;

namespace {

const wchar_t NotAPackage[] = L"Invalid Velkor setup package. Please download this setup package again.";

// The start of a header: names, destination and the three flag bytes.
Bytes HeaderStart(uint8_t requireInstallArgument = 0)
{
    Bytes h;
    velkor::PutPackageString(h, u"Tool");
    velkor::PutPackageString(h, u"Acme");
    velkor::PutTextBlock(h, u"\\Program Files\\Tool");
    velkor::PutU8(h, 1);
    velkor::PutU8(h, requireInstallArgument);
    velkor::PutU8(h, 1);
    return h;
}

Bytes Append(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// setup.exe, then `header`, then a trailer that points at it.
Bytes WithHeader(const Bytes &header)
{
    Bytes file = SetupImage();
    uint32_t offset = uint32_t(file.size());
    file = Append(file, header);
    return Append(file, Trailer(offset));
}

// ------------------------------------------------------------ start-up --

TEST(StartUp, FailedLoadShowsItsBuiltInMessageAndEnds)
{
    const Bytes &image = SetupImage();
    struct Row {
        const char *name;
        Bytes file;
        const wchar_t *message;
        const wchar_t *commandLine;
    };
    Bytes oneComponentOfThree = HeaderStart();
    velkor::PutU32(oneComponentOfThree, 0);   // variables
    velkor::PutU32(oneComponentOfThree, 3);   // components, of which one follows
    velkor::PutU8(oneComponentOfThree, 1);
    velkor::PutU8(oneComponentOfThree, 1);
    velkor::PutU32(oneComponentOfThree, 0);
    velkor::PutU32(oneComponentOfThree, 10);
    velkor::PutTextBlock(oneComponentOfThree, u"Main program");

    Bytes badText = HeaderStart();
    velkor::PutU32(badText, 0);
    velkor::PutU32(badText, 0);
    velkor::PutU32(badText, 30);
    velkor::PutU8(badText, 1);               // compressed ...
    velkor::PutU32(badText, 8);
    velkor::PutU32(badText, 100);
    badText = Append(badText, Bytes{1, 2, 3, 4, 5, 6, 7, 8});   // ... but not zlib

    Bytes manyVariables = HeaderStart();
    velkor::PutU32(manyVariables, 0xFFFFFFFFu);

    Bytes cutTexts = HeaderStart();
    velkor::PutU32(cutTexts, 0);
    velkor::PutU32(cutTexts, 0);
    velkor::PutU32(cutTexts, 30);
    for (int i = 0; i < 12; ++i)
        velkor::PutTextBlock(cutTexts, u"a text");

    Bytes flagsCut = HeaderStart(1);
    flagsCut.pop_back();                    // ends inside the flag bytes

    // No trailer, or damage after it: the one message that says to fetch
    // the package again (nothing here runs short of memory).
    std::vector<Row> rows = {
        {"setup.exe without a package", image, NotAPackage, L""},
        {"wrong magic", Append(Append(image, HeaderStart()), Trailer(uint32_t(image.size()), "VKR2")), NotAPackage,
         L""},
        {"magic in lower case", Append(Append(image, HeaderStart()), Trailer(uint32_t(image.size()), "vkr1")),
         NotAPackage, L""},
        {"header offset past the end", Append(image, Trailer(0xFFFFFF00u)), NotAPackage, L""},
        {"header offset at the trailer", Append(image, Trailer(uint32_t(image.size()))), NotAPackage, L""},
        {"three components announced, one present", WithHeader(oneComponentOfThree), NotAPackage, L""},
        {"text block that does not decode", WithHeader(badText), NotAPackage, L""},
        {"variable count beyond the file", WithHeader(manyVariables), NotAPackage, L""},
        {"twelve of thirty texts", WithHeader(cutTexts), NotAPackage, L""},
        {"header ends inside the flags", WithHeader(flagsCut), NotAPackage, L""},
        // The load comes before the "install" rule, so a package that asks
        // for it is reported even without the argument.
        {"damage after an install flag", WithHeader(Append(HeaderStart(1), Bytes{0, 0})), NotAPackage, L""},
    };
    std::vector<std::string> failures = RunSideBySide(rows.size(), [&](size_t k) {
        const Row &row = rows[k];
        std::wstring exe = WriteDeviceFile(L"broken" + std::to_wstring(k) + L".exe", row.file);
        Wizard w;
        w.Launch(exe, row.commandLine);
        MessageBoxInfo box = w.WaitMessageBox();
        std::string problems;
        if (box.text != row.message)
            problems += "text \"" + Narrow(box.text) + "\"; ";
        if (box.caption != L"Velkor")
            problems += "caption \"" + Narrow(box.caption) + "\"; ";
        if (box.icon != Icon::Error)
            problems += std::string("icon ") + IconName(box.icon) + "; ";
        if (box.owner)
            problems += "the box has an owner; ";
        if (box.buttons != std::vector<int>{IDOK})
            problems += "buttons other than OK; ";
        if (w.Frame())
            problems += "a frame exists beside the message; ";
        w.Answer(box, IDOK);
        DWORD code = w.WaitExit();
        if (code != 0)
            problems += "exit code " + std::to_string(code);
        return problems;
    });
    for (size_t k = 0; k < rows.size(); ++k)
        EXPECT_EQ(failures[k], "") << rows[k].name;
}

TEST(StartUp, CloseOnTheFrameEndsTheWizard)
{
    std::wstring exe = WritePackageExe(SamplePackage(0x21, 1, false), L"close.exe");
    Wizard w;
    w.Launch(exe);
    HWND frame = w.WaitFrame();
    w.WaitPage(IDD_WELCOME);
    EXPECT_EQ(w.WindowText(frame), L"Tool Setup");
    PostMessageW(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.WaitExit(), 0u);   // fails on any question
}

// -------------------------------------------------------- install rule --

TEST(InstallArgument, OnlyTheWordInstallStartsTheWizard)
{
    struct Row {
        uint8_t require;
        const wchar_t *commandLine;
        bool starts;
    } rows[] = {
        {1, L"install", true},   {1, L"INSTALL", true},   {1, L"Install", true},
        {1, L"install ", false}, {1, L"/install", false}, {1, L"", false},
        {1, L"install now", false},
        {0, L"", true},          {0, L"anything at all", true},
    };
    velkor::PackageRecipe recipe = SamplePackage(1, 1, false);
    recipe.requireInstallArgument = 1;
    std::wstring required = WritePackageExe(recipe, L"required.exe");
    recipe.requireInstallArgument = 0;
    std::wstring free = WritePackageExe(recipe, L"free.exe");
    std::vector<std::string> failures = RunSideBySide(std::size(rows), [&](size_t k) {
        const Row &row = rows[k];
        Wizard w;
        w.Launch(row.require ? required : free, row.commandLine);
        if (!row.starts) {
            ExpectSilentEnd(w);
            return std::string();
        }
        w.WaitPage(IDD_WELCOME);
        w.Click(IDCANCEL);
        DWORD code = w.WaitExit();
        return code == 0 ? std::string() : "exit code " + std::to_string(code);
    });
    for (size_t k = 0; k < std::size(rows); ++k)
        EXPECT_EQ(failures[k], "") << "rule " << int(rows[k].require) << ", command line \""
                                   << Narrow(rows[k].commandLine) << "\"";
}

// ----------------------------------------------------------- furniture --

velkor::PackageRecipe FurniturePackage(uint8_t flags)
{
    velkor::PackageRecipe recipe = SamplePackage(flags, 1, false);
    recipe.variables = {{u"%Version%", u"2.1"}};
    recipe.texts[TextWindowTitle] = u"%SoftwareName% %Version% Setup";
    recipe.texts[TextNextButton] = u"Onward";
    recipe.texts[TextInstallButton] = u"Do it %Version%";
    recipe.texts[TextBackButton] = u"Go back";
    recipe.texts[TextCancelButton] = u"Stop";
    recipe.texts[TextWelcomeBody] = u"<p>Welcome to <b>%SoftwareName%</b> %Version% by %COMPANYNAME%.</p>";
    recipe.texts[TextReadyBody] = u"<p>Ready for %softwarename%; tap %Version%.</p>";
    return recipe;
}

// "<body topmargin="0" leftmargin="0" bgcolor="#rrggbb">" + body
void ExpectPanel(const std::wstring &panel, const std::wstring &body)
{
    const std::wstring start = L"<body topmargin=\"0\" leftmargin=\"0\" bgcolor=\"#";
    ASSERT_GE(panel.size(), start.size() + 8) << Narrow(panel);
    EXPECT_EQ(panel.substr(0, start.size()), start) << Narrow(panel);
    std::wstring color = panel.substr(start.size(), 6);
    for (wchar_t c : color)
        EXPECT_TRUE(iswdigit(c) || (c >= L'a' && c <= L'f')) << "colour " << Narrow(color);
    EXPECT_EQ(panel.substr(start.size() + 6), L"\">" + body) << Narrow(panel);
}

TEST(Furniture, PanelsCaptionsAndButtonsComeFromThePackage)
{
    std::wstring exe = WritePackageExe(FurniturePackage(1 | 32), L"furniture.exe");
    Wizard w;
    w.Launch(exe);
    HWND frame = w.WaitFrame();
    w.WaitPage(IDD_WELCOME);
    EXPECT_EQ(w.WindowText(frame), L"Tool 2.1 Setup");
    ExpectPanel(w.Text(IDC_HTML), L"<p>Welcome to <b>Tool</b> 2.1 by Acme.</p>");
    EXPECT_EQ(w.Text(IDOK), L"Onward");
    EXPECT_EQ(w.Text(IDC_BACK), L"Go back");
    EXPECT_EQ(w.Text(IDCANCEL), L"Stop");
    EXPECT_FALSE(w.Enabled(IDC_BACK));
    EXPECT_TRUE(w.Enabled(IDOK));

    w.Click(IDOK);
    w.WaitPage(IDD_READY);
    ExpectPanel(w.Text(IDC_HTML), L"<p>Ready for Tool; tap 2.1.</p>");
    EXPECT_EQ(w.Text(IDOK), L"Do it 2.1");
    EXPECT_EQ(w.Text(IDC_BACK), L"Go back");
    EXPECT_TRUE(w.Enabled(IDC_BACK));

    // A page shown again is the same window, as the user left it.
    HWND ready = w.PageWindow();
    w.Click(IDC_BACK);
    w.WaitPage(IDD_WELCOME);
    w.Click(IDOK);
    EXPECT_EQ(w.WaitPage(IDD_READY), ready);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Furniture, AnOnlyPageIsFirstAndLast)
{
    struct Row {
        uint8_t flags;
        int page;
    } rows[] = {{1, IDD_WELCOME}, {32, IDD_READY}};
    for (const Row &row : rows) {
        SCOPED_TRACE(PageName(row.page));
        std::wstring exe = WritePackageExe(FurniturePackage(row.flags), L"only" + std::to_wstring(row.flags) + L".exe");
        Wizard w;
        w.Launch(exe);
        w.WaitPage(row.page);
        EXPECT_EQ(w.Text(IDOK), L"Do it 2.1");
        EXPECT_FALSE(w.Enabled(IDC_BACK));
        w.Click(IDOK);   // no component: the installation just ends
        ExpectInstallationEnd(w, row.page);
    }
}

TEST(Furniture, EmptyTextsGiveBlankButtonsAndABarePanel)
{
    velkor::PackageRecipe recipe = SamplePackage(1 | 32, 1, false);
    for (int i : {1, 2, 3, 4, 6})
        recipe.texts[size_t(i)].clear();
    std::wstring exe = WritePackageExe(recipe, L"empty.exe");
    Wizard w;
    w.Launch(exe);
    w.WaitPage(IDD_WELCOME);
    ExpectPanel(w.Text(IDC_HTML), L"");
    EXPECT_EQ(w.Text(IDOK), L"");
    EXPECT_EQ(w.Text(IDC_BACK), L"");
    EXPECT_EQ(w.Text(IDCANCEL), L"");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// --------------------------------------------------------------- links --

TEST(Links, ATappedLinkReachesTheShellAndThePageStays)
{
    velkor::PackageRecipe recipe = SamplePackage(1 | 32, 1, false);
    recipe.texts[TextWelcomeBody] = u"<a href=\"http://velkor.test/welcome?from=%SoftwareName%\">Velkor on the web, "
                    u"a link that fills the first line</a><p>Plain text below the link.</p>";
    recipe.texts[TextReadyBody] =
        u"<a href=\"mailto:help@velkor.test\">Write to us, a link that fills the first line</a>";
    std::wstring exe = WritePackageExe(recipe, L"links.exe");
    Wizard w;
    w.Launch(exe);
    w.WaitPage(IDD_WELCOME);

    // A tap away from the link opens nothing: once the program has dealt
    // with the tap and no link catcher runs, the log is still empty.
    RECT panel;
    GetClientRect(w.Control(IDC_HTML), &panel);
    w.ClickAt(IDC_HTML, 8, panel.bottom - 4);
    w.Settle();
    WaitUntil(w, "no link catcher running", [] { return !LinkCatcherRunning(); });
    EXPECT_EQ(ReadLinkLog(), "");

    // The log holds exactly these lines once the program has dealt with
    // the tap and every link catcher has ended.
    auto waitLog = [&](const std::string &want) {
        WaitUntil(w, "the link log to read \"" + want + "\"", [&] { return ReadLinkLog() == want; });
        w.Settle();
        WaitUntil(w, "no link catcher running", [] { return !LinkCatcherRunning(); });
        EXPECT_EQ(ReadLinkLog(), want);
    };
    w.ClickAt(IDC_HTML, 8, 6);
    waitLog("http://velkor.test/welcome?from=Tool\n");
    EXPECT_EQ(w.PageId(), IDD_WELCOME);

    w.Click(IDOK);
    w.WaitPage(IDD_READY);
    w.ClickAt(IDC_HTML, 8, 6);
    waitLog("http://velkor.test/welcome?from=Tool\nmailto:help@velkor.test\n");
    EXPECT_EQ(w.PageId(), IDD_READY);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// ---------------------------------------------------------- sequencing --

TEST(Sequencing, TypicalPackagesEndPastTheirLastPage)
{
    // The typical packages: flags and the default location, each walked to
    // its end past the last page (the sweep ends half of them on Cancel).
    struct Row {
        int flags;
        bool udl;
    } rows[] = {{63, false}, {63, true}, {1 + 8 + 16, false}, {1 + 8 + 16, true}, {1 + 16, true},
                {16, false}, {16, true},  {0, false},          {0, true},          {2 + 4, true}};
    std::vector<std::string> failures = RunSideBySide(
        std::size(rows), [&](size_t k) { return RunCombination(rows[k].flags, rows[k].udl, Ending::PastLastPage); });
    for (size_t k = 0; k < std::size(rows); ++k)
        EXPECT_EQ(failures[k], "") << Combination(rows[k].flags, rows[k].udl) << ", expected "
                                   << PageList(ExpectedPages(rows[k].flags, rows[k].udl));
}

TEST(Sequencing, BackFromReadyToASkippedFirstDestinationKeepsAPage)
{
    std::wstring exe = WritePackageExe(SamplePackage(16 | 32, 1, false), L"destready.exe");
    Wizard w;
    w.Launch(exe);
    w.WaitPage(IDD_DESTINATION);        // the first page is shown although skipped
    EXPECT_FALSE(w.Enabled(IDC_BACK));
    EXPECT_EQ(w.Text(IDOK), NextText);
    w.Click(IDOK);
    w.WaitPage(IDD_READY);
    w.Click(IDC_BACK);
    int id = w.WaitPageChange(IDD_READY);
    EXPECT_NE(id, -1) << "the program ended";
    EXPECT_EQ(id, IDD_DESTINATION) << "after Back from ready: " << w.Describe();
    if (id == IDD_DESTINATION) {
        w.Click(IDOK);
        w.WaitPage(IDD_READY);
    }
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Sequencing, TheLocationChoiceDecidesTheVeryNextStep)
{
    // Location, destination and ready, the platform choosing the location
    // at first: the choice on the location page is read at every step.
    std::wstring exe = WritePackageExe(SamplePackage(8 | 16 | 32, 1, false), L"location.exe");
    Wizard w;
    w.Launch(exe);
    w.WaitPage(IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_DEFAULT_LOCATION));
    w.Click(IDC_CHOOSE_FOLDER);                      // choose a folder
    w.Click(IDOK);
    EXPECT_EQ(w.WaitPageChange(IDD_LOCATION), IDD_DESTINATION);
    w.Click(IDC_BACK);
    EXPECT_EQ(w.WaitPageChange(IDD_DESTINATION), IDD_LOCATION);
    EXPECT_TRUE(w.Checked(IDC_CHOOSE_FOLDER));       // the page kept the choice
    w.Click(IDC_DEFAULT_LOCATION);                      // let the device choose again
    w.Click(IDOK);
    EXPECT_EQ(w.WaitPageChange(IDD_LOCATION), IDD_READY);
    w.Click(IDC_BACK);
    EXPECT_EQ(w.WaitPageChange(IDD_READY), IDD_LOCATION);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

}  // namespace
