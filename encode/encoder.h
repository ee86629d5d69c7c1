// The Kavel encoder: an 8-bit grey or RGB picture in, a complete Kavel file out.
//
//   picture  --(+0.5, colour transform)-->  Y [, I, Q] planes
//            --(L levels of 9/7 analysis)-->  3L+1 subbands per plane
//            --(dead-zone quantiser, dither on plane 0)-->  quantised tiles
//            --(symbols, canonical codes, layout)-->  file  (kavel_writer.h)
//
// Rate: one nominal step S, chosen from a quality setting, given directly, or found for a
// target size in bits per pixel (at most two coding passes, see code_to_size). The reader divides a stored step by the subband's gain, which
// already weights the subbands for squared pixel error, so S serves every subband (scaled per
// plane for colour); each tile then keeps whichever of a few steps around S, or no stream at
// all, gives the least error + lambda x bits, and a second quantisation pass drops values that
// do not pay for their bits.
//
// Layout defaults: blocks of 64 x 64 coefficients in the finest subbands, 32 x 32 in all coarser
// ones; tiles of 128 to 2048 coefficients on a side by the subband's size (tile_size_for).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/forward_wavelet.h"
#include "encode/kavel_writer.h"

namespace kavel {

// An 8-bit picture: channels 1 (grey) or 3 (RGB), samples interleaved, rows top to bottom.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    std::vector<uint8_t> samples;
};

enum class RateMode { quality, step, bpp };

// How a quantised value q is chosen for a coefficient c with effective step D (plane 0 adds the
// dither d first): u = c / D (+ d); |q| = 0 if |u| < dead_zone, otherwise
// max(1, floor(|u| + rounding)), with the sign of u. The reader rebuilds sign(q)(|q| + 0.06) D
// (minus d D on plane 0), so rounding 0.44 picks the nearest reconstruction; smaller values and a
// wider dead zone trade error for bits.
//
// A tile stream is only worth its bits when it lowers the error enough: the tile is coded when
// E(none) - E(coded) > lambda x bits, with the squared errors E counted in units of the step (so
// that lambda is the same for every subband and step), E(none) being the error of leaving the
// tile out (the reader then takes its coefficients as 0, with no dither). On plane 0 this
// matters most: the reader subtracts the dither from every coefficient of a stream, zeros
// included, which costs the variance of the dither (1/48 of a step squared) per zero.
struct QuantiserSettings {
    double dead_zone = 0.6;
    double rounding = 0.38;
    double lambda = 0.12;
    // A second pass drops values toward zero where their bits cost more than their error saves
    // (with lambda), priced by the code of the first pass.
    bool optimise = true;
    // Steps tried for every tile, as multiples of the nominal step; the tile keeps the one
    // with the least error + lambda x bits (leaving the tile out is always a candidate).
    std::vector<double> step_factors = {1.0, 0.7, 1.4, 0.5};
};

struct EncoderOptions {
    int32_t levels = -1;  // -1: default_level_count
    RateMode mode = RateMode::quality;
    double quality = 75.0;   // 1..100
    double step = 1.0;       // RateMode::step: the stored step S (> 0)
    double bpp = 1.0;        // RateMode::bpp: target bits per pixel of the whole file (> 0)
    int32_t tile_size = 0;   // tile side in subband coefficients; 0: automatic (tile_size_for)
    int32_t block_size = 0;  // block side in coefficients; 0: automatic (block_size_for)
    int32_t finest_block = kDefaultFinestBlock;      // automatic blocks at level 1
    int32_t smallest_block = kDefaultSmallestBlock;  // automatic blocks never below this
    QuantiserSettings quantiser;
    // Step multipliers of the chrominance planes (I, Q) relative to luminance.
    double chroma_step_scale[2] = {kDefaultChromaStepScale[0], kDefaultChromaStepScale[1]};
    // Directories and stream headers first, headers and blocks by place, by default: a reader
    // of a remote file finds a window's blocks in a few requests, and nothing changes for a
    // local one.
    LayoutOptions layout{LayoutOrder::by_place, 0};
    uint64_t max_file_size = kMaxFileSize;  // tests lower it to exercise the size check
    int threads = 0;                        // 0: the hardware's count (at most 8)

    static constexpr int32_t kDefaultFinestBlock = 64;
    static constexpr int32_t kDefaultSmallestBlock = 32;
    static constexpr double kDefaultChromaStepScale[2] = {1.2, 1.2};
};

struct EncodeResult {
    EncodedFile file;
    int32_t levels = 0;
    double step = 0.0;   // the stored step S of luminance
    uint64_t bytes = 0;  // size of the file
    int passes = 0;      // coding passes (up to two for --bpp)
};

// Samples the encoder accepts at most (three 32768 x 32768 planes of floats: 12 GiB).
constexpr uint64_t kMaxEncodeSamples = uint64_t{3} << 30;

// The default level count: split until the low-low band is below 64 pixels on its longer side.
int32_t default_level_count(int32_t width, int32_t height);
// The most levels that still split something: the band split last is at least 2 pixels on its
// longer side (at most 31).
int32_t max_level_count(int32_t width, int32_t height);
// The automatic tile side for a subband of width x height coefficients coded in blocks of
// block x block. A region read takes the whole tile directory of every subband it needs (a
// record per tile) and the block offsets of every tile stream it meets (4 bytes per block):
// more tiles make the directory longer, fewer make the offset tables longer. With about two
// tiles met per subband the sum is least for a side of (9 A block^2 / 2)^(1/4), A the
// subband's area; that is rounded to a power of two within 64..2048, and at least 4 blocks.
int32_t tile_size_for(int32_t width, int32_t height, int32_t block);
// The automatic block side of the subbands of level d (1 finest): finest at level 1, halved
// with every coarser level down to smallest. A window of 256 x 256 pixels needs about 136 x 136
// coefficients of each subband of the finest level it reads and half as many, per side, at each
// coarser level, so smaller blocks there keep the bytes read close to the bytes needed, while
// the finest levels, which hold most of the file, keep large blocks that cost little per block.
int32_t block_size_for(int32_t level, int32_t finest, int32_t smallest);
// The stored step of a quality setting 1..100 (100 finest).
double step_for_quality(double quality);

// Encodes picture (consumed: its samples are released early to save memory). On failure returns
// false and sets *error to one line; *result is then unspecified.
bool encode_picture(Picture picture, const EncoderOptions& options, EncodeResult* result,
                    std::string* error);

// The transformed planes of a picture, for callers that code them more than once.
struct TransformedImage {
    int32_t width = 0, height = 0, levels = 0;
    std::vector<Plane> planes;  // 1 or 3
};
bool transform_picture(Picture picture, int32_t levels, TransformedImage* image,
                       std::string* error);
// Codes transformed planes with stored step S (luminance).
bool code_image(const TransformedImage& image, double step, const EncoderOptions& options,
                EncodeResult* result, std::string* error);
// Codes transformed planes to about target_bytes in at most two passes: the first at the step
// a model of the coefficients' magnitudes gives (encode/rate_model.h), the second at the step
// the model gives once the first pass has calibrated it; the closer of the two is kept.
bool code_to_size(const TransformedImage& image, double target_bytes,
                  const EncoderOptions& options, EncodeResult* result, std::string* error);

}  // namespace kavel
