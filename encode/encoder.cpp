#include "encode/encoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>

#include "decode/decode_driver.h"
#include "decode/dequantise.h"

namespace kavel {

namespace {

constexpr int32_t kMaxQuantised = 32767;  // the reader holds quantised values in 16 bits

// Dither origin of subband k: different subbands get differently shifted patterns.
DitherOrigin dither_origin(int32_t subband) {
    return {static_cast<uint8_t>((37 * subband + 11) & 127),
            static_cast<uint8_t>((91 * subband + 53) & 127)};
}

inline int32_t quantise(double u, const QuantiserSettings& q) {
    const double a = std::fabs(u);
    if (a < q.dead_zone) return 0;
    const double m = std::floor(a + q.rounding);
    const int32_t magnitude =
        m < 1.0 ? 1 : m > kMaxQuantised ? kMaxQuantised : static_cast<int32_t>(m);
    return u < 0 ? -magnitude : magnitude;
}

// What the reader rebuilds from q, in units of the step (before the dither).
inline double reconstruction(int32_t q) {
    return q == 0 ? 0.0 : q > 0 ? q + 0.06 : q - 0.06;
}

// Bytes a tile stream adds to the file: its header, its blocks and its tile record's offset.
uint64_t stream_bytes(const EncodedStream& stream) {
    return 2 + 16 + stream.table.symbols.size() + 12 + 4 * uint64_t(stream.block_count()) +
           stream.data.size() + 4;
}

struct TileJob {
    int32_t subband;
    int32_t tile;
    int32_t plane;
    int32_t x0, y0, x1, y1;  // subband coordinates, inclusive
};

// Quantises and codes one plane of one tile; nothing when every value quantises to 0.
bool code_tile(const TransformedImage& image, const TileJob& job, double step,
               const EncoderOptions& options, std::optional<EncodedStream>* out,
               std::string* error) {
    const Plane& plane = image.planes[std::size_t(job.plane)];
    const SubbandRect band = subband_rect(image.width, image.height, image.levels, job.subband);
    const float gain = subband_gain(image.levels, job.subband);
    const int32_t tw = job.x1 - job.x0 + 1, th = job.y1 - job.y0 + 1;
    const bool dithered = job.plane == 0;
    const DitherOrigin origin = dither_origin(job.subband);

    // The largest |coefficient| decides whether the step must grow to keep q in 16 bits.
    double largest = 0;
    for (int32_t y = 0; y < th; ++y) {
        const float* row = plane.row(band.y0 + job.y0 + y) + band.x0 + job.x0;
        for (int32_t x = 0; x < tw; ++x) largest = std::max(largest, double(std::fabs(row[x])));
    }
    float stored = static_cast<float>(step);
    float delta = effective_step(stored, gain, 0);
    if (largest / delta + 1.0 > kMaxQuantised) {
        stored = static_cast<float>(step * (largest / delta + 1.0) / (kMaxQuantised - 64));
        delta = effective_step(stored, gain, 0);
    }
    const double inverse = 1.0 / double(delta);

    StreamInput input;
    input.step = stored;
    input.block_width = options.block_size;
    input.block_height = options.block_size;
    input.coefficients.resize(std::size_t(tw) * std::size_t(th));
    bool any = false;
    double error_none = 0, error_coded = 0;  // in units of the step, squared
    for (int32_t y = 0; y < th; ++y) {
        const float* row = plane.row(band.y0 + job.y0 + y) + band.x0 + job.x0;
        int32_t* q = input.coefficients.data() + std::size_t(y) * std::size_t(tw);
        const float* dither =
            kDitherTable + std::size_t(((job.y0 + y) + origin.row) & 127) * 128;
        for (int32_t x = 0; x < tw; ++x) {
            const double exact = row[x] * inverse;
            const double d = dithered ? dither[((job.x0 + x) + origin.column) & 127] : 0.0;
            q[x] = quantise(exact + d, options.quantiser);
            any = any || q[x] != 0;
            const double rebuilt = reconstruction(q[x]) - d;
            error_none += exact * exact;
            error_coded += (exact - rebuilt) * (exact - rebuilt);
        }
    }
    if (!any) {
        out->reset();
        return true;
    }
    EncodedStream stream;
    if (!encode_stream(input, tw, th, &stream, error)) return false;
    const double bits = 8.0 * double(stream_bytes(stream));
    if (error_none - error_coded <= options.quantiser.lambda * bits) {
        out->reset();
        return true;
    }
    *out = std::move(stream);
    return true;
}

bool check_size(int32_t width, int32_t height, int32_t channels, std::string* error) {
    if (width < 1 || height < 1) {
        *error = "the picture is empty";
        return false;
    }
    if (channels != 1 && channels != 3) {
        *error = "the picture has " + std::to_string(channels) + " channels (1 or 3 expected)";
        return false;
    }
    const uint64_t samples = uint64_t(width) * uint64_t(height) * uint64_t(channels);
    if (samples > kMaxEncodeSamples) {
        *error = "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " is too large to encode (at most " + std::to_string(kMaxEncodeSamples) +
                 " samples)";
        return false;
    }
    return true;
}

}  // namespace

int32_t default_level_count(int32_t width, int32_t height) {
    int32_t levels = 0;
    BandSize band{width, height};
    while (std::max(band.width, band.height) >= 64 && levels < kMaxLevelCount) {
        band = child_band_size(band, 0);
        ++levels;
    }
    return levels;
}

int32_t max_level_count(int32_t width, int32_t height) {
    int32_t levels = 0;
    BandSize band{width, height};
    while (std::max(band.width, band.height) >= 2 && levels < kMaxLevelCount) {
        band = child_band_size(band, 0);
        ++levels;
    }
    return levels;
}

double step_for_quality(double quality) {
    const double q = std::clamp(quality, 1.0, 100.0);
    // Every 10 points halve the step; 100 is nearly lossless, 75 about 1.5 bits per pixel on
    // photographs, 50 about 0.5.
    return 0.5 * std::exp2((100.0 - q) / 10.0);
}

bool transform_picture(Picture picture, int32_t levels, TransformedImage* image,
                       std::string* error) {
    if (!check_size(picture.width, picture.height, picture.channels, error)) return false;
    const std::size_t count = std::size_t(picture.width) * std::size_t(picture.height);
    if (picture.samples.size() != count * std::size_t(picture.channels)) {
        *error = "the picture's sample count does not match its size";
        return false;
    }
    if (levels < 0 || levels > max_level_count(picture.width, picture.height)) {
        *error = std::to_string(levels) + " levels are too many for a " +
                 std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                 " picture (at most " +
                 std::to_string(max_level_count(picture.width, picture.height)) + ")";
        return false;
    }
    image->width = picture.width;
    image->height = picture.height;
    image->levels = levels;
    image->planes.assign(std::size_t(picture.channels), Plane{});
    for (Plane& plane : image->planes) {
        plane.width = picture.width;
        plane.height = picture.height;
        plane.samples.resize(count);
    }
    // The reader truncates samples toward zero: half a level up makes that a rounding.
    const uint8_t* s = picture.samples.data();
    if (picture.channels == 1) {
        float* y = image->planes[0].samples.data();
        for (std::size_t i = 0; i < count; ++i) y[i] = float(s[i]) + 0.5f;
    } else {
        const double* m = forward_colour_matrix();
        float* y = image->planes[0].samples.data();
        float* iv = image->planes[1].samples.data();
        float* qv = image->planes[2].samples.data();
        for (std::size_t i = 0; i < count; ++i) {
            const double r = s[3 * i] + 0.5, g = s[3 * i + 1] + 0.5, b = s[3 * i + 2] + 0.5;
            y[i] = static_cast<float>(m[0] * r + m[1] * g + m[2] * b);
            iv[i] = static_cast<float>(m[3] * r + m[4] * g + m[5] * b);
            qv[i] = static_cast<float>(m[6] * r + m[7] * g + m[8] * b);
        }
    }
    picture.samples.clear();
    picture.samples.shrink_to_fit();
    for (Plane& plane : image->planes) forward_wavelet(&plane, levels);
    return true;
}

bool code_image(const TransformedImage& image, double step, const EncoderOptions& options,
                EncodeResult* result, std::string* error) {
    if (!(step > 0) || !std::isfinite(step) || step > 1e30) {
        *error = "the step must be a positive number";
        return false;
    }
    if (options.tile_size < 1 || options.tile_size > 65535) {
        *error = "the tile size must be 1..65535";
        return false;
    }
    if (options.block_size < 1 || options.block_size > 65535) {
        *error = "the block size must be 1..65535";
        return false;
    }
    const int32_t planes = static_cast<int32_t>(image.planes.size());
    EncodedFile& file = result->file;
    file = EncodedFile{};
    file.planes = planes;
    file.levels = image.levels;
    file.width = image.width;
    file.height = image.height;
    file.layout = options.layout;
    file.subbands.resize(std::size_t(subband_count(image.levels)));

    std::vector<TileJob> jobs;
    for (int32_t k = 0; k < subband_count(image.levels); ++k) {
        const BandSize size = subband_size(image.width, image.height, image.levels, k);
        EncodedDirectory& dir = file.subbands[std::size_t(k)];
        const DitherOrigin origin = dither_origin(k);
        dir.dither_column = origin.column;
        dir.dither_row = origin.row;
        if (size.width == 0 || size.height == 0) continue;  // an empty band: T = 0
        int32_t t = 0;
        for (int32_t y0 = 0; y0 < size.height; y0 += options.tile_size) {
            for (int32_t x0 = 0; x0 < size.width; x0 += options.tile_size, ++t) {
                const int32_t x1 = std::min(size.width, x0 + options.tile_size) - 1;
                const int32_t y1 = std::min(size.height, y0 + options.tile_size) - 1;
                EncodedTile tile{x0, y0, x1, y1, {}};
                tile.planes.resize(std::size_t(planes));
                dir.tiles.push_back(std::move(tile));
                for (int32_t p = 0; p < planes; ++p) jobs.push_back({k, t, p, x0, y0, x1, y1});
            }
        }
    }

    // Tiles are independent: code them on a few threads, each result in its own place.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::string first_error;
    std::vector<std::string> errors(jobs.size());
    const auto work = [&] {
        for (std::size_t j; !failed && (j = next++) < jobs.size();) {
            const TileJob& job = jobs[j];
            const double plane_step =
                job.plane == 0 ? step : step * options.chroma_step_scale[job.plane - 1];
            auto& slot = file.subbands[std::size_t(job.subband)]
                             .tiles[std::size_t(job.tile)]
                             .planes[std::size_t(job.plane)];
            if (!code_tile(image, job, plane_step, options, &slot, &errors[j])) failed = true;
        }
    };
    int threads = options.threads > 0 ? options.threads
                                       : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, 8);
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    if (failed) {
        for (const std::string& e : errors)
            if (!e.empty()) {
                *error = e;
                break;
            }
        if (error->empty()) *error = "coding failed";
        return false;
    }
    result->levels = image.levels;
    result->step = step;
    result->bytes = encoded_file_size(file);
    ++result->passes;
    if (result->bytes > options.max_file_size) {
        *error = "the file would be " + std::to_string(result->bytes) +
                 " bytes, more than the format's 32-bit offsets can address (" +
                 std::to_string(options.max_file_size) + ")";
        return false;
    }
    return true;
}

bool encode_picture(Picture picture, const EncoderOptions& options, EncodeResult* result,
                    std::string* error) {
    if (!check_size(picture.width, picture.height, picture.channels, error)) return false;
    const int32_t levels =
        options.levels < 0 ? default_level_count(picture.width, picture.height) : options.levels;
    TransformedImage image;
    if (!transform_picture(std::move(picture), levels, &image, error)) return false;
    result->passes = 0;

    switch (options.mode) {
        case RateMode::quality:
            if (!(options.quality >= 1 && options.quality <= 100)) {
                *error = "the quality must be 1..100";
                return false;
            }
            return code_image(image, step_for_quality(options.quality), options, result, error);
        case RateMode::step:
            return code_image(image, options.step, options, result, error);
        case RateMode::bpp:
            break;
    }
    if (!(options.bpp > 0) || !std::isfinite(options.bpp)) {
        *error = "the bits per pixel must be a positive number";
        return false;
    }
    // Search the step whose file comes closest to the target size. The size falls as the step
    // grows, roughly as a power of it, so the search runs on log(step) against log(size).
    const double target = options.bpp * double(image.width) * double(image.height) / 8.0;
    EncoderOptions unlimited = options;
    unlimited.max_file_size = std::numeric_limits<uint64_t>::max();
    EncodeResult trial;
    double best_error = std::numeric_limits<double>::infinity();
    int passes = 0;
    const auto run = [&](double step, double* size) {
        if (!code_image(image, step, unlimited, &trial, error)) return false;
        ++passes;
        *size = double(trial.bytes);
        const double miss = std::fabs(std::log(*size / target));
        if (miss < best_error) {
            best_error = miss;
            *result = std::move(trial);
        }
        trial = EncodeResult{};
        return true;
    };
    constexpr double kSmallest = 1e-3, kLargest = 1e6;
    double lo = 0, hi = 0, size_lo = 0, size_hi = 0;  // lo: bigger file, hi: smaller file
    double step = std::clamp(2.0 / options.bpp, kSmallest, kLargest), size = 0;
    if (!run(step, &size)) return false;
    // Bracket the target.
    if (size > target) {
        lo = step, size_lo = size;
        while (size > target && step < kLargest) {
            step = std::min(kLargest, step * 2);
            if (!run(step, &size)) return false;
            if (size > target) lo = step, size_lo = size;
        }
        hi = step, size_hi = size;
    } else {
        hi = step, size_hi = size;
        while (size <= target && step > kSmallest) {
            step = std::max(kSmallest, step / 2);
            if (!run(step, &size)) return false;
            if (size <= target) hi = step, size_hi = size;
        }
        lo = step, size_lo = size;
    }
    // Interpolate in log-log space, falling back to bisection, until within 1 %.
    for (int i = 0; i < 16 && best_error > 0.01 && size_lo > target && size_hi <= target; ++i) {
        double t = std::log(size_lo / target) / std::log(size_lo / size_hi);
        if (!(t > 0.05 && t < 0.95)) t = 0.5;
        step = std::exp(std::log(lo) + t * (std::log(hi) - std::log(lo)));
        if (step <= lo || step >= hi) break;
        if (!run(step, &size)) return false;
        if (size > target) lo = step, size_lo = size;
        else hi = step, size_hi = size;
    }
    result->passes = passes;
    if (result->bytes > options.max_file_size) {
        *error = "the file would be " + std::to_string(result->bytes) +
                 " bytes, more than the format's 32-bit offsets can address";
        return false;
    }
    return true;
}

}  // namespace kavel
