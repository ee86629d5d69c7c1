// Fuzzes the region decode on an arbitrary file, with the scale and the window taken from the
// first bytes of the input (see fuzz_inputs.h), through the plain routines
// (make_region_request, decode_region, free_region_request) or through kavel::Image. Every
// input is decoded twice, by the fast decoder and by the reference decoder.
//
// The window is also decoded through a source that reads several ranges at once (which fetches
// what the decode reads ahead) and through the same source without range reads.
//
// Checks: the decoders agree (verdict and bytes), and so do the two sources (status and bytes);
// after every decode the pool is empty; a failed
// decode leaves the caller's buffer as it was; a successful one writes 0 for the pixels beyond
// the image; nothing is written outside rows x stride bytes (the buffer is a heap block of
// exactly that size, so AddressSanitizer sees any stray write).
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/reference/reference_decoder.h"
#include "format/image_header.h"
#include "format/kavel.h"
#include "format/pool.h"
#include "format/region_decode.h"
#include "format/region_request.h"
#include "format/window_decode.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_inputs.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;

// The file each run writes its input to, one per process, removed when the process exits.
const std::string& temp_path() {
    static const std::string path =
        "/dev/shm/kavel-fuzz-region-" + std::to_string(static_cast<long>(getpid())) + ".kvl";
    static const bool removed_at_exit = std::atexit([] { std::remove(temp_path().c_str()); }) == 0;
    (void)removed_at_exit;
    return path;
}

void write_file(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

struct Window {
    int32_t x0, y0, x1, y1;
    int32_t stride;
};

// Decodes the window into buffer (rows x stride bytes); true on success.
bool decode(const std::string& path, const kavel_fuzz::RegionParameters& p, const Window& w,
            uint8_t* buffer, const DecoderOverride* decoder) {
    if (p.use_image_api) {
        std::string error;
        const auto image = kavel::Image::open(path, &error);
        if (!image) return false;
        const bool ok = image->decode(p.scale, kavel::Window{w.x0, w.y0, w.x1, w.y1}, buffer,
                                      static_cast<std::size_t>(w.stride), &error, decoder);
        FUZZ_CHECK(ok || !error.empty());
        return ok;
    }
    const std::unique_ptr<ByteSource> source = open_file_source(path.c_str());
    FUZZ_CHECK(source != nullptr);
    RegionRequest* request = nullptr;
    if (make_region_request(*source, &request, p.scale, w.x0, w.x1, w.y0, w.y1, w.stride) != 0) {
        if (request != nullptr) FUZZ_CHECK(free_region_request(request) == 0);
        return false;
    }
    DecodeContext context;
    context.decoder = decoder;
    if (decode_region(*source, request, buffer, &context) != 0) return false;  // pool released
    FUZZ_CHECK(free_region_request(request) == 0);
    return true;
}

// The window the parameters name, its corner counted from the anchor.
Window anchored_window(const kavel_fuzz::RegionParameters& p, int32_t width, int32_t height) {
    const auto place = [&p](int32_t offset, int32_t size, int32_t count) {
        int64_t first = offset;
        if (p.anchor == 1) first = int64_t{size} + offset;
        if (p.anchor == 2) first = int64_t{INT32_MAX} - 255 + (offset & 0xFF);
        if (p.anchor == 3) first = int64_t{INT32_MIN} + (offset & 0xFF);
        // Keep the whole window within 32-bit coordinates.
        first = std::clamp<int64_t>(first, INT32_MIN, int64_t{INT32_MAX} - (count - 1));
        return static_cast<int32_t>(first);
    };
    const int32_t scale = p.scale < 0 ? 0 : p.scale;
    Window w{};
    w.x0 = place(p.x0, kavel::size_at_scale(width, scale), p.columns);
    w.y0 = place(p.y0, kavel::size_at_scale(height, scale), p.rows);
    w.x1 = w.x0 + (p.columns - 1);
    w.y1 = w.y0 + (p.rows - 1);
    return w;
}

// The input's bytes as a source that is not in memory (so that it is read as a file would be),
// with or without range reads.
class InputSource final : public ByteSource {
  public:
    InputSource(const uint8_t* data, std::size_t size, bool ranges)
        : ByteSource(static_cast<int64_t>(size), nullptr), data_(data), ranges_(ranges) {}
    bool reads_ranges() const override { return ranges_; }
    bool read_ranges(std::size_t count, const int64_t* offsets, const int64_t* lengths,
                     uint8_t* const* buffers) const override {
        FUZZ_CHECK(ranges_);
        for (std::size_t i = 0; i < count; ++i) {
            FUZZ_CHECK(offsets[i] >= 0 && lengths[i] > 0 && lengths[i] <= size() - offsets[i]);
            std::copy_n(data_ + offsets[i], lengths[i], buffers[i]);
        }
        return true;
    }

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        std::copy_n(data_ + offset, count, static_cast<uint8_t*>(out));
        return count;
    }

  private:
    const uint8_t* data_;
    bool ranges_;
};

bool all_bytes(const std::vector<uint8_t>& bytes, uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    kavel_fuzz::InputCursor in(data, size);
    const kavel_fuzz::RegionParameters p = kavel_fuzz::parse_region_parameters(&in);
    const std::string& path = temp_path();
    write_file(path, in.rest(), in.rest_size());

    // The header decides the plane count (and the whole image's window); a file without a
    // usable header is still decoded, with one plane, to see it refused.
    int32_t planes = 1, levels = 0, width = 1, height = 1;
    const bool has_header =
        open_image_header(path.c_str(), &planes, &levels, &width, &height) == 0 &&
        header_is_usable(ImageHeader{planes, levels, width, height});
    if (!has_header) planes = 1;
    Window w = anchored_window(p, has_header ? width : 1, has_header ? height : 1);
    if (p.whole_image && has_header && p.scale >= 0) {
        w.x0 = w.y0 = 0;
        w.x1 = std::min(kavel::size_at_scale(width, p.scale), kavel_fuzz::kMaxWindowSide) - 1;
        w.y1 = std::min(kavel::size_at_scale(height, p.scale), kavel_fuzz::kMaxWindowSide) - 1;
    }
    // Keep a decode's buffer within 32 MiB however many planes the header names (room for
    // a full 256 x 256 window of 255 planes, which kavel::Image decodes in strips of rows).
    int64_t columns = int64_t{w.x1} - w.x0 + 1;
    int64_t rows = int64_t{w.y1} - w.y0 + 1;
    while (columns * rows * planes > (int64_t{1} << 25)) {
        if (columns > 1) columns = (columns + 1) / 2;
        if (rows > 1) rows = (rows + 1) / 2;
    }
    w.x1 = static_cast<int32_t>(w.x0 + columns - 1);
    w.y1 = static_cast<int32_t>(w.y0 + rows - 1);
    w.stride = static_cast<int32_t>(columns * planes + p.stride_padding);
    const auto buffer_size = static_cast<std::size_t>(rows * w.stride);

    std::vector<uint8_t> results[2];
    bool verdicts[2] = {false, false};
    for (int reference = 0; reference < 2; ++reference) {
        auto* buffer = new uint8_t[buffer_size];
        std::fill(buffer, buffer + buffer_size, kUntouched);
        verdicts[reference] =
            decode(path, p, w, buffer, reference != 0 ? reference_decoder() : nullptr);
        results[reference].assign(buffer, buffer + buffer_size);
        delete[] buffer;
        FUZZ_CHECK(pool_block_count() == 0);
        if (!verdicts[reference]) FUZZ_CHECK(all_bytes(results[reference], kUntouched));
    }
    if (has_header) {
        DecodeStatus statuses[2] = {};
        std::vector<uint8_t> outputs[2];
        for (int ranged = 0; ranged < 2; ++ranged) {
            const InputSource source(in.rest(), in.rest_size(), ranged != 0);
            outputs[ranged].assign(buffer_size, kUntouched);
            std::string message;
            statuses[ranged] = decode_window(
                source, ImageHeader{planes, levels, width, height}, p.scale,
                PixelWindow{w.x0, w.y0, w.x1, w.y1}, outputs[ranged].data(),
                static_cast<std::size_t>(w.stride), WindowDecodeSettings{}, &message);
            FUZZ_CHECK(pool_block_count() == 0);
        }
        FUZZ_CHECK(statuses[0] == statuses[1]);
        FUZZ_CHECK(outputs[0] == outputs[1]);
    }
    static const bool verbose = std::getenv("KAVEL_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fprintf(stderr, "scale %d window %d,%d..%d,%d stride %d: %s / %s\n", p.scale, w.x0,
                     w.y0, w.x1, w.y1, w.stride, verdicts[0] ? "decoded" : "refused",
                     verdicts[1] ? "decoded" : "refused");
    }
    FUZZ_CHECK(verdicts[0] == verdicts[1]);
    if (!verdicts[0]) return 0;
    FUZZ_CHECK(results[0] == results[1]);

    // Pixels beyond the image at this scale decode as 0.
    const int32_t scaled_width = kavel::size_at_scale(width, p.scale);
    const int32_t scaled_height = kavel::size_at_scale(height, p.scale);
    for (int64_t r = 0; r < rows; ++r) {
        const int64_t y = w.y0 + r;
        for (int64_t c = 0; c < columns; ++c) {
            const int64_t x = w.x0 + c;
            if (x >= 0 && x < scaled_width && y >= 0 && y < scaled_height) continue;
            for (int32_t j = 0; j < planes; ++j) {
                FUZZ_CHECK(results[0][static_cast<std::size_t>(r * w.stride + c * planes + j)] ==
                           0);
            }
        }
    }
    return 0;
}
