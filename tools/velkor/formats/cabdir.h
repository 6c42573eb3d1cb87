// cabdir.h -- what the tool needs of a Microsoft Cabinet (read with libmspack):
// the member list (CFHEADER, CFFOLDER and CFFILE records) and the bytes of
// one small member (the device CAB's setup information), whatever its
// compression (stored, MSZIP, Quantum or LZX).  Everything read from it is
// checked against its size first; counts are 16-bit, so the directory is
// small whatever the cabinet holds.
#pragma once

#include "ce000.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velkor {

// Random access to a cabinet's bytes.  Read throws (Failure or Damage) when
// the bytes cannot be had; it is only called for ranges inside size().
class CabBytes {
public:
    virtual ~CabBytes() = default;
    virtual uint64_t size() const = 0;
    virtual void Read(uint64_t offset, size_t n, uint8_t *out) = 0;
};

enum CabCompression { CabStored = 0, CabMszip = 1, CabQuantum = 2, CabLzx = 3 };

struct CabFolder {
    uint16_t compression = 0;   // the low 4 bits: CabCompression
};

struct CabMember {
    std::u16string name;        // as stored (UTF-8 when flagged, else Windows-1252)
    uint32_t size = 0;
    uint16_t folder = 0;        // may be one of the "continued" markers 0xFFFD..0xFFFF
};

struct CabDirectory {
    uint32_t statedSize = 0;
    uint16_t flags = 0;
    std::vector<CabFolder> folders;
    std::vector<CabMember> members;
    bool Spans() const { return (flags & 3) != 0; }   // continued from or in another cabinet
    // The members' names, in order, as the device installer is given them.
    std::vector<std::u16string> MemberNames() const;
    // The setup-information members: file number 0, names ending in ".000".
    std::vector<size_t> SetupInfoMembers() const;
};

// Reads the directory.  Returns "" or says why the file is not a cabinet
// that can be read ("it does not start with \"MSCF\"", ...).
std::string ReadCabDirectory(CabBytes &cab, CabDirectory *dir);

// Decodes member `index` (at most maxSize bytes) into *out.  Returns "" or
// what stands in the way (damage, a member continued in another cabinet).
std::string ReadCabMember(CabBytes &cab, const CabDirectory &dir, size_t index, size_t maxSize,
                          std::vector<uint8_t> *out);

// How far a device CAB's setup information could be taken.
enum class SetupInfoState {
    Planned,       // read, parsed and planned
    None,          // no setup-information member: not a device CAB
    Several,       // more than one
    Undecoded,     // its folder's compression is one velkor does not decode
    Unreadable,    // it cannot be read (damage, too large, continued)
    Malformed,     // it does not parse
    Unplannable    // the device installer could not use it
};

struct DeviceSetupInfo {
    SetupInfoState state = SetupInfoState::None;
    size_t count = 0;                    // setup-information members found
    std::string member;                  // the member's name, quoted: 'app.000'
    std::string why;                     // the reader's, parser's or planner's words
    std::vector<std::u16string> names;   // every member, as the installer is given them
    wceload::CeSetupInfo info;
    wceload::InstallPlan plan;           // where the setup information puts things
};

// Reads, parses and plans (without a destination) the one setup-information
// member of a cabinet whose directory `dir` is.  lint, init and try each
// say in their own words what the state means to them.
DeviceSetupInfo ReadDeviceSetupInfo(CabBytes &cab, const CabDirectory &dir);

}  // namespace velkor
