// paths.cpp -- see paths.h.  The build tree puts a file beside the
// executable naming the build's Windows programs, its device program and
// the source tree's bench; nothing of the kind is compiled in or
// installed, so an installed velkor never looks back into the trees it was
// built from.
#include "paths.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace velkor {

namespace fs = std::filesystem;

DataPaths FindDataPaths()
{
    std::error_code ec;
    fs::path exe = fs::canonical("/proc/self/exe", ec);
    fs::path dir = ec ? fs::current_path(ec) : exe.parent_path();

    DataPaths d;
    fs::path share = (dir / ".." / "share" / "velkor").lexically_normal();
    d.bench = (share / "bench.sh").string();
    d.winBin = (share / "desktop").string();
    d.stub = (share / "device" / "setup.exe").string();
    std::ifstream tree(dir / "velkor-build-tree.txt");
    for (std::string line; std::getline(tree, line);) {
        if (line.compare(0, 6, "bench=") == 0)
            d.bench = line.substr(6);
        else if (line.compare(0, 8, "win-bin=") == 0)
            d.winBin = line.substr(8);
        else if (line.compare(0, 12, "device-stub=") == 0)
            d.stub = line.substr(12);
    }
    d.desktopStub = d.winBin + "/setup.exe";
    return d;
}

}  // namespace velkor
