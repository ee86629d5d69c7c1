// A PNG writer for large pictures that compresses on several threads.
//
// The picture arrives as one stream of bytes, rows top to bottom (a row may come in several
// pieces). The stream is cut into pieces; each piece is filtered and deflated on its own
// thread as a raw deflate stream ending in a sync flush, and the pieces are joined in order
// into one zlib stream whose checksum is combined from the pieces' checksums. The file is a
// standard PNG (8-bit grey or RGB, not interlaced).
//
// Rows of at most kWholeRowBytes bytes are filtered with Paeth against the row above (no
// filter at level 0); longer rows are cut within the row and filtered with Sub, so that
// memory stays a few pieces whatever the width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kavel_output {

struct PngOptions {
    // 0 stored; 1 literals only, with a Huffman code per block (fast, within a few per
    // cent of zlib's level 6 on photographs); 2 to 9 zlib's levels (slower, smaller).
    static constexpr int kDefaultLevel = 1;
    int level = kDefaultLevel;
    int threads = 0;             // 0: one per processor, at most eight
    double pixels_per_inch = 0;  // written as a pHYs chunk when above 0
};

class PngStreamWriter {
public:
    static constexpr std::size_t kWholeRowBytes = std::size_t{4} << 20;

    // channels: 1 (grey) or 3 (RGB); width and height 1 to 2^31 - 1.
    PngStreamWriter(FILE* out, uint32_t width, uint32_t height, int channels,
                    const PngOptions& options = PngOptions{});
    ~PngStreamWriter();
    PngStreamWriter(const PngStreamWriter&) = delete;
    PngStreamWriter& operator=(const PngStreamWriter&) = delete;

    // Writes the signature and the header chunks. False (with *error) on failure.
    bool start(std::string* error);
    // Appends the next bytes of the picture. False (with *error) on failure.
    bool write(const uint8_t* bytes, std::size_t count, std::string* error);
    // Writes the rest and the end chunk once every byte has arrived.
    bool finish(std::string* error);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes a whole picture held in memory (rows stride bytes apart) as a PNG.
bool write_png(FILE* out, const uint8_t* pixels, uint32_t width, uint32_t height, int channels,
               std::size_t stride, const PngOptions& options, std::string* error);

}  // namespace kavel_output
