// Reading pictures for the encoder: PNG (grey, grey + alpha, RGB, RGBA, palette; 1 to 16 bits
// per sample) through libpng, and binary PGM / PPM (P5 / P6, maxval 1..65535).
//
// The result is always 8 bits per sample, grey (1 channel) or RGB (3 channels):
// - alpha is dropped (the colour samples are kept as stored) and a warning says so;
// - 16-bit samples, and PGM/PPM samples of any maxval, are scaled to 0..255 with rounding;
// - a palette whose entries are all grey gives a grey picture, any other palette RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/encoder.h"

namespace kavel {

struct PictureLimits {
    // Pictures with more samples than this are refused before any pixel is read.
    uint64_t max_samples = kMaxEncodeSamples;
    // Pictures with more pixels than this are refused likewise (--max-pixels).
    uint64_t max_pixels = kMaxEncodeSamples;
};

// Reads the picture at path. On failure returns false and sets *error to one line that names
// the file. Warnings (alpha dropped, 16 bits reduced) are appended to *warnings.
bool read_picture(const std::string& path, Picture* picture, std::string* error,
                  std::vector<std::string>* warnings = nullptr,
                  const PictureLimits& limits = PictureLimits{});

// Writes an 8-bit picture as binary PGM (1 channel) or PPM (3 channels).
bool write_pnm(const std::string& path, const Picture& picture, std::string* error);

}  // namespace kavel
