// memcab.h -- a cabinet already in memory (a mapped file, a component
// decoded from a package), for the directory reader of cabdir.h.
#pragma once

#include "cabdir.h"

#include <cstring>

namespace velkor {

class MemoryCab : public CabBytes {
public:
    MemoryCab(const uint8_t *data, uint64_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    void Read(uint64_t offset, size_t n, uint8_t *out) override { std::memcpy(out, data_ + offset, n); }

private:
    const uint8_t *data_;
    uint64_t size_;
};

}  // namespace velkor
