// process.cpp -- see process.h.
#include "process.h"

#include "errors.h"
#include "files.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace velkor {

namespace {

// The parent's environment with `changes` (NAME=VALUE) set over it.
std::vector<std::string> ChildEnvironment(const std::vector<std::string> &changes)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string &c : changes) {
            size_t eq = c.find('=');
            if (std::strncmp(*e, c.c_str(), eq + 1) == 0)
                replaced = true;
        }
        if (!replaced)
            env.push_back(*e);
    }
    env.insert(env.end(), changes.begin(), changes.end());
    return env;
}

std::vector<char *> Pointers(const std::vector<std::string> &v)
{
    std::vector<char *> p;
    for (const std::string &s : v)
        p.push_back(const_cast<char *>(s.c_str()));
    p.push_back(nullptr);
    return p;
}

// Waits for pid until it ends, the deadline passes or (when asked) a stop
// signal comes; a child still running then is ended.  Reads `capture`
// (-1: none) meanwhile, so a talkative child never blocks on a full pipe.
void Await(pid_t pid, int capture, const ProcessRequest &request, int timeoutCode, ProcessResult &result)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.seconds);
    int status = 0;
    bool ended = false, stopped = false, late = false;
    while (!ended) {
        if (capture >= 0) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(capture, buffer, sizeof buffer)) > 0)
                result.output.append(buffer, size_t(n));
        }
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
        if (request.interruptible) {
            try {
                ThrowIfStopped();
            } catch (const Failure &) {
                stopped = true;
            }
        }
        late = request.seconds && std::chrono::steady_clock::now() > deadline;
        if (stopped || late)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(capture >= 0 ? 10 : 100));
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
        throw Failure(timeoutCode, request.args[0] + " did not finish within " + std::to_string(request.seconds) +
                                       " seconds");
    }
    if (capture >= 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(capture, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            result.output.append(buffer, size_t(n));
        }
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

ProcessResult RunProcess(const ProcessRequest &request, int timeoutCode)
{
    ProcessResult result;
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    auto closeAll = [&] {
        for (int *fd : {&in[0], &in[1], &out[0], &out[1]})
            if (*fd >= 0)
                close(*fd), *fd = -1;
    };
    if ((request.hasInput && pipe2(in, O_CLOEXEC) != 0) || (request.log.empty() && pipe2(out, O_CLOEXEC) != 0)) {
        result.startError = std::strerror(errno);
        closeAll();
        return result;
    }
    if (request.hasInput) {
        bool written = write(in[1], request.input.data(), request.input.size()) == ssize_t(request.input.size());
        close(in[1]), in[1] = -1;
        if (!written) {
            result.startError = "cannot hand it its input";
            closeAll();
            return result;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (request.hasInput)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (request.log.empty())
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, request.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
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

    std::vector<std::string> env = ChildEnvironment(request.environment);
    std::vector<char *> argv = Pointers(request.args), envp = Pointers(env);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (in[0] >= 0)
        close(in[0]), in[0] = -1;
    if (out[1] >= 0)
        close(out[1]), out[1] = -1;
    if (rc != 0) {
        result.startError = std::strerror(rc);
        closeAll();
        return result;
    }
    result.started = true;
    if (out[0] >= 0)
        fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
    try {
        Await(pid, out[0], request, timeoutCode, result);
    } catch (...) {
        closeAll();
        throw;
    }
    closeAll();
    return result;
}

std::string FindProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= dirs.size()) {
        size_t end = dirs.find(':', at);
        std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat st;
        if (access(candidate.c_str(), X_OK) == 0 && stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return candidate;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

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

}  // namespace velkor
