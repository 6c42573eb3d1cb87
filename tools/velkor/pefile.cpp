// pefile.cpp -- finds the PE headers of a Windows program.  Every read is
// checked against the size first, in subtraction form.
#include "pefile.h"

#include "codec.h"

#include <cstdio>
#include <cstring>

namespace velkor {

namespace {

const uint32_t DosLfanewOffset = 0x3C;
const uint32_t CoffHeaderSize = 20;          // after the 4-byte signature
const uint32_t SubsystemOffset = 68;         // in the optional header, PE32 and PE32+ alike

uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

std::string Hex4(uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

}  // namespace

const char *const DeviceProgramWanted =
    "an ARM (0x01C0 or 0x01C2) Windows CE GUI (subsystem 9) program";

bool ReadPeHeaders(const uint8_t *data, uint64_t size, PeHeaders &out, std::string &why)
{
    out = PeHeaders();
    if (size < 2 || std::memcmp(data, "MZ", 2) != 0) {
        why = "it does not start with \"MZ\"";
        return false;
    }
    if (size < DosLfanewOffset + 4) {
        why = "it is too short for a PE header";
        return false;
    }
    uint32_t pe = ReadLittle32(data + DosLfanewOffset);
    if (pe > size || size - pe < 4 + CoffHeaderSize || std::memcmp(data + pe, "PE\0\0", 4) != 0) {
        why = "it has no PE header (an MS-DOS program, or damaged)";
        return false;
    }
    const uint8_t *coff = data + pe + 4;
    out.peOffset = pe;
    out.machine = U16(coff);
    out.sectionCount = U16(coff + 2);
    out.optionalHeaderSize = U16(coff + 16);
    out.optionalHeaderOffset = pe + 4 + CoffHeaderSize;
    if (out.optionalHeaderSize < SubsystemOffset + 2 || size - out.optionalHeaderOffset < SubsystemOffset + 2) {
        why = "its PE optional header is too short to name a subsystem";
        return false;
    }
    const uint8_t *optional = data + out.optionalHeaderOffset;
    out.magic = U16(optional);
    out.subsystem = U16(optional + SubsystemOffset);
    return true;
}

std::string PeMachineName(uint16_t machine)
{
    const char *name = nullptr;
    switch (machine) {
    case PeMachineI386: name = "x86"; break;
    case PeMachineArm: name = "ARM"; break;
    case PeMachineThumb: name = "ARM Thumb"; break;
    case PeMachineArmNt: name = "ARM Thumb-2"; break;
    case PeMachineAmd64: name = "x86-64"; break;
    case PeMachineArm64: name = "ARM64"; break;
    }
    return std::string(name ? name : "unknown machine") + " (" + Hex4(machine) + ")";
}

std::string PeSubsystemName(uint16_t subsystem)
{
    const char *name = nullptr;
    switch (subsystem) {
    case 1: name = "native"; break;
    case PeSubsystemWindowsGui: name = "Windows GUI"; break;
    case PeSubsystemWindowsCui: name = "Windows console"; break;
    case PeSubsystemWindowsCeGui: name = "Windows CE GUI"; break;
    case 10: name = "EFI application"; break;
    }
    return std::string(name ? name : "unknown subsystem") + " (subsystem " + std::to_string(subsystem) + ")";
}

bool IsDeviceProgram(const PeHeaders &pe)
{
    return (pe.machine == PeMachineArm || pe.machine == PeMachineThumb) && pe.subsystem == PeSubsystemWindowsCeGui;
}

std::string DescribeProgram(const PeHeaders &pe)
{
    std::string machine = PeMachineName(pe.machine);
    const char *article = std::strchr("AEIOUaeiou", machine[0]) ? "an " : "a ";
    if (machine.compare(0, 3, "x86") == 0)
        article = "an ";
    return article + machine + " " + PeSubsystemName(pe.subsystem) + " program";
}

std::string DescribeStub(const uint8_t *data, uint64_t size)
{
    PeHeaders pe;
    std::string why;
    if (!ReadPeHeaders(data, size, pe, why))
        return "not a Windows program (" + why + ")";
    return DescribeProgram(pe);
}

}  // namespace velkor
