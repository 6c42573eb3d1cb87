// bench.cpp -- see bench.h.
#include "bench.h"

#include "errors.h"
#include "files.h"
#include "process.h"

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

// Windows path of a host path, through Wine's Z: drive.
std::string WinePath(const std::string &path)
{
    std::string p = fs::absolute(path).lexically_normal().string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return "Z:" + p;
}

// Runs a program of the bench: stdin from /dev/null, stdout and stderr
// appended to `log`, and `marker` in its environment, so that whatever the
// bench starts can be recognised.  (Stopping the bench is not
// interruptible: it is what an interrupt needs.)
int RunLogged(const std::vector<std::string> &args, const std::string &log, const std::string &marker,
              unsigned seconds, bool interruptible)
{
    ProcessRequest request;
    request.args = args;
    request.log = log;
    request.environment = {"VELKOR_PREVIEW_STATE=" + marker};
    request.seconds = seconds;
    request.interruptible = interruptible;
    ProcessResult run = RunProcess(request, ExitPreviewFailed);
    if (!run.started)
        throw Failure(ExitPreviewFailed, "cannot start " + args[0] + ": " + run.startError);
    return run.status;
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

void NeedWindowsPrograms(const std::string &winBin, const std::vector<std::string> &programs)
{
    for (const auto &program : programs)
        if (!IsFile(winBin + "/" + program))
            throw Failure(ExitCannotRead, "cannot find " + program + " in '" + winBin +
                                              "' (build with VELKOR_WINDOWS=ON, or give --win-bin)");
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
        state = MakeTemporaryDirectory(purpose);
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
