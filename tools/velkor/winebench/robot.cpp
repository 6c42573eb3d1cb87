// robot.cpp -- see robot.h.
#include "robot.h"

#include "errors.h"
#include "files.h"

#include "pagetable.h"

#include <filesystem>
#include <fstream>

namespace velkor {

namespace fs = std::filesystem;

int setupui::TemplateOf(uint8_t flag) { return PageTemplateOf(flag); }

std::string RobotEnterPage(uint8_t page)
{
    using namespace setupui;
    std::string s = "wait-page " + std::to_string(TemplateOf(page)) + "\n";
    if (page == PageAgreement) {
        s += "click " + std::to_string(AcceptChoice) + "\n";
        s += "expect-checked " + std::to_string(AcceptChoice) + " 1\n";
    }
    return s;
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

}  // namespace velkor
