// lebytes.h -- little-endian fields appended to, set in or read from a byte buffer, as
// the CAB and setup-information writers of the tests lay them out.
#pragma once

#include "../../package/littleendian.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

inline void Put16(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline void Put32(std::vector<uint8_t> &out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

inline void Set16(std::vector<uint8_t> &out, size_t at, uint32_t v)
{
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}

inline void Set32(std::vector<uint8_t> &out, size_t at, uint32_t v)
{
    Set16(out, at, v & 0xFFFF);
    Set16(out, at + 2, v >> 16);
}

inline uint16_t Get16(const std::vector<uint8_t> &in, size_t at) { return ReadLittle16(&in[at]); }

inline uint32_t Get32(const std::vector<uint8_t> &in, size_t at) { return ReadLittle32(&in[at]); }

}  // namespace testsupport
