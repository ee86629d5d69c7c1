// A random file of tiles of 64 and blocks of 16 coefficients, written to a folder of its own
// and opened as the library opens it, with the header read from it: what the window-decode
// tests cut into pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "format/window_decode.h"
#include "tests/support/opened_file.h"
#include "tests/support/test_files.h"

namespace kavel_test {

struct WrittenFile {
    WrittenFile(int32_t planes, int32_t levels, int32_t width, int32_t height, uint32_t seed)
        : path(dir.path("image.kvl")) {
        Layout layout;
        layout.tile = 64;
        layout.block = 16;
        write_file(random_file(planes, levels, width, height, seed, layout), path);
        file = std::make_unique<OpenedFile>(path);
        header_read = read_source_header(file->source(), &header, &message) == DecodeStatus::ok;
    }
    const ByteSource& source() const { return file->source(); }

    TempDir dir;
    std::string path;
    std::unique_ptr<OpenedFile> file;
    ImageHeader header{};
    std::string message;
    bool header_read = false;
};

}  // namespace kavel_test
