// pefake.h -- PE images and signatures made up for the tests: just enough
// of the headers for the loader to find the security entry, and a
// certificate table of the shape signing tools append (zero bytes up to an
// 8-byte boundary, then the table).  Nothing is signed for real; the tests
// that need real signatures run osslsigncode.
#pragma once

#include "lebytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pefake {

using Bytes = std::vector<uint8_t>;

using testsupport::Get16;
using testsupport::Get32;
using testsupport::Set16;
using testsupport::Set32;

const uint32_t PeAt = 0x80;   // e_lfanew of the images made here

// "MZ", e_lfanew, "PE\0\0", a file header and an optional header (PE32+ or
// PE32) with 16 empty data directories, then filler up to `size`.
inline Bytes Image(bool plus = true, size_t size = 4096)
{
    Bytes b(size, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Set32(b, 0x3C, PeAt);
    b[PeAt] = 'P';
    b[PeAt + 1] = 'E';
    Set16(b, PeAt + 4, plus ? 0x8664 : 0x1C0);          // machine
    Set16(b, PeAt + 20, plus ? 240 : 224);               // SizeOfOptionalHeader
    Set16(b, PeAt + 24, plus ? 0x20B : 0x10B);
    Set32(b, PeAt + 24 + (plus ? 108 : 92), 16);         // NumberOfRvaAndSizes
    for (size_t i = PeAt + 24 + (plus ? 240 : 224); i < size; ++i)
        b[i] = uint8_t(i * 13 + 7);
    return b;
}

// Where the security entry (offset, then size) of a file's PE header lies.
inline uint32_t SecurityEntry(const Bytes &file)
{
    uint32_t optional = Get32(file, 0x3C) + 24;
    bool plus = file[optional] == 0x0B && file[optional + 1] == 0x02;
    return optional + (plus ? 112 : 96) + 4 * 8;
}
inline uint32_t HeadersEnd(const Bytes &file)
{
    uint32_t pe = Get32(file, 0x3C);
    return pe + 24 + Get16(file, pe + 20);
}

// The file with zero bytes up to an 8-byte boundary and a certificate table
// of `tableSize` bytes (a multiple of 8) appended, and the entry naming it.
inline Bytes Sign(const Bytes &file, uint32_t tableSize = 1536)
{
    Bytes b = file;
    while (b.size() % 8)
        b.push_back(0);
    uint32_t at = uint32_t(b.size());
    b.resize(b.size() + tableSize, 0);
    Set32(b, at, tableSize);                             // WIN_CERTIFICATE dwLength
    Set16(b, at + 4, 0x0200);                            // revision 2
    Set16(b, at + 6, 0x0002);                            // PKCS#7 signed data
    for (uint32_t i = 8; i < tableSize; ++i)
        b[at + i] = uint8_t(0x30 + i % 61);
    Set32(b, SecurityEntry(b), at);
    Set32(b, SecurityEntry(b) + 4, tableSize);
    return b;
}

// Damage to the parts of a signed package that lead to its trailer: the
// PE headers, the security entry, the alignment and the table.  `file` is a
// package signed with Sign (or for real), whose trailer ends at trailerEnd.
struct SignedCase {
    std::string name;
    Bytes file;
    enum Expect { Loads, NotAPackage, Clean } expect;
    bool headers = false;   // damages the PE headers: no system will start the program
};

inline std::vector<SignedCase> SignedCases(const Bytes &file, uint32_t trailerEnd)
{
    std::vector<SignedCase> out;
    const uint32_t size = uint32_t(file.size()), entry = SecurityEntry(file), table = Get32(file, entry),
                   tableSize = Get32(file, entry + 4), headersEnd = HeadersEnd(file), pe = Get32(file, 0x3C);
    const uint32_t optional = pe + 24;
    auto add = [&](std::string name, SignedCase::Expect expect, auto change) {
        Bytes b = file;
        change(b);
        out.push_back({std::move(name), std::move(b), expect});
    };
    auto entryIs = [&](uint32_t at, uint32_t length) {
        return [=](Bytes &b) { Set32(b, entry, at); Set32(b, entry + 4, length); };
    };
    const auto Not = SignedCase::NotAPackage;
    add("as signed", SignedCase::Loads, [](Bytes &) {});
    // The security entry.
    add("table at 0", Not, entryIs(0, size));
    add("table inside the DOS header", Not, entryIs(0x10, size - 0x10));
    add("table one byte before the end of the headers", Not, entryIs(headersEnd - 1, size - headersEnd + 1));
    add("table at the end of the headers", Not, entryIs(headersEnd, size - headersEnd));
    add("table at the header offset, into the package", Not, entryIs(Get32(file, trailerEnd - 8), size - Get32(file, trailerEnd - 8)));
    add("table at the trailer", Not, entryIs(trailerEnd - 8, size - (trailerEnd - 8)));
    add("table 4 bytes into the trailer", Not, entryIs(trailerEnd - 4, size - (trailerEnd - 4)));
    // The table's first byte is a zero of dwLength: it may pass for alignment.
    add("table one byte later", SignedCase::Clean, entryIs(table + 1, tableSize - 1));
    add("table one byte later, same size", Not, entryIs(table + 1, tableSize));
    add("table one byte shorter", Not, entryIs(table, tableSize - 1));
    add("table one byte longer", Not, entryIs(table, tableSize + 1));
    add("table at the end, size 0", Not, entryIs(size, 0));
    add("table past the end", Not, entryIs(size + 8, 8));
    add("table of 4 bytes at the end", Not, entryIs(size - 4, 4));
    add("table size 2^32-1", Not, entryIs(table, 0xFFFFFFFFu));
    add("table size 2^31", Not, entryIs(table, 0x80000000u));
    add("table at 2^32-8, size 8", Not, entryIs(0xFFFFFFF8u, 8));
    add("table whose end wraps to the end of the file", Not, entryIs(table + 0x80000000u, tableSize + 0x80000000u));
    add("no table", Not, entryIs(0, 0));
    // The alignment and the trailer before the table.
    if (table > trailerEnd)
        add("nonzero alignment byte", Not, [&](Bytes &b) { b[table - 1] = 1; });
    add("magic before the table damaged", Not, [&](Bytes &b) { b[trailerEnd - 1] ^= 0xFF; });
    add("junk after the table", Not, [&](Bytes &b) { b.push_back(0); });
    add("header offset before the table past the end", SignedCase::Clean, [&](Bytes &b) { Set32(b, trailerEnd - 8, size + 100); });
    add("header offset before the table into the table", SignedCase::Clean, [&](Bytes &b) { Set32(b, trailerEnd - 8, table + 8); });
    // The PE headers on the way to the entry.
    const size_t firstHeaderCase = out.size();
    add("no MZ", Not, [&](Bytes &b) { b[1] = 'X'; });
    add("e_lfanew 0", Not, [&](Bytes &b) { Set32(b, 0x3C, 0); });
    add("e_lfanew inside the DOS header", Not, [&](Bytes &b) { Set32(b, 0x3C, 0x3C); });
    add("e_lfanew 4 bytes before the end", Not, [&](Bytes &b) { Set32(b, 0x3C, size - 4); });
    add("e_lfanew at the end", Not, [&](Bytes &b) { Set32(b, 0x3C, size); });
    add("e_lfanew 2^32-1", Not, [&](Bytes &b) { Set32(b, 0x3C, 0xFFFFFFFFu); });
    add("e_lfanew 2^32-20 (wraps)", Not, [&](Bytes &b) { Set32(b, 0x3C, 0xFFFFFFECu); });
    add("no PE signature", Not, [&](Bytes &b) { b[pe + 1] = 'X'; });
    add("optional header size 0", Not, [&](Bytes &b) { Set16(b, pe + 20, 0); });
    add("optional header size 1", Not, [&](Bytes &b) { Set16(b, pe + 20, 1); });
    add("optional header too short for the entry", Not, [&](Bytes &b) { Set16(b, pe + 20, (b[optional] == 0x0B && b[optional + 1] == 0x02 ? 112 : 96) + 39); });
    // Headers that claim 64 KiB: the table must still come after them.
    add("optional header size 0xFFFF", table >= optional + 0xFFFF ? SignedCase::Loads : Not,
        [&](Bytes &b) { Set16(b, pe + 20, 0xFFFF); });
    add("PE32 magic on a PE32+ header or the other way", Not, [&](Bytes &b) { b[optional + 1] ^= 0x03; });
    add("ROM image magic", Not, [&](Bytes &b) { Set16(b, optional, 0x107); });
    add("four data directories", Not, [&](Bytes &b) { Set32(b, entry - 4 * 8 - 4, 4); });
    add("no data directories", Not, [&](Bytes &b) { Set32(b, entry - 4 * 8 - 4, 0); });
    add("2^32-1 data directories", SignedCase::Loads, [&](Bytes &b) { Set32(b, entry - 4 * 8 - 4, 0xFFFFFFFFu); });
    // Headers cut short: a file that ends inside them names no table.
    for (uint32_t cut : {2u, 0x3Eu, 0x40u, pe + 2, pe + 20, optional + 1, entry + 2, entry + 6})
        out.push_back({"file cut at " + std::to_string(cut) + ", inside the headers", Bytes(file.begin(), file.begin() + cut), Not});
    for (size_t i = firstHeaderCase; i < out.size(); ++i)
        out[i].headers = true;
    return out;
}

}  // namespace pefake
