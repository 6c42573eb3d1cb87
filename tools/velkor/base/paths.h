// paths.h -- where velkor finds what it ships with: the setup program for
// the device (the stub `build` writes the package onto), its desktop build,
// the installer stand-in and the robot (for `preview` and `try`), and the
// Wine bench.  An installed velkor finds them beside itself in
// ../share/velkor; one run from the build tree in that build's win/bin and
// device/shell and in the source tree it came from.
#pragma once

#include <string>

namespace velkor {

struct DataPaths {
    std::string bench;         // bench.sh
    std::string winBin;        // the desktop programs: setup.exe, wceload.exe, robot.exe, linkcatcher.exe
    std::string stub;          // the device's setup.exe (ARM, Windows CE)
    std::string desktopStub;   // winBin/setup.exe
};

// From the location of the running executable; never fails (a missing
// file is reported by the command that needs it, naming the path).
DataPaths FindDataPaths();

}  // namespace velkor
