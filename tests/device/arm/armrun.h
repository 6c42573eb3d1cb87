// armrun.h -- runs a Windows CE ARM program (a PE image of the device
// build) under the unicorn CPU emulator, with its coredll imports answered
// by stand-ins on the host.  One PE loader, one stub table:
//
//  * the sections are mapped at the image base with their own protection,
//    the import address table filled with one stub address per import, and
//    the program started at its entry point with the command line given;
//  * every halfword access must be 2-aligned and every word access
//    4-aligned (a Windows CE device raises a datatype misalignment
//    otherwise); the first that is not ends the run, named by its code
//    address and the function the link map puts there;
//  * a read or write of memory nothing mapped, a call of an import without
//    a stand-in, a bad heap block, or a run that does not end, ends it too.
//
// What the program reports with OutputDebugStringW and the files it writes
// (their length and SHA-256, when closed) go to the run's output, line by
// line, as armhost.h writes them for the native driver.  The stand-ins
// cover the driver (the heap, a file mapping of the package, WriteFile,
// OutputDebugStringW, the C library's memcpy family) and the setup
// program's start up to its first window (its own file read through
// CreateFileW/ReadFile, resources, MessageBoxW); that window ends the run.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace armrun {

// Where the link map (ld -Map) puts each function, for naming code addresses.
class LinkMap {
public:
    bool Load(const std::string &path);
    // "Function+0xOFFSET (object)" for a code address, or "" when unknown.
    std::string Name(uint32_t address) const;
    // The address of a function by its (demangled or plain) name; 0 if none.
    uint32_t Find(const std::string &name) const;

private:
    struct Symbol {
        std::string name, object;
    };
    std::map<uint32_t, Symbol> symbols_;
};

// A PE image of the device build, read once, run any number of times.
struct Image {
    struct Section {
        std::string name;
        uint32_t rva = 0, size = 0;
        std::vector<uint8_t> data;     // raw data, shorter than size when the rest is zero
        uint32_t characteristics = 0;
    };
    struct Import {
        std::string dll, name;         // name, or "#ordinal"
        uint32_t slot = 0;             // RVA of its import address table entry
    };
    uint32_t imageBase = 0, imageSize = 0, entry = 0;
    std::vector<uint8_t> headers;
    std::vector<Section> sections;
    std::vector<Import> imports;
    uint32_t resourceDirectory = 0;     // RVA of the resource directory, 0 for none
    int Byte(uint32_t rva) const;       // -1 outside every section
    uint32_t U32(uint32_t rva) const;

    // Empty when the file is an ARM PE of Windows CE; else what is wrong.
    std::string Load(const std::string &path);
    // The RVA and size of a resource by numeric type and name (the first
    // language); false when the image has none.
    bool FindResource(uint32_t type, uint32_t name, uint32_t *rva, uint32_t *size) const;
};

struct Options {
    std::u16string commandLine;            // WinMain's
    std::u16string modulePath;             // GetModuleFileNameW's: the program's own file on the host
    uint64_t timeoutMicroseconds = 60'000'000;
    // A heap block still live when the program ends fails the run; without
    // this it is only counted (Result::heapBlocksLeft).
    bool requireHeapFreed = true;
    // Every output line of the run, as it comes.
    std::function<void(const std::string &)> print;
};

struct Result {
    bool ok = false;
    std::string failure;                   // when not ok
    bool accessFault = false;              // an unaligned or stray load or store
    uint32_t exitCode = 0;
    std::string window;                    // the first window the program created, where the run stopped
    uint64_t heapBlocksLeft = 0;           // live when the program ended
    uint64_t accessesChecked = 0;          // loads and stores of the program
    uint64_t halfwordAccesses = 0, wordAccesses = 0;
    uint64_t counted = 0;                  // instructions inside the counted function
    uint64_t countedCalls = 0;             // calls of it
    uint64_t bytesWritten = 0;             // to files, through WriteFile
    uint64_t bytesWrittenCounted = 0;      // ... while inside countFunction
    uint64_t standInBytes = 0;             // moved by memcpy/memmove/memset stand-ins
    uint64_t standInBytesCounted = 0;      // ... while inside countFunction (their work is not counted)
    std::map<std::string, uint64_t> calls; // stand-in calls, by name
};

class Machine;

// Runs the program from its entry point to TerminateProcess, as often as
// asked, on one emulated machine (a new one after a failed run).
class Runner {
public:
    // countFunction: count the instructions run inside that function (the
    // benchmark), from its entry to its return.
    Runner(const Image &image, const LinkMap &map, std::string countFunction = "");
    ~Runner();
    Result Run(const Options &options);

private:
    const Image &image_;
    const LinkMap &map_;
    std::string countFunction_;
    std::unique_ptr<Machine> machine_;
};

}  // namespace armrun
