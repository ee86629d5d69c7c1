// A read cache of aligned 16 KB blocks for sources where every request is costly (HTTP and
// cloud storage through GDAL's network file systems).
//
// The library reads a file's structures a few kilobytes at a time, mostly forwards. GDAL's
// network files answer such a run of reads by doubling their read-ahead on every read that
// continues the last one, so a window of a small part of the file ended up fetching nearly
// all of it. Here every single read fetches exactly the blocks it is missing, consecutive ones
// as one range, all ranges in one call, and keeps them for the next reads (up to 64 MB; the
// oldest blocks go first). The sets of ranges the library hands over before a window's decode
// are not widened to blocks: they are fetched as they are unless the cache holds them
// (vsi_reader.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

namespace kavel_gdal {

class BlockCache {
  public:
    // Fetches count ranges (each whole; none beyond the source's end) into buffers; false on
    // failure.
    using Fetch = std::function<bool(size_t count, const uint64_t* offsets, const size_t* lengths,
                                     void* const* buffers)>;

    static constexpr uint64_t kBlockSize = 16384;
    static constexpr size_t kMaxBlocks = 4096;  // 64 MB

    BlockCache(uint64_t source_size, Fetch fetch);

    // Reads count ranges into buffers. A range reaching past the source's end is read up to
    // the end (*read_lengths, when given, says how much of each was read). False when a fetch
    // fails; buffers are then unspecified.
    bool read(size_t count, const uint64_t* offsets, const size_t* lengths, void* const* buffers,
              size_t* read_lengths = nullptr);

    // Whether the cache holds every byte of the range (within the source).
    bool holds(uint64_t offset, size_t length) const;

  private:
    uint64_t source_size_;
    Fetch fetch_;
    std::unordered_map<uint64_t, std::vector<uint8_t>> blocks_;  // by block number
    std::deque<uint64_t> order_;                                 // block numbers, oldest first
};

}  // namespace kavel_gdal
