/*
 * ce000.h -- the setup-information file of a device CAB (the member whose
 * extension is ".000") and the installation plan made from it.  Portable:
 * parsing and planning never touch a file, so both are unit-tested and
 * fuzzed natively; the Win32 half carries the plan out.
 *
 * Layout (little-endian, offsets from the start of the .000):
 *    0  "MSCE"            4  0          8  total length     12  0
 *   16  1                20  target CPU
 *   24  min OS major/minor (u32 each)  32  max OS major/minor
 *   40  min and max build number
 *   48  u16 counts  STRINGS DIRS FILES REGHIVES REGKEYS LINKS
 *   60  u32 offsets of the same six tables
 *   84  u16 offset, u16 length of the application name
 *   88  same for the provider name, 92 for the unsupported-platform list
 *
 *   STRINGS   u16 id, u16 len, char[len]           (zero-padded to 4 in newer CABs)
 *   DIRS      u16 id, u16 len, u16 stringid[len/2]  (ends in 0)
 *   FILES     u16 fileno, u16 dirid, u16 unknown, u32 flags, u16 len, char[len]
 *   REGHIVES  u16 id, u16 root (1 HKCR 2 HKCU 3 HKLM 4 HKU), u16 0, u16 len, u16 stringid[] (ends in 0)
 *   REGKEYS   u16 id, u16 hiveid, u16 substitute, u32 flags, u16 len, name\0 value
 *   LINKS     u16 id, u16 unknown, u16 basedir, u16 target, u16 type, u16 len, u16 stringid[len/2]
 * Records follow each other without gaps; ids are looked up, never assumed
 * to be in order.
 */
#ifndef WCELOAD_CE000_H
#define WCELOAD_CE000_H

#include "rules.h"

#include <map>
#include <string>
#include <vector>

namespace wceload {

const uint32_t CeFileShared = 0x80000000u;
const uint32_t CeFileOverwriteAlways = 0x40000000u;
const uint32_t CeFileKeepNewer = 0x20000000u;
const uint32_t CeFileSelfRegister = 0x10000000u;
const uint32_t CeFileOnlyIfExists = 0x400u;
const uint32_t CeFileNeverOverwrite = 0x10u;

const uint32_t CeRegTypeMask = 0x10001u;
const uint32_t CeRegDword = 0x10001u;
const uint32_t CeRegString = 0u;
const uint32_t CeRegMultiString = 0x10000u;
const uint32_t CeRegBinary = 0x1u;
const uint32_t CeRegNoOverwrite = 0x2u;

// Largest .000 the installer reads; real ones are a few KiB.
const size_t CeMaxSetupInfoSize = 1u << 20;

struct CeDir { std::vector<uint16_t> StringIds; };
struct CeFile { uint16_t FileNumber, DirId, Unknown; uint32_t Flags; std::string Name; };
struct CeRegHive { uint16_t Root; std::vector<uint16_t> StringIds; };
struct CeRegValue { uint16_t Id, HiveId, Substitute; uint32_t Flags; std::string Name; std::vector<uint8_t> Value; };
struct CeLink { uint16_t Id, Unknown, BaseDir, Target, TargetType; std::vector<uint16_t> StringIds; };

struct CeSetupInfo {
    uint32_t TargetCpu = 0;
    uint32_t MinOsMajor = 0, MinOsMinor = 0, MaxOsMajor = 0, MaxOsMinor = 0;
    uint32_t MinBuild = 0, MaxBuild = 0;
    std::string AppName, Provider;
    std::vector<std::string> UnsupportedPlatforms;
    std::map<uint16_t, std::string> Strings;
    std::map<uint16_t, CeDir> Dirs;
    std::map<uint16_t, CeRegHive> Hives;
    std::vector<CeFile> Files;          // in table order
    std::vector<CeRegValue> Values;     // in table order
    std::vector<CeLink> Links;          // in table order
};

// Parses a .000.  Returns false with *error set when a table or string runs
// past the file, a length is odd or zero where it cannot be, an id repeats,
// a list lacks its terminating 0, or the header is not a .000.  Ids that
// refer to other tables are resolved by the planner, not here.
bool ParseSetupInfo(const uint8_t *data, size_t size, CeSetupInfo *info, std::string *error);

// The device folder of %CEn%, or nullptr when n is undefined on Pocket PC.
const char16_t *MacroFolder(unsigned n);

// File number of a member name "XXXXXXXX.NNN" (three decimal digits), or -1.
int MemberFileNumber(const Str &memberName);

enum RegistryRoot { RootClassesRoot = 1, RootCurrentUser = 2, RootLocalMachine = 3, RootUsers = 4 };
enum PlannedValueType { ValueString, ValueDword, ValueMultiString, ValueBinary };

struct PlannedFile {
    size_t Member;      // index in the CAB's member list
    Str Target;         // device path
    uint32_t Flags;
};

struct PlannedValue {
    uint16_t Root;
    Str Key;
    Str Name;                    // empty = the key's default value
    PlannedValueType Type;
    std::vector<uint8_t> Data;   // as the registry stores it (UTF-16LE text, zero-terminated)
    bool KeepExisting;
};

struct PlannedLink {
    Str Path;           // device path of the shortcut file
    Str Target;         // device path it points at
};

struct InstallPlan {
    Str InstallFolder;          // device path
    Str AppName, Provider;
    std::vector<PlannedFile> Files;
    std::vector<PlannedValue> Values;
    std::vector<PlannedLink> Links;
};

// Makes the plan of a device CAB.  members: the CAB's member names in CAB
// order.  destination: a normalised device path, or empty for "where the
// CAB says".  rootLength: what the file system puts before a device path.
// Returns false with *error for an undefined macro, an id that names
// nothing, a file number missing from the CAB or repeated in it, a target
// that breaks the name rules or repeats another, an unusable registry key.
//
// The install folder: among the DIRS paths that are more than a bare macro
// folder and do not extend another DIRS path (so "%CE1%\App\Data" yields to
// "%CE1%\App"), the one that holds the most FILES entries, counting those in
// its subfolders; ties go to a path under %CE1%, then to the lowest DIRS id.
// With no such path holding a file, it is "%CE1%\<AppName>".  Given a
// destination, the install folder and every path below it move under it;
// everything else stays where its macro says.
bool PlanInstall(const CeSetupInfo &info, const std::vector<Str> &members, const Str &destination,
                 size_t rootLength, InstallPlan *plan, std::string *error);

// The text of a shortcut file that points at target: "<n>#\"<target>\"",
// n being the number of characters after the '#'.
Str ShortcutText(const Str &target);

} // namespace wceload

#endif
