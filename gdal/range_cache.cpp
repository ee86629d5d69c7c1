#include "gdal/range_cache.h"

#include <algorithm>
#include <cstring>

namespace kavel_gdal {

bool RangeCache::copy(uint64_t offset, size_t length, void* out) const {
    if (length == 0) return true;
    auto it = spans_.upper_bound(offset);
    if (it == spans_.begin()) return false;
    --it;
    if (offset + length > it->first + it->second.size()) return false;
    std::memcpy(out, it->second.data() + (offset - it->first), length);
    return true;
}

std::vector<std::pair<uint64_t, size_t>> RangeCache::missing(uint64_t offset,
                                                             size_t length) const {
    std::vector<std::pair<uint64_t, size_t>> parts;
    const uint64_t end = offset + length;
    uint64_t at = offset;
    auto it = spans_.upper_bound(offset);
    if (it != spans_.begin()) {
        const auto before = std::prev(it);
        at = std::max(at, before->first + before->second.size());
    }
    for (; at < end; ++it) {
        const uint64_t next = it != spans_.end() ? std::min(end, it->first) : end;
        if (next > at) parts.push_back({at, static_cast<size_t>(next - at)});
        if (it == spans_.end()) break;
        at = std::max(at, it->first + it->second.size());
    }
    return parts;
}

void RangeCache::keep(uint64_t offset, const uint8_t* bytes, size_t length) {
    if (length == 0 || length > kMaxBytes) return;
    if (kept_ + length > kMaxBytes) {
        spans_.clear();
        kept_ = 0;
    }
    // Join with the spans it meets or touches: one span from the first to the last of them.
    uint64_t start = offset;
    uint64_t end = offset + length;
    auto it = spans_.upper_bound(offset);
    if (it != spans_.begin() && std::prev(it)->first + std::prev(it)->second.size() >= offset) --it;
    std::vector<uint8_t> joined;
    auto first = it;
    for (; it != spans_.end() && it->first <= end; ++it) {
        start = std::min(start, it->first);
        end = std::max<uint64_t>(end, it->first + it->second.size());
    }
    joined.resize(static_cast<size_t>(end - start));
    for (auto span = first; span != it; ++span) {
        std::memcpy(joined.data() + (span->first - start), span->second.data(), span->second.size());
        kept_ -= span->second.size();
    }
    std::memcpy(joined.data() + (offset - start), bytes, length);
    spans_.erase(first, it);
    kept_ += joined.size();
    spans_.emplace(start, std::move(joined));
}

}  // namespace kavel_gdal
