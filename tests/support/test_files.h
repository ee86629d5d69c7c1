// Helpers for tests that need Kavel files on disk.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decode/decoder_override.h"
#include "encode/kavel_writer.h"

namespace kavel_test {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return root_ + "/" + name; }

private:
    std::string root_;
};

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_bytes(const std::string& path);
// Whether folder holds an output's temporary file (named .kavel-XXXXXX).
bool temporary_outputs_in(const std::string& folder);

// How to cut the subbands of a generated file.
struct Layout {
    int32_t tile = 0;   // tile side (0: one tile per subband)
    int32_t block = 8;  // block side
    bool reversed = false;
};

// A file of the given shape whose quantised coefficients are random but image-like: large
// values in the low-low band, small ones elsewhere, many zeros.
kavel::FileInput random_file(int32_t planes, int32_t levels, int32_t width, int32_t height,
                             uint32_t seed, const Layout& layout = Layout{});
// Writes it and returns the bytes.
std::vector<uint8_t> write_file(const kavel::FileInput& file, const std::string& path);

// Decodes a window with the library into a buffer of rows x (P x columns) bytes; false if the
// decode fails (the buffer is then as it was). A decoder override (the straightforward decoder)
// takes the place of the fast routines.
bool decode_window(const std::string& path, int32_t scale, int32_t x0, int32_t y0, int32_t x1,
                   int32_t y1, std::vector<uint8_t>* pixels, int32_t planes,
                   const DecoderOverride* decoder = nullptr);

}  // namespace kavel_test
