// pefile.h -- the headers of a Windows program (PE image) as far as the
// tool needs them: where the PE and optional headers are, the machine and
// the subsystem.  Reads from memory and never past `size`; nothing is
// validated beyond what is needed to find these fields.
#pragma once

#include <cstdint>
#include <string>

namespace velkor {

const uint16_t PeMachineI386 = 0x014C;
const uint16_t PeMachineArm = 0x01C0;        // ARM, as Windows CE on ARM uses
const uint16_t PeMachineThumb = 0x01C2;      // ARM or Thumb (interworking)
const uint16_t PeMachineArmNt = 0x01C4;      // Thumb-2, desktop Windows on ARM
const uint16_t PeMachineAmd64 = 0x8664;
const uint16_t PeMachineArm64 = 0xAA64;
const uint16_t PeSubsystemWindowsGui = 2;
const uint16_t PeSubsystemWindowsCui = 3;
const uint16_t PeSubsystemWindowsCeGui = 9;

struct PeHeaders {
    uint32_t peOffset = 0;                // of the "PE\0\0" signature (e_lfanew)
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint32_t optionalHeaderOffset = 0;
    uint16_t optionalHeaderSize = 0;
    uint16_t magic = 0;                   // 0x10B PE32, 0x20B PE32+
    uint16_t subsystem = 0;
};

// Finds the headers of a PE image.  False when the bytes are not one, with
// `why` saying what is missing: no "MZ", no or a cut-short PE header, an
// optional header too small to hold the subsystem.
bool ReadPeHeaders(const uint8_t *data, uint64_t size, PeHeaders &out, std::string &why);

// "ARM (0x01C0)", "x86-64 (0x8664)", "unknown machine (0x1234)".
std::string PeMachineName(uint16_t machine);
// "Windows CE GUI (subsystem 9)", "unknown subsystem (12)".
std::string PeSubsystemName(uint16_t subsystem);

// An ARM (0x01C0 or 0x01C2) Windows CE GUI program: what a device stub is.
bool IsDeviceProgram(const PeHeaders &pe);

// "an x86-64 (0x8664) Windows GUI (subsystem 2) program".
std::string DescribeProgram(const PeHeaders &pe);

// The setup program at the start of a package (its first `size` bytes):
// DescribeProgram's words, or "not a Windows program (why)".
std::string DescribeStub(const uint8_t *data, uint64_t size);

// What a program's version resource says: FileDescription and FileVersion
// from its first string table, and the fixed file version ("1.1.0.0").
struct PeVersion {
    bool found = false;
    std::string description, fileVersion, fixedVersion;
};
// Walks the resource directory to the first RT_VERSION resource.  Reads
// only inside the file and the sections; a damaged or missing resource is
// "not found", never an error.
PeVersion ReadVersionResource(const uint8_t *data, uint64_t size);
// "\"Velkor setup program\" version 1.1.0", or "no version resource".
std::string DescribeVersion(const PeVersion &v);

// What a device stub must be, for messages.
extern const char *const DeviceProgramWanted;

}  // namespace velkor
