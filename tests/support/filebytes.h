// filebytes.h -- whole files in and out through std::filesystem, for the test
// programs that run here rather than under the bench (testsupport.h's pair
// is the Windows one, for paths inside the device root).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace testsupport {

// Empty when missing or unreadable.
inline std::vector<uint8_t> ReadBytes(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file; its folder must exist.  False when it was not written in full.
inline bool WriteBytes(const std::filesystem::path &p, const std::vector<uint8_t> &b)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
    return bool(out);
}

}  // namespace testsupport
