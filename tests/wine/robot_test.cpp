// robot_test.cpp -- the robot against the dummy wizard, whose behaviour is
// known, so a fault of the robot is not mistaken for one of the setup program.
#include "robot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace robot;

namespace {

std::wstring Dummy() { return BinDir() + L"dummywizard.exe"; }

TEST(Robot, WalksPagesAndReadsControls)
{
    Wizard w;
    w.Launch(Dummy(), L"63");
    w.WaitFrame();
    w.WaitPage(IDD_WELCOME);
    EXPECT_EQ(w.Text(IDOK), L"&Next >");
    EXPECT_FALSE(w.Enabled(IDC_BACK));
    EXPECT_TRUE(w.Enabled(IDCANCEL));
    EXPECT_EQ(w.Text(IDC_HTML), L"<body>Dummy page 102");

    const int order[] = {IDD_AGREEMENT, IDD_COMPONENTS, IDD_LOCATION, IDD_DESTINATION, IDD_READY};
    int from = IDD_WELCOME;
    for (int id : order) {
        w.Click(IDOK);
        EXPECT_EQ(w.WaitPageChange(from), id);
        from = id;
    }
    EXPECT_EQ(w.Text(IDOK), L"&Install");
    EXPECT_TRUE(w.Enabled(IDC_BACK));
    w.Click(IDC_BACK);
    EXPECT_EQ(w.WaitPageChange(IDD_READY), IDD_DESTINATION);
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Robot, RefusesToClickADisabledButton)
{
    Wizard w;
    w.Launch(Dummy(), L"1");
    w.WaitPage(IDD_WELCOME);
    EXPECT_THROW(w.Click(IDC_BACK), Failure);
    EXPECT_THROW(w.Click(4711), Failure);
    w.Click(IDOK);               // the only page: the dummy ends
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Robot, TicksTreeItemsAndAnswersMessageBoxes)
{
    Wizard w;
    w.Launch(Dummy(), L"36");
    w.WaitPage(IDD_COMPONENTS);
    std::vector<TreeItem> items = w.TreeItems(IDC_COMPONENT_TREE);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, L"Alpha");
    EXPECT_EQ(items[0].stateImage, 1);
    EXPECT_EQ(items[1].text, L"Beta");
    EXPECT_EQ(items[1].stateImage, 2);

    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Beta", false);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Alpha", true);
    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Alpha", false);
    for (const TreeItem &t : w.TreeItems(IDC_COMPONENT_TREE))
        EXPECT_EQ(t.stateImage, 1) << Narrow(t.text);

    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(box.text, L"Nothing is ticked.");
    EXPECT_EQ(box.caption, L"Dummy");
    EXPECT_EQ(box.icon, Icon::Information);
    EXPECT_EQ(box.owner, w.Frame());   // a box owned by a page is owned by its top-level window
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    w.Answer(box, IDOK);
    EXPECT_EQ(w.PageId(), IDD_COMPONENTS);

    w.SetTreeCheck(IDC_COMPONENT_TREE, L"Beta", true);
    w.Click(IDOK);
    EXPECT_EQ(w.WaitPageChange(IDD_COMPONENTS), IDD_READY);
    w.Click(IDOK);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Robot, SelectsFoldersAndTypes)
{
    Wizard w;
    w.Launch(Dummy(), L"16");
    w.WaitPage(IDD_DESTINATION);
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Program Files\\Tool");
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Program Files\\Tool");
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"Tool");
    w.SelectTreeItem(IDC_FOLDER_TREE, L"\\Windows");
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"Windows");
    w.Type(IDC_DESTINATION, L"\\Storage Card\\Päckchen");
    EXPECT_EQ(w.Text(IDC_DESTINATION), L"\\Storage Card\\Päckchen");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Robot, TellsMessageBoxIconsApart)
{
    struct Row {
        const wchar_t *kind;
        Icon icon;
        int answer;
    } rows[] = {
        {L"error", Icon::Error, IDOK},
        {L"information", Icon::Information, IDOK},
        {L"question", Icon::Question, IDNO},
        {L"question", Icon::Question, IDYES},
        {L"none", Icon::None, IDOK},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(Narrow(row.kind));
        Wizard w;
        w.Launch(Dummy(), std::wstring(L"box ") + row.kind);
        MessageBoxInfo box = w.WaitMessageBox();
        EXPECT_EQ(box.text, std::wstring(L"A box of kind ") + row.kind + L".");
        EXPECT_EQ(box.caption, L"Velkor");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.icon, row.icon) << IconName(box.icon);
        EXPECT_EQ(w.Frame(), nullptr);
        w.Answer(box, row.answer);
        EXPECT_EQ(w.WaitExit(), DWORD(row.answer));
    }
}

TEST(Robot, WaitsWithATimeLimitAndNamesWhatItWaitedFor)
{
    Wizard w;
    w.Launch(Dummy(), L"1");
    w.WaitPage(IDD_WELCOME);
    w.SetTimeout(600);
    try {
        w.WaitPage(IDD_READY);
        FAIL() << "no timeout";
    } catch (const Timeout &e) {
        std::string m = e.what();
        EXPECT_NE(m.find("ready (133)"), std::string::npos) << m;
        EXPECT_NE(m.find("welcome (102) on screen"), std::string::npos) << m;
    }
    EXPECT_THROW(w.WaitExit(), Timeout);
    // The destructor ends the process.
}

TEST(Robot, TappedLinkReachesTheLinkCatcher)
{
    Wizard w;
    w.Launch(Dummy(), L"1");
    w.WaitPage(IDD_WELCOME);
    w.ClickAt(IDC_HTML, 7, 9);
    std::string log;
    DWORD start = GetTickCount();
    while ((log = ReadLinkLog()).empty() && GetTickCount() - start < Limit(15000))
        Sleep(50);
    EXPECT_EQ(log, "http://velkor.test/dummy?x=7&y=9\n");
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

TEST(Robot, SavesAScreenshot)
{
    Wizard w;
    w.Launch(Dummy(), L"1");
    w.WaitPage(IDD_WELCOME);
    std::wstring path = DeviceRoot() + L"shot.png";
    w.Screenshot(path);
    FILE *f = _wfopen(path.c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[24] = {};
    size_t n = fread(head, 1, sizeof head, f);
    fclose(f);
    ASSERT_EQ(n, sizeof head);
    EXPECT_EQ(memcmp(head, "\x89PNG\r\n\x1a\n", 8), 0);
    RECT r;
    GetWindowRect(w.Frame(), &r);
    unsigned width = unsigned(head[16] << 24 | head[17] << 16 | head[18] << 8 | head[19]);
    unsigned height = unsigned(head[20] << 24 | head[21] << 16 | head[22] << 8 | head[23]);
    EXPECT_EQ(width, unsigned(r.right - r.left));
    EXPECT_EQ(height, unsigned(r.bottom - r.top));
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

}  // namespace
