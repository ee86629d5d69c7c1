#include "gdal/block_cache.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace kavel_gdal {

BlockCache::BlockCache(uint64_t source_size, Fetch fetch)
    : source_size_(source_size), fetch_(std::move(fetch)) {}

bool BlockCache::holds(uint64_t offset, size_t length) const {
    if (length == 0) return true;
    if (offset >= source_size_ || length > source_size_ - offset) return false;
    for (uint64_t b = offset / kBlockSize; b <= (offset + length - 1) / kBlockSize; ++b)
        if (blocks_.find(b) == blocks_.end()) return false;
    return true;
}

bool BlockCache::read(size_t count, const uint64_t* offsets, const size_t* lengths,
                      void* const* buffers, size_t* read_lengths) {
    // The part of each range within the source, and the blocks it needs that are missing.
    std::vector<size_t> clipped(count);
    std::set<uint64_t> missing;
    for (size_t i = 0; i < count; ++i) {
        clipped[i] =
            offsets[i] >= source_size_
                ? 0
                : static_cast<size_t>(std::min<uint64_t>(lengths[i], source_size_ - offsets[i]));
        if (read_lengths != nullptr) read_lengths[i] = clipped[i];
        if (clipped[i] == 0) continue;
        for (uint64_t b = offsets[i] / kBlockSize; b <= (offsets[i] + clipped[i] - 1) / kBlockSize;
             ++b)
            if (blocks_.find(b) == blocks_.end()) missing.insert(b);
    }

    // Runs of consecutive missing blocks, each fetched as one range, all in one call.
    std::vector<uint64_t> run_offsets;
    std::vector<size_t> run_lengths;
    std::vector<std::vector<uint8_t>> run_data;
    for (auto it = missing.begin(); it != missing.end();) {
        const uint64_t first = *it;
        uint64_t last = first;
        for (++it; it != missing.end() && *it == last + 1; ++it) last = *it;
        const uint64_t start = first * kBlockSize;
        const uint64_t end = std::min(source_size_, (last + 1) * kBlockSize);
        run_offsets.push_back(start);
        run_lengths.push_back(static_cast<size_t>(end - start));
        run_data.emplace_back(static_cast<size_t>(end - start));
    }
    if (!run_data.empty()) {
        std::vector<void*> targets;
        for (auto& data : run_data) targets.push_back(data.data());
        if (!fetch_(run_data.size(), run_offsets.data(), run_lengths.data(), targets.data()))
            return false;
        for (size_t r = 0; r < run_data.size(); ++r) {
            for (uint64_t start = 0; start < run_lengths[r]; start += kBlockSize) {
                const uint64_t b = (run_offsets[r] + start) / kBlockSize;
                const size_t n =
                    static_cast<size_t>(std::min<uint64_t>(kBlockSize, run_lengths[r] - start));
                blocks_[b].assign(run_data[r].begin() + static_cast<ptrdiff_t>(start),
                                  run_data[r].begin() + static_cast<ptrdiff_t>(start + n));
                order_.push_back(b);
            }
        }
    }

    for (size_t i = 0; i < count; ++i) {
        uint64_t at = offsets[i];
        auto* out = static_cast<uint8_t*>(buffers[i]);
        for (size_t done = 0; done < clipped[i];) {
            const std::vector<uint8_t>& block = blocks_.at(at / kBlockSize);
            const size_t within = static_cast<size_t>(at % kBlockSize);
            const size_t n = std::min(clipped[i] - done, block.size() - within);
            std::memcpy(out + done, block.data() + within, n);
            done += n;
            at += n;
        }
    }

    // Only now, so that no block of this read was dropped before it was copied.
    while (order_.size() > kMaxBlocks) {
        blocks_.erase(order_.front());
        order_.pop_front();
    }
    return true;
}

}  // namespace kavel_gdal
