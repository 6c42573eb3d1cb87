// bench.h -- running Windows programs under the Wine test bench
// (tests/wine/bench.sh) for `preview` and `try`: a private X server and Wine
// prefix in a state folder, started by Start and always stopped by the
// destructor, whatever happened in between, so no X server or wineserver is
// left running.  Every process the bench starts carries
// VELKOR_PREVIEW_STATE=<state folder> in its environment.
#pragma once

#include <string>
#include <vector>

#include "resource.h"

#include <cstdint>

namespace velkor {

// Page templates and controls of the setup program.
namespace setupui {
const int ButtonOk = 1;   // IDOK
const int AcceptChoice = IDC_ACCEPT;
const int DefaultLocationChoice = IDC_DEFAULT_LOCATION;
const int ChooseFolderChoice = IDC_CHOOSE_FOLDER;
const int DestinationField = IDC_DESTINATION;
const int ComponentTree = IDC_COMPONENT_TREE;
// The dialog template of the page with this flag (0 for none).
int TemplateOf(uint8_t flag);
}  // namespace setupui

// A word of a robot script: quoted, with \ and " escaped.
std::string RobotWord(const std::string &s);

// Windows path of a host path, through Wine's Z: drive.
std::string WinePath(const std::string &path);
bool IsFile(const std::string &path);
bool IsDir(const std::string &path);
// A program on PATH, or "".
std::string FindProgram(const std::string &name);
// The last lines of a log, joined with " / ", for a one-line message.
std::string Tail(const std::string &log, size_t lines = 3);
// Copies a file, replacing `to` only when complete.
void CopyFile(const std::string &from, const std::string &to);
// Each of `programs` must stand in winBin; throws Failure(ExitCannotRead).
void NeedWindowsPrograms(const std::string &winBin, const std::vector<std::string> &programs);

// The files of one robot run: a folder of the bench state, the package's
// copy in it as setup.exe, and the script's path beside it.
struct RobotRun {
    std::string work, setupCopy, scriptPath;
};
// Empties state/name of what an earlier run left and copies the package in.
RobotRun PrepareRobotRun(const std::string &state, const std::string &name, const std::string &package);
// Writes the robot's script; throws Failure(ExitCannotWrite).
void WriteRobotScript(const RobotRun &run, const std::string &script);

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
