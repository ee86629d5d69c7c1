// Writers that take a picture as a stream of bytes, rows top to bottom (a row may arrive in
// several pieces), so that a whole image never needs to be in memory: PNG, PGM/PPM (binary)
// and raw bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "tools/common/png_stream_writer.h"

enum class PictureFormat { png, pnm, raw };

// The format named by --format (png, pgm, ppm, raw); false if none fits.
bool picture_format_named(const std::string& name, PictureFormat* format);
// The format chosen by the extension of path (.png, .pgm, .ppm, .raw); false if none fits.
bool picture_format_for(const std::string& path, PictureFormat* format);

class RowWriter {
public:
    virtual ~RowWriter() = default;
    // Writes the next bytes of the picture; false (with *error) on failure.
    virtual bool write(const uint8_t* bytes, std::size_t count, std::string* error) = 0;
    // Completes the file; false (with *error) on failure.
    virtual bool finish(std::string* error) = 0;
};

// channels: 1 grey or 3 RGB (any count for raw). Returns nothing (with *error) when the format
// cannot hold the picture.
std::unique_ptr<RowWriter> make_row_writer(PictureFormat format, FILE* stream, int64_t width,
                                           int64_t height, int32_t channels,
                                           const kavel_output::PngOptions& png,
                                           std::string* error);
