// setupinfo_writer.h -- writes setup-information files (.000) and plain
// uncompressed CAB files for the tests, so that every fixture, hostile ones
// included, is made at test time from a readable description.
#pragma once

#include <stdint.h>

#include <algorithm>

#include "lebytes.h"

#include <string>
#include <vector>

namespace testcab {

using Bytes = std::vector<uint8_t>;

using testsupport::Put16;
using testsupport::Put32;
using testsupport::Set16;
using testsupport::Set32;

struct SiString { uint16_t id; std::string text; };
struct SiDir { uint16_t id; std::vector<uint16_t> ids; };          // the writer adds the final 0
struct SiFile { uint16_t fileNumber, dirId; uint32_t flags; std::string name; };
struct SiHive { uint16_t id, root; std::vector<uint16_t> ids; };    // final 0 added
struct SiValue { uint16_t id, hive, substitute; uint32_t flags; std::string name; Bytes value; };
struct SiLink { uint16_t id, baseDir, target, type; std::vector<uint16_t> ids; };  // no final 0, as real CABs

struct SetupInfoSpec {
    std::string appName = "Tool", provider = "Acme";
    std::vector<std::string> unsupported;
    uint32_t cpu = 0, minMajor = 0, minMinor = 0, maxMajor = 0, maxMinor = 0, minBuild = 0, maxBuild = 0;
    std::vector<SiString> strings;
    std::vector<SiDir> dirs;
    std::vector<SiFile> files;
    std::vector<SiHive> hives;
    std::vector<SiValue> values;
    std::vector<SiLink> links;
    bool padToFour = false;       // newer CABs pad string lengths to a multiple of 4
    bool terminateLists = true;   // DIRS and REGHIVES lists end in 0
};

// Header positions, for tests that damage a written file.
const size_t SiTotalLength = 8;
const size_t SiCounts = 48;       // + 2 * table
const size_t SiOffsets = 60;      // + 4 * table
const size_t SiNames = 84;        // + 4 * (app, provider, unsupported): u16 offset, u16 length
enum { TabStrings, TabDirs, TabFiles, TabHives, TabValues, TabLinks };

inline uint32_t PaddedLength(size_t textLength, bool pad)
{
    size_t n = textLength + 1;
    if (pad)
        n = (n + 3) & ~size_t(3);
    return uint32_t(n);
}

inline void PutText(Bytes &b, const std::string &text, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        b.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

inline Bytes WriteSetupInfo(const SetupInfoSpec &s)
{
    Bytes b(100, 0);
    b[0] = 'M', b[1] = 'S', b[2] = 'C', b[3] = 'E';
    Set32(b, 16, 1);
    Set32(b, 20, s.cpu);
    Set32(b, 24, s.minMajor);
    Set32(b, 28, s.minMinor);
    Set32(b, 32, s.maxMajor);
    Set32(b, 36, s.maxMinor);
    Set32(b, 40, s.minBuild);
    Set32(b, 44, s.maxBuild);

    auto name = [&](int which, const std::string &text) {
        uint32_t length = PaddedLength(text.size(), s.padToFour);
        Set16(b, SiNames + 4 * which, uint32_t(b.size()));
        Set16(b, SiNames + 4 * which + 2, length);
        PutText(b, text, length);
    };
    name(0, s.appName);
    name(1, s.provider);
    std::string list;
    for (const std::string &u : s.unsupported)
        list += u + std::string(1, '\0');
    Set16(b, SiNames + 8, uint32_t(b.size()));
    Set16(b, SiNames + 10, uint32_t(list.size() + 1));
    PutText(b, list, uint32_t(list.size() + 1));

    auto ids = [&](const std::vector<uint16_t> &list, bool terminate) {
        Put16(b, uint32_t((list.size() + (terminate ? 1 : 0)) * 2));
        for (uint16_t id : list)
            Put16(b, id);
        if (terminate)
            Put16(b, 0);
    };
    auto table = [&](int which, size_t count) {
        Set16(b, SiCounts + 2 * which, uint32_t(count));
        Set32(b, SiOffsets + 4 * which, uint32_t(b.size()));
    };

    table(TabStrings, s.strings.size());
    for (const SiString &str : s.strings) {
        uint32_t length = PaddedLength(str.text.size(), s.padToFour);
        Put16(b, str.id);
        Put16(b, length);
        PutText(b, str.text, length);
    }
    table(TabDirs, s.dirs.size());
    for (const SiDir &d : s.dirs) {
        Put16(b, d.id);
        ids(d.ids, s.terminateLists);
    }
    table(TabFiles, s.files.size());
    for (const SiFile &f : s.files) {
        uint32_t length = PaddedLength(f.name.size(), s.padToFour);
        Put16(b, f.fileNumber);
        Put16(b, f.dirId);
        Put16(b, 0);
        Put32(b, f.flags);
        Put16(b, length);
        PutText(b, f.name, length);
    }
    table(TabHives, s.hives.size());
    for (const SiHive &h : s.hives) {
        Put16(b, h.id);
        Put16(b, h.root);
        Put16(b, 0);
        ids(h.ids, s.terminateLists);
    }
    table(TabValues, s.values.size());
    for (const SiValue &v : s.values) {
        Put16(b, v.id);
        Put16(b, v.hive);
        Put16(b, v.substitute);
        Put32(b, v.flags);
        Put16(b, uint32_t(v.name.size() + 1 + v.value.size()));
        b.insert(b.end(), v.name.begin(), v.name.end());
        b.push_back(0);
        b.insert(b.end(), v.value.begin(), v.value.end());
    }
    table(TabLinks, s.links.size());
    for (const SiLink &l : s.links) {
        Put16(b, l.id);
        Put16(b, 0);
        Put16(b, l.baseDir);
        Put16(b, l.target);
        Put16(b, l.type);
        ids(l.ids, false);
    }
    Set32(b, SiTotalLength, uint32_t(b.size()));
    return b;
}

inline Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }
inline Bytes Dword(uint32_t v)
{
    Bytes b;
    Put32(b, v);
    return b;
}

// ---- CAB files: one uncompressed folder, names written byte for byte ----

struct CabMember {
    std::string name;      // the bytes of the CFFILE name
    Bytes data;
    bool utf8 = false;     // sets _A_NAME_IS_UTF
};

inline Bytes WriteCab(const std::vector<CabMember> &members)
{
    const size_t blockSize = 32768;
    Bytes payload;
    for (const CabMember &m : members)
        payload.insert(payload.end(), m.data.begin(), m.data.end());
    size_t blocks = (payload.size() + blockSize - 1) / blockSize;

    size_t filesOffset = 36 + 8;
    size_t filesSize = 0;
    for (const CabMember &m : members)
        filesSize += 16 + m.name.size() + 1;
    size_t dataOffset = filesOffset + filesSize;
    size_t total = dataOffset + blocks * 8 + payload.size();

    Bytes b;
    b.push_back('M'), b.push_back('S'), b.push_back('C'), b.push_back('F');
    Put32(b, 0);
    Put32(b, uint32_t(total));
    Put32(b, 0);
    Put32(b, uint32_t(filesOffset));
    Put32(b, 0);
    b.push_back(3);                 // version 1.3
    b.push_back(1);
    Put16(b, 1);                    // folders
    Put16(b, uint32_t(members.size()));
    Put16(b, 0);                    // flags
    Put16(b, 0x1234);               // set id
    Put16(b, 0);                    // cabinet number

    Put32(b, uint32_t(dataOffset)); // CFFOLDER
    Put16(b, uint32_t(blocks));
    Put16(b, 0);                    // stored

    uint32_t offset = 0;
    for (const CabMember &m : members) {
        Put32(b, uint32_t(m.data.size()));
        Put32(b, offset);
        Put16(b, 0);                // folder 0
        Put16(b, 0x5A21);           // 2025-01-01
        Put16(b, 0x6000);           // 12:00:00
        Put16(b, 0x20 | (m.utf8 ? 0x80 : 0));
        b.insert(b.end(), m.name.begin(), m.name.end());
        b.push_back(0);
        offset += uint32_t(m.data.size());
    }
    for (size_t i = 0; i < blocks; ++i) {
        size_t n = std::min(blockSize, payload.size() - i * blockSize);
        Put32(b, 0);                // no checksum
        Put16(b, uint32_t(n));
        Put16(b, uint32_t(n));
        b.insert(b.end(), payload.begin() + i * blockSize, payload.begin() + i * blockSize + n);
    }
    return b;
}

} // namespace testcab
