// setup_faults_test.cpp -- the whole setup program with the k-th heap
// allocation failing, for every k of a run: start-up, the pages, the
// installation of two tiny components and the clean-up.
//
// The test program carries the real shell, pages and installation.  The
// test writes a copy of this very executable with a package behind it into
// the device root and starts it with "--heap-sweep": that child calls the
// program's own wWinMain once per k, in process, with a thread timer that
// presses OK on every page and records and closes every message box.  Only
// the installer is stood in for (the hand-off's StartProcess): it keeps the
// CAB it was handed, so the sweep stays fast and deterministic; the real
// stand-in installer is driven end to end in setup_test.cpp.  The child
// writes one line per run; a crash or a hang ends the child, and the test
// starts a new one after the run that did not finish.
#include "shell.h"
#include "install.h"
#include "handoff_io.h"
#include "testpackages.h"
#include "cabwrite.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

using namespace testsupport;

namespace {

using installtest::Bytes;

// ---------------------------------------------------------------- files --

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// ------------------------------------------------------------ the package --

// Welcome, components, destination (the user's folder applies) and ready.
const uint8_t SweepPages = 1 | 4 | 16 | 32;

std::vector<velkor::ComponentRecipe> SweepComponents()
{
    return {
        {u"Readme", installtest::MakeCab({{"readme.txt", {'h', 'i', '\r', '\n'}}}), true, true},
        {u"Files", installtest::MakeCab({{"a.txt", Bytes(300, 'a')}, {"b.txt", {'b'}}}), false, true},
    };
}

velkor::PackageRecipe SweepRecipe()
{
    velkor::PackageRecipe recipe = installtest::ToolPackage(0, u"\\Program Files\\%SoftwareName%");
    recipe.pageFlags = SweepPages;
    recipe.variables.push_back({u"%Product%", u"Tool 1.0"});
    recipe.components = SweepComponents();
    return recipe;
}

const wchar_t AskDestKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";

// "fAskDest" as data bytes, or "missing".
std::string AskDestNow()
{
    BYTE data[64];
    DWORD size = sizeof data, type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, AskDestKey, L"fAskDest", RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return "missing";
    std::string out = std::to_string(type) + ":";
    for (DWORD i = 0; i < size; ++i)
        out += std::to_string(data[i]) + ".";
    return out;
}

// ================================================================ child ==

// Kinds of message box, as the child writes them.
std::string KindOf(const std::wstring &text, const std::wstring &caption)
{
    static const std::vector<std::pair<std::string, std::wstring>> known = {
        {"oom", L"Out of memory. Velkor cannot continue, please try to install it later."},
        {"cannot-open", L"Velkor cannot open the source setup file. Please download this setup package again."},
        {"not-a-package", L"Invalid Velkor setup package. Please download this setup package again."},
    };
    for (const auto &k : known)
        if (text == k.second)
            return caption == L"Velkor" ? k.first : k.first + "-wrong-caption";
    if (caption != L"Tool Setup")
        return "other:" + Printable(text);
    std::vector<std::u16string> texts = velkor::DefaultTexts();
    static const std::map<int, std::string> names = {
        {TextNoComponentSelected, "no-component"}, {TextNotEnoughSpace, "no-space"},
        {TextInstallIncomplete, "incomplete"},     {TextCannotInstall, "cannot-create"},
        {TextPackageCorrupted, "corrupt"},         {TextInstallerFailed, "installer-failed"},
        {TextConfirmCancel, "confirm-cancel"},     {TextDestinationTitle, "destination-blank"},
    };
    for (const auto &n : names)
        if (std::u16string(text.begin(), text.end()) == texts[n.first])
            return n.second;
    return "other:" + Printable(text);
}

const int PageIds[] = {IDD_WELCOME, IDD_AGREEMENT, IDD_COMPONENTS, IDD_LOCATION, IDD_DESTINATION, IDD_READY};

struct Driver {
    std::vector<std::string> boxes;      // kinds, in order
    HWND openBox = nullptr;
    HWND pressed = nullptr;              // the page whose OK was pressed last
    bool boxSincePress = false;
    int presses = 0;
    bool stuck = false;
    DWORD started = 0;
    bool busy = false;
} driver;

// What the stood-in installer was handed, and where the hand-off's platform
// calls fell in the count of allocations.
struct Recorder {
    std::vector<Bytes> cabs;             // one per installer start
    std::vector<std::string> askDestAtStart;
    bool recordEvents = false;
    std::vector<std::pair<char, unsigned long>> events;   // 'R'ead, 'W'rite
} recorder;

const DWORD RunLimitMs = 30000;

HWND FindMessageBox()
{
    struct Search {
        HWND found = nullptr;
    } search;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[16] = L"";
            GetClassNameW(w, cls, 16);
            HWND text = GetDlgItem(w, 0xFFFF);
            if (IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0 && text) {
                reinterpret_cast<Search *>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        },
        LPARAM(&search));
    return search.found;
}

void PressButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

// Runs in every loop of the thread: the program's own, the drains of the
// hand-off and the message boxes' modal loops.
void CALLBACK Drive(HWND, UINT, UINT_PTR, DWORD)
{
    if (driver.busy)
        return;
    driver.busy = true;
    if (GetTickCount() - driver.started > RunLimitMs) {
        fprintf(stderr, "a run did not end\n");
        ExitProcess(3);
    }
    if (HWND box = FindMessageBox()) {
        if (box != driver.openBox) {
            driver.openBox = box;
            wchar_t text[1024] = L"", caption[256] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            GetWindowTextW(box, caption, 256);
            driver.boxes.push_back(KindOf(text, caption));
            driver.boxSincePress = true;
            // A question is answered No: nothing here wants to cancel.
            PressButton(box, GetDlgItem(box, IDOK) ? IDOK : GetDlgItem(box, IDNO) ? IDNO : IDCANCEL);
        }
        driver.busy = false;
        return;
    }
    driver.openBox = nullptr;
    if (FrameWindow && IsWindow(FrameWindow) && IsWindowVisible(FrameWindow)) {
        for (HWND c = GetWindow(FrameWindow, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            int id = GetWindowLongW(c, GWL_ID);
            if (!IsWindowVisible(c) || std::find(std::begin(PageIds), std::end(PageIds), id) == std::end(PageIds))
                continue;
            if (c == driver.pressed && !driver.boxSincePress)
                break;
            if (++driver.presses > 40) {
                // A page that keeps coming back: end the run through the frame.
                driver.stuck = true;
                PostMessageW(FrameWindow, WM_CLOSE, 0, 0);
                break;
            }
            driver.pressed = c;
            driver.boxSincePress = false;
            PressButton(c, IDOK);
            break;
        }
    }
    driver.busy = false;
}

BOOL StandInStart(const WCHAR *application, WCHAR *commandLine, HANDLE *process)
{
    recorder.cabs.push_back(ReadBytes(TemporaryCabPath));
    recorder.askDestAtStart.push_back(AskDestNow());
    *process = nullptr;
    return TRUE;
}

void StandInWait(HANDLE) {}

BOOL CountedRead(HANDLE source, void *buffer, DWORD size, DWORD *delivered)
{
    if (recorder.recordEvents)
        recorder.events.push_back({'R', VHeapAllocations()});
    return Win32InstallOs.Read(source, buffer, size, delivered);
}

BOOL CountedWrite(HANDLE file, const void *data, DWORD size, DWORD *written)
{
    if (recorder.recordEvents)
        recorder.events.push_back({'W', VHeapAllocations()});
    return Win32InstallOs.Write(file, data, size, written);
}

void EmptyQueue()
{
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (m.message != WM_QUIT)
            DispatchMessageW(&m);
}

// One whole run with the k-th allocation failing (0: none fails).  Writes
// its line: k, allocations, leaked blocks, CAB left, fAskDest changed,
// stuck, installer starts (1 right CAB, 0 wrong), boxes.
std::string RunOnce(unsigned long k, const std::vector<Bytes> &expectedCabs)
{
    driver = Driver();
    recorder.cabs.clear();
    recorder.askDestAtStart.clear();
    recorder.events.clear();
    recorder.recordEvents = k == 0;
    FrameWindow = nullptr;
    ProgressPage = nullptr;
    ProgressBar = nullptr;
    std::string askDestBefore = AskDestNow();
    EmptyQueue();

    long blocksBefore = VHeapLiveBlocks();
    driver.started = GetTickCount();
    UINT_PTR timer = SetTimer(nullptr, 0, 10, Drive);
    VHeapFailAt(k);
    wWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(L""), SW_SHOW);
    unsigned long allocations = VHeapAllocations();
    VHeapFailAt(0);
    KillTimer(nullptr, timer);

    // Start-up leaves the package to the end of the process after a failed
    // load; the model must then hold every block that is still live.
    if (!FrameWindow)
        ReleasePackage();
    memset(&Package, 0, sizeof Package);
    if (FrameWindow && IsWindow(FrameWindow))
        DestroyWindow(FrameWindow);
    FrameWindow = nullptr;
    EmptyQueue();

    std::ostringstream line;
    line << k << '\t' << allocations << '\t' << (VHeapLiveBlocks() - blocksBefore) << '\t'
         << Exists(TemporaryCabPath) << '\t' << (AskDestNow() != askDestBefore) << '\t' << driver.stuck << '\t';
    // '1': the CAB packed for that component, and for the first one (the
    // user's folder applies) "fAskDest" at 0 while the installer runs.
    for (size_t i = 0; i < recorder.cabs.size(); ++i) {
        bool right = i < expectedCabs.size() && recorder.cabs[i] == expectedCabs[i];
        bool askDest = i != 0 || recorder.askDestAtStart[i] == "4:0.0.0.0.";
        line << (!right ? '0' : !askDest ? 'a' : '1');
    }
    line << '\t';
    for (size_t i = 0; i < driver.boxes.size(); ++i)
        line << (i ? "," : "") << driver.boxes[i];
    DeleteFileW(TemporaryCabPath);
    return line.str();
}

// The child: runs k = from .. (total allocations + 1); before that, a run in
// which nothing fails gives the total and where the hand-off's calls fell.
int HeapSweepChild(unsigned long from, const std::wstring &resultPath)
{
    FILE *out = _wfopen(resultPath.c_str(), L"ab");
    if (!out)
        return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    InstallOs = Win32InstallOs;
    InstallOs.StartProcess = StandInStart;
    InstallOs.WaitProcess = StandInWait;
    InstallOs.Read = CountedRead;
    InstallOs.Write = CountedWrite;
    std::vector<Bytes> cabs;
    for (const auto &c : SweepComponents())
        cabs.push_back(c.cab);

    std::string baseline = RunOnce(0, cabs);
    unsigned long total = std::stoul(baseline.substr(baseline.find('\t') + 1));
    if (from == 1) {
        fprintf(out, "baseline\t%s\n", baseline.c_str());
        fprintf(out, "events");
        for (const auto &e : recorder.events)
            fprintf(out, "\t%c%lu", e.first, e.second);
        fprintf(out, "\n");
        // A second clean run must count the same: the sweep relies on it.
        fprintf(out, "again\t%s\n", RunOnce(0, cabs).c_str());
        fflush(out);
    }
    for (unsigned long k = from; k <= total + 1; ++k) {
        fprintf(out, "begin\t%lu\n", k);
        fflush(out);
        fprintf(out, "run\t%s\n", RunOnce(k, cabs).c_str());
        fflush(out);
    }
    fprintf(out, "end\n");
    fclose(out);
    return 0;
}

// ================================================================ parent ==

struct RunRecord {
    unsigned long k = 0;
    unsigned long allocations = 0;
    long leaked = 0;
    bool cabLeft = false;
    bool askDestChanged = false;
    bool stuck = false;
    std::string installs;
    std::vector<std::string> boxes;
    std::string failure;     // "crashed" or "hung" when the run did not finish
};

RunRecord ParseRun(const std::string &fields)
{
    RunRecord r;
    std::istringstream in(fields);
    std::string f;
    std::vector<std::string> parts;
    while (std::getline(in, f, '\t'))
        parts.push_back(f);
    parts.resize(8);
    r.k = std::stoul(parts[0]);
    r.allocations = std::stoul(parts[1]);
    r.leaked = std::stol(parts[2]);
    r.cabLeft = parts[3] == "1";
    r.askDestChanged = parts[4] == "1";
    r.stuck = parts[5] == "1";
    r.installs = parts[6];
    std::istringstream boxes(parts[7]);
    while (std::getline(boxes, f, ','))
        r.boxes.push_back(f);
    return r;
}

std::string Describe(const RunRecord &r)
{
    std::string boxes;
    for (const auto &b : r.boxes)
        boxes += (boxes.empty() ? "" : ", ") + b;
    return "k=" + std::to_string(r.k) + " installs=\"" + r.installs + "\" boxes=[" + boxes + "]";
}

struct Sweep {
    RunRecord baseline, again;
    std::vector<std::pair<char, unsigned long>> events;
    std::map<unsigned long, RunRecord> runs;
    int children = 0;
    double seconds = 0;
};

Sweep RunSweep(const std::wstring &exe)
{
    Sweep sweep;
    std::wstring results = DeviceRoot() + L"heapsweep.txt";
    DeleteFileW(results.c_str());
    DWORD start = GetTickCount();
    unsigned long from = 1;
    for (;;) {
        std::wstring commandLine = L"\"" + exe + L"\" --heap-sweep " + std::to_wstring(from) + L" \"" + results + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &info)) {
            ADD_FAILURE() << "cannot start the sweep child";
            return sweep;
        }
        ++sweep.children;
        CloseHandle(info.hThread);
        bool hung = WaitForSingleObject(info.hProcess, 300000) != WAIT_OBJECT_0;
        if (hung)
            TerminateProcess(info.hProcess, 4);
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);

        Bytes raw = ReadBytes(results);
        std::istringstream in(std::string(raw.begin(), raw.end()));
        std::string line;
        unsigned long begun = 0;
        bool ended = false;
        while (std::getline(in, line)) {
            std::string tag = line.substr(0, line.find('\t'));
            std::string rest = line.size() > tag.size() ? line.substr(tag.size() + 1) : "";
            if (tag == "baseline")
                sweep.baseline = ParseRun(rest);
            else if (tag == "again")
                sweep.again = ParseRun(rest);
            else if (tag == "events") {
                sweep.events.clear();
                std::istringstream e(rest);
                std::string item;
                while (std::getline(e, item, '\t'))
                    sweep.events.push_back({item[0], std::stoul(item.substr(1))});
            } else if (tag == "begin") {
                begun = std::stoul(rest);
            } else if (tag == "run") {
                RunRecord r = ParseRun(rest);
                sweep.runs[r.k] = r;
            } else if (tag == "end") {
                ended = true;
            }
        }
        if (ended || sweep.baseline.allocations == 0 || sweep.children > 50)
            break;
        if (!sweep.runs.count(begun)) {
            RunRecord r;
            r.k = begun;
            r.failure = hung ? "hung" : "ended with code " + std::to_string(code);
            sweep.runs[begun] = r;
        }
        // The next child appends after what this one wrote.
        from = begun + 1;
    }
    sweep.seconds = (GetTickCount() - start) / 1000.0;
    return sweep;
}

// Whether allocation k belongs to the decoder, from where the hand-off's
// reads and writes fell in the clean run: one between reading a chunk and
// writing it does.
bool InDecoder(unsigned long k, const std::vector<std::pair<char, unsigned long>> &events)
{
    const std::pair<char, unsigned long> *before = nullptr, *after = nullptr;
    for (const auto &e : events) {
        if (e.second < k)
            before = &e;
        else if (!after)
            after = &e;
    }
    return before && after && before->first == 'R' && after->first == 'W';
}

struct HeapFaults : ::testing::Test {};

TEST_F(HeapFaults, EveryAllocationOfAWholeRunFailsCleanly)
{
    // This executable with the package behind it, as the builder makes setup.exe.
    Bytes image = ReadBytes(OwnPath());
    ASSERT_FALSE(image.empty());
    velkor::PackageRecipe recipe = SweepRecipe();
    installtest::PackageFile file = installtest::Assemble(
        recipe, {velkor::BuildPayload(recipe.components[0].cab, 1), velkor::BuildPayload(recipe.components[1].cab, 1)},
        {uint32_t(recipe.components[0].cab.size()), uint32_t(recipe.components[1].cab.size())}, image);
    std::wstring exe = DeviceRoot() + L"faultsetup.exe";
    ASSERT_TRUE(WriteBytes(exe, file.bytes));
    DeleteFileW(TemporaryCabPath);

    Sweep sweep = RunSweep(exe);
    const RunRecord &clean = sweep.baseline;
    ASSERT_GT(clean.allocations, 0u) << "the clean run did not finish";
    printf("[ sweep    ] %lu allocations in a whole run; %zu runs in %.1f s with %d child process(es)\n",
           clean.allocations, sweep.runs.size(), sweep.seconds, sweep.children);

    // The clean run installs both components and says nothing.
    EXPECT_EQ(clean.installs, "11") << Describe(clean);
    EXPECT_TRUE(clean.boxes.empty()) << Describe(clean);
    EXPECT_EQ(clean.leaked, 0);
    EXPECT_EQ(sweep.again.allocations, clean.allocations) << "two clean runs count differently";

    ASSERT_EQ(sweep.runs.size(), clean.allocations + 1) << "not every k was run";
    std::map<std::string, int> tally;
    for (const auto &[k, run] : sweep.runs) {
        SCOPED_TRACE(Describe(run));
        EXPECT_EQ(run.failure, "");
        if (!run.failure.empty())
            continue;
        EXPECT_EQ(run.leaked, 0) << "blocks leaked";
        EXPECT_FALSE(run.cabLeft) << "\\kCABFILE.cab was left behind";
        EXPECT_FALSE(run.askDestChanged) << "fAskDest was not put back";
        EXPECT_FALSE(run.stuck) << "the wizard kept showing a page";
        EXPECT_EQ(run.installs.find_first_not_of('1'), std::string::npos)
            << "the installer was handed a CAB other than the one packed";
        if (k > clean.allocations) {
            EXPECT_EQ(run.installs, "11");
            EXPECT_TRUE(run.boxes.empty());
            continue;
        }
        ASSERT_EQ(run.boxes.size(), 1u) << "one message for the failure";
        const std::string &box = run.boxes[0];
        ++tally[box];
        // The space check needs no memory, so running out is never called
        // a full device.
        if (InDecoder(k, sweep.events)) {
            // The decoder reports every failure as damage.
            EXPECT_EQ(box, "corrupt");
            EXPECT_LT(run.installs.size(), 2u);
        } else {
            EXPECT_EQ(box, "oom");
            EXPECT_LT(run.installs.size(), 2u) << "a run that ran out of memory installed everything";
        }
    }
    for (const auto &[box, count] : tally)
        printf("[ sweep    ] %4d runs ended with \"%s\"\n", count, box.c_str());
    DeleteFileW(exe.c_str());
}

// The HTML colour of start-up: a number sign, then red, green and blue as
// two lower-case hexadecimal digits each, terminated, and nothing written
// past the eight code units.
TEST(HtmlColor, SixLowerCaseDigitsAndATerminator)
{
    struct {
        COLORREF color;
        const WCHAR *text;
    } cases[] = {
        {RGB(0, 0, 0), L"#000000"},       {RGB(255, 255, 255), L"#ffffff"}, {RGB(0x12, 0xAB, 0xCD), L"#12abcd"},
        {RGB(1, 0x10, 0xF0), L"#0110f0"}, {RGB(0x0F, 0xF0, 0x09), L"#0ff009"},
    };
    for (const auto &c : cases) {
        WCHAR text[10];
        for (WCHAR &unit : text)
            unit = 0xBEEF;
        FormatHtmlColor(text, c.color | 0xFF000000u);   // the top byte is not a colour
        EXPECT_EQ(std::wstring(text), std::wstring(c.text));
        EXPECT_EQ(text[8], 0xBEEF);
        EXPECT_EQ(text[9], 0xBEEF);
    }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"--heap-sweep")
        return HeapSweepChild(std::wcstoul(argv[2], nullptr, 10), argv[3]);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
