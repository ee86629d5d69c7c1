#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "encode/band_geometry.h"
#include "format/kavel.h"

namespace kavel_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary dir";
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return bytes;
}

bool temporary_outputs_in(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".kavel-", 0) == 0) return true;
    }
    return false;
}

kavel::FileInput random_file(int32_t planes, int32_t levels, int32_t width, int32_t height,
                             uint32_t seed, const Layout& layout) {
    std::mt19937 random(seed);
    kavel::FileInput file;
    file.planes = planes;
    file.levels = levels;
    file.width = width;
    file.height = height;
    if (layout.reversed) file.layout.order = kavel::LayoutOrder::reversed;
    const auto sizes = kavel::subband_sizes(width, height, levels);
    for (int32_t k = 0; k < static_cast<int32_t>(sizes.size()); ++k) {
        kavel::DirectoryInput directory;
        directory.dither_column = static_cast<uint8_t>(random() & 0xFF);
        directory.dither_row = static_cast<uint8_t>(random() & 0xFF);
        const int32_t w = sizes[k].width;
        const int32_t h = sizes[k].height;
        const int32_t tile = layout.tile > 0 ? layout.tile : (w > h ? w : h);
        for (int32_t ty = 0; ty < h; ty += tile) {
            for (int32_t tx = 0; tx < w; tx += tile) {
                kavel::TileInput t;
                t.x0 = tx;
                t.y0 = ty;
                t.x1 = std::min(w, tx + tile) - 1;
                t.y1 = std::min(h, ty + tile) - 1;
                const int32_t tw = t.x1 - t.x0 + 1;
                const int32_t th = t.y1 - t.y0 + 1;
                for (int32_t j = 0; j < planes; ++j) {
                    kavel::StreamInput stream;
                    stream.step = k == 0 ? 2.0f : 6.0f;
                    stream.block_width = layout.block;
                    stream.block_height = layout.block;
                    stream.coefficients.resize(static_cast<std::size_t>(tw) * th);
                    for (int32_t& q : stream.coefficients) {
                        const auto r = static_cast<uint32_t>(random());
                        if (k == 0) {
                            q = j == 0 ? static_cast<int32_t>(r % 120) + 10
                                       : static_cast<int32_t>(r % 41) - 20;
                        } else if (r % 3 != 0) {
                            q = 0;
                        } else {
                            q = static_cast<int32_t>((r >> 4) % 61) - 30;
                        }
                    }
                    t.planes.push_back(std::move(stream));
                }
                directory.tiles.push_back(std::move(t));
            }
        }
        file.subbands.push_back(std::move(directory));
    }
    return file;
}

std::vector<uint8_t> write_file(const kavel::FileInput& file, const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(kavel::write_kavel(file, &bytes, &error)) << error;
    write_bytes(path, bytes);
    return bytes;
}

bool decode_window(const std::string& path, int32_t scale, int32_t x0, int32_t y0, int32_t x1,
                   int32_t y1, std::vector<uint8_t>* pixels, int32_t planes,
                   const DecoderOverride* decoder) {
    const auto image = kavel::Image::open(path);
    if (!image) return false;
    const std::size_t stride = static_cast<std::size_t>(x1 - x0 + 1) * planes;
    pixels->resize(stride * static_cast<std::size_t>(y1 - y0 + 1));
    return image->decode(scale, kavel::Window{x0, y0, x1, y1}, pixels->data(), stride, nullptr,
                         decoder);
}

}  // namespace kavel_test
