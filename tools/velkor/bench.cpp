// bench.cpp -- see bench.h.
#include "bench.h"

#include "errors.h"
#include "files.h"

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

int setupui::TemplateOf(uint8_t flag)
{
    static const struct {
        uint8_t flag;
        int templateId;
    } templates[] = {{PageWelcome, IDD_WELCOME},   {PageAgreement, IDD_AGREEMENT},     {PageComponents, IDD_COMPONENTS},
                     {PageLocation, IDD_LOCATION}, {PageDestination, IDD_DESTINATION}, {PageReady, IDD_READY}};
    for (const auto &t : templates)
        if (t.flag == flag)
            return t.templateId;
    return 0;
}

std::string RobotWord(const std::string &s)
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
std::string Tail(const std::string &log, size_t lines)
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
              unsigned seconds, bool interruptible)
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


// True when the bench of a state folder is running (its X server lives).
static bool BenchInUse(const std::string &state)
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
    MappedFile in(from, "file");
    AtomicOutput out(to);
    out.Write(in.data(), size_t(in.size()));
    out.Commit();
}

void NeedWindowsPrograms(const std::string &winBin, const std::vector<std::string> &programs)
{
    for (const auto &program : programs)
        if (!IsFile(winBin + "/" + program))
            throw Failure(ExitCannotRead, "cannot find " + program + " in '" + winBin +
                                              "' (build with VELKOR_WINDOWS=ON, or give --win-bin)");
}

RobotRun PrepareRobotRun(const std::string &state, const std::string &name, const std::string &package)
{
    RobotRun run{state + "/" + name, state + "/" + name + "/setup.exe", state + "/" + name + "/script.txt"};
    std::error_code ec;
    fs::remove_all(run.work, ec);
    MakeDirectory(run.work);
    CopyFile(package, run.setupCopy);
    return run;
}

void WriteRobotScript(const RobotRun &run, const std::string &script)
{
    std::ofstream out(run.scriptPath, std::ios::binary);
    out << script;
    if (!out)
        throw Failure(ExitCannotWrite, "cannot write '" + run.scriptPath + "'");
}

std::string BenchScript(const std::string &given)
{
    std::string bench = given;
    if (IsDir(bench))
        bench += "/bench.sh";
    if (!IsFile(bench))
        throw Failure(ExitCannotRead, "cannot find the Wine bench '" + bench + "' (give --bench)");
    return fs::absolute(bench).string();
}

std::string BenchState(const std::string &given, const std::string &purpose, bool *temporary)
{
    std::string state = given;
    *temporary = state.empty();
    if (*temporary) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velkor-" + purpose + "-XXXXXX";
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
    return state;
}

// A failed start is stopped too, since it may have left an X server behind.
// A temporary state folder is removed afterwards.
Bench::Bench(const std::string &script, const std::string &state, bool temporary)
    : script_(script), state_(state), temporary_(temporary)
{
    logs_ = state_ + "/preview-logs";
    MakeDirectory(logs_);
}

Bench::~Bench()
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

void Bench::Start()
{
    started_ = true;
    int rc = RunLogged({"bash", script_, "start", state_}, logs_ + "/start.log", state_, 900);
    if (rc != 0)
        throw Failure(ExitPreviewFailed, "the Wine bench did not start: " + Tail(logs_ + "/start.log"));
}

int Bench::Run(const std::string &winBin, const std::vector<std::string> &command, unsigned seconds,
               const std::string &device, const std::string &log)
{
    std::vector<std::string> args{"bash", script_, "run", state_, device, winBin, "--"};
    args.insert(args.end(), command.begin(), command.end());
    return RunLogged(args, log.empty() ? RunLog() : log, state_, seconds);
}

}  // namespace velkor
