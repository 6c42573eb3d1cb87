// wizard_support.h -- what the end-to-end tests of the setup program share:
// the page order worked out from the package's flags, and small waits.
#pragma once

#include "packages.h"
#include "format.h"
#include "pageflow.h"
#include "robot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace wizardtest {

using namespace robot;

// The pages a user walks through with Next, in order, as the page-order
// module gives them (its own tests check it against the design); here the
// program is checked against it.  Flags are the stored page bits.
inline std::vector<int> ExpectedPages(int flags, bool useDefaultLocation)
{
    uint8_t shown = PagesShown(uint8_t(flags), useDefaultLocation);
    std::vector<int> pages;
    for (uint8_t current = LowestPage(shown); current != 0;) {
        pages.push_back(current);
        PageStep step = NextPage(shown, useDefaultLocation, current);
        if (step.Installs)
            break;
        current = step.Page;
    }
    return pages;
}

// Whether OK reads the install text on the page of `flag`.
inline bool OkReadsInstall(int flag, int flags, bool useDefaultLocation)
{
    return OkInstalls(PagesShown(uint8_t(flags), useDefaultLocation), useDefaultLocation, uint8_t(flag)) != 0;
}

// "welcome, agreement" for messages.
inline std::string PageList(const std::vector<int> &flags)
{
    std::string s;
    for (int f : flags)
        s += (s.empty() ? "" : ", ") + robot::PageName(robot::PageIdOfFlag(f));
    return s.empty() ? "no page" : s;
}

// Waits until `condition` holds, failing with `what` after the robot's limit.
inline void WaitUntil(robot::Wizard &w, const std::string &what, const std::function<bool()> &condition)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > robot::Limit(w.TimeLimit()))
            throw robot::Timeout("waited for " + what + ": " + w.Describe());
        Sleep(20);
    }
}

// The space line of the destination page, less its text before the figure.
inline std::wstring SpaceFigure(robot::Wizard &w)
{
    std::wstring line = w.Text(IDC_SPACE_LINE);
    const std::wstring lead = L"Space required: ";
    if (line.compare(0, lead.size(), lead) != 0)
        throw robot::Failure("the space line reads \"" + robot::Narrow(line) + "\"");
    return line.substr(lead.size());
}

// A message box's text, caption and icon, each checked on its own.
inline void ExpectBox(const robot::MessageBoxInfo &box, const std::wstring &text, const std::wstring &caption,
                      robot::Icon icon = robot::Icon::Error)
{
    EXPECT_EQ(robot::Narrow(box.text), robot::Narrow(text));
    EXPECT_EQ(robot::Narrow(box.caption), robot::Narrow(caption));
    EXPECT_EQ(robot::IconName(box.icon), std::string(robot::IconName(icon)));
}

// Waits for the end of the process, failing when a frame or a message box
// shows meanwhile: the program was to end without a word.
inline void ExpectSilentEnd(robot::Wizard &w)
{
    DWORD start = GetTickCount();
    while (w.Running()) {
        HWND frame = w.Frame();
        if (frame && IsWindowVisible(frame))
            throw robot::Failure("a frame showed, the program was to end silently: " + w.Describe());
        if (w.HasMessageBox())
            throw robot::Failure("a message box showed, the program was to end silently: " + w.Describe());
        if (GetTickCount() - start > robot::Limit(w.TimeLimit()))
            throw robot::Timeout("the program did not end: " + w.Describe());
        Sleep(15);
    }
    DWORD code = 0;
    GetExitCodeProcess(w.Process(), &code);
    if (code != 0)
        throw robot::Failure("exit code " + std::to_string(code));
}

// Runs check(i) for every i below n, a few setup programs at a time
// (VELKOR_ROBOT_THREADS, default 6): each program spends most of its time
// waiting, so side by side is much faster.  Returns what each check
// reported, "" for a pass; an exception counts as its message.
template <class Check>
std::vector<std::string> RunSideBySide(size_t n, Check check)
{
    unsigned threads = 6;
    std::wstring t = Env(L"VELKOR_ROBOT_THREADS");
    if (!t.empty())
        threads = unsigned(std::max(1, _wtoi(t.c_str())));
    std::vector<std::string> results(n);
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads && i < n; ++i) {
        workers.emplace_back([&] {
            for (size_t k; (k = next++) < n;) {
                try {
                    results[k] = check(k);
                } catch (const std::exception &e) {
                    results[k] = e.what();
                }
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    return results;
}

const wchar_t NextText[] = L"&Next >";
const wchar_t InstallText[] = L"&Install";

inline std::string Combination(int flags, bool udl)
{
    std::ostringstream s;
    s << "flags " << flags << " (" << PageList(ExpectedPages(flags, false)) << "), default location "
      << (udl ? "set" : "clear");
    return s.str();
}

// Checks the page of `flag` on screen and what a user sees on it.
inline void CheckPage(Wizard &w, int flag, int flags, bool udl, const std::vector<int> &pages)
{
    std::string where = PageName(PageIdOfFlag(flag));
    std::wstring ok = w.Text(IDOK);
    std::wstring wantOk = OkReadsInstall(flag, flags, udl) ? InstallText : NextText;
    if (ok != wantOk)
        throw Failure("OK on " + where + " reads \"" + Narrow(ok) + "\", expected \"" + Narrow(wantOk) + "\"");
    bool backEnabled = w.Enabled(IDC_BACK);
    if (backEnabled != (flag != pages.front()))
        throw Failure("Back on " + where + " is " + (backEnabled ? "enabled" : "disabled"));
    if (!w.Enabled(IDCANCEL))
        throw Failure("Cancel on " + where + " is disabled");
}

// What a user does on a page before Next: accept the agreement.
inline void PrepareNext(Wizard &w, int flag)
{
    if (flag == PageAgreement && !w.Enabled(IDOK)) {
        w.Click(IDC_ACCEPT);
        WaitUntil(w, "OK of the agreement page to be enabled after accepting", [&] { return w.Enabled(IDOK); });
    }
}

// Next from pages[from] up to pages[to], checking every page on the way.
inline void WalkForward(Wizard &w, int flags, bool udl, const std::vector<int> &pages, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        CheckPage(w, pages[i], flags, udl, pages);
        PrepareNext(w, pages[i]);
        w.Click(IDOK);
        int id = w.WaitPageChange(PageIdOfFlag(pages[i]));
        if (id != PageIdOfFlag(pages[i + 1])) {
            std::string seen = id == 0 ? "a message box" : PageName(id);
            throw Failure("Next on " + PageName(PageIdOfFlag(pages[i])) + " led to " + seen + ", expected " +
                          PageName(PageIdOfFlag(pages[i + 1])) + "; " + w.Describe());
        }
    }
    CheckPage(w, pages[to], flags, udl, pages);
}

inline void WalkBack(Wizard &w, int flags, bool udl, const std::vector<int> &pages)
{
    for (size_t i = pages.size() - 1; i > 0; --i) {
        w.Click(IDC_BACK);
        int id = w.WaitPageChange(PageIdOfFlag(pages[i]));
        if (id != PageIdOfFlag(pages[i - 1]))
            throw Failure("Back on " + PageName(PageIdOfFlag(pages[i])) + " led to " +
                          (id == 0 ? std::string("a message box") : PageName(id)) + ", expected " +
                          PageName(PageIdOfFlag(pages[i - 1])) + "; " + w.Describe());
        CheckPage(w, pages[i - 1], flags, udl, pages);
    }
}

// Past the last page the installation runs (nothing to hand off, or one
// small CAB) and the program ends without a word.
inline void ExpectInstallationEnd(Wizard &w, int fromId)
{
    int id = w.WaitPageChange(fromId);
    if (id == IDD_PROGRESS)
        id = w.WaitPageChange(IDD_PROGRESS);
    if (id == 0)
        throw Failure("a message box showed after the last page: " + w.Describe());
    if (id != -1)
        throw Failure("Next on the last page led to " + PageName(id));
    DWORD code = w.WaitExit();
    if (code != 0)
        throw Failure("exit code " + std::to_string(code));
}

enum class Ending { PastLastPage, CancelOnAPage, Alternate };

// One setup program with the sample package of these flags: Next through
// every page, Back through them again, then the ending.  Returns "" or
// what went wrong.
inline std::string RunCombination(int flags, bool udl, Ending ending = Ending::Alternate)
{
    std::vector<int> pages = ExpectedPages(flags, udl);
    bool hasComponents = (flags & 4) != 0;
    velkor::PackageRecipe recipe = SamplePackage(uint8_t(flags), udl ? 1 : 0, hasComponents);
    for (auto &c : recipe.components)
        c.acceptsDestination = false;   // keeps the prefix's registry out of it
    std::wstring exe = WritePackageExe(recipe, L"sweep" + std::to_wstring(flags) + (udl ? L"d" : L"") + L".exe");

    Wizard w;
    w.Launch(exe);
    if (pages.empty()) {
        // No page: the installation runs at once and the program ends.
        DWORD start = GetTickCount();
        while (w.Running()) {
            int id = w.PageId();
            if (id != 0 && id != IDD_PROGRESS)
                throw Failure("a package without pages showed " + PageName(id));
            if (w.HasMessageBox())
                throw Failure("a message box showed: " + w.Describe());
            if (GetTickCount() - start > Limit(w.TimeLimit()))
                throw Timeout("the program without pages did not end: " + w.Describe());
            Sleep(15);
        }
        return w.WaitExit() == 0 ? "" : "exit code not 0";
    }

    w.WaitPage(PageIdOfFlag(pages.front()));
    WalkForward(w, flags, udl, pages, 0, pages.size() - 1);
    WalkBack(w, flags, udl, pages);

    // Half of the combinations end past the last page, the other half with
    // Cancel on one of their pages, so that every flag value sees both.
    int bits = 0;
    for (int b = 1; b <= 32; b <<= 1)
        bits += (flags & b) ? 1 : 0;
    bool pastLast = ending == Ending::PastLastPage || (ending == Ending::Alternate && udl == (bits % 2 == 1));
    if (pastLast) {
        WalkForward(w, flags, udl, pages, 0, pages.size() - 1);
        PrepareNext(w, pages.back());
        // The programs share one device root and so one "\kCABFILE.cab":
        // installations that write it take turns.
        static std::mutex installing;
        std::unique_lock<std::mutex> turn(installing, std::defer_lock);
        if (!recipe.components.empty())
            turn.lock();
        w.Click(IDOK);
        ExpectInstallationEnd(w, PageIdOfFlag(pages.back()));
    } else {
        size_t stop = size_t(flags * 5 + (udl ? 3 : 0)) % pages.size();
        WalkForward(w, flags, udl, pages, 0, stop);
        w.Click(IDCANCEL);
        DWORD code = w.WaitExit();   // fails when a question shows
        if (code != 0)
            throw Failure("exit code " + std::to_string(code) + " after Cancel");
    }
    return "";
}

}  // namespace wizardtest
