// keyboard_test.cpp -- the setup program under real keys: xdotool types on
// the bench's X display, and the keys reach the program the way a keyboard
// sends them, through the X server and Wine's input, to whichever control
// holds the focus.  Only one program may be on the display meanwhile, so
// this suite runs alone (RUN_SERIAL).
//
// The program has no dialog key routing: a key reaches the focused control
// and nothing else, so Tab and Enter do not move between controls or press
// the default button, while the space bar presses a focused button.
#include "wizard_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

using namespace robot;
using namespace wizardtest;

namespace {

// Runs xdotool (a Unix program, which Wine starts as it is) and waits for
// it.  Wine's handle of a Unix process never signals, so a shell leaves a
// mark in /tmp when xdotool has ended.
void XdoTool(const std::wstring &arguments)
{
    static int runs = 0;
    std::wstring mark = L"/tmp/velkor-xdotool-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
    std::wstring markSeen = L"Z:" + mark;
    for (wchar_t &c : markSeen)
        if (c == L'/')
            c = L'\\';
    DeleteFileW(markSeen.c_str());
    std::wstring command = L"/bin/sh -c \"/usr/bin/xdotool " + arguments + L"; echo $? >" + mark + L"\"";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        throw Failure("cannot start /bin/sh for xdotool: error " + std::to_string(GetLastError()));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    DWORD start = GetTickCount();
    std::string result;
    for (;;) {
        FILE *f = _wfopen(markSeen.c_str(), L"rb");
        if (f) {
            char line[16] = {};
            fgets(line, sizeof line, f);
            fclose(f);
            result = line;
            if (!result.empty() && result.back() == '\n')
                break;
        }
        if (GetTickCount() - start > Limit(10000))
            throw Timeout("xdotool " + Narrow(arguments) + " did not end");
        Sleep(20);
    }
    DeleteFileW(markSeen.c_str());
    if (result != "0\n")
        throw Failure("xdotool " + Narrow(arguments) + " failed (exit " + result.substr(0, result.size() - 1) +
                      "; scripts/deps.sh installs it)");
}

void Key(const char *keysym) { XdoTool(L"key --clearmodifiers " + Widen(keysym)); }

// Waits until the program has dealt with every key typed so far: keys reach
// its thread in the order typed, so once a Shift typed after them is taken
// off the queue, they have been handled (and what they posted, which comes
// before typed keys).  Shift alone does nothing in any of its controls.
void KeysDealtWith(Wizard &w)
{
    WaitTaken(w.WaitFrame(), WM_KEYUP, VK_SHIFT, [] { Key("Shift_L"); }, w.TimeLimit(), "the keys typed to be dealt with");
}

// The window that holds the keyboard focus in the program, as its thread
// knows it.
HWND Focus(Wizard &w)
{
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(w.WaitFrame(), nullptr);
    if (!GetGUIThreadInfo(thread, &info))
        return nullptr;
    return info.hwndFocus;
}

// "page 131, control 1010", "the frame", "nothing" ...
std::string FocusName(Wizard &w, HWND focus)
{
    if (!focus)
        return "nothing";
    if (focus == w.Frame())
        return "the frame";
    HWND parent = GetParent(focus);
    std::string where = parent && GetParent(parent) == w.Frame()
                            ? PageName(GetDlgCtrlID(parent)) + (IsWindowVisible(parent) ? "" : " (hidden)")
                            : "elsewhere";
    return where + ", control " + std::to_string(GetDlgCtrlID(focus));
}

// Waits until the focus is on control `id` of the page on screen.
void ExpectFocus(Wizard &w, int id, const std::string &when)
{
    SCOPED_TRACE(when);
    DWORD start = GetTickCount();
    for (;;) {
        HWND focus = Focus(w);
        HWND page = w.PageWindow();
        if (focus && page && GetParent(focus) == page && GetDlgCtrlID(focus) == id)
            return;
        if (GetTickCount() - start > Limit(w.TimeLimit())) {
            ADD_FAILURE() << "focus on " << FocusName(w, focus) << ", expected " << PageName(w.PageId())
                          << ", control " << id;
            return;
        }
        Sleep(20);
    }
}

// Brings the program's frame to the front and gives it the X focus, as the
// user's first tap on it would.
HWND Start(Wizard &w, const velkor::PackageRecipe &recipe, const std::wstring &file)
{
    w.Launch(WritePackageExe(recipe, file));
    HWND frame = w.WaitFrame();
    WaitUntil(w, "a page", [&] { return w.PageId() != 0; });
    WaitUntil(w, "the frame in front", [&] {
        SetForegroundWindow(frame);
        return GetForegroundWindow() == frame;
    });
    return frame;
}

velkor::PackageRecipe AllPages()
{
    velkor::PackageRecipe recipe = SamplePackage(63, 0, true);
    recipe.components.push_back({u"Extras", recipe.components[0].cab, true, true});
    return recipe;
}

int TreeState(Wizard &w, const std::wstring &text)
{
    for (const TreeItem &item : w.TreeItems(IDC_COMPONENT_TREE))
        if (item.text == text)
            return item.stateImage;
    return -1;
}

struct Keyboard : ::testing::Test {
    void SetUp() override { DeleteFileW((DeviceRoot() + L"windows\\wceload.log").c_str()); }
};

// Each page, when first shown and when shown again by Back and by Next,
// has the focus on its first control that takes it; a key goes nowhere
// else.
TEST_F(Keyboard, EachPageHasTheFocusWhenShown)
{
    const struct {
        int page;
        int focus;       // first shown, and shown again
        int accept;      // a control to press before going on (0: none)
    } pages[] = {
        {IDD_WELCOME, IDOK, 0},
        {IDD_AGREEMENT, IDC_DECLINE, IDC_ACCEPT},   // a radio group's focus is on its checked radio
        {IDD_COMPONENTS, IDC_COMPONENT_TREE, 0},
        {IDD_LOCATION, IDC_CHOOSE_FOLDER, 0},
        {IDD_DESTINATION, IDC_DESTINATION, 0},
        {IDD_READY, IDOK, 0},
    };
    Wizard w;
    Start(w, AllPages(), L"keys.exe");
    for (const auto &p : pages) {
        ASSERT_EQ(w.PageId(), p.page);
        ExpectFocus(w, p.focus, "first shown: " + PageName(p.page));
        if (p.page == IDD_READY)
            break;
        if (p.accept) {
            w.Click(p.accept);
            WaitUntil(w, "OK enabled", [&] { return w.Enabled(IDOK); });
        }
        w.Click(IDOK);
        w.WaitPageChange(p.page);
    }
    // Back through every page: each comes back with the focus on its first
    // control, although the page left held the focus on its Back button.
    for (int i = 4; i >= 0; --i) {
        w.Click(IDC_BACK);
        ASSERT_EQ(w.WaitPageChange(pages[i + 1].page), pages[i].page);
        int expected = pages[i].page == IDD_AGREEMENT ? IDC_ACCEPT : pages[i].focus;   // accepted now
        ExpectFocus(w, expected, "shown again by Back: " + PageName(pages[i].page));
    }
    for (int i = 1; i <= 5; ++i) {
        w.Click(IDOK);
        ASSERT_EQ(w.WaitPageChange(pages[i - 1].page), pages[i].page);
        ExpectFocus(w, pages[i].page == IDD_AGREEMENT ? IDC_ACCEPT : pages[i].focus,
                    "shown again by Next: " + PageName(pages[i].page));
    }
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// The space bar on the focused component tree ticks and clears the check
// box of its current item; the choice reaches the page's OK.
TEST_F(Keyboard, SpaceBarTogglesTheFocusedCheckBox)
{
    velkor::PackageRecipe recipe = SamplePackage(4 | 32, 0, true);
    recipe.components.push_back({u"Extras", recipe.components[0].cab, true, true});
    Wizard w;
    Start(w, recipe, L"space.exe");
    ASSERT_EQ(w.PageId(), IDD_COMPONENTS);
    ExpectFocus(w, IDC_COMPONENT_TREE, "components page");
    std::vector<TreeItem> items = w.TreeItems(IDC_COMPONENT_TREE);
    ASSERT_EQ(items.size(), 2u);
    HTREEITEM current = HTREEITEM(SendMessageW(w.Control(IDC_COMPONENT_TREE), TVM_GETNEXTITEM, TVGN_CARET, 0));
    std::wstring name = items[0].text;
    for (const TreeItem &item : items)
        if (item.handle == current)
            name = item.text;
    if (!current) {
        Key("Down");   // the tree's first item becomes its current one
        WaitUntil(w, "a current item",
                  [&] { return SendMessageW(w.Control(IDC_COMPONENT_TREE), TVM_GETNEXTITEM, TVGN_CARET, 0); });
        name = items[0].text;
    }
    ASSERT_EQ(TreeState(w, name), 2);
    Key("space");
    WaitUntil(w, "the box cleared", [&] { return TreeState(w, name) == 1; });
    Key("space");
    WaitUntil(w, "the box ticked", [&] { return TreeState(w, name) == 2; });
    Key("space");
    WaitUntil(w, "the box cleared again", [&] { return TreeState(w, name) == 1; });
    EXPECT_EQ(w.PageId(), IDD_COMPONENTS) << "the space bar moved the wizard";
    // Both cleared: OK refuses with its notice, so the keys did reach the model.
    std::wstring other = items[0].text == name ? items[1].text : items[0].text;
    w.SetTreeCheck(IDC_COMPONENT_TREE, other, false);
    w.Click(IDOK);
    MessageBoxInfo box = w.WaitMessageBox();
    EXPECT_EQ(Narrow(box.text), "You need to select at least one component to continue.");
    w.Answer(box, IDOK);
    WaitUntil(w, "the notice gone", [&] { return !w.HasMessageBox(); });
    w.Click(IDCANCEL);
    EXPECT_EQ(w.WaitExit(), 0u);
}

// Enter reaches the focused control only: on OK, on the destination field
// or on the tree it does not move the wizard; the space bar on a focused
// OK presses it.
TEST_F(Keyboard, EnterStaysAndSpaceOnOkGoesOn)
{
    Wizard w;
    Start(w, AllPages(), L"enter.exe");
    const struct {
        int page;
        int focus;
    } rows[] = {{IDD_WELCOME, IDOK},
                {IDD_COMPONENTS, IDC_COMPONENT_TREE},
                {IDD_DESTINATION, IDC_DESTINATION},
                {IDD_READY, IDOK}};
    for (const auto &row : rows) {
        SCOPED_TRACE(PageName(row.page));
        while (w.PageId() != row.page) {
            int from = w.PageId();
            if (from == IDD_AGREEMENT && !w.Enabled(IDOK)) {
                w.Click(IDC_ACCEPT);
                WaitUntil(w, "OK enabled", [&] { return w.Enabled(IDOK); });
            }
            w.Click(IDOK);
            w.WaitPageChange(from);
        }
        ExpectFocus(w, row.focus, "before Enter");
        Key("Return");
        KeysDealtWith(w);
        EXPECT_EQ(w.PageId(), row.page) << "Enter moved the wizard";
        EXPECT_FALSE(w.HasMessageBox());
        ASSERT_TRUE(w.Running());
    }
    // On the ready page the focus is on Install: the space bar installs.
    ExpectFocus(w, IDOK, "ready page");
    Key("space");
    EXPECT_EQ(w.WaitExit(), 0u);
    EXPECT_EQ(testsupport::InstallerLog().size(), 2u) << "one line per installer run";
}

}  // namespace
