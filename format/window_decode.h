// One decode of a window of an opened image, as every entry of the library does it: the
// header the image was opened with is checked again, large windows are cut into pieces of a
// bounded number of samples (across the rows and, for long rows, across the columns as well),
// the pieces may run on several threads, and a failure leaves the caller's buffer as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/byte_source.h"
#include "format/decode_context.h"
#include "format/image_header.h"

// An inclusive window in pixels of the image at some scale.
struct PixelWindow {
    int32_t x0, y0, x1, y1;
    int64_t columns() const { return int64_t{x1} - x0 + 1; }
    int64_t rows() const { return int64_t{y1} - y0 + 1; }
};

// Reads the source's header and checks that it describes an image.
DecodeStatus read_source_header(const ByteSource& source, ImageHeader* header,
                                std::string* message);

struct WindowDecodeSettings {
    int32_t threads = 1;      // pieces decoded at once (0 or 1: the calling thread only)
    uint64_t max_pixels = 0;  // largest window, in pixels (0: no limit)
    uint64_t memory = 0;      // bytes a piece's decode may hold at once (0: the pool's limit)
    double work_factor = DecodeContext::kDefaultWorkFactor;  // work per byte of the file
    int64_t piece_samples = 0;  // samples per piece (0: kPieceSamples; tests cut finer)
    const DecoderOverride* decoder = nullptr;  // other decoding routines (tests compare them)
};

// Decodes window at scale into buffer (rows of planes x columns bytes, stride bytes apart,
// stride >= planes x columns). On failure returns the reason, sets *message and leaves the
// buffer as it was.
DecodeStatus decode_window(const ByteSource& source, const ImageHeader& opened, int32_t scale,
                           const PixelWindow& window, uint8_t* buffer, std::size_t stride,
                           const WindowDecodeSettings& settings, std::string* message);

// The pieces a window is decoded in: about this many samples each (planes x pixels; at most
// twice as many where a strip is made a period or two of format/strip_cuts.h high), full
// rows while at least kMinPieceRows of them fit, otherwise kMinPieceRows rows of fewer columns.
// With several threads, a window is cut into at least one strip of rows per thread (of
// kMinPieceRows rows or more). Strips of whole rows are cut on the rows format/strip_cuts.h
// chooses, so a strip may have fewer rows than this allows. Any cut gives the same bytes.
constexpr int64_t kPieceSamples = int64_t{1} << 22;
constexpr int64_t kMinPieceRows = 16;
struct PieceSize {
    int64_t rows;
    int64_t columns;
};
PieceSize piece_size(int32_t planes, const PixelWindow& window, int32_t threads = 1,
                     int64_t samples = kPieceSamples);
