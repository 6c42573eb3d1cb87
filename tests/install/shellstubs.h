// shellstubs.h -- stand-ins for the shell around the installation: its
// process-wide state, ShowPage, QuitWizard and DrawPageHeader.
#pragma once

#include "setup.h"

#include <vector>

namespace installtest {

// What the installation asked of the shell.
struct ShellLog {
    std::vector<int> shownPages;
    BOOL showPageResult = TRUE;
    int quits = 0;
};
extern ShellLog shell;

// A frame for the installation to show and hide: a child dialog window in a
// top-level host that stays on screen.  Wine without a window manager waits
// two seconds for every top-level window it hides; a child is hidden at once.
// Sets FrameWindow and InstanceHandle; DestroyFrameStandIn ends the frame.
HWND CreateFrameStandIn();
void DestroyFrameStandIn();

}  // namespace installtest
