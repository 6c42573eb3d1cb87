// preview.cpp -- drives the Wine bench and the robot for `velkor preview`.
// The bench is started in a state folder of our own and stopped by a guard
// object, so every way out (failure, time limit, interrupt) stops it; all
// the pictures are made in that folder and copied out only when every one
// of them exists.
#include "preview.h"

#include "errors.h"
#include "files.h"
#include "manifest.h"
#include "pkgwrite.h"
#include "textfit.h"

#include "format.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace velkor {

namespace fs = std::filesystem;

namespace {

// Page templates and controls of the setup program (resources/resource.h).
struct PageIds {
    uint8_t flag;
    int templateId;
};
const PageIds Templates[] = {{PageWelcome, 102}, {PageAgreement, 129}, {PageComponents, 132},
                             {PageLocation, 130}, {PageDestination, 131}, {PageReady, 133}};
const int ButtonOk = 1;
const int AcceptChoice = 1005;
const int ChooseFolderChoice = 1009;
const int DestinationField = 1010;
const int ComponentTree = 1012;

// Seconds the robot waits for any one thing; Wine's first start is slow.
const int RobotStepSeconds = 60;
// Time the page gets to act on a click before its picture is taken.
const int SettleMs = 400;

int TemplateOf(uint8_t flag)
{
    for (const auto &t : Templates)
        if (t.flag == flag)
            return t.templateId;
    return 0;
}

std::string PageNameOf(uint8_t flag)
{
    for (size_t i = 0; i < PageNames().size(); ++i)
        if (flag == (1u << i))
            return PageNames()[i];
    return "page";
}

// A word of a robot script: quoted, with \ and " escaped.
std::string Word(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Windows path of a host path, through Wine's Z: drive.
std::string WinePath(const std::string &path)
{
    std::string p = fs::absolute(path).lexically_normal().string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return "Z:" + p;
}

bool IsFile(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDir(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A program on PATH, or "".
std::string FindProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= dirs.size()) {
        size_t end = dirs.find(':', at);
        std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0 && IsFile(candidate))
            return candidate;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

// The last lines of a log, joined, for a one-line message.
std::string Tail(const std::string &log, size_t lines = 3)
{
    std::ifstream f(log);
    std::vector<std::string> all;
    for (std::string line; std::getline(f, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos)
            all.push_back(line.substr(start));
    }
    std::string s;
    for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
        s += (s.empty() ? "" : " / ") + all[i];
    return s.empty() ? "no output" : s;
}

// Runs a program with stdin from /dev/null and stdout and stderr appended
// to `log`; every child gets `marker` in its environment, so that whatever
// the bench starts can be recognised.  Waits at most `seconds`, watching
// for a stop signal; on either the child gets SIGTERM (the bench's own
// trap then ends what it started), and SIGKILL if it does not end.
// (Stopping the bench is not interruptible: it is what an interrupt needs.)
// Returns the exit code; throws Failure(ExitInterrupted) after a signal and
// Failure(ExitPreviewFailed) after the time limit.
int RunLogged(const std::vector<std::string> &args, const std::string &log, const std::string &marker,
              unsigned seconds, bool interruptible = true)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so a last-resort kill reaches its children;
    // the default signal actions, whatever ours are.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "VELKOR_PREVIEW_STATE=", 21) != 0)
            env.push_back(*e);
    env.push_back("VELKOR_PREVIEW_STATE=" + marker);
    std::vector<char *> envp, argv;
    for (auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        throw Failure(ExitPreviewFailed, "cannot start " + args[0] + ": " + std::strerror(rc));

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    bool ended = false, stopped = false, late = false;
    while (!ended) {
        pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            ended = true;
            break;
        }
        if (got < 0 && errno != EINTR) {
            ended = true;
            status = 0x7F00;
            break;
        }
        if (interruptible) {
            try {
                ThrowIfStopped();
            } catch (const Failure &) {
                stopped = true;
            }
        }
        late = std::chrono::steady_clock::now() > deadline;
        if (stopped || late)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ended) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        if (stopped)
            ThrowIfStopped();
        throw Failure(ExitPreviewFailed, args[0] + " did not finish within " + std::to_string(seconds) + " seconds");
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// The bench in a state folder: started by Start, stopped by the destructor
// whatever happened in between (a failed start included, since it may have
// left an X server behind).  A temporary state folder is removed too.
class Bench {
public:
    Bench(const std::string &script, const std::string &state, bool temporary)
        : script_(script), state_(state), temporary_(temporary)
    {
        logs_ = state_ + "/preview-logs";
        MakeDirectory(logs_);
    }
    ~Bench()
    {
        if (started_) {
            try {
                RunLogged({"bash", script_, "stop", state_}, logs_ + "/stop.log", state_, 120, false);
            } catch (...) {
            }
        }
        if (temporary_) {
            std::error_code ec;
            fs::remove_all(state_, ec);   // symbolic links (the prefix's drives) are removed, not followed
        }
    }
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    void Start()
    {
        started_ = true;
        int rc = RunLogged({"bash", script_, "start", state_}, logs_ + "/start.log", state_, 900);
        if (rc != 0)
            throw Failure(ExitPreviewFailed, "the Wine bench did not start: " + Tail(logs_ + "/start.log"));
    }

    // Runs a Windows program in a device root of its own; returns its code.
    int Run(const std::string &winBin, const std::vector<std::string> &command, unsigned seconds)
    {
        std::vector<std::string> args{"bash", script_, "run", state_, "preview", winBin, "--"};
        args.insert(args.end(), command.begin(), command.end());
        return RunLogged(args, logs_ + "/run.log", state_, seconds);
    }

    std::string RunLog() const { return logs_ + "/run.log"; }

private:
    std::string script_, state_, logs_;
    bool temporary_;
    bool started_ = false;
};

// True when the bench of a state folder is running (its X server lives).
bool BenchInUse(const std::string &state)
{
    std::ifstream env(state + "/env");
    for (std::string line; std::getline(env, line);) {
        if (line.compare(0, 9, "XVFB_PID=") != 0)
            continue;
        long pid = std::atol(line.c_str() + 9);
        if (pid <= 0 || kill(pid_t(pid), 0) != 0)
            return false;
        std::ifstream cmd("/proc/" + std::to_string(pid) + "/cmdline");
        std::string name;
        std::getline(cmd, name, '\0');
        return name.find("Xvfb") != std::string::npos;
    }
    return false;
}

void CopyFile(const std::string &from, const std::string &to)
{
    MappedFile in(from, "picture");
    AtomicOutput out(to);
    out.Write(in.data(), size_t(in.size()));
    out.Commit();
}

}  // namespace

std::vector<uint8_t> PreviewPages(const PackageInfo &p)
{
    std::vector<uint8_t> pages;
    const unsigned flags = p.pageFlags, last = p.lastPage;
    if (!flags || !p.firstPage)
        return pages;
    bool useDefault = p.useDefaultLocation != 0;
    unsigned current = p.firstPage;
    pages.push_back(uint8_t(current));
    if (current == PageLocation)
        useDefault = false;   // the robot chooses a folder there
    while (current != last) {
        unsigned candidate = current;
        while (true) {
            if (candidate == last)
                return pages;   // Next here starts the installation
            candidate <<= 1;
            while (!(candidate & flags))
                candidate <<= 1;
            if (candidate == PageDestination && useDefault)
                continue;
            break;
        }
        current = candidate;
        pages.push_back(uint8_t(current));
        if (current == PageLocation)
            useDefault = false;
    }
    return pages;
}

std::string PreviewFileName(size_t n, uint8_t page)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02zu", n);
    return std::string(buf) + "-" + PageNameOf(page) + ".png";
}

std::string PreviewScript(const PackageInfo &p, const std::vector<uint8_t> &pages, const std::string &setupExe,
                          const std::string &shotsDir, const std::string &measureFile,
                          const std::vector<std::u16string> &texts)
{
    std::string s = "# velkor preview: every page of the package, with sample choices\n";
    s += "timeout " + std::to_string(RobotStepSeconds) + "\n";
    s += "launch " + Word(setupExe) + (p.requireInstallArgument ? " install" : "") + "\n";
    s += "wait-frame\n";
    bool anySelected = false;
    std::u16string firstByName;
    for (const auto &c : p.components) {
        anySelected = anySelected || c.selected;
        if (firstByName.empty() || c.name < firstByName)
            firstByName = c.name;
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        uint8_t page = pages[i];
        s += "wait-page " + std::to_string(TemplateOf(page)) + "\n";
        bool acted = true;
        switch (page) {
        case PageAgreement:
            s += "click " + std::to_string(AcceptChoice) + "\n";
            break;
        case PageComponents:
            // Keep the author's choice; with nothing selected, Next would
            // only complain, so the first component is ticked.
            if (!anySelected && !p.components.empty())
                s += "tick " + std::to_string(ComponentTree) + " " + Word(Utf16ToUtf8(firstByName)) + " 1\n";
            else
                acted = false;
            break;
        case PageLocation:
            s += "click " + std::to_string(ChooseFolderChoice) + "\n";
            break;
        case PageDestination:
            // A blank destination would keep the page with a message.
            if (p.destination.find_first_not_of(u" \t") == std::u16string::npos)
                s += "type " + std::to_string(DestinationField) + " " + Word("\\Program Files") + "\n";
            else
                acted = false;
            break;
        default:
            acted = false;
        }
        s += "sleep " + std::to_string(acted ? SettleMs : SettleMs / 2) + "\n";
        s += "screenshot " + Word(shotsDir + "\\" + PreviewFileName(i + 1, page)) + "\n";
        if (!measureFile.empty())
            s += MeasureSteps(page, p.pageFlags, texts, Word(setupExe), Word(measureFile));
        if (i + 1 < pages.size())
            s += "click " + std::to_string(ButtonOk) + "\n";
    }
    if (!measureFile.empty())
        s += MeasureSteps(0, p.pageFlags, texts, Word(setupExe), Word(measureFile));
    // The robot ends the setup program when the script ends.
    return s;
}

int RunPreview(const PreviewOptions &o)
{
    // Everything that can be checked without Wine is checked first.
    PackageInfo p;
    std::vector<std::u16string> texts;
    {
        MappedFile f(o.package, "package");
        p = ReadPackage(f.data(), f.size(), ReadDepth::Header);
        CheckWithProgramLoader(f.data(), f.size(), p);
        texts = LoadedTexts(f.data(), f.size());
    }
    Manifest manifest;
    if (!o.manifest.empty())
        manifest = LoadManifest(o.manifest);
    std::string bench = o.bench;
    if (IsDir(bench))
        bench += "/bench.sh";
    if (!IsFile(bench))
        throw Failure(ExitCannotRead, "cannot find the Wine bench '" + bench + "' (give --bench)");
    std::string robot = o.winBin + "/robot.exe";
    if (!IsFile(robot))
        throw Failure(ExitCannotRead, "cannot find robot.exe in '" + o.winBin +
                                          "' (build with VELKOR_WINDOWS=ON, or give --win-bin)");
    std::string montage = FindProgram("montage");
    if (montage.empty())
        throw Failure(ExitPreviewFailed, "ImageMagick's montage is not installed; it makes the contact sheet");

    std::vector<uint8_t> pages = PreviewPages(p);
    if (pages.empty()) {
        std::printf("%s: the package has no pages (Setup installs at once); nothing to preview\n", o.package.c_str());
        return ExitOk;
    }
    MakeDirectory(o.outDir);

    std::string state = o.state;
    bool temporary = state.empty();
    if (temporary) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velkor-preview-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        if (!mkdtemp(name.data()))
            throw Failure(ExitCannotWrite, "cannot create a temporary folder '" + pattern + "': " + std::strerror(errno));
        state = name.data();
    } else {
        MakeDirectory(state);
        if (BenchInUse(state))
            throw Failure(ExitPreviewFailed, "the Wine bench in '" + state + "' is running; give another --state");
    }
    state = fs::absolute(state).lexically_normal().string();
    if (state.size() > 1 && state.back() == '/')
        state.pop_back();

    Bench session(fs::absolute(bench).string(), state, temporary);
    std::string work = state + "/preview";
    std::error_code ec;
    fs::remove_all(work, ec);
    MakeDirectory(work + "/shots");
    std::string setupCopy = work + "/setup.exe";
    CopyFile(o.package, setupCopy);
    std::string scriptPath = work + "/script.txt";
    {
        std::ofstream script(scriptPath, std::ios::binary);
        script << PreviewScript(p, pages, WinePath(setupCopy), WinePath(work + "/shots"),
                                WinePath(work + "/measure.txt"), texts);
        if (!script)
            throw Failure(ExitCannotWrite, "cannot write '" + scriptPath + "'");
    }

    session.Start();
    ThrowIfStopped();
    int rc = session.Run(fs::absolute(o.winBin).string(), {fs::absolute(robot).string(), WinePath(scriptPath)},
                         o.timeoutSeconds);
    if (rc != 0)
        throw Failure(ExitPreviewFailed, "the robot stopped (exit code " + std::to_string(rc) +
                                             "): " + Tail(session.RunLog()));

    std::vector<std::string> shots;
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string shot = work + "/shots/" + PreviewFileName(i + 1, pages[i]);
        if (!IsFile(shot))
            throw Failure(ExitPreviewFailed, "the robot wrote no picture of the " + PageNameOf(pages[i]) + " page");
        shots.push_back(shot);
    }

    // What the robot measured is read before anything is written out.
    std::ifstream measureFile(work + "/measure.txt", std::ios::binary);
    std::string lines((std::istreambuf_iterator<char>(measureFile)), {});
    std::vector<Measurement> measured = ReadMeasurements(lines, TheDeviceFont());
    std::vector<Finding> findings = MeasuredFitFindings(measured);
    PlaceInManifest(manifest, findings);

    // The contact sheet: the pages side by side, three to a row, labelled
    // when a font for the labels is at hand.
    std::string sheet = work + "/contact-sheet.png";
    std::vector<std::string> args{montage};
    const char *font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    bool labels = IsFile(font);
    if (labels)
        args.insert(args.end(), {"-font", font, "-pointsize", "13"});
    for (size_t i = 0; i < shots.size(); ++i) {
        if (labels)
            args.insert(args.end(), {"-label", std::to_string(i + 1) + " " + PageNameOf(pages[i])});
        args.push_back(shots[i]);
    }
    args.insert(args.end(), {"-tile", std::to_string(std::min<size_t>(shots.size(), 3)) + "x", "-geometry", "+10+10",
                             "-background", "#d8d8d8", sheet});
    rc = RunLogged(args, state + "/preview-logs/montage.log", state, 300);
    if (rc != 0 || !IsFile(sheet))
        throw Failure(ExitPreviewFailed, "montage could not make the contact sheet: " +
                                             Tail(state + "/preview-logs/montage.log"));

    std::vector<std::string> written;
    for (size_t i = 0; i < shots.size(); ++i) {
        written.push_back(o.outDir + "/" + PreviewFileName(i + 1, pages[i]));
        CopyFile(shots[i], written.back());
    }
    written.push_back(o.outDir + "/contact-sheet.png");
    CopyFile(sheet, written.back());

    std::string where = o.manifest.empty() ? o.package : o.manifest;
    if (o.json) {
        std::fputs(PreviewFitJson(o.package, written, findings, measured, where).c_str(), stdout);
    } else {
        for (const auto &w : written)
            std::printf("%s\n", w.c_str());
        for (const auto &f : findings)
            std::printf("%s: warning: %s [%s]\n", FindingPlace(where, f).c_str(), f.message.c_str(), f.check.c_str());
    }
    for (const auto &m : measured)
        if (std::abs(m.needed - m.table) > 1)
            std::fprintf(stderr, "velkor: note: %s \"%s\" is %d pixels wide on screen but %d by the width table; "
                                 "scripts/measure-font.sh makes the table again\n",
                         TextNames()[size_t(m.place.textIndex)].c_str(), Utf16ToUtf8(m.text).c_str(), m.needed, m.table);
    return o.strict && !findings.empty() ? ExitFindings : ExitOk;
}

}  // namespace velkor
