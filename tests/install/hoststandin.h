// hoststandin.h -- the wizard around the installation, stood in for: a
// frame for the run to show and hide, and the host that hands it and the
// loaded package to the run.
#pragma once

#include "install.h"

namespace installtest {

// What the run asked of the wizard.
struct ShellLog {
    int shownAgain = 0;            // calls of ShowPageAgain
    BOOL showPageResult = TRUE;    // what they return
    int headers = 0;               // progress headers painted
};
extern ShellLog shell;

// The host every test passes to the run: the loaded Package, this program
// (which carries the setup program's resources) and the frame stand-in.
// Tests may swap its fields; SetUp builds it anew.
extern InstallHost host;

// A frame for the installation to show and hide: a child dialog window in a
// top-level host that stays on screen.  Wine without a window manager waits
// two seconds for every top-level window it hides; a child is hidden at once.
// Fills the host; DestroyFrameStandIn ends the frame.
HWND CreateFrameStandIn();
void DestroyFrameStandIn();

}  // namespace installtest
