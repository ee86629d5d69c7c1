#include "gdal/vsi_reader.h"

#include <limits>
#include <mutex>
#include <vector>

namespace kavel_gdal {
namespace {

struct VsiSource {
    VSILFILE* file = nullptr;
    std::mutex mutex;
    bool* closed = nullptr;  // while opening: set when the library closes the source
};

int64_t read_at(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* source = static_cast<VsiSource*>(context);
    std::lock_guard lock(source->mutex);
    if (VSIFSeekL(source->file, offset, SEEK_SET) != 0) return -1;
    // A short count is the end of the file or a failed read; either way the library sees
    // fewer bytes than it needs and reports where.
    return static_cast<int64_t>(VSIFReadL(buffer, 1, length, source->file));
}

int read_ranges(void* context, size_t count, const uint64_t* offsets, const size_t* lengths,
                void* const* buffers) {
    auto* source = static_cast<VsiSource*>(context);
    if (count == 0) return 0;
    if (count > static_cast<size_t>(std::numeric_limits<int>::max())) return -1;
    // VSIFReadMultiRangeL takes non-const arrays of its own types.
    std::vector<void*> targets(buffers, buffers + count);
    std::vector<vsi_l_offset> starts(offsets, offsets + count);
    std::vector<size_t> sizes(lengths, lengths + count);
    std::lock_guard lock(source->mutex);
    return VSIFReadMultiRangeL(static_cast<int>(count), targets.data(), starts.data(), sizes.data(),
                               source->file) == 0
               ? 0
               : -1;
}

void close_source(void* context) {
    auto* source = static_cast<VsiSource*>(context);
    if (source->closed != nullptr) *source->closed = true;
    VSIFCloseL(source->file);
    delete source;
}

}  // namespace

kavel_status open_vsi_image(VSILFILE* file, kavel_image** image) {
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
