// hostile.h -- hostile packages for the installation tests: two sample
// packages as the builder writes them, a map of every count, size and offset
// field in them, a boundary table built from that map, packages of odd but
// valid content, and seeded random damage.  Shared by the in-process sweep
// and the end-to-end sample through setup.exe.
#pragma once

#include "lebytes.h"
#include "testpackages.h"

#include <string>
#include <vector>

namespace installtest {

struct HostileSample {
    std::string name;
    velkor::PackageRecipe recipe;
    Bytes file;                       // image, package and trailer, as the builder writes them
    std::vector<Bytes> cabs;          // each component's CAB as packed
    // Each component's CAB members (name, content), as the installer
    // should write them.
    std::vector<std::vector<std::pair<std::string, Bytes>>> members;
    uint32_t headerOffset = 0;
    std::vector<uint32_t> payloadOffsets;
    uint32_t payloadEnd = 0;          // where the trailer starts
};

// "Tool": a variable, two selected components (a CAB of two 64 KiB chunks
// that goes to the chosen folder, and a small one that does not), no pages.
HostileSample TwoComponentSample(const Bytes &image = StandInImage());
// Like the demo package: two variables, four components of which three are
// selected, one spanning three chunks, destination chosen by the user.
HostileSample DemoLikeSample(const Bytes &image = StandInImage(), uint8_t pageFlags = 0x3F);

// One field of the format inside a sample's file.
struct Field {
    std::string name;
    uint32_t offset = 0;
    int width = 4;                    // 1 or 4
    enum Kind { Count, Size, Offset, Flag, Compressed } kind = Count;
};
// Every count, size and offset field (and the flag and compressed bytes) of
// the header, of the first and last text, of every component, of each
// payload's first chunk, and the trailer's header offset, in file order.
std::vector<Field> FieldsOf(const HostileSample &sample);

struct HostileCase {
    std::string name;
    Bytes file;
    // Boundary cases need only end cleanly; odd but valid packages must
    // install every selected CAB unchanged; junk after the trailer is no
    // package.
    enum Expect { Clean, Installs, NotAPackage } expect = Clean;
};
// For every field: 0, 1, the rest of the file, one more than it, 2^31-1,
// 2^31, 2^32-1, and the values that matter for that field (an offset inside
// the trailer or past the end, another component's payload, a sum of sizes
// that wraps, a count whose array size wraps in 32 bits...).
std::vector<HostileCase> BoundaryCases(const HostileSample &sample);
// Valid packages of odd content (components as in TwoComponentSample), and
// junk after the trailer.
std::vector<HostileCase> OddCases(const Bytes &image = StandInImage());

// The sample signed as signing tools do it (zero bytes to an 8-byte
// boundary, then a certificate table that the PE header's security entry
// names); `image` must be a PE image.  payloadEnd stays where the trailer
// starts.
HostileSample Signed(HostileSample sample);
// Damage on the way from the PE header to the trailer of a signed sample,
// and the sample signed with each of the 8 alignments.  `runnable`: only
// the cases that leave the PE headers whole, for running the file itself.
std::vector<HostileCase> SignedCases(const HostileSample &signedSample, bool runnable = false);

// Changes about fraction of the bytes from `from` to the end (every change
// a different value), reproducibly for a seed.
Bytes RandomDamage(const Bytes &file, uint32_t from, uint32_t seed, double fraction = 0.01);

// The little-endian fields of the boundary table and the damage.
using testsupport::Get32;
using testsupport::Set32;

}  // namespace installtest
