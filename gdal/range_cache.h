// The byte ranges the library has had fetched for its decodes (sets of ranges handed over at
// once, not widened to the block cache's blocks), kept for the next decodes of the same file:
// a large read cut into many windows finds the file's index and the blocks its windows share
// already here. Up to 64 MB; beyond, everything kept is dropped and keeping starts afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace kavel_gdal {

class RangeCache {
  public:
    static constexpr uint64_t kMaxBytes = uint64_t{64} << 20;

    // Copies the range into out when every byte of it is kept.
    bool copy(uint64_t offset, size_t length, void* out) const;
    // The parts of the range that are not kept, in order.
    std::vector<std::pair<uint64_t, size_t>> missing(uint64_t offset, size_t length) const;
    // Keeps the bytes (which are the file's bytes at offset).
    void keep(uint64_t offset, const uint8_t* bytes, size_t length);

  private:
    std::map<uint64_t, std::vector<uint8_t>> spans_;  // by offset; apart from one another
    uint64_t kept_ = 0;
};

}  // namespace kavel_gdal
