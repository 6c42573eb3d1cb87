// bench.h -- running Windows programs under the Wine test bench
// (tests/wine/bench.sh) for `preview` and `try`: a private X server and Wine
// prefix in a state folder, started by Start and always stopped by the
// destructor, whatever happened in between, so no X server or wineserver is
// left running.  Every process the bench starts carries
// VELKOR_PREVIEW_STATE=<state folder> in its environment.
#pragma once

#include <string>
#include <vector>

namespace velkor {

// Windows path of a host path, through Wine's Z: drive.
std::string WinePath(const std::string &path);
// Each of `programs` must stand in winBin; throws Failure(ExitCannotRead).
void NeedWindowsPrograms(const std::string &winBin, const std::vector<std::string> &programs);

// Runs a program with stdin from /dev/null and stdout and stderr appended
// to `log`, every child marked with `marker`.  Waits at most `seconds`,
// watching for a stop signal; on either the child gets SIGTERM, and SIGKILL
// if it does not end.  Returns the exit code; throws Failure(ExitInterrupted)
// after a signal and Failure(ExitPreviewFailed) after the time limit.
int RunLogged(const std::vector<std::string> &args, const std::string &log, const std::string &marker,
              unsigned seconds, bool interruptible = true);

// The bench script: `given` (bench.sh or its folder) checked to exist.
// Throws Failure(ExitCannotRead).
std::string BenchScript(const std::string &given);

// A state folder for the bench: `given` (created if missing; refused while
// a bench runs in it), or a new temporary one (*temporary set).  Absolute,
// without a trailing slash.  Throws Failure.
std::string BenchState(const std::string &given, const std::string &purpose, bool *temporary);

class Bench {
public:
    Bench(const std::string &script, const std::string &state, bool temporary);
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    void Start();
    // Runs a Windows program in the device root `device` (made afresh);
    // returns its exit code.
    // Output goes to `log`, by default RunLog().
    int Run(const std::string &winBin, const std::vector<std::string> &command, unsigned seconds,
            const std::string &device = "preview", const std::string &log = "");
    std::string RunLog() const { return logs_ + "/run.log"; }
    std::string Logs() const { return logs_; }
    std::string State() const { return state_; }
    // The host folder of a device root.
    std::string DeviceRoot(const std::string &device) const { return state_ + "/roots/" + device; }

private:
    std::string script_, state_, logs_;
    bool temporary_;
    bool started_ = false;
};

}  // namespace velkor
