// robot.h -- drives the setup program from outside, the way a user would:
// starts it, finds the page on screen, reads and presses its controls, answers
// message boxes and waits for the end.  Every wait has a time limit; a limit
// that runs out throws robot::Timeout naming what was awaited, so a hung
// wizard fails its test instead of hanging the suite.
//
// Clicks are posted, never sent: OK on the last page runs the whole
// installation inside the button's handler.
#pragma once

#include "resource.h"
#include "testsupport.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace robot {

// What the robot could not do, or waited for in vain.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Timeout : Failure {
    using Failure::Failure;
};

// Template and control ids are those of the setup program (resource.h);
// buttons OK and Cancel are IDOK and IDCANCEL.

// The page template of a page flag (PageWelcome ... PageReady of format.h),
// and the other way round.
int PageIdOfFlag(int flag);
int FlagOfPageId(int id);
// "welcome (102)", "none", ... for messages.
std::string PageName(int id);

enum class Icon { None, Error, Information, Question, Warning, Unknown };
const char *IconName(Icon icon);
std::optional<Icon> IconFromName(const std::string &name);

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    Icon icon = Icon::None;
    std::vector<int> buttons;   // ids: IDOK, IDYES, IDNO ...
};

struct TreeItem {
    HTREEITEM handle = nullptr;
    std::wstring text;
    int depth = 0;              // 0 for top-level items
    int stateImage = 0;         // 1 unticked, 2 ticked, 0 none
    bool selected = false;
    bool expanded = false;
};

// Time limits in milliseconds are multiplied by VELKOR_SLOWDOWN (a
// number, default 1) so a loaded machine can be given more time.
DWORD Limit(DWORD ms);

using testsupport::Narrow;
using testsupport::Widen;
std::wstring Env(const wchar_t *name);       // empty when unset

// The bench's device root ("X:\") and folders.
using testsupport::DeviceRoot;
std::wstring BinDir();
std::wstring FixturesDir();
std::wstring LinkLog();
// What the link catcher has written so far; empty when nothing.
std::string ReadLinkLog();
// Whether a link catcher runs (one started by any program of the bench);
// once none does, every link opened so far is in its log.
bool LinkCatcherRunning();

// Writes a PNG file of 24-bit pixels (rows top-down, BGR as GDI gives them).
bool WritePng(const std::wstring &path, int width, int height, const std::vector<BYTE> &bgr);

// A window's pixels, 24-bit BGR rows top-down; empty when none could be had.
struct Picture {
    int width = 0, height = 0;
    std::vector<BYTE> bgr;
    bool Empty() const { return bgr.empty(); }
    COLORREF At(int x, int y) const;
};

// The picture `window` paints of itself (with its frame and caption when
// `whole`, else its client area), taken inside its own process through
// robotlens.dll (lens.h): windows that cover it on the shared screen do not
// count.  The window paints at once, after whatever its thread was doing;
// empty when the thread does not answer within `timeoutMs` (times
// VELKOR_SLOWDOWN).  Throws Failure when robotlens.dll cannot be
// loaded from beside this program.
Picture WindowPicture(HWND window, bool whole, DWORD timeoutMs = 5000);

// Waits until the thread of `window` takes a message `message` with
// `wParam` off its queue, which `put` is to put there (a post, or a key
// typed on the display).  A thread takes what was posted to it in order,
// and before anything typed, so then it has dealt with everything posted or
// typed before.  Throws Timeout naming `what` after `timeoutMs` (times
// VELKOR_SLOWDOWN), and Failure when the window is gone meanwhile.
void WaitTaken(HWND window, UINT message, WPARAM wParam, const std::function<void()> &put, DWORD timeoutMs,
               const std::string &what);

// One running setup program.  Not copyable; the destructor ends the process
// if it still runs, so a failed test leaves nothing behind.
class Wizard {
public:
    explicit Wizard(DWORD timeoutMs = 15000);
    ~Wizard();
    Wizard(const Wizard &) = delete;
    Wizard &operator=(const Wizard &) = delete;

    // Starts `exe` with `arguments` as its command line after the program
    // name (CreateProcessW; the current directory is inherited).
    void Launch(const std::wstring &exe, const std::wstring &arguments = L"");
    DWORD ProcessId() const { return pid_; }
    HANDLE Process() const { return process_; }
    bool Running() const;
    void SetTimeout(DWORD ms) { timeout_ = ms; }
    DWORD TimeLimit() const { return timeout_; }

    // The frame: the top-level dialog of the process that is not a message
    // box.  0 while it does not exist.
    HWND Frame() const;
    HWND WaitFrame();

    // The page on screen: the visible child dialog of the frame, by its
    // control id; 0 when none is visible.
    int PageId() const;
    HWND PageWindow() const;
    // Waits until page `id` is on screen.
    HWND WaitPage(int id);
    // Waits until a page other than `from` is on screen, and returns its id,
    // or until the process has ended (returns -1), or until a message box
    // shows (returns 0; FindMessageBox has it).
    int WaitPageChange(int from);

    // Controls of the page on screen (or of `page` when given).
    HWND Control(int id, HWND page = nullptr) const;
    std::wstring Text(int id, HWND page = nullptr) const;
    bool Enabled(int id, HWND page = nullptr) const;
    bool Visible(int id, HWND page = nullptr) const;
    bool Checked(int id, HWND page = nullptr) const;      // BM_GETCHECK
    std::wstring WindowText(HWND window) const;           // WM_GETTEXT, time-limited

    // Presses a button: fails when it is hidden or disabled (once the
    // program is through what it was doing), as a user could not press it
    // either.  The click is posted.
    void Click(int id);
    // A mouse click at client coordinates of a control (posted down and up).
    void ClickAt(int id, int x, int y);
    // Replaces the text of an edit control as typing would (WM_SETTEXT, then
    // the EN_CHANGE that typing reports).
    void Type(int id, const std::wstring &text);

    // Tree views: every item in display order (children of collapsed items
    // are listed too); the state image tells a ticked box (2) from an empty
    // one (1).
    std::vector<TreeItem> TreeItems(int id);
    // Ticks or clears the check box of the item with this text, with a
    // click on the box as a user would.
    void SetTreeCheck(int id, const std::wstring &itemText, bool ticked);
    // Selects the item reached by `path`, item texts separated by '\'
    // (expanding the items on the way), as clicks would.  A leading '\'
    // stands for a root item named "\", so a folder path can be given as
    // it is: "\Program Files\Tool".
    void SelectTreeItem(int id, const std::wstring &path);

    // Message boxes of the process (owned by the frame, a page, the progress
    // window or by nobody).
    std::optional<MessageBoxInfo> FindMessageBox() const;
    bool HasMessageBox() const;          // cheap: nothing is read
    MessageBoxInfo WaitMessageBox();
    // Presses a button of the box (IDOK, IDYES, IDNO, IDCANCEL); posted.
    void Answer(const MessageBoxInfo &box, int button);

    // Waits for the end of the process and returns its exit code.  A message
    // box that shows meanwhile fails the wait (its text is in the message).
    DWORD WaitExit();
    // Ends the process at once (used by the destructor).
    void Kill();
    // Lets the process run on after this object is gone.
    void Detach();

    // PNG of the frame with its caption and border, as it paints itself
    // (WindowPicture), whatever lies over it on screen.
    void Screenshot(const std::wstring &path);

    // Waits until the thread of `window` (the frame when 0) has dealt with
    // everything posted to it so far, and with what that posted in turn:
    // for checks that something did not happen.  Fails when the window goes
    // away meanwhile.
    void Settle(HWND window = nullptr);

    // What is on screen now, for failure messages.
    std::string Describe() const;

private:
    std::wstring ControlName(int id) const;
    void Fail(const std::string &what) const;
    void TimeoutFail(const std::string &waitedFor) const;

    DWORD timeout_;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    std::wstring exe_;
};

// Classifies the icon of a message box from the picture its icon control
// paints of itself.
Icon ClassifyMessageBoxIcon(HWND box);

}  // namespace robot
