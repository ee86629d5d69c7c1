#include "encode/encoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <queue>
#include <tuple>
#include <thread>

#include "decode/decode_driver.h"
#include "decode/dequantise.h"
#include "encode/rate_model.h"

namespace kavel {

namespace {

constexpr int32_t kMaxQuantised = 32767;  // the reader holds quantised values in 16 bits

// Coded bits over the rate model's bits on photographs (the mean over grey and colour
// photographs and a mosaic at 0.25 to 4 bits per pixel), for the first guess of the step.
constexpr double kPriorScale = 1.16;
// A first pass within this (log) distance of the target needs no second one: moving tiles to
// other codings they tried closes the gap.
constexpr double kOnePass = 0.03;

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

// The codings of a tile that were tried, kept for a later change of mind (rate control): each
// with its stream (none: the tile left out), its squared error in units of the nominal step and
// its bytes in the file. The chosen coding's stream is in the file, not here.
struct TileOption {
    std::optional<EncodedStream> stream;
    double error = 0;
    double bytes = 0;
};
struct TileOptions {
    std::vector<TileOption> tried;
    std::size_t chosen = 0;
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
               TileOptions* kept, std::string* error) {
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
    std::vector<TileOption> tried;
    std::size_t best = 0;
    double best_cost = std::numeric_limits<double>::infinity();
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
        if (factor == 1.0) {  // leaving the tile out
            tried.push_back({std::nullopt, m * m * coding.error_none, 0.0});
            best_cost = tried.back().error;
        }
        if (!coding.stream) {
            *better = false;
            return true;
        }
        const double cost = m * m * coding.error + lambda * coding.bits;
        *better = cost < best_cost;
        if (*better) {
            best_cost = cost;
            best = tried.size();
        }
        const double bytes = coding.bits / 8.0 - 4.0;  // the tile record's offset is there anyway
        tried.push_back({std::move(coding.stream), m * m * coding.error, bytes});
        return true;
    };
    bool better = false;
    if (!attempt(1.0, &better)) return false;
    if (better) {  // nothing worth coding at the nominal step: coarser is no better
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
    }
    *out = std::move(tried[best].stream);
    tried[best].stream.reset();
    if (kept) *kept = {std::move(tried), best};
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

namespace {

// The file's directories (tile rectangles, no streams yet) and one job per tile and plane.
bool plan_tiles(const TransformedImage& image, const EncoderOptions& options, EncodedFile* file,
                std::vector<TileJob>* jobs, std::string* error) {
    if (options.tile_size < 0 || options.tile_size > 65535) {
        *error = "the tile size must be 1..65535 (0: automatic)";
        return false;
    }
    if (options.block_size < 0 || options.block_size > 65535) {
        *error = "the block size must be 1..65535 (0: automatic)";
        return false;
    }
    const int32_t planes = static_cast<int32_t>(image.planes.size());
    *file = EncodedFile{};
    file->planes = planes;
    file->levels = image.levels;
    file->width = image.width;
    file->height = image.height;
    file->layout = options.layout;
    file->subbands.resize(std::size_t(subband_count(image.levels)));
    jobs->clear();
    for (int32_t k = 0; k < subband_count(image.levels); ++k) {
        const BandSize size = subband_size(image.width, image.height, image.levels, k);
        EncodedDirectory& dir = file->subbands[std::size_t(k)];
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
                    jobs->push_back({k, t, p, x0, y0, x1, y1, block});
            }
        }
    }
    return true;
}

// Runs work(j) for j = 0..count-1 on a few threads; stops early once one returns false.
template <typename Work>
bool run_jobs(std::size_t count, int threads, const Work& work) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto loop = [&] {
        for (std::size_t j; !failed && (j = next++) < count;)
            if (!work(j)) failed = true;
    };
    threads = threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, 8);
    std::vector<std::thread> pool;
    for (int i = 1; i < threads && std::size_t(i) < count; ++i) pool.emplace_back(loop);
    loop();
    for (std::thread& thread : pool) thread.join();
    return !failed;
}

double plane_step(double step, int32_t plane, const EncoderOptions& options) {
    return plane == 0 ? step : step * options.chroma_step_scale[plane - 1];
}

// Codes the planned tiles at nominal step S into file.
bool code_jobs(const TransformedImage& image, const std::vector<TileJob>& jobs, double step,
               const EncoderOptions& options, EncodedFile* file, std::vector<TileOptions>* kept,
               std::string* error) {
    std::vector<std::string> errors(jobs.size());
    if (kept) kept->assign(jobs.size(), TileOptions{});
    const bool ok = run_jobs(jobs.size(), options.threads, [&](std::size_t j) {
        const TileJob& job = jobs[j];
        auto& slot = file->subbands[std::size_t(job.subband)]
                         .tiles[std::size_t(job.tile)]
                         .planes[std::size_t(job.plane)];
        return code_tile(image, job, plane_step(step, job.plane, options), options, &slot,
                         kept ? &(*kept)[j] : nullptr, &errors[j]);
    });
    if (ok) return true;
    for (const std::string& e : errors)
        if (!e.empty()) {
            *error = e;
            return false;
        }
    *error = "coding failed";
    return false;
}

// The histogram of every tile's magnitudes, in units of its effective step at nominal step 1.
std::vector<MagnitudeHistogram> tile_histograms(const TransformedImage& image,
                                                const std::vector<TileJob>& jobs,
                                                const EncoderOptions& options) {
    std::vector<MagnitudeHistogram> histograms(jobs.size());
    run_jobs(jobs.size(), options.threads, [&](std::size_t j) {
        const TileJob& job = jobs[j];
        const Plane& plane = image.planes[std::size_t(job.plane)];
        const SubbandRect band =
            subband_rect(image.width, image.height, image.levels, job.subband);
        const float scale = static_cast<float>(
            1.0 / double(effective_step(float(plane_step(1.0, job.plane, options)),
                                        subband_gain(image.levels, job.subband), 0)));
        MagnitudeHistogram& histogram = histograms[j];
        for (int32_t y = job.y0; y <= job.y1; ++y) {
            const float* row = plane.row(band.y0 + y) + band.x0;
            for (int32_t x = job.x0; x <= job.x1; ++x) histogram.add(std::fabs(row[x]) * scale);
        }
        return true;
    });
    return histograms;
}

// Bits each job's stream takes in the file (0 where the tile plane has no stream).
std::vector<double> coded_bits(const EncodedFile& file, const std::vector<TileJob>& jobs) {
    std::vector<double> bits(jobs.size(), 0.0);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const auto& slot = file.subbands[std::size_t(jobs[j].subband)]
                               .tiles[std::size_t(jobs[j].tile)]
                               .planes[std::size_t(jobs[j].plane)];
        if (slot) bits[j] = 8.0 * double(stream_bytes(*slot));
    }
    return bits;
}

bool check_step(double step, std::string* error) {
    if (!(step > 0) || !std::isfinite(step) || step > 1e30) {
        *error = "the step must be a positive number";
        return false;
    }
    return true;
}

bool check_result_size(const EncodeResult& result, uint64_t limit, std::string* error) {
    if (result.bytes <= limit) return true;
    *error = "the file would be " + std::to_string(result.bytes) +
             " bytes, more than the format's 32-bit offsets can address (" +
             std::to_string(limit) + ")";
    return false;
}

// Codes at step S into result (its file replaced), counting the pass.
bool code_pass(const TransformedImage& image, const std::vector<TileJob>& jobs,
               const EncodedFile& plan, double step, const EncoderOptions& options,
               EncodeResult* result, std::vector<TileOptions>* kept, std::string* error) {
    if (!check_step(step, error)) return false;
    result->file = plan;
    if (!code_jobs(image, jobs, step, options, &result->file, kept, error)) return false;
    result->levels = image.levels;
    result->step = step;
    result->bytes = encoded_file_size(result->file);
    ++result->passes;
    return true;
}

}  // namespace

bool code_image(const TransformedImage& image, double step, const EncoderOptions& options,
                EncodeResult* result, std::string* error) {
    if (!check_step(step, error)) return false;
    EncodedFile plan;
    std::vector<TileJob> jobs;
    if (!plan_tiles(image, options, &plan, &jobs, error)) return false;
    if (!code_pass(image, jobs, plan, step, options, result, nullptr, error)) return false;
    return check_result_size(*result, options.max_file_size, error);
}

namespace {

// Moves tiles to other codings they tried until the file comes as close to target_bytes as
// these allow: to fewer bytes at the least added error per byte saved, or to more bytes at the
// most error removed per byte added, one tile at a time. Every tile chose its coding for the
// least error + lambda x bits, so small moves cost little; no tile is coded again.
void move_toward_size(const std::vector<TileJob>& jobs, std::vector<TileOptions>* kept,
                      double target_bytes, EncodeResult* result) {
    EncodedFile& file = result->file;
    double size = double(result->bytes);
    const bool shrink = size > target_bytes;
    // The best move of tile j from its current coding: (merit, option); merit is the error
    // added per byte saved (shrinking, least first) or minus the error removed per byte added
    // (growing, least first).
    const auto best_move = [&](std::size_t j) {
        const TileOptions& options = (*kept)[j];
        const TileOption& current = options.tried[options.chosen];
        std::pair<double, std::size_t> best{std::numeric_limits<double>::infinity(), 0};
        for (std::size_t i = 0; i < options.tried.size(); ++i) {
            const TileOption& option = options.tried[i];
            const double saved = current.bytes - option.bytes;
            if (shrink ? saved <= 0 : saved >= 0) continue;
            const double merit = (option.error - current.error) / saved;
            if (merit < best.first) best = {merit, i};
        }
        return best;
    };
    using Move = std::tuple<double, std::size_t, std::size_t>;  // merit, tile, option
    std::priority_queue<Move, std::vector<Move>, std::greater<Move>> moves;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const auto [merit, option] = best_move(j);
        if (std::isfinite(merit)) moves.push({merit, j, option});
    }
    const auto slot_of = [&](std::size_t j) -> std::optional<EncodedStream>& {
        return file.subbands[std::size_t(jobs[j].subband)]
            .tiles[std::size_t(jobs[j].tile)]
            .planes[std::size_t(jobs[j].plane)];
    };
    const auto switch_to = [&](std::size_t j, std::size_t option) {
        TileOptions& options = (*kept)[j];
        std::optional<EncodedStream>& slot = slot_of(j);
        size += options.tried[option].bytes - options.tried[options.chosen].bytes;
        options.tried[options.chosen].stream = std::move(slot);
        slot = std::move(options.tried[option].stream);
        options.tried[option].stream.reset();
        options.chosen = option;
    };
    while (!moves.empty() && (shrink ? size > target_bytes : size < target_bytes)) {
        const auto [merit, j, option] = moves.top();
        moves.pop();
        if (best_move(j).second != option) continue;  // the tile has moved since
        const std::size_t before = (*kept)[j].chosen;
        const double size_before = size;
        switch_to(j, option);
        const bool crossed = shrink ? size <= target_bytes : size >= target_bytes;
        if (crossed && std::fabs(std::log(size_before / target_bytes)) <
                           std::fabs(std::log(size / target_bytes))) {
            switch_to(j, before);  // the last move went further past than it started
            break;
        }
        const auto next = best_move(j);
        if (std::isfinite(next.first)) moves.push({next.first, j, next.second});
    }
    result->bytes = encoded_file_size(file);
}

double miss(uint64_t bytes, double target_bytes) {
    return std::fabs(std::log(double(bytes) / target_bytes));
}

}  // namespace

bool code_to_size(const TransformedImage& image, double target_bytes,
                  const EncoderOptions& options, EncodeResult* result, std::string* error) {
    EncodedFile plan;
    std::vector<TileJob> jobs;
    if (!plan_tiles(image, options, &plan, &jobs, error)) return false;
    constexpr double kSmallest = 1e-3, kLargest = 1e6;
    RateModel model(tile_histograms(image, jobs, options), double(encoded_file_size(plan)));
    // First pass: the step the uncalibrated model gives for the target.
    const double first = RateModel::solve(
        [&](double s) { return model.uncalibrated_bytes(s, kPriorScale); }, target_bytes,
        kSmallest, kLargest);
    result->passes = 0;
    std::vector<TileOptions> kept;
    if (!code_pass(image, jobs, plan, first, options, result, &kept, error)) return false;
    if (miss(result->bytes, target_bytes) <= kOnePass) {
        move_toward_size(jobs, &kept, target_bytes, result);
        return check_result_size(*result, options.max_file_size, error);
    }
    // Second pass: the model calibrated tile by tile on the first.
    const std::vector<double> bits = coded_bits(result->file, jobs);
    double stream_total = 0;
    for (double b : bits) stream_total += b / 8.0;
    model.calibrate(first, bits, double(result->bytes) - stream_total);
    const double second = RateModel::solve(
        [&](double s) { return model.predicted_bytes(s); }, target_bytes, kSmallest, kLargest);
    EncodeResult final_pass;
    final_pass.passes = result->passes;
    std::vector<TileOptions> final_kept;
    kept.clear();
    if (!code_pass(image, jobs, plan, second, options, &final_pass, &final_kept, error))
        return false;
    if (miss(final_pass.bytes, target_bytes) <= miss(result->bytes, target_bytes)) {
        move_toward_size(jobs, &final_kept, target_bytes, &final_pass);
        *result = std::move(final_pass);
    } else {
        result->passes = final_pass.passes;
    }
    return check_result_size(*result, options.max_file_size, error);
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
    const double target = options.bpp * double(image.width) * double(image.height) / 8.0;
    return code_to_size(image, target, options, result, error);
}

}  // namespace kavel
