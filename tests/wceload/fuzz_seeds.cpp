// fuzz_seeds.cpp -- writes the starting corpus of fuzz_setupinfo: setup
// information files covering every table, in both string paddings.
#include "../support/setupinfo_writer.h"

#include <fstream>
#include <string>

using namespace testcab;

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    SetupInfoSpec s;
    s.unsupported = {"HPC"};
    s.strings = {{1, "%CE1%"}, {2, "App"}, {3, "Sub"}, {4, "%CE2%"}, {5, "App.lnk"}, {6, "Software\\Acme"}};
    s.dirs = {{10, {1, 2}}, {11, {1, 2, 3}}, {12, {4}}};
    s.files = {{1, 10, 0, "a.exe"}, {2, 11, 0x10, "b.dat"}, {3, 12, 0, "c.dll"}};
    s.hives = {{20, 3, {6}}};
    s.values = {{30, 20, 1, 0, "Path", Text(std::string("%InstallDir%\\a.exe\0", 19))},
                {31, 20, 0, 0x10001, "N", Dword(1)},
                {32, 20, 1, 0x10000, "M", Text(std::string("%CE2%\0x\0\0", 10))},
                {33, 20, 0, 1, "B", {1, 2}}};
    s.links = {{40, 11, 1, 1, {5}}, {41, 0, 11, 0, {5}}};
    for (int pad = 0; pad < 2; ++pad) {
        s.padToFour = pad != 0;
        Bytes b = WriteSetupInfo(s);
        std::ofstream(std::string(argv[1]) + "/seed" + std::to_string(pad), std::ios::binary)
            .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
    }
    return 0;
}
