// process.h -- how velkor runs another program (osslsigncode, the Wine
// bench, montage): one runner, so that every child gets the same care with
// its standard streams, its signals and its end.
#pragma once

#include <string>
#include <vector>

namespace velkor {

struct ProcessRequest {
    std::vector<std::string> args;  // args[0] is looked up on PATH
    // Written to its standard input before it starts (a password: far
    // smaller than a pipe's buffer, so nothing can block); without it,
    // standard input is /dev/null.
    std::string input;
    bool hasInput = false;
    // Standard output and error appended to this file; "" captures them
    // into ProcessResult::output.
    std::string log;
    // NAME=VALUE set in the child's environment, replacing what it had.
    std::vector<std::string> environment;
    // The longest it may run (0: no limit), and whether a stop signal ends
    // it.  A child that is ended gets SIGTERM, then SIGKILL for its whole
    // process group when it does not go.
    unsigned seconds = 0;
    bool interruptible = false;
};

struct ProcessResult {
    bool started = false;
    std::string startError;   // why it did not start
    int status = -1;          // its exit code, 128 + signal when killed
    std::string output;       // with no log: stdout and stderr together
};

// Runs the program and waits for it.  Throws Failure(ExitInterrupted) when
// a stop signal ended it, and Failure(timeoutCode) when its time ran out.
ProcessResult RunProcess(const ProcessRequest &request, int timeoutCode);

// A program on PATH, or "".
std::string FindProgram(const std::string &name);

// The last lines of a log, joined with " / ", for a one-line message.
std::string Tail(const std::string &log, size_t lines = 3);

}  // namespace velkor
