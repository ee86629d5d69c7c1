// Fuzzes the header read: read_image_header on an in-memory stream and on a file
// (open_image_header, kavel::Image::open), and, for every header that describes an image, the
// band plan at every scale and a region request.
//
// Checks: the fields read are the big-endian values at offsets 7, 11, 15 and 19; the read fails
// exactly when the input is shorter than 23 bytes or does not start with "kvel"; the three
// readers agree; the plan of scale s is the image at scale s with 3(L - s) + 1 subbands
// numbered 0..3(L - s); the pool is empty after every step.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format/image_header.h"
#include "format/kavel.h"
#include "format/pool.h"
#include "format/region_request.h"
#include "fuzz/fuzz_check.h"

namespace {

int32_t be32_at(const uint8_t* data, std::size_t offset) {
    const uint32_t v = (uint32_t{data[offset]} << 24) | (uint32_t{data[offset + 1]} << 16) |
                       (uint32_t{data[offset + 2]} << 8) | uint32_t{data[offset + 3]};
    return static_cast<int32_t>(v);
}

// Leaves of a plan, checking that each is numbered once within 0..expected-1.
void count_leaves(const BandNode* node, int32_t expected, int32_t* leaves, bool* seen) {
    FUZZ_CHECK(node != nullptr);
    if (!node->split) {
        FUZZ_CHECK(node->subband >= 0 && node->subband < expected);
        FUZZ_CHECK(!seen[node->subband]);
        seen[node->subband] = true;
        ++*leaves;
        return;
    }
    for (const BandNode* child : node->children) count_leaves(child, expected, leaves, seen);
}

void check_band_plans(const ImageHeader& header, int32_t window_byte) {
    // Absent scales print a line each: try them on a few inputs only.
    const bool try_absent = window_byte == 0x7F;
    for (int32_t scale = try_absent ? -1 : 0; scale <= header.levels + (try_absent ? 1 : 0);
         ++scale) {
        RegionRequest request{};
        request.levels = header.levels;
        request.scale = scale;
        request.width = header.width;
        request.height = header.height;
        request.x0 = request.y0 = 0;
        request.x1 = request.y1 = window_byte;
        request.stride = window_byte + 1;
        BandNode* plan = nullptr;
        const int built = build_band_plan(&plan, &request);
        if (scale < 0 || scale > header.levels) {
            FUZZ_CHECK(built != 0);
            pool_free_all();
            continue;
        }
        FUZZ_CHECK(built == 0 && plan != nullptr);
        FUZZ_CHECK(plan->size[0] == kavel::size_at_scale(header.width, scale));
        FUZZ_CHECK(plan->size[1] == kavel::size_at_scale(header.height, scale));
        const int32_t expected = 3 * (header.levels - scale) + 1;
        bool seen[3 * kMaxLevels + 1] = {};
        int32_t leaves = 0;
        count_leaves(plan, expected, &leaves, seen);
        FUZZ_CHECK(leaves == expected);
        release_band_plan(plan);
        FUZZ_CHECK(pool_block_count() == 0);
    }
}

// The file each run writes its input to, one per process, removed when the process exits.
const std::string& temp_path() {
    static const std::string path =
        "/dev/shm/kavel-fuzz-header-" + std::to_string(static_cast<long>(getpid())) + ".kvl";
    static const bool removed_at_exit = std::atexit([] { std::remove(temp_path().c_str()); }) == 0;
    (void)removed_at_exit;
    return path;
}

bool write_file(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::unique_ptr<ByteSource> source = make_memory_source(data, size);
    FUZZ_CHECK(source != nullptr);
    ByteStream stream(*source);
    ImageHeader header{};
    const int read = read_image_header(&stream, &header);
    FUZZ_CHECK(stream.size() == static_cast<int64_t>(size));

    const bool well_formed =
        size >= static_cast<std::size_t>(kHeaderSize) && std::memcmp(data, "kvel", 4) == 0;
    FUZZ_CHECK((read == 0) == well_formed);
    if (read == 0) {
        FUZZ_CHECK(header.planes == be32_at(data, 7));
        FUZZ_CHECK(header.levels == be32_at(data, 11));
        FUZZ_CHECK(header.width == be32_at(data, 15));
        FUZZ_CHECK(header.height == be32_at(data, 19));
    }

    // The same bytes as a file.
    const std::string& path = temp_path();
    FUZZ_CHECK(write_file(path, data, size));
    int32_t planes = 0, levels = 0, width = 0, height = 0;
    const int opened = open_image_header(path.c_str(), &planes, &levels, &width, &height);
    FUZZ_CHECK(opened == read);
    if (opened == 0) {
        FUZZ_CHECK(planes == header.planes && levels == header.levels && width == header.width &&
                   height == header.height);
    }
    std::string error;
    const auto image = kavel::Image::open(path, &error);
    const bool usable = read == 0 && header_is_usable(header);
    FUZZ_CHECK(image.has_value() == usable);
    FUZZ_CHECK(usable || !error.empty());

    const int32_t window_byte = size > 23 ? data[23] : 0;
    RegionRequest* request = nullptr;
    const std::unique_ptr<ByteSource> file = open_file_source(path.c_str());
    FUZZ_CHECK(file != nullptr);
    const int made = make_region_request(*file, &request, window_byte % 8, 0, window_byte, 0,
                                         window_byte, window_byte + 1);
    FUZZ_CHECK(request != nullptr);
    FUZZ_CHECK((made == 0) == (usable && window_byte % 8 <= header.levels));
    FUZZ_CHECK(free_region_request(request) == 0);
    FUZZ_CHECK(pool_block_count() == 0);

    if (usable) {
        FUZZ_CHECK(image->info().planes == header.planes);
        FUZZ_CHECK(image->width_at(header.levels) >= 1 && image->height_at(header.levels) >= 1);
        check_band_plans(header, window_byte);
    }
    FUZZ_CHECK(pool_block_count() == 0);
    return 0;
}
