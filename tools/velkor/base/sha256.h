// sha256.h -- SHA-256 (FIPS 180-4) for `velkor diff`, which compares the
// decoded CAB files of two packages without keeping them in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velkor {

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t *data, size_t size);
    std::array<uint8_t, 32> Finish();   // the object must not be updated afterwards
    std::string FinishHex();            // 64 lower-case hex digits

private:
    void Block(const uint8_t *p);
    uint32_t h_[8];
    uint8_t buffer_[64];
    size_t used_ = 0;
    uint64_t total_ = 0;
};

std::string Sha256Hex(const uint8_t *data, size_t size);

}  // namespace velkor
