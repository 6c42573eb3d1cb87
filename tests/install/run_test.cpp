// run_test.cpp -- the installation run in process: the two space figures,
// the refusal for lack of space, the progress window, the order of the
// hand-offs and the message of every way a run can end.
#include "support.h"

using namespace installtest;

namespace {

velkor::PackageRecipe WithComponents(std::vector<std::pair<uint32_t, bool>> sizesAndSelected,
                                   const std::u16string &destination = u"\\Program Files\\Tool")
{
    velkor::PackageRecipe recipe = ToolPackage(1, destination);
    int i = 0;
    for (auto [size, selected] : sizesAndSelected)
        recipe.components.push_back({u"C" + std::u16string(1, char16_t(u'0' + i++)), {}, true, selected});
    return recipe;
}

// A package whose components state the given sizes; their payloads are empty.
PackageFile Sized(const velkor::PackageRecipe &recipe, const std::vector<uint32_t> &sizes)
{
    std::vector<Bytes> payloads(sizes.size(), Payload({}));
    return Assemble(recipe, payloads, sizes);
}

// ------------------------------------------------------------- space --

struct Space : InstallFixture {};

TEST_F(Space, RequiredSpaceAddsTheSelectedAndSaturates)
{
    struct Row {
        std::vector<std::pair<uint32_t, bool>> components;
        DWORD required;
    } rows[] = {
        {{}, 0},
        {{{100, true}, {200, false}, {300, true}}, 400},
        {{{0xFFFFFFFFu, false}, {5, true}}, 5},
        {{{0xFFFFFFFEu, true}, {1, true}}, 0xFFFFFFFFu},
        {{{0xFFFFFFFFu, true}, {1, true}}, 0xFFFFFFFFu},
        {{{0x80000000u, true}, {0x80000000u, true}, {7, true}}, 0xFFFFFFFFu},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.components.size());
        std::vector<uint32_t> sizes;
        for (auto c : row.components)
            sizes.push_back(c.first);
        Load(Sized(WithComponents(row.components), sizes), false);
        EXPECT_EQ(RequiredSpace(&Package), row.required);
        Unload();
    }
}

TEST_F(Space, FreeSpaceIsMeasuredAtTheNearestExistingFolder)
{
    struct Row {
        std::u16string destination;
        std::vector<std::wstring> existing;
        std::wstring measured;
    } rows[] = {
        {u"\\Program Files\\Tool", {L"\\Program Files\\Tool"}, L"\\Program Files\\Tool"},
        {u"\\Program Files\\Tool\\", {L"\\Program Files\\Tool"}, L"\\Program Files\\Tool"},
        {u"\\Program Files\\A\\B\\C", {L"\\Program Files"}, L"\\Program Files"},
        {u"\\Storage Card\\Apps\\Tool", {L"\\Storage Card"}, L"\\Storage Card"},
        {u"\\Nowhere\\At\\All", {}, L"\\"},
        {u"\\", {}, L"\\"},
        {u"", {}, L"\\"},
        {u"Relative\\Name", {}, L"\\"},
        {u"Relative", {}, L"\\"},
        {u"\\\\", {}, L"\\"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(velkor::Utf16ToUtf8(row.destination));
        fake.existing = row.existing;
        fake.freeQueries.clear();
        Load(Sized(WithComponents({}, row.destination), {}), false);
        long blocks = VHeapLiveBlocks();
        EXPECT_EQ(DestinationFreeSpace(&Package), 0xFFFFFFFFu);
        EXPECT_EQ(VHeapLiveBlocks(), blocks) << "the copy of the path was not freed";
        ASSERT_EQ(fake.freeQueries.size(), 1u);
        EXPECT_EQ(fake.freeQueries[0], row.measured);
        Unload();
    }
}

// A hostile destination of a megabyte: the walk up stays linear and asks
// only about paths short enough to be a folder.
TEST_F(Space, AMegabyteDestinationIsWalkedQuickly)
{
    std::u16string levels;
    while (levels.size() < (1u << 19))
        levels += u"\\a";
    struct Row {
        const char *name;
        std::u16string destination;
        std::vector<std::wstring> existing;
        std::wstring measured;
        int maxQueries;
    } rows[] = {
        {"backslashes", std::u16string(1u << 19, u'\\'), {}, L"\\", 0},
        {"one-letter folders", levels, {}, L"\\", MAX_PATH / 2},
        {"one-letter folders below an existing one", u"\\Program Files" + levels, {L"\\Program Files"},
         L"\\Program Files", MAX_PATH / 2},
        {"doubled backslashes", u"\\Program Files\\\\Tool\\\\\\", {L"\\Program Files"}, L"\\Program Files", 2},
        // The longest folder name there can be is asked about; one unit
        // more and it is passed over unasked.
        {"a folder of MAX_PATH - 1 units", u"\\" + std::u16string(MAX_PATH - 2, u'a') + u"\\b",
         {L"\\" + std::wstring(MAX_PATH - 2, L'a')}, L"\\" + std::wstring(MAX_PATH - 2, L'a'), 1},
        {"a folder of MAX_PATH units", u"\\" + std::u16string(MAX_PATH - 1, u'a') + u"\\b",
         {L"\\" + std::wstring(MAX_PATH - 1, L'a')}, L"\\", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fake.existing = row.existing;
        fake.freeQueries.clear();
        fake.attributeQueries = 0;
        Load(Sized(WithComponents({}, row.destination), {}), false);
        DWORD start = GetTickCount();
        EXPECT_EQ(DestinationFreeSpace(&Package), 0xFFFFFFFFu);
        EXPECT_LT(GetTickCount() - start, 2000u);
        EXPECT_LE(fake.attributeQueries, row.maxQueries);
        ASSERT_EQ(fake.freeQueries.size(), 1u);
        EXPECT_EQ(fake.freeQueries[0], row.measured);
        Unload();
    }
}

TEST_F(Space, FreeSpaceClampsAtFourGigabytesAndIsZeroWhenUnknown)
{
    Load(Sized(WithComponents({}), {}), false);
    struct Row {
        ULONGLONG free;
        bool fails;
        DWORD figure;
    } rows[] = {
        {0, false, 0},
        {12345, false, 12345},
        {0xFFFFFFFFull, false, 0xFFFFFFFFu},
        {0x100000000ull, false, 0xFFFFFFFFu},
        {0x100000123ull, false, 0xFFFFFFFFu},   // not its low 32 bits
        {1ull << 40, true, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.free);
        fake.freeBytes = row.free;
        fake.failFree = row.fails;
        EXPECT_EQ(DestinationFreeSpace(&Package), row.figure);
    }
    // The check needs no memory: with none to be had it still measures,
    // rather than calling an out-of-memory device full.
    fake.freeBytes = 12345;
    fake.failFree = false;
    VHeapFailAt(1);
    EXPECT_EQ(DestinationFreeSpace(&Package), 12345u);
    VHeapFailAt(0);
}

TEST_F(Space, RealVolumeOfTheDeviceRootHasRoom)
{
    fake.realSpace = true;
    Load(Sized(WithComponents({}, u"\\Program Files\\Not\\Yet"), {}), false);
    EXPECT_GT(DestinationFreeSpace(&Package), 0u);
    ASSERT_EQ(fake.freeQueries.size(), 1u);
    EXPECT_EQ(fake.freeQueries[0], L"\\Program Files") << "\\Program Files exists in the device root";
}

TEST_F(Space, RealQueryThatFailsGivesZero)
{
    // A destination that names an existing file is measured as it stands;
    // the volume query refuses a file, so nothing is known and the check
    // can only refuse.
    fake.realSpace = true;
    Load(Sized(WithComponents({{1, true}}, u"\\package.bin"), {1}), false);
    ASSERT_NE(Win32InstallOs.FileAttributes(L"\\package.bin"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(DestinationFreeSpace(&Package), 0u);
    ASSERT_EQ(fake.freeQueries.size(), 1u);
    EXPECT_EQ(fake.freeQueries[0], L"\\package.bin");
    EXPECT_FALSE(RunInstallation(&host));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, HostText(&host, TextNotEnoughSpace));
}

// ----------------------------------------------------------------- run --

struct Run : InstallFixture {
    void LoadComponents(const std::vector<Bytes> &cabs, const std::vector<bool> &selected)
    {
        velkor::PackageRecipe recipe = ToolPackage(1);
        for (size_t i = 0; i < cabs.size(); ++i)
            recipe.components.push_back({u"Component " + std::u16string(1, char16_t(u'A' + i)), cabs[i], true,
                                       selected[i]});
        Load(Assemble(recipe), false);
    }
    void ExpectMessage(size_t index, HWND owner, const std::wstring &text, const std::wstring &caption, UINT style)
    {
        ASSERT_GT(fake.messages.size(), index);
        const MessageRecord &m = fake.messages[index];
        EXPECT_EQ(m.owner, owner);
        EXPECT_EQ(m.text, text);
        EXPECT_EQ(m.caption, caption);
        EXPECT_EQ(m.style, style);
    }
};

TEST_F(Run, RefusesWithoutEnoughSpaceAndWritesNothing)
{
    // The page comes back before the message; when it cannot, memory ran
    // out and the wizard ends.
    for (BOOL showResult : {TRUE, FALSE}) {
        SCOPED_TRACE(showResult);
        TearDown();
        SetUp();
        LoadComponents({Pattern(5000, 1)}, {true});
        fake.freeBytes = 4999;
        shell.showPageResult = showResult;
        BOOL ended = RunInstallation(&host);
        EXPECT_EQ(ProgressPage, nullptr) << "no progress window on refusal";
        EXPECT_EQ(fake.creates, 0);
        EXPECT_TRUE(fake.runs.empty());
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(shell.shownAgain, 1);
        if (!showResult) {
            ExpectMessage(0, host.Frame, TextBuiltInOutOfMemory, L"Velkor", MB_ICONHAND);
            EXPECT_TRUE(ended);
        } else {
            ExpectMessage(0, host.Frame, HostText(&host, TextNotEnoughSpace), HostText(&host, TextWindowTitle), MB_ICONHAND);
            EXPECT_FALSE(ended);
        }
    }
}

TEST_F(Run, RequiredEqualToFreePasses)
{
    LoadComponents({Pattern(5000, 2)}, {true});
    fake.freeBytes = 5000;
    EXPECT_TRUE(RunInstallation(&host));
    EXPECT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Run, FailedFreeSpaceQueryRefusesUnlessNothingIsNeeded)
{
    LoadComponents({Pattern(10, 3), Pattern(10, 4)}, {true, false});
    fake.failFree = true;
    EXPECT_FALSE(RunInstallation(&host));
    Package.Components[0].Selected = 0;
    fake.messages.clear();
    EXPECT_TRUE(RunInstallation(&host));
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Run, ProgressWindowCoversTheFrameAndInstallsTheSelectedInOrder)
{
    Bytes a = Pattern(70000, 5), b = Pattern(100, 6), c = Pattern(2000, 7);
    LoadComponents({a, b, c}, {true, false, true});
    EXPECT_TRUE(RunInstallation(&host));
    ASSERT_NE(ProgressPage, nullptr);
    EXPECT_EQ(GetParent(ProgressPage), host.Frame);
    EXPECT_EQ(GetDlgCtrlID(ProgressPage), IDD_PROGRESS);
    EXPECT_EQ(ProgressBar, GetDlgItem(ProgressPage, IDC_PROGRESS_BAR));
    RECT frame, page;
    GetClientRect(host.Frame, &frame);
    GetWindowRect(ProgressPage, &page);
    MapWindowPoints(nullptr, host.Frame, (POINT *)&page, 2);
    EXPECT_EQ(page.left, 0);
    EXPECT_EQ(page.top, 0);
    EXPECT_EQ(page.right, frame.right);
    EXPECT_EQ(page.bottom, frame.bottom);
    wchar_t text[256];
    GetDlgItemTextW(ProgressPage, IDCANCEL, text, 256);
    EXPECT_STREQ(text, HostText(&host, TextCancelButton));
    GetDlgItemTextW(ProgressPage, IDC_PROGRESS_LABEL, text, 256);
    EXPECT_STREQ(text, HostText(&host, TextProgressLabel));

    ASSERT_EQ(fake.runs.size(), 2u);
    EXPECT_TRUE(fake.runs[0].cab == a);
    EXPECT_EQ(fake.runs[0].componentName, L"Component A");
    EXPECT_TRUE(fake.runs[1].cab == c);
    EXPECT_EQ(fake.runs[1].componentName, L"Component C");
    for (const InstallerRun &r : fake.runs)
        EXPECT_FALSE(r.frameVisible) << "the frame is hidden while the installer runs";
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(shell.shownAgain, 0);
    EXPECT_GT(shell.headers, 0) << "the progress window paints the host's header";
}

TEST_F(Run, ProgressWindowThatCannotBeCreated)
{
    LoadComponents({Pattern(100, 14)}, {true});
    // A module without template IDD_PROGRESS (damaged resources), and a frame that
    // is gone: no window, nothing left behind.
    HINSTANCE own = host.Instance;
    host.Instance = GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(CreateProgressPage(&host), nullptr);
    host.Instance = own;

    HWND frame = host.Frame;
    HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, own, nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    host.Frame = gone;
    EXPECT_EQ(CreateProgressPage(&host), nullptr);
    host.Frame = frame;

    // The run does not depend on the window: the component is still handed off.
    host.Instance = GetModuleHandleW(L"kernel32.dll");
    EXPECT_TRUE(RunInstallation(&host));
    host.Instance = own;
    EXPECT_EQ(ProgressPage, nullptr);
    EXPECT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_FALSE(Exists(TemporaryCabPath));
}

TEST_F(Run, NothingSelectedOpensTheWindowAndEndsQuietly)
{
    LoadComponents({Pattern(10, 8)}, {false});
    EXPECT_TRUE(RunInstallation(&host));
    EXPECT_NE(ProgressPage, nullptr);
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Run, EveryEndingHasItsMessage)
{
    const std::wstring title = L"Tool Setup";
    struct Row {
        const char *name;
        std::function<void()> arrange;
        int returned;
        std::wstring text;
        std::wstring caption;
        UINT style;
    } rows[] = {
        {"cancelled", [] { fake.onRead = [](int n, DWORD) { if (n == 4) ClickCancel(); }; }, 2,
         L"The installation was cancelled and is incomplete.", title, MB_ICONINFORMATION},
        {"cannot create", [] { fake.failCreate = true; }, 3,
         L"Setup cannot create a temporary file. Please free some storage memory and try again.", title, MB_ICONHAND},
        {"corrupt", [] { fake.shortReadAt = 4; }, 3,
         L"The setup package is damaged. Please download this setup package again.", title, MB_ICONHAND},
        {"no memory", [] { VHeapFailAt(1); }, 3, TextBuiltInOutOfMemory, L"Velkor", MB_ICONHAND},
        {"launch failed", [] { fake.failStart = true; }, 3, L"The device's installer could not be started.", title,
         MB_ICONHAND},
        {"cannot open the package", [] { fake.failOpenSource = true; }, 3, TextBuiltInCannotOpen, L"Velkor",
         MB_ICONHAND},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        LoadComponents({Pattern(3 * 65536, 9), Pattern(500, 10)}, {true, true});
        ProgressPage = CreateProgressPage(&host);
        row.arrange();
        EXPECT_EQ(InstallComponents(&host, ProgressPage), row.returned);
        VHeapFailAt(0);
        ASSERT_EQ(fake.messages.size(), row.returned == 2 ? 2u : 1u);
        ExpectMessage(fake.messages.size() - 1, ProgressPage, row.text, row.caption, row.style);
        EXPECT_TRUE(fake.runs.empty()) << "the second component is not handed off after the first failed";
        EXPECT_FALSE(Exists(TemporaryCabPath));
    }
}

TEST_F(Run, AFailureInALaterComponentKeepsTheEarlierOnes)
{
    LoadComponents({Pattern(100, 11), Pattern(100, 12), Pattern(100, 13)}, {true, true, true});
    ProgressPage = CreateProgressPage(&host);
    fake.shortWriteAt = 2;
    EXPECT_EQ(InstallComponents(&host, ProgressPage), 3);
    EXPECT_EQ(fake.runs.size(), 1u);
    ExpectMessage(0, ProgressPage, HostText(&host, TextCannotInstall), HostText(&host, TextWindowTitle), MB_ICONHAND);
}

TEST_F(Run, CancelDuringTheLastChunkStopsOnlyTheNextComponent)
{
    for (bool second : {true, false}) {
        SCOPED_TRACE(second ? "another component follows" : "last component");
        TearDown();
        SetUp();
        if (second)
            LoadComponents({Pattern(2 * 65536, 14), Pattern(2 * 65536, 15)}, {true, true});
        else
            LoadComponents({Pattern(2 * 65536, 14)}, {true});
        ProgressPage = CreateProgressPage(&host);
        fake.onRead = [](int n, DWORD) {
            if (n == 7)   // the data of the first component's second and last chunk
                ClickCancel();
        };
        EXPECT_EQ(InstallComponents(&host, ProgressPage), second ? 2 : 1);
        EXPECT_EQ(fake.runs.size(), 1u) << "the first component's installer still runs";
        if (second) {
            ASSERT_EQ(fake.messages.size(), 2u);
            EXPECT_EQ(fake.messages[1].text, HostText(&host, TextInstallIncomplete));
            EXPECT_EQ(fake.reads, 7 + 1) << "the second component stops before its first chunk";
        } else {
            EXPECT_EQ(fake.messages.size(), 1u) << "only the question";
        }
    }
}

TEST_F(Run, CancelIsClearedWhenTheRunStarts)
{
    LoadComponents({Pattern(100, 16)}, {true});
    ProgressPage = CreateProgressPage(&host);
    CancelRequested = 1;
    EXPECT_EQ(InstallComponents(&host, ProgressPage), 1);
    EXPECT_EQ(fake.runs.size(), 1u);
}

TEST_F(Run, WaitCursorOnlyDuringTheHandOff)
{
    LoadComponents({Pattern(100, 17)}, {true});
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(arrow);
    EXPECT_TRUE(RunInstallation(&host));
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.runs[0].waitCursor);
    EXPECT_EQ(GetCursor(), arrow);
}

}  // namespace
