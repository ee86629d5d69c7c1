#include "gdal/vsi_reader.h"

#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "gdal/block_cache.h"
#include "gdal/range_cache.h"

namespace kavel_gdal {
namespace {

struct VsiSource {
    VSILFILE* file = nullptr;
    std::unique_ptr<BlockCache> cache;  // for network files only
    RangeCache ranges;                  // what read_ranges fetched, for network files
    std::mutex mutex;
    bool* closed = nullptr;  // while opening: set when the library closes the source
};

// Several ranges in one call of the virtual file layer, which fetches them together from a
// network file (consecutive ones as one request). A single range is handed over as two halves:
// a plain read of a network file would also start GDAL's growing read-ahead.
bool fetch_ranges(VSILFILE* file, size_t count, const uint64_t* offsets, const size_t* lengths,
                  void* const* buffers) {
    if (count == 0) return true;
    if (count > static_cast<size_t>(std::numeric_limits<int>::max() / 2)) return false;
    std::vector<void*> targets;
    std::vector<vsi_l_offset> starts;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < count; ++i) {
        const size_t first_half = count == 1 ? lengths[i] / 2 : 0;
        if (first_half > 0) {
            targets.push_back(buffers[i]);
            starts.push_back(offsets[i]);
            sizes.push_back(first_half);
        }
        targets.push_back(static_cast<char*>(buffers[i]) + first_half);
        starts.push_back(offsets[i] + first_half);
        sizes.push_back(lengths[i] - first_half);
    }
    return VSIFReadMultiRangeL(static_cast<int>(targets.size()), targets.data(), starts.data(),
                               sizes.data(), file) == 0;
}

int64_t read_at(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* source = static_cast<VsiSource*>(context);
    std::lock_guard lock(source->mutex);
    if (source->cache) {
        size_t got = 0;
        if (!source->cache->read(1, &offset, &length, &buffer, &got)) return -1;
        return static_cast<int64_t>(got);
    }
    if (VSIFSeekL(source->file, offset, SEEK_SET) != 0) return -1;
    // A short count is the end of the file or a failed read; either way the library sees
    // fewer bytes than it needs and reports where.
    return static_cast<int64_t>(VSIFReadL(buffer, 1, length, source->file));
}

int read_ranges(void* context, size_t count, const uint64_t* offsets, const size_t* lengths,
                void* const* buffers) {
    auto* source = static_cast<VsiSource*>(context);
    std::lock_guard lock(source->mutex);
    if (!source->cache)
        return fetch_ranges(source->file, count, offsets, lengths, buffers) ? 0 : -1;
    // The library hands over the ranges one step of its decode needs, joined where they lie
    // close: what the block cache holds whole, or the ranges fetched for earlier decodes, is
    // copied; the rest is fetched as asked (not widened to the cache's blocks, which would
    // fetch more than the ranges) and kept for the next decodes.
    std::vector<uint64_t> fetch_offsets;
    std::vector<size_t> fetch_lengths;
    std::vector<std::vector<uint8_t>> fetched;
    std::vector<size_t> pending;  // the ranges not copied yet
    for (size_t i = 0; i < count; ++i) {
        if (source->cache->holds(offsets[i], lengths[i])) {
            size_t got = 0;
            if (!source->cache->read(1, &offsets[i], &lengths[i], &buffers[i], &got) ||
                got != lengths[i]) {
                return -1;
            }
            continue;
        }
        if (source->ranges.copy(offsets[i], lengths[i], buffers[i])) continue;
        pending.push_back(i);
        for (const auto& [at, length] : source->ranges.missing(offsets[i], lengths[i])) {
            fetch_offsets.push_back(at);
            fetch_lengths.push_back(length);
            fetched.emplace_back(length);
        }
    }
    std::vector<void*> targets;
    for (auto& bytes : fetched) targets.push_back(bytes.data());
    if (!fetch_ranges(source->file, targets.size(), fetch_offsets.data(), fetch_lengths.data(),
                      targets.data())) {
        return -1;
    }
    for (size_t k = 0; k < fetched.size(); ++k)
        source->ranges.keep(fetch_offsets[k], fetched[k].data(), fetched[k].size());
    for (size_t i : pending) {
        // Kept whole now, unless a range larger than the cache was asked for.
        if (source->ranges.copy(offsets[i], lengths[i], buffers[i])) continue;
        if (!fetch_ranges(source->file, 1, &offsets[i], &lengths[i], &buffers[i])) return -1;
    }
    return 0;
}

void close_source(void* context) {
    auto* source = static_cast<VsiSource*>(context);
    if (source->closed != nullptr) *source->closed = true;
    VSIFCloseL(source->file);
    delete source;
}

}  // namespace

kavel_status open_vsi_image(VSILFILE* file, const char* path, kavel_image** image) {
    *image = nullptr;
    if (VSIFSeekL(file, 0, SEEK_END) != 0) {
        VSIFCloseL(file);
        return KAVEL_ERROR_IO;
    }
    auto* source = new VsiSource;
    source->file = file;
    kavel_reader reader{};
    reader.context = source;
    reader.size = VSIFTellL(file);
    if (!VSIIsLocal(path)) {
        source->cache = std::make_unique<BlockCache>(
            reader.size, [file](size_t count, const uint64_t* offsets, const size_t* lengths,
                                void* const* buffers) {
                // The file's first block: GDAL read it when it opened the file (to find the
                // driver) and keeps it, so a plain read costs no request.
                if (count == 1 && offsets[0] == 0 && lengths[0] <= BlockCache::kBlockSize) {
                    return VSIFSeekL(file, 0, SEEK_SET) == 0 &&
                           VSIFReadL(buffers[0], 1, lengths[0], file) == lengths[0];
                }
                return fetch_ranges(file, count, offsets, lengths, buffers);
            });
    }
    reader.read_at = read_at;
    reader.read_ranges = read_ranges;
    reader.close = close_source;
    // A failed open may or may not have closed the source already: close it once.
    bool closed = false;
    source->closed = &closed;
    const kavel_status status = kavel_open_reader(&reader, image);
    if (status == KAVEL_OK) {
        source->closed = nullptr;  // kavel_close closes it
    } else if (!closed) {
        close_source(source);
    }
    return status;
}

}  // namespace kavel_gdal
