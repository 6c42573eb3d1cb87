// robot.h -- what velkor hands the robot (tests/wine/robot.exe) that
// drives the setup program under the Wine bench: the ids it names controls
// and pages by, and the script and package of one run.
#pragma once

#include "resource.h"

#include <cstdint>
#include <string>

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

// The script lines that wait for a page of the wizard and, on the
// agreement page, accept it: every walk through the wizard does so.
std::string RobotEnterPage(uint8_t page);

// A word of a robot script: quoted, with \ and " escaped.
std::string RobotWord(const std::string &s);

// The files of one robot run: a folder of the bench state, the package's
// copy in it as setup.exe, and the script's path beside it.
struct RobotRun {
    std::string work, setupCopy, scriptPath;
};
// Empties state/name of what an earlier run left and copies the package in.
RobotRun PrepareRobotRun(const std::string &state, const std::string &name, const std::string &package);
// Writes the robot's script; throws Failure(ExitCannotWrite).
void WriteRobotScript(const RobotRun &run, const std::string &script);

}  // namespace velkor
