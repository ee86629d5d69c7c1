// Writers that take a picture row by row, so that a whole image never needs to be in memory:
// PNG (libpng), PGM/PPM (binary) and raw bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

enum class PictureFormat { png, pnm, raw };

// The format chosen by the extension of path (.png, .pgm, .ppm, .raw); false if none fits.
bool picture_format_for(const std::string& path, PictureFormat* format);

class RowWriter {
  public:
    virtual ~RowWriter() = default;
    // Writes the next row of width x channels bytes; false (with *error) on failure.
    virtual bool write_row(const uint8_t* row, std::string* error) = 0;
    // Writes count rows held one after another; false (with *error) on failure.
    virtual bool write_rows(const uint8_t* rows, int64_t count, int64_t row_bytes,
                            std::string* error) {
        for (int64_t r = 0; r < count; ++r) {
            if (!write_row(rows + r * row_bytes, error)) return false;
        }
        return true;
    }
    // Completes the file; false (with *error) on failure.
    virtual bool finish(std::string* error) = 0;
};

// channels: 1 grey or 3 RGB (any count for raw). Returns nothing (with *error) when the format
// cannot hold the picture.
std::unique_ptr<RowWriter> make_row_writer(PictureFormat format, FILE* stream, int32_t width,
                                           int32_t height, int32_t channels, std::string* error);
