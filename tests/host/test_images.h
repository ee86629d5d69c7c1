// Small Kavel files for the module's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

// Writes an image-like file of the given shape into dir and returns its path.
std::string MakeKavelFile(const kavel_test::TempDir& dir, const std::string& name, int32_t planes,
                          int32_t levels, int32_t width, int32_t height, uint32_t seed = 7);

// A file with only a header (and no subbands) claiming planes, levels and size: enough for
// everything that does not decode.
std::string MakeHeaderOnlyFile(const kavel_test::TempDir& dir, const std::string& name,
                               int32_t planes, int32_t levels, int32_t width, int32_t height);

// The library's decode of an inclusive window, rows of planes x columns bytes.
std::vector<uint8_t> LibraryDecode(const std::string& path, int32_t scale, int32_t x0, int32_t y0,
                                   int32_t x1, int32_t y1, int32_t planes);
