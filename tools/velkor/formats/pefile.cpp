// pefile.cpp -- finds the PE headers of a Windows program.  Every read is
// checked against the size first, in subtraction form.
#include "pefile.h"

#include "codec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velkor {

namespace {

const uint32_t DosLfanewOffset = 0x3C;
const uint32_t CoffHeaderSize = 20;          // after the 4-byte signature
const uint32_t SubsystemOffset = 68;         // in the optional header, PE32 and PE32+ alike

std::string Hex4(uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

const uint32_t DirectoriesPe32 = 96;          // data directories in the optional header
const uint32_t DirectoriesPe32Plus = 112;
const uint32_t ResourceDirectory = 2;
const uint32_t SectionHeaderSize = 40;
const uint32_t ResourceTypeVersion = 16;      // RT_VERSION
const uint32_t SubdirectoryBit = 0x80000000u;
const uint32_t FixedInfoSignature = 0xFEEF04BDu;

// Where the bytes at `rva` lie in the file, and how many of them the
// section and the file hold from there.
bool FileRange(const uint8_t *data, uint64_t size, const PeHeaders &pe, uint32_t rva, uint64_t &at, uint64_t &room)
{
    uint64_t table = uint64_t(pe.optionalHeaderOffset) + pe.optionalHeaderSize;
    for (uint32_t i = 0; i < pe.sectionCount; ++i) {
        uint64_t h = table + uint64_t(i) * SectionHeaderSize;
        if (h > size || size - h < SectionHeaderSize)
            return false;
        uint32_t va = ReadLittle32(data + h + 12), rawSize = ReadLittle32(data + h + 16);
        uint32_t rawAt = ReadLittle32(data + h + 20);
        if (rva < va || rva - va >= rawSize)
            continue;
        at = uint64_t(rawAt) + (rva - va);
        if (at >= size)
            return false;
        room = std::min<uint64_t>(rawSize - (rva - va), size - at);
        return true;
    }
    return false;
}

// One node of a version resource: u16 length, u16 value length (in code
// units for text), u16 type (1: text), the key in UTF-16 with its zero,
// padding to 32 bits, the value, padding, then the children up to `end`.
// Offsets count from the resource's start, to which the padding aligns.
struct VersionNode {
    std::u16string key;
    uint64_t value = 0, valueSize = 0, children = 0, end = 0;
    bool text = false;
};

uint64_t Align4(uint64_t at) { return (at + 3) & ~uint64_t(3); }

bool ReadVersionNode(const uint8_t *res, uint64_t size, uint64_t at, VersionNode &n)
{
    if (at > size || size - at < 6)
        return false;
    uint16_t length = ReadLittle16(res + at), valueLength = ReadLittle16(res + at + 2);
    if (length < 6 || length > size - at)
        return false;
    n = VersionNode();
    n.end = at + length;
    n.text = ReadLittle16(res + at + 4) == 1;
    uint64_t p = at + 6;
    for (;;) {
        if (n.end - p < 2)
            return false;
        char16_t c = char16_t(ReadLittle16(res + p));
        p += 2;
        if (!c)
            break;
        n.key += c;
    }
    n.value = std::min(Align4(p), n.end);
    n.valueSize = std::min<uint64_t>(n.text ? uint64_t(valueLength) * 2 : valueLength, n.end - n.value);
    n.children = std::min(Align4(n.value + n.valueSize), n.end);
    return true;
}

// The children of a node, each handed to `visit`.
template <typename Visit>
void EachChild(const uint8_t *res, uint64_t size, const VersionNode &parent, Visit visit)
{
    VersionNode child;
    for (uint64_t at = parent.children; at < parent.end && ReadVersionNode(res, size, at, child);
         at = Align4(child.end))
        visit(child);
}

std::string TextValue(const uint8_t *res, const VersionNode &n)
{
    std::string out;
    for (uint64_t i = 0; i + 1 < n.valueSize; i += 2) {
        uint16_t c = ReadLittle16(res + n.value + i);
        if (!c)
            break;
        // Version strings are ASCII in practice; anything else shows as '?'.
        out += c < 0x80 && c >= 0x20 ? char(c) : '?';
    }
    return out;
}

}  // namespace

PeVersion ReadVersionResource(const uint8_t *data, uint64_t size)
{
    PeVersion v;
    PeHeaders pe;
    std::string why;
    if (!ReadPeHeaders(data, size, pe, why))
        return v;
    uint32_t directories = pe.magic == 0x20B ? DirectoriesPe32Plus : DirectoriesPe32;
    uint32_t need = directories + (ResourceDirectory + 1) * 8;
    if (pe.optionalHeaderSize < need || size - pe.optionalHeaderOffset < need)
        return v;
    const uint8_t *optional = data + pe.optionalHeaderOffset;
    if (ReadLittle32(optional + directories - 4) <= ResourceDirectory)
        return v;
    uint64_t base, room;
    if (!FileRange(data, size, pe, ReadLittle32(optional + directories + ResourceDirectory * 8), base, room))
        return v;

    // Type, name and language: RT_VERSION, then the first entry of each.
    uint64_t node = 0;
    for (int level = 0; level < 3; ++level) {
        if (node > room || room - node < 16)
            return v;
        const uint8_t *dir = data + base + node;
        uint32_t entries = uint32_t(ReadLittle16(dir + 12)) + ReadLittle16(dir + 14);
        if (entries == 0 || (room - node - 16) / 8 < entries)
            return v;
        const uint8_t *entry = nullptr;
        for (uint32_t i = 0; i < entries && !entry; ++i)
            if (level > 0 || ReadLittle32(dir + 16 + 8 * i) == ResourceTypeVersion)
                entry = dir + 16 + 8 * i;
        if (!entry)
            return v;
        uint32_t target = ReadLittle32(entry + 4);
        if ((level < 2) != ((target & SubdirectoryBit) != 0))
            return v;
        node = target & ~SubdirectoryBit;
    }
    if (node > room || room - node < 8)
        return v;
    uint64_t at, available;
    if (!FileRange(data, size, pe, ReadLittle32(data + base + node), at, available))
        return v;
    uint64_t length = std::min<uint64_t>(ReadLittle32(data + base + node + 4), available);
    const uint8_t *res = data + at;

    VersionNode top;
    if (!ReadVersionNode(res, length, 0, top) || top.key != u"VS_VERSION_INFO")
        return v;
    v.found = true;
    if (top.valueSize >= 16 && ReadLittle32(res + top.value) == FixedInfoSignature) {
        uint32_t ms = ReadLittle32(res + top.value + 8), ls = ReadLittle32(res + top.value + 12);
        v.fixedVersion = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    }
    bool tableRead = false;
    EachChild(res, length, top, [&](const VersionNode &info) {
        if (info.key != u"StringFileInfo")
            return;
        EachChild(res, length, info, [&](const VersionNode &table) {
            if (tableRead)
                return;
            tableRead = true;
            EachChild(res, length, table, [&](const VersionNode &entry) {
                if (entry.key == u"FileDescription")
                    v.description = TextValue(res, entry);
                else if (entry.key == u"FileVersion")
                    v.fileVersion = TextValue(res, entry);
            });
        });
    });
    return v;
}

std::string DescribeVersion(const PeVersion &v)
{
    if (!v.found)
        return "no version resource";
    std::string version = !v.fileVersion.empty() ? v.fileVersion : v.fixedVersion;
    std::string s = v.description.empty() ? "" : "\"" + v.description + "\"";
    if (!version.empty())
        s += (s.empty() ? "version " : " version ") + version;
    return s.empty() ? "an empty version resource" : s;
}

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
    out.machine = ReadLittle16(coff);
    out.sectionCount = ReadLittle16(coff + 2);
    out.optionalHeaderSize = ReadLittle16(coff + 16);
    out.optionalHeaderOffset = pe + 4 + CoffHeaderSize;
    if (out.optionalHeaderSize < SubsystemOffset + 2 || size - out.optionalHeaderOffset < SubsystemOffset + 2) {
        why = "its PE optional header is too short to name a subsystem";
        return false;
    }
    const uint8_t *optional = data + out.optionalHeaderOffset;
    out.magic = ReadLittle16(optional);
    out.subsystem = ReadLittle16(optional + SubsystemOffset);
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
