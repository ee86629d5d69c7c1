#include "encode/encoder.h"

#include <algorithm>
#include <array>
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
    const int32_t magnitude = m < 1.0             ? 1
                              : m > kMaxQuantised ? kMaxQuantised
                                                  : static_cast<int32_t>(m);
    return u < 0 ? -magnitude : magnitude;
}

// What the reader rebuilds from q, in units of the step (before the dither).
inline double reconstruction(int32_t q) { return q == 0 ? 0.0 : q > 0 ? q + 0.06 : q - 0.06; }

// Bytes a tile stream adds to the file: its header, its blocks and its tile record's offset.
uint64_t stream_bytes(const EncodedStream& stream) {
    return 2 + 16 + stream.table.symbols.size() + 12 + 4 * uint64_t(stream.block_count()) +
           stream.data.size() + 4;
}

// Bits of a value under a code (lengths per symbol, 0 = absent).
double value_bits(int32_t q, const std::array<CodeWord, 256>& codes) {
    if (q >= -73 && q <= 75 && codes[std::size_t(180 + q)].length)
        return codes[std::size_t(180 + q)].length;
    const uint32_t m = static_cast<uint32_t>(q < 0 ? -q : q);
    const CodeWord eight = codes[q < 0 ? 102 : 101], sixteen = codes[q < 0 ? 104 : 103];
    if (m <= 255 && eight.length) return eight.length + 8.0;
    if (sixteen.length) return sixteen.length + 16.0;
    return 20.0;  // not in the code yet: a new table entry and a long code
}

// Rate-distortion pass over the quantised values of a tile: each value may drop by one step
// toward zero, or to zero, where that lowers error + lambda x bits. The bits come from the code
// the first pass built: a value costs its symbol, and a value after zeros also the run symbol
// that ends those zeros (the average run symbol of the first pass).
template <typename Exact>
void optimise_tile(std::vector<int32_t>* values, int32_t tw, int32_t th,
                   const EncodedStream& stream, double lambda, const Exact& exact_at) {
    std::array<CodeWord, 256> codes;
    if (!canonical_codes(stream.table, &codes)) return;
    // The average run symbol of the first pass.
    std::vector<BlockSymbol> symbols;
    double run_bits = 0, runs = 0;
    const SymbolSet set = SymbolSet::of(stream.table);
    const int32_t bw = stream.block_width, bh = stream.block_height;
    std::vector<int32_t> block;
    for (int32_t by = 0; by < th; by += bh)
        for (int32_t bx = 0; bx < tw; bx += bw) {
            block.clear();
            for (int32_t y = by; y < std::min(th, by + bh); ++y)
                for (int32_t x = bx; x < std::min(tw, bx + bw); ++x)
                    block.push_back((*values)[std::size_t(y) * std::size_t(tw) + std::size_t(x)]);
            symbols.clear();
            if (!symbolise_block(block.data(), block.size(), set, &symbols)) return;
            for (const BlockSymbol& sym : symbols) {
                const bool run = (sym.symbol >= 1 && sym.symbol <= 100) || sym.symbol == 105 ||
                                 sym.symbol == 106;
                if (!run) continue;
                runs += 1;
                run_bits += codes[sym.symbol].length + (sym.symbol == 105   ? 8
                                                        : sym.symbol == 106 ? 16
                                                                            : 0);
            }
        }
    const double run_cost = runs > 0 ? run_bits / runs : 6.0;
    for (int32_t by = 0; by < th; by += bh)
        for (int32_t bx = 0; bx < tw; bx += bw) {
            bool after_zero = false;
            for (int32_t y = by; y < std::min(th, by + bh); ++y)
                for (int32_t x = bx; x < std::min(tw, bx + bw); ++x) {
                    int32_t& q = (*values)[std::size_t(y) * std::size_t(tw) + std::size_t(x)];
                    if (q != 0) {
                        double d = 0;
                        const double target =
                            exact_at(x, y, &d) + d;  // what q + dither should rebuild
                        const auto cost = [&](int32_t c) {
                            const double e = target - reconstruction(c);
                            return e * e + (c == 0 ? 0.0
                                                   : lambda * (value_bits(c, codes) +
                                                               (after_zero ? run_cost : 0.0)));
                        };
                        int32_t best = q;
                        double best_cost = cost(q);
                        const int32_t sign = q > 0 ? 1 : -1;
                        if (q * sign >= 2 && cost(q - sign) < best_cost) {
                            best = q - sign;
                            best_cost = cost(best);
                        }
                        if (cost(0) < best_cost) best = 0;
                        q = best;
                    }
                    after_zero = q == 0;
                }
        }
}

struct TileJob {
    int32_t subband;
    int32_t tile;
    int32_t plane;
    int32_t x0, y0, x1, y1;  // subband coordinates, inclusive
    int32_t block;           // block side
};

// One coding of a tile at one step: the stream (none when every value is 0), its squared error
// in units of the step and its bits.
struct TileCoding {
    std::optional<EncodedStream> stream;
    double error = 0;       // sum of squared errors, in units of this coding's step
    double error_none = 0;  // the same without a stream (the reader takes zeros)
    double bits = 0;
};

// Quantises and codes one plane of one tile with the stored step `stored`.
// The coefficients of one plane of one tile (row-major) and the dither the reader subtracts
// from each (0 off plane 0).
struct TileSamples {
    int32_t width = 0, height = 0;
    int32_t block = 64;  // block side
    std::vector<float> values;
    std::vector<float> dither;
};

bool code_tile_at(const TileSamples& tile, float stored, float gain, const EncoderOptions& options,
                  double lambda, TileCoding* coding, std::string* error) {
    const int32_t tw = tile.width, th = tile.height;
    const double inverse = 1.0 / double(effective_step(stored, gain, 0));
    // The coefficient in units of the step, and the dither the reader will subtract.
    const auto exact_at = [&](int32_t x, int32_t y, double* d) {
        const std::size_t i = std::size_t(y) * std::size_t(tw) + std::size_t(x);
        *d = tile.dither[i];
        return double(tile.values[i]) * inverse;
    };

    StreamInput input;
    input.step = stored;
    input.block_width = tile.block;
    input.block_height = tile.block;
    input.coefficients.resize(std::size_t(tw) * std::size_t(th));
    bool any = false;
    for (std::size_t i = 0; i < input.coefficients.size(); ++i) {
        const int32_t q =
            quantise(double(tile.values[i]) * inverse + tile.dither[i], options.quantiser);
        input.coefficients[i] = q;
        any = any || q != 0;
    }
    coding->stream.reset();
    coding->bits = 0;
    if (any) {
        EncodedStream stream;
        // The first coding only prices the symbols: no pruning of rare ones yet.
        input.prune_rare_symbols = !options.quantiser.optimise;
        if (!encode_stream(input, tw, th, &stream, error)) return false;
        input.prune_rare_symbols = true;
        if (options.quantiser.optimise) {
            // Second pass: with the code of the first pass as the price list, keep each value
            // only where it pays for its bits.
            optimise_tile(&input.coefficients, tw, th, stream, lambda, exact_at);
            any = std::any_of(input.coefficients.begin(), input.coefficients.end(),
                              [](int32_t q) { return q != 0; });
            if (any && !encode_stream(input, tw, th, &stream, error)) return false;
        }
        if (any) {
            coding->bits = 8.0 * double(stream_bytes(stream));
            coding->stream = std::move(stream);
        }
    }
    // Without a stream the reader takes zeros, without dither.
    coding->error = 0;
    coding->error_none = 0;
    for (std::size_t i = 0; i < input.coefficients.size(); ++i) {
        const double exact = double(tile.values[i]) * inverse;
        const double rebuilt =
            coding->stream ? reconstruction(input.coefficients[i]) - tile.dither[i] : 0.0;
        coding->error += (exact - rebuilt) * (exact - rebuilt);
        coding->error_none += exact * exact;
    }
    return true;
}

// Codes one plane of one tile: tries the step and a step either side of it, and leaving the
// tile out, and keeps whichever gives the least error + lambda x bits (errors compared in units
// of the nominal step, so that the pixels' squared error is what counts).
bool code_tile(const TransformedImage& image, const TileJob& job, double step,
               const EncoderOptions& options, std::optional<EncodedStream>* out,
               std::string* error) {
    const Plane& plane = image.planes[std::size_t(job.plane)];
    const SubbandRect band = subband_rect(image.width, image.height, image.levels, job.subband);
    const float gain = subband_gain(image.levels, job.subband);
    const int32_t tw = job.x1 - job.x0 + 1, th = job.y1 - job.y0 + 1;

    TileSamples tile;
    tile.width = tw;
    tile.height = th;
    tile.block = job.block;
    tile.values.resize(std::size_t(tw) * std::size_t(th));
    tile.dither.assign(tile.values.size(), 0.0f);
    const DitherOrigin origin = dither_origin(job.subband);
    // The largest |coefficient| decides whether the step must grow to keep q in 16 bits.
    double largest = 0;
    for (int32_t y = 0; y < th; ++y) {
        const float* row = plane.row(band.y0 + job.y0 + y) + band.x0 + job.x0;
        std::copy(row, row + tw, tile.values.begin() + std::ptrdiff_t(y) * tw);
        for (int32_t x = 0; x < tw; ++x) largest = std::max(largest, double(std::fabs(row[x])));
        if (job.plane != 0) continue;
        const float* dither = kDitherTable + std::size_t(((job.y0 + y) + origin.row) & 127) * 128;
        for (int32_t x = 0; x < tw; ++x)
            tile.dither[std::size_t(y) * std::size_t(tw) + std::size_t(x)] =
                dither[((job.x0 + x) + origin.column) & 127];
    }
    const double smallest_step =
        double(gain) * (largest + 1.0) / (kMaxQuantised - 64);  // keeps |q| below 32767

    const double lambda = options.quantiser.lambda;
    double best_cost = std::numeric_limits<double>::infinity();
    out->reset();
    // The cost falls and rises again with the step: walk from the nominal step toward finer
    // steps while that helps, otherwise toward coarser ones. Factors below 1 are tried finest
    // last, factors above 1 coarsest last.
    std::vector<double> finer, coarser;
    for (double factor : options.quantiser.step_factors) {
        if (factor < 1.0) finer.push_back(factor);
        if (factor > 1.0) coarser.push_back(factor);
    }
    std::sort(finer.rbegin(), finer.rend());
    std::sort(coarser.begin(), coarser.end());
    const auto attempt = [&](double factor, bool* better) {
        const float stored = static_cast<float>(std::max(step * factor, smallest_step));
        const double m = double(stored) / step;  // this coding's step in nominal steps
        TileCoding coding;
        if (!code_tile_at(tile, stored, gain, options, lambda / (m * m), &coding, error))
            return false;
        if (factor == 1.0) best_cost = m * m * coding.error_none;  // leaving the tile out
        const double cost = m * m * coding.error + lambda * coding.bits;
        *better = cost < best_cost;
        if (*better) {
            best_cost = cost;
            *out = std::move(coding.stream);
        }
        return true;
    };
    bool better = false;
    if (!attempt(1.0, &better)) return false;
    if (!*out) return true;  // nothing worth coding at the nominal step: coarser is no better
    bool went_finer = false;
    for (double factor : finer) {
        if (!attempt(factor, &better)) return false;
        if (!better) break;
        went_finer = true;
    }
    if (!went_finer)
        for (double factor : coarser) {
            if (!attempt(factor, &better)) return false;
            if (!better) break;
        }
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

int32_t tile_size_for(int32_t width, int32_t height, int32_t block) {
    const double area = double(width) * double(height);
    const double best = std::pow(9.0 * area * double(block) * double(block) / 2.0, 0.25);
    int32_t side = 64;
    while (side < 2048 && side * 1.41421356 < best) side *= 2;
    return std::max(side, 4 * block);
}

int32_t block_size_for(int32_t level, int32_t finest, int32_t smallest) {
    int32_t side = finest;
    for (int32_t d = 1; d < level && side / 2 >= smallest; ++d) side /= 2;
    return std::max(1, side);
}

double step_for_quality(double quality) {
    const double q = std::clamp(quality, 1.0, 100.0);
    // On photographs: 100 is nearly lossless (about 60 dB), 90 about 50 dB, 75 about 1.5 bits
    // per pixel and 38 dB, 50 about 0.4 bits per pixel; below 75 every 12.5 points double the
    // step, above it every 5.5 points halve it.
    return q <= 75.0 ? 8.0 * std::exp2((75.0 - q) / 12.5) : 8.0 * std::exp2((75.0 - q) / 5.5);
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
    if (options.tile_size < 0 || options.tile_size > 65535) {
        *error = "the tile size must be 1..65535 (0: automatic)";
        return false;
    }
    if (options.block_size < 0 || options.block_size > 65535) {
        *error = "the block size must be 1..65535 (0: automatic)";
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
        const int32_t block = options.block_size > 0
                                  ? options.block_size
                                  : block_size_for(subband_position(k, image.levels).level,
                                                   options.finest_block, options.smallest_block);
        const int32_t side = options.tile_size > 0 ? options.tile_size
                                                   : tile_size_for(size.width, size.height, block);
        int32_t t = 0;
        for (int32_t y0 = 0; y0 < size.height; y0 += side) {
            for (int32_t x0 = 0; x0 < size.width; x0 += side, ++t) {
                const int32_t x1 = int32_t(std::min<int64_t>(size.width, int64_t(x0) + side) - 1);
                const int32_t y1 = int32_t(std::min<int64_t>(size.height, int64_t(y0) + side) - 1);
                EncodedTile tile{x0, y0, x1, y1, {}};
                tile.planes.resize(std::size_t(planes));
                dir.tiles.push_back(std::move(tile));
                for (int32_t p = 0; p < planes; ++p)
                    jobs.push_back({k, t, p, x0, y0, x1, y1, block});
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
    // Known bounds: lo gives a file above the target, hi one at or below it (0: none yet).
    double lo = 0, hi = 0, size_lo = 0, size_hi = 0;
    double previous = 0, previous_size = 0;
    // On photographs the size goes roughly as step^-1.2 and 1 bit per pixel needs a step of
    // about 16: the first guess.
    double step = std::clamp(16.0 / options.bpp, kSmallest, kLargest), size = 0;
    for (int i = 0; i < 20; ++i) {
        if (!run(step, &size)) return false;
        if (best_error <= 0.01) break;
        if (size > target && (lo == 0 || step > lo)) lo = step, size_lo = size;
        if (size <= target && (hi == 0 || step < hi)) hi = step, size_hi = size;
        if (lo != 0 && hi != 0 && hi / lo < 1.003) break;  // a jump in size: closest is kept
        // Secant in log-log space (slope from the last two passes, or -1.2).
        double slope = -1.2;
        if (previous > 0 && previous != step) {
            const double s = std::log(size / previous_size) / std::log(step / previous);
            if (std::isfinite(s) && s < -0.2 && s > -5) slope = s;
        }
        double next = step * std::exp(std::log(target / size) / slope);
        next = std::clamp(next, step / 4, step * 4);
        if (lo != 0 && hi != 0 && !(next > lo && next < hi)) {
            // Outside the bracket: interpolate inside it instead.
            double t = std::log(size_lo / target) / std::log(size_lo / size_hi);
            if (!(t > 0.05 && t < 0.95)) t = 0.5;
            next = std::exp(std::log(lo) + t * (std::log(hi) - std::log(lo)));
        }
        next = std::clamp(next, kSmallest, kLargest);
        if (next == step) break;
        previous = step;
        previous_size = size;
        step = next;
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
