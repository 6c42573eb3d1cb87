// cabwrite.h -- a small writer of uncompressed cabinet files, so tests can
// make CABs with any member names (gcab cleans the names it is given).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace installtest {

using Bytes = std::vector<uint8_t>;

// One folder, no compression, no checksums; member names are stored as
// given (backslashes as separators).
Bytes MakeCab(const std::vector<std::pair<std::string, Bytes>> &members);

}  // namespace installtest
