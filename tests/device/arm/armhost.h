// armhost.h -- what the native driver and the emulator's runner share, so
// that the lines they print for the same package are written by the same
// code: the heading of each package, the file host's line when a component
// file is closed (its bytes and their SHA-256), and the path conversions.
#pragma once

#include "sha256.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace armhost {

inline std::string Narrow(const char16_t *s)
{
    std::string out;
    for (; *s; ++s)
        out += *s < 0x80 ? char(*s) : '?';
    return out;
}

inline std::u16string Widen(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

inline bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

// "package NAME" with the file's name only, so that runs over different
// folders compare.
inline std::string PackageHeading(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return "package " + (slash == std::string::npos ? path : path.substr(slash + 1));
}

// A file the program writes: only its length and digest are kept.
class WrittenFile {
public:
    explicit WrittenFile(std::string name) : name_(std::move(name)) {}
    void Write(const uint8_t *data, size_t size)
    {
        digest_.Update(data, size);
        bytes_ += size;
    }
    uint64_t Bytes() const { return bytes_; }
    // The line reported when the program closes the file.
    std::string Closed()
    {
        return "file " + name_ + ": " + std::to_string(bytes_) + " bytes, sha256 " + digest_.FinishHex();
    }

private:
    std::string name_;
    velkor::Sha256 digest_;
    uint64_t bytes_ = 0;
};

}  // namespace armhost
