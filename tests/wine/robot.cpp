// robot.cpp -- the robot: finds the setup program's windows by process, reads
// them with time-limited messages and presses their controls with posted
// input.  Tree-view records live in the setup process, so tree operations go
// through a buffer allocated there.
#include "robot.h"
#include "pagetable.h"
#include "lens.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <sstream>

namespace robot {

namespace {

const DWORD PollMs = 15;
const DWORD AnswerMs = 5000;     // how long a window may take to answer a message

const int MessageTextId = 0xFFFF;

}  // namespace

// ------------------------------------------------------------ helpers --

DWORD Limit(DWORD ms)
{
    static double factor = [] {
        const char *s = std::getenv("VELKOR_SLOWDOWN");
        double f = s ? std::atof(s) : 1.0;
        return f > 0 ? f : 1.0;
    }();
    return DWORD(ms * factor);
}

std::wstring Env(const wchar_t *name)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return {};
    std::wstring v(n, L'\0');
    n = GetEnvironmentVariableW(name, v.data(), n);
    v.resize(n);
    return v;
}

static std::wstring WithBackslash(std::wstring s)
{
    if (!s.empty() && s.back() != L'\\')
        s += L'\\';
    return s;
}

std::wstring BinDir()
{
    std::wstring r = Env(L"VELKOR_BIN");
    if (r.empty()) {
        // Next to this program, when started by hand.
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        r.assign(path, n);
        r.resize(r.find_last_of(L'\\') + 1);
    }
    return WithBackslash(r);
}

std::wstring FixturesDir()
{
    std::wstring r = Env(L"VELKOR_FIXTURES");
    if (r.empty())
        throw Failure("VELKOR_FIXTURES is not set: run this program through bench.sh run");
    return WithBackslash(r);
}

std::wstring LinkLog() { return Env(L"VELKOR_LINK_LOG"); }
std::string ReadLinkLog() { return testsupport::ReadText(LinkLog()); }

bool LinkCatcherRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        throw Failure("cannot list the processes (error " + std::to_string(GetLastError()) + ")");
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, L"linkcatcher.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

int PageIdOfFlag(int flag) { return PageTemplateOf(flag); }

int FlagOfPageId(int id)
{
    for (int flag = PageWelcome; flag <= PageReady; flag <<= 1)
        if (PageIdOfFlag(flag) == id)
            return flag;
    return 0;
}

std::string PageName(int id)
{
    if (id == 0)
        return "none";
    if (id == -1)
        return "the end of the process";
    const char *name = id == IDD_PROGRESS ? "progress" : nullptr;
    for (const PageTemplate &p : PageTemplates)
        if (p.Template == id)
            name = p.Name;
    std::ostringstream s;
    if (name)
        s << name << " (" << id << ")";
    else
        s << "page " << id;
    return s.str();
}

const char *IconName(Icon icon)
{
    switch (icon) {
    case Icon::None: return "none";
    case Icon::Error: return "error";
    case Icon::Information: return "information";
    case Icon::Question: return "question";
    case Icon::Warning: return "warning";
    case Icon::Unknown: break;
    }
    return "unknown";
}

std::optional<Icon> IconFromName(const std::string &name)
{
    for (Icon i : {Icon::None, Icon::Error, Icon::Information, Icon::Question, Icon::Warning})
        if (name == IconName(i))
            return i;
    if (name == "hand")
        return Icon::Error;
    if (name == "asterisk")
        return Icon::Information;
    return std::nullopt;
}

static std::wstring ClassOf(HWND w)
{
    wchar_t name[64];
    int n = GetClassNameW(w, name, 64);
    return std::wstring(name, n > 0 ? size_t(n) : 0);
}

static bool SendWithLimit(HWND w, UINT message, WPARAM wp, LPARAM lp, LRESULT *result)
{
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(w, message, wp, lp, SMTO_NORMAL, Limit(AnswerMs), &r))
        return false;
    if (result)
        *result = LRESULT(r);
    return true;
}

static std::wstring GetTextOf(HWND w, bool *answered)
{
    LRESULT length = 0;
    *answered = SendWithLimit(w, WM_GETTEXTLENGTH, 0, 0, &length);
    if (!*answered || length <= 0)
        return {};
    std::wstring text(size_t(length) + 1, L'\0');
    LRESULT got = 0;
    *answered = SendWithLimit(w, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()), &got);
    if (!*answered)
        return {};
    text.resize(size_t(std::max<LRESULT>(0, std::min<LRESULT>(got, length))));
    return text;
}

// Top-level windows of a process.
static std::vector<HWND> TopWindows(DWORD pid)
{
    struct Walk {
        DWORD pid;
        std::vector<HWND> found;
    } walk{pid, {}};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto *walk = reinterpret_cast<Walk *>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == walk->pid)
                walk->found.push_back(w);
            return TRUE;
        },
        LPARAM(&walk));
    return walk.found;
}

static std::vector<HWND> DirectChildren(HWND parent)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        out.push_back(c);
    return out;
}

static bool IsMessageBoxWindow(HWND w)
{
    if (ClassOf(w) != L"#32770")
        return false;
    HWND text = GetDlgItem(w, MessageTextId);
    return text && ClassOf(text) == L"Static";
}

// A visible message box of the process, found without reading it.
static HWND MessageBoxOf(DWORD pid)
{
    for (HWND w : TopWindows(pid))
        if (IsWindowVisible(w) && IsMessageBoxWindow(w))
            return w;
    return nullptr;
}

// ----------------------------------------------------------- pictures --

// What `paint` draws into a 24-bit bitmap of this size (given its memory
// device context), as BGR rows top-down.
template <class Paint>
static std::vector<BYTE> PaintedPixels(int width, int height, Paint paint)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<BYTE> out;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        paint(memory);
        GdiFlush();
        size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
        out.resize(size_t(width) * 3 * size_t(height));
        for (int y = 0; y < height; ++y)
            memcpy(&out[size_t(y) * size_t(width) * 3], static_cast<BYTE *>(bits) + size_t(y) * stride,
                   size_t(width) * 3);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

COLORREF Picture::At(int x, int y) const
{
    const BYTE *p = &bgr[(size_t(y) * size_t(width) + size_t(x)) * 3];
    return RGB(p[2], p[1], p[0]);
}

// Where robotlens.dll is: beside the program that runs the robot (every
// Windows program of the build and of an installation lies in one folder).
static HMODULE Lens()
{
    static HMODULE module = [] {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n < MAX_PATH ? n : 0);
        dll.resize(dll.find_last_of(L'\\') + 1);
        dll += L"robotlens.dll";
        HMODULE m = LoadLibraryW(dll.c_str());
        if (!m)
            throw Failure("cannot load " + Narrow(dll) + " (error " + std::to_string(GetLastError()) + ")");
        return m;
    }();
    return module;
}

Picture WindowPicture(HWND window, bool whole, DWORD timeoutMs)
{
    static std::atomic<unsigned long> requests{0};
    static const UINT message = RegisterWindowMessageW(lens::MessageName());
    HMODULE module = Lens();
    auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(module, lens::HookName())));
    if (!hook)
        throw Failure("robotlens.dll has no " + std::string(lens::HookName()));

    Picture picture;
    RECT r = {};
    if (!(whole ? GetWindowRect(window, &r) : GetClientRect(window, &r)))
        return picture;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return picture;
    size_t bytes = sizeof(lens::Header) + size_t(width) * size_t(height) * 4;
    unsigned long request = ++requests, self = GetCurrentProcessId();
    wchar_t name[64];
    lens::MappingName(name, 64, self, request);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(bytes), name);
    if (!mapping)
        throw Failure("cannot share memory for a picture (error " + std::to_string(GetLastError()) + ")");
    auto *header = static_cast<lens::Header *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!header) {
        CloseHandle(mapping);
        throw Failure("cannot map the memory for a picture");
    }
    *header = {lens::Magic, width, height, whole ? 1u : 0u, 0, {}};
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK hooked = thread ? SetWindowsHookExW(WH_CALLWNDPROC, hook, module, thread) : nullptr;
    if (hooked) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, message, WPARAM(request), LPARAM(self), SMTO_NORMAL, Limit(timeoutMs), &ignored);
        UnhookWindowsHookEx(hooked);
    }
    if (header->done == 1) {
        picture.width = width;
        picture.height = height;
        picture.bgr.resize(size_t(width) * size_t(height) * 3);
        const BYTE *from = reinterpret_cast<const BYTE *>(header + 1);
        for (size_t i = 0, n = size_t(width) * size_t(height); i < n; ++i)
            memcpy(&picture.bgr[i * 3], from + i * 4, 3);
    }
    UnmapViewOfFile(header);
    CloseHandle(mapping);
    return picture;
}

// An icon drawn as the static control draws it, on a given background.
static std::vector<BYTE> RenderIcon(HICON icon, int width, int height, COLORREF background)
{
    return PaintedPixels(width, height, [&](HDC memory) {
        RECT all = {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    });
}

// The system icon that `seen` (the icon control's pixels) shows, or Unknown
// when none matches well (another picture).
static Icon MatchIcon(const std::vector<BYTE> &seen, int width, int height)
{
    COLORREF background = RGB(seen[2], seen[1], seen[0]);
    struct Candidate {
        Icon kind;
        LPCWSTR id;
    } candidates[] = {{Icon::Error, IDI_HAND},
                      {Icon::Information, IDI_ASTERISK},
                      {Icon::Question, IDI_QUESTION},
                      {Icon::Warning, IDI_EXCLAMATION}};
    double best = 1e300, second = 1e300;
    Icon bestKind = Icon::Unknown;
    for (const Candidate &c : candidates) {
        std::vector<BYTE> reference = RenderIcon(LoadIconW(nullptr, c.id), width, height, background);
        if (reference.size() != seen.size())
            continue;
        double distance = 0;
        for (size_t i = 0; i < seen.size(); ++i)
            distance += std::abs(int(seen[i]) - int(reference[i]));
        distance /= double(seen.size());
        if (distance < best) {
            second = best;
            best = distance;
            bestKind = c.kind;
        } else if (distance < second) {
            second = distance;
        }
    }
    if (best > 8.0 || best * 3 > second)
        return Icon::Unknown;
    return bestKind;
}

Icon ClassifyMessageBoxIcon(HWND box)
{
    HWND icon = nullptr;
    for (HWND c : DirectChildren(box)) {
        if (ClassOf(c) == L"Static" && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            icon = c;
            break;
        }
    }
    if (!icon || !IsWindowVisible(icon))
        return Icon::None;
    LRESULT handle = 0;
    if (!SendWithLimit(icon, STM_GETICON, 0, 0, &handle))
        return Icon::Unknown;
    if (handle == 0)
        return Icon::None;

    // The icon handle belongs to the other process, so compare pictures: the
    // control as it paints itself against each system icon drawn the same
    // way here.
    RECT client;
    GetClientRect(icon, &client);
    Picture seen = WindowPicture(icon, false, AnswerMs);
    if (seen.Empty() || seen.width != client.right || seen.height != client.bottom)
        return Icon::Unknown;
    return MatchIcon(seen.bgr, seen.width, seen.height);
}

bool WritePng(const std::wstring &path, int width, int height, const std::vector<BYTE> &bgr);

// ------------------------------------------------------------- queues --

void WaitTaken(HWND window, UINT message, WPARAM wParam, const std::function<void()> &put, DWORD timeoutMs,
               const std::string &what)
{
    static std::atomic<unsigned long> requests{0};
    static const UINT arm = RegisterWindowMessageW(lens::ArmMessageName());
    HMODULE module = Lens();
    auto lensHook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(module, lens::HookName())));
    auto watchHook =
        reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(module, lens::WatchHookName())));
    if (!lensHook || !watchHook)
        throw Failure("robotlens.dll lacks its hooks");

    // The top bit keeps the names of watches apart from those of pictures.
    unsigned long request = 0x80000000ul | ++requests, self = GetCurrentProcessId();
    wchar_t name[64];
    lens::MappingName(name, 64, self, request);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(lens::Watch), name);
    if (!mapping)
        throw Failure("cannot share memory for a watch (error " + std::to_string(GetLastError()) + ")");
    auto *watch = static_cast<lens::Watch *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!watch) {
        CloseHandle(mapping);
        throw Failure("cannot map the memory for a watch");
    }
    *watch = {lens::Magic, message, uint64_t(wParam), 0, {}};
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK hooks[2] = {thread ? SetWindowsHookExW(WH_CALLWNDPROC, lensHook, module, thread) : nullptr,
                      thread ? SetWindowsHookExW(WH_GETMESSAGE, watchHook, module, thread) : nullptr};
    struct Cleanup {
        HHOOK *hooks;
        lens::Watch *watch;
        HANDLE mapping;
        ~Cleanup()
        {
            for (int i = 0; i < 2; ++i)
                if (hooks[i])
                    UnhookWindowsHookEx(hooks[i]);
            UnmapViewOfFile(watch);
            CloseHandle(mapping);
        }
    } cleanup{hooks, watch, mapping};
    if (!hooks[0] || !hooks[1])
        throw Failure("cannot watch the thread of the window for " + what + " (error " +
                      std::to_string(GetLastError()) + ")");
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, arm, WPARAM(request), LPARAM(self), SMTO_NORMAL, Limit(AnswerMs), &ignored))
        throw Failure(IsWindow(window) ? "the window did not answer while arming the watch for " + what
                                       : "the window went away before " + what);
    put();
    DWORD start = GetTickCount();
    while (watch->done != 1) {
        if (!IsWindow(window))
            throw Failure("the window went away while waiting for " + what);
        if (GetTickCount() - start > Limit(timeoutMs)) {
            std::ostringstream s;
            s << "timed out after " << Limit(timeoutMs) / 1000.0 << " s waiting for " << what;
            throw Timeout(s.str());
        }
        Sleep(PollMs);
    }
}

// ------------------------------------------------------ remote memory --

namespace {

// A buffer in the setup process, for messages whose records hold pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size)
    {
        address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_)
            throw Failure("cannot allocate memory in the setup process (error " +
                          std::to_string(GetLastError()) + ")");
    }
    ~RemoteBuffer() { VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer &) = delete;
    RemoteBuffer &operator=(const RemoteBuffer &) = delete;

    BYTE *At(size_t offset) const { return static_cast<BYTE *>(address_) + offset; }
    void Write(size_t offset, const void *data, size_t n)
    {
        SIZE_T done = 0;
        if (offset > size_ || n > size_ - offset || !WriteProcessMemory(process_, At(offset), data, n, &done) ||
            done != n)
            throw Failure("cannot write into the setup process");
    }
    void Read(size_t offset, void *data, size_t n) const
    {
        SIZE_T done = 0;
        if (offset > size_ || n > size_ - offset || !ReadProcessMemory(process_, At(offset), data, n, &done) ||
            done != n)
            throw Failure("cannot read from the setup process");
    }

private:
    HANDLE process_;
    size_t size_;
    void *address_;
};

const size_t TextCapacity = 520;   // code units of an item text we read
const size_t TextOffset = 256;     // where the text buffer starts in the remote block

}  // namespace

// ----------------------------------------------------------------- Wizard --

static HANDLE LaunchedJob()
{
    static HANDLE job = [] {
        HANDLE j = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (j)
            SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return j;
    }();
    return job;
}

Wizard::Wizard(DWORD timeoutMs) : timeout_(timeoutMs) {}

Wizard::~Wizard()
{
    if (process_) {
        if (Running())
            Kill();
        CloseHandle(process_);
    }
}

void Wizard::Launch(const std::wstring &exe, const std::wstring &arguments)
{
    if (process_)
        throw Failure("Launch: a process was launched already");
    std::wstring command = L"\"" + exe + L"\"";
    if (!arguments.empty())
        command += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    // Under load Wine now and then fails to start a process with
    // ERROR_INTERNAL_ERROR; a second attempt succeeds.
    DWORD error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                           &startup, &info)) {
            error = 0;
            break;
        }
        error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR)
            break;
        Sleep(200);
    }
    if (error)
        throw Failure("cannot start " + Narrow(exe) + " (error " + std::to_string(error) + ")");
    // When this program is killed (a test run out of time), the job takes
    // the programs it started with it.
    AssignProcessToJobObject(LaunchedJob(), info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    exe_ = exe;
}

bool Wizard::Running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void Wizard::Kill()
{
    if (!process_)
        return;
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, Limit(5000));
}

void Wizard::Detach()
{
    if (process_)
        CloseHandle(process_);
    process_ = nullptr;
}

HWND Wizard::Frame() const
{
    for (HWND w : TopWindows(pid_))
        if (ClassOf(w) == L"#32770" && !GetWindow(w, GW_OWNER) && !IsMessageBoxWindow(w))
            return w;
    return nullptr;
}

void Wizard::Fail(const std::string &what) const { throw Failure(what + "\n  on screen: " + Describe()); }

void Wizard::TimeoutFail(const std::string &waitedFor) const
{
    std::ostringstream s;
    s << "timed out after " << Limit(timeout_) / 1000.0 << " s waiting for " << waitedFor
      << "\n  on screen: " << Describe();
    throw robot::Timeout(s.str());
}

HWND Wizard::WaitFrame()
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND f = Frame();
        if (f && IsWindowVisible(f))
            return f;
        if (!Running())
            Fail("the process ended while waiting for the frame");
        if (MessageBoxOf(pid_))
            Fail("a message box showed while waiting for the frame");
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("the frame");
        Sleep(PollMs);
    }
}

int Wizard::PageId() const
{
    HWND page = PageWindow();
    return page ? GetDlgCtrlID(page) : 0;
}

HWND Wizard::PageWindow() const
{
    HWND frame = Frame();
    if (!frame || !IsWindowVisible(frame))
        return nullptr;
    for (HWND c : DirectChildren(frame))
        if (IsWindowVisible(c) && ClassOf(c) == L"#32770")
            return c;
    return nullptr;
}

HWND Wizard::WaitPage(int id)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND page = PageWindow();
        if (page && GetDlgCtrlID(page) == id)
            return page;
        if (!Running())
            Fail("the process ended while waiting for page " + PageName(id));
        if (MessageBoxOf(pid_))
            Fail("a message box showed while waiting for page " + PageName(id));
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("page " + PageName(id));
        Sleep(PollMs);
    }
}

int Wizard::WaitPageChange(int from)
{
    DWORD start = GetTickCount();
    for (;;) {
        int id = PageId();
        if (id != 0 && id != from)
            return id;
        if (!Running())
            return -1;
        if (MessageBoxOf(pid_))
            return 0;
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("a page other than " + PageName(from) + " or the end of the process");
        Sleep(PollMs);
    }
}

HWND Wizard::Control(int id, HWND page) const
{
    if (!page)
        page = PageWindow();
    if (!page)
        Fail("no page is on screen to find control " + std::to_string(id) + " on");
    HWND c = GetDlgItem(page, id);
    if (!c)
        Fail("page " + PageName(GetDlgCtrlID(page)) + " has no control " + std::to_string(id));
    return c;
}

std::wstring Wizard::WindowText(HWND window) const
{
    bool answered = false;
    std::wstring t = GetTextOf(window, &answered);
    if (!answered)
        Fail("window " + Narrow(ClassOf(window)) + " did not answer WM_GETTEXT");
    return t;
}

std::wstring Wizard::Text(int id, HWND page) const { return WindowText(Control(id, page)); }

bool Wizard::Enabled(int id, HWND page) const { return IsWindowEnabled(Control(id, page)) != FALSE; }

bool Wizard::Visible(int id, HWND page) const { return IsWindowVisible(Control(id, page)) != FALSE; }

bool Wizard::Checked(int id, HWND page) const
{
    LRESULT r = 0;
    if (!SendWithLimit(Control(id, page), BM_GETCHECK, 0, 0, &r))
        Fail("control " + std::to_string(id) + " did not answer BM_GETCHECK");
    return r == BST_CHECKED;
}

void Wizard::Click(int id)
{
    HWND page = PageWindow();
    HWND c = Control(id, page);
    // The button as the program leaves it once it is through what it was
    // doing: a page change shows the page first and sets the buttons after.
    SendWithLimit(c, WM_NULL, 0, 0, nullptr);
    if (!IsWindowVisible(c))
        Fail("cannot click control " + std::to_string(id) + ": it is hidden");
    if (!IsWindowEnabled(c))
        Fail("cannot click control " + std::to_string(id) + " (\"" + Narrow(WindowText(c)) + "\"): it is disabled");
    if (!PostMessageW(c, BM_CLICK, 0, 0))
        Fail("cannot post a click to control " + std::to_string(id));
}

void Wizard::ClickAt(int id, int x, int y)
{
    HWND c = Control(id);
    LPARAM at = MAKELPARAM(x, y);
    PostMessageW(c, WM_MOUSEMOVE, 0, at);
    PostMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(c, WM_LBUTTONUP, 0, at);
}

void Wizard::Type(int id, const std::wstring &text)
{
    HWND c = Control(id);
    SendWithLimit(c, WM_NULL, 0, 0, nullptr);   // as for Click
    if (!IsWindowEnabled(c) || !IsWindowVisible(c))
        Fail("cannot type into control " + std::to_string(id) + ": it is hidden or disabled");
    PostMessageW(c, EM_SETSEL, 0, -1);
    PostMessageW(c, WM_CHAR, VK_BACK, 0);
    for (wchar_t ch : text)
        PostMessageW(c, WM_CHAR, ch, 1);
    DWORD start = GetTickCount();
    while (WindowText(c) != text) {
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("control " + std::to_string(id) + " to hold the typed text \"" + Narrow(text) + "\"");
        Sleep(PollMs);
    }
}

// --------------------------------------------------------------- trees --

namespace {

// Reads a tree view of the setup process through a buffer allocated there.
class TreeAccess {
public:
    TreeAccess(HANDLE process, HWND tree, int id)
        : tree_(tree), id_(id), remote_(process, TextOffset + TextCapacity * sizeof(wchar_t))
    {
    }

    HTREEITEM Next(UINT how, HTREEITEM from)
    {
        LRESULT r = 0;
        if (!SendWithLimit(tree_, TVM_GETNEXTITEM, how, LPARAM(from), &r))
            throw Failure("tree " + std::to_string(id_) + " did not answer TVM_GETNEXTITEM");
        return HTREEITEM(r);
    }

    TreeItem Read(HTREEITEM item, int depth)
    {
        TVITEMW record = {};
        record.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        record.hItem = item;
        record.stateMask = TVIS_STATEIMAGEMASK | TVIS_SELECTED | TVIS_EXPANDED;
        record.pszText = reinterpret_cast<LPWSTR>(remote_.At(TextOffset));
        record.cchTextMax = int(TextCapacity);
        wchar_t zero = 0;
        remote_.Write(TextOffset, &zero, sizeof zero);
        remote_.Write(0, &record, sizeof record);
        LRESULT ok = 0;
        if (!SendWithLimit(tree_, TVM_GETITEMW, 0, LPARAM(remote_.At(0)), &ok) || !ok)
            throw Failure("tree " + std::to_string(id_) + " did not answer TVM_GETITEMW");
        remote_.Read(0, &record, sizeof record);
        std::vector<wchar_t> text(TextCapacity);
        remote_.Read(TextOffset, text.data(), text.size() * sizeof(wchar_t));
        text.back() = 0;
        TreeItem t;
        t.handle = item;
        t.text = text.data();
        t.depth = depth;
        t.stateImage = int((record.state & TVIS_STATEIMAGEMASK) >> 12);
        t.selected = (record.state & TVIS_SELECTED) != 0;
        t.expanded = (record.state & TVIS_EXPANDED) != 0;
        return t;
    }

    void Walk(HTREEITEM first, int depth, std::vector<TreeItem> &out)
    {
        for (HTREEITEM item = first; item; item = Next(TVGN_NEXT, item)) {
            out.push_back(Read(item, depth));
            Walk(Next(TVGN_CHILD, item), depth + 1, out);
        }
    }

    std::vector<TreeItem> All()
    {
        std::vector<TreeItem> out;
        Walk(Next(TVGN_ROOT, nullptr), 0, out);
        return out;
    }

    // The children of `parent` (the top level for 0).
    std::vector<TreeItem> Children(HTREEITEM parent, int depth)
    {
        std::vector<TreeItem> out;
        for (HTREEITEM item = parent ? Next(TVGN_CHILD, parent) : Next(TVGN_ROOT, nullptr); item;
             item = Next(TVGN_NEXT, item))
            out.push_back(Read(item, depth));
        return out;
    }

    // A client point at which a hit test of the item gives `wanted` (one of
    // the TVHT_ flags): the middle of the first such stretch of its row.
    bool FindPoint(HTREEITEM item, UINT wanted, POINT *at)
    {
        SendWithLimit(tree_, TVM_ENSUREVISIBLE, 0, LPARAM(item), nullptr);
        RECT rect = {};
        memcpy(&rect, &item, sizeof item);   // the message takes the item in the rectangle
        remote_.Write(0, &rect, sizeof rect);
        LRESULT ok = 0;
        if (!SendWithLimit(tree_, TVM_GETITEMRECT, FALSE, LPARAM(remote_.At(0)), &ok) || !ok)
            return false;
        remote_.Read(0, &rect, sizeof rect);
        int y = (rect.top + rect.bottom) / 2;
        int first = -1, last = -1;
        for (int x = rect.left; x < rect.right; ++x) {
            TVHITTESTINFO hit = {};
            hit.pt = {x, y};
            remote_.Write(0, &hit, sizeof hit);
            LRESULT found = 0;
            if (!SendWithLimit(tree_, TVM_HITTEST, 0, LPARAM(remote_.At(0)), &found))
                return false;
            remote_.Read(0, &hit, sizeof hit);
            if (HTREEITEM(found) == item && (hit.flags & wanted)) {
                if (first < 0)
                    first = x;
                last = x;
            } else if (first >= 0) {
                break;
            }
        }
        if (first < 0)
            return false;
        *at = {(first + last) / 2, y};
        return true;
    }

private:
    HWND tree_;
    int id_;
    RemoteBuffer remote_;
};

void PostMouseClick(HWND w, POINT at)
{
    LPARAM p = MAKELPARAM(at.x, at.y);
    PostMessageW(w, WM_MOUSEMOVE, 0, p);
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, p);
    PostMessageW(w, WM_LBUTTONUP, 0, p);
}

}  // namespace

std::vector<TreeItem> Wizard::TreeItems(int id)
{
    TreeAccess tree(process_, Control(id), id);
    return tree.All();
}

void Wizard::SetTreeCheck(int id, const std::wstring &itemText, bool ticked)
{
    HWND window = Control(id);
    TreeAccess tree(process_, window, id);
    auto find = [&]() -> TreeItem {
        for (const TreeItem &t : tree.All())
            if (t.text == itemText)
                return t;
        Fail("tree " + std::to_string(id) + " has no item \"" + Narrow(itemText) + "\"");
        return {};
    };
    TreeItem item = find();
    if ((item.stateImage == 2) == ticked)
        return;
    POINT at;
    if (!tree.FindPoint(item.handle, TVHT_ONITEMSTATEICON, &at))
        Fail("cannot find the check box of tree item \"" + Narrow(itemText) + "\"");
    PostMouseClick(window, at);
    DWORD start = GetTickCount();
    while ((find().stateImage == 2) != ticked) {
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail(std::string("the check box of \"") + Narrow(itemText) + "\" to become " +
                        (ticked ? "ticked" : "empty"));
        Sleep(PollMs);
    }
}

void Wizard::SelectTreeItem(int id, const std::wstring &path)
{
    HWND window = Control(id);
    TreeAccess tree(process_, window, id);
    // A leading backslash stands for the root item "\", as in a folder path.
    std::vector<std::wstring> parts;
    if (!path.empty() && path[0] == L'\\')
        parts.push_back(L"\\");
    std::wstringstream in(path);
    for (std::wstring part; std::getline(in, part, L'\\');)
        if (!part.empty())
            parts.push_back(part);
    if (parts.empty())
        Fail("SelectTreeItem: empty path");
    HTREEITEM parent = nullptr;
    for (size_t i = 0; i < parts.size(); ++i) {
        // Children of an item just opened may take a moment to be listed.
        TreeItem found;
        DWORD start = GetTickCount();
        while (!found.handle) {
            for (const TreeItem &t : tree.Children(parent, int(i)))
                if (_wcsicmp(t.text.c_str(), parts[i].c_str()) == 0)
                    found = t;
            if (found.handle)
                break;
            if (GetTickCount() - start > Limit(timeout_))
                TimeoutFail("tree item \"" + Narrow(parts[i]) + "\" of the path \"" + Narrow(path) + "\"");
            Sleep(PollMs);
        }
        bool last = i + 1 == parts.size();
        if (!last) {
            // Open the folders on the way with their buttons, as a user would.
            if (!found.expanded) {
                POINT at;
                if (!tree.FindPoint(found.handle, TVHT_ONITEMBUTTON, &at))
                    Fail("tree item \"" + Narrow(parts[i]) + "\" has no button to open it");
                PostMouseClick(window, at);
                start = GetTickCount();
                while (!tree.Read(found.handle, int(i)).expanded) {
                    if (GetTickCount() - start > Limit(timeout_))
                        TimeoutFail("tree item \"" + Narrow(parts[i]) + "\" to open");
                    Sleep(PollMs);
                }
            }
        } else {
            POINT at;
            if (!tree.FindPoint(found.handle, TVHT_ONITEMLABEL, &at))
                Fail("cannot find tree item \"" + Narrow(parts[i]) + "\" on screen");
            PostMouseClick(window, at);
            start = GetTickCount();
            while (!tree.Read(found.handle, int(i)).selected) {
                if (GetTickCount() - start > Limit(timeout_))
                    TimeoutFail("tree item \"" + Narrow(parts[i]) + "\" to be selected");
                Sleep(PollMs);
            }
        }
        parent = found.handle;
    }
}

// -------------------------------------------------------- message boxes --

bool Wizard::HasMessageBox() const { return MessageBoxOf(pid_) != nullptr; }

std::optional<MessageBoxInfo> Wizard::FindMessageBox() const
{
    if (HWND w = MessageBoxOf(pid_)) {
        MessageBoxInfo box;
        box.window = w;
        box.owner = GetWindow(w, GW_OWNER);
        bool answered = false;
        box.caption = GetTextOf(w, &answered);
        box.text = GetTextOf(GetDlgItem(w, MessageTextId), &answered);
        for (HWND c : DirectChildren(w))
            if (ClassOf(c) == L"Button" && IsWindowVisible(c))
                box.buttons.push_back(GetDlgCtrlID(c));
        box.icon = ClassifyMessageBoxIcon(w);
        return box;
    }
    return std::nullopt;
}

MessageBoxInfo Wizard::WaitMessageBox()
{
    DWORD start = GetTickCount();
    for (;;) {
        if (auto box = FindMessageBox())
            return *box;
        if (!Running())
            Fail("the process ended while waiting for a message box");
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("a message box");
        Sleep(PollMs);
    }
}

void Wizard::Answer(const MessageBoxInfo &box, int button)
{
    HWND b = GetDlgItem(box.window, button);
    if (!b || ClassOf(b) != L"Button")
        Fail("the message box \"" + Narrow(box.text) + "\" has no button " + std::to_string(button));
    PostMessageW(b, BM_CLICK, 0, 0);
    DWORD start = GetTickCount();
    while (IsWindow(box.window) && IsWindowVisible(box.window)) {
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("the message box \"" + Narrow(box.text) + "\" to close");
        Sleep(PollMs);
    }
}

DWORD Wizard::WaitExit()
{
    if (!process_)
        throw Failure("WaitExit: nothing was launched");
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(process_, PollMs) == WAIT_OBJECT_0)
            break;
        if (MessageBoxOf(pid_))
            Fail("a message box showed while waiting for the end of the process");
        if (GetTickCount() - start > Limit(timeout_))
            TimeoutFail("the end of the process");
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

// ------------------------------------------------------------ settling --

void Wizard::Settle(HWND window)
{
    if (!window)
        window = Frame();
    if (!window)
        Fail("no frame to wait for");
    static const UINT mark = RegisterWindowMessageW(lens::MarkMessageName());
    static std::atomic<unsigned long> marks{0};
    // Twice: what the messages before the first mark posted in turn lies
    // before the second.
    for (int round = 0; round < 2; ++round) {
        unsigned long m = ++marks;
        try {
            WaitTaken(
                window, mark, WPARAM(m), [&] { PostMessageW(window, mark, WPARAM(m), 0); }, timeout_,
                "the program to deal with what was posted to window " + Narrow(ClassOf(window)));
        } catch (const Timeout &) {
            TimeoutFail("the program to deal with what was posted to it");
        } catch (const Failure &e) {
            Fail(e.what());
        }
    }
}

// ---------------------------------------------------------- screenshots --

void Wizard::Screenshot(const std::wstring &path)
{
    HWND frame = Frame();
    if (!frame)
        Fail("no frame to take a picture of");
    Picture picture = WindowPicture(frame, true, AnswerMs);
    if (picture.Empty())
        Fail("the frame did not paint a picture of itself");
    if (!WritePng(path, picture.width, picture.height, picture.bgr))
        Fail("cannot write " + Narrow(path));
}

std::string Wizard::Describe() const
{
    std::ostringstream s;
    if (!process_)
        return "nothing launched";
    if (!Running()) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        s << "process ended with exit code " << code;
        return s.str();
    }
    HWND frame = Frame();
    if (!frame) {
        s << "no frame";
    } else {
        bool answered = false;
        std::wstring caption = GetTextOf(frame, &answered);
        s << "frame \"" << Narrow(caption) << "\"" << (IsWindowVisible(frame) ? "" : " (hidden)");
        std::vector<int> visible;
        for (HWND c : DirectChildren(frame))
            if (IsWindowVisible(c) && ClassOf(c) == L"#32770")
                visible.push_back(GetDlgCtrlID(c));
        if (visible.empty())
            s << ", no page on screen";
        for (int id : visible)
            s << ", page " << PageName(id) << " on screen";
    }
    for (HWND w : TopWindows(pid_)) {
        if (!IsWindowVisible(w) || !IsMessageBoxWindow(w))
            continue;
        bool answered = false;
        s << "; message box \"" << Narrow(GetTextOf(w, &answered)) << "\": \""
          << Narrow(GetTextOf(GetDlgItem(w, MessageTextId), &answered)) << "\"";
    }
    return s.str();
}

}  // namespace robot
