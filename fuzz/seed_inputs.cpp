#include "fuzz/seed_inputs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>

#include "encode/band_geometry.h"
#include "encode/encoder.h"

namespace kavel_fuzz {
namespace {

[[noreturn]] void give_up(const std::string& what, const std::string& error) {
    std::fprintf(stderr, "make_seed_corpus: %s: %s\n", what.c_str(), error.c_str());
    std::exit(1);
}

// Image-like quantised values: large in the low-low band, small and sparse elsewhere.
std::vector<int32_t> tile_values(int32_t count, bool low_low, int32_t plane, std::mt19937* random) {
    std::vector<int32_t> values(static_cast<std::size_t>(count));
    for (int32_t& q : values) {
        const auto r = static_cast<uint32_t>((*random)());
        if (low_low) {
            q = plane == 0 ? static_cast<int32_t>(r % 200) + 20 : static_cast<int32_t>(r % 61) - 30;
        } else {
            q = r % 3 == 0 ? static_cast<int32_t>(r % 15) - 7 : 0;
        }
    }
    return values;
}

struct Shape {
    int32_t tile = 0;            // tile side (0: one tile per subband)
    int32_t block = 8;           // block side
    int32_t overlap = 0;         // tiles reach this many samples into the next one
    bool drop_plane_1 = false;   // every other tile has no stream for plane 1
    int32_t empty_subband = -1;  // this subband's directory has no tiles
};

kavel::FileInput shaped_file(int32_t planes, int32_t levels, int32_t width, int32_t height,
                             uint32_t seed, const Shape& shape) {
    std::mt19937 random(seed);
    kavel::FileInput file;
    file.planes = planes;
    file.levels = levels;
    file.width = width;
    file.height = height;
    const auto sizes = kavel::subband_sizes(width, height, levels);
    for (int32_t k = 0; k < static_cast<int32_t>(sizes.size()); ++k) {
        kavel::DirectoryInput directory;
        directory.dither_column = static_cast<uint8_t>(random());
        directory.dither_row = static_cast<uint8_t>(random());
        const int32_t w = sizes[static_cast<std::size_t>(k)].width;
        const int32_t h = sizes[static_cast<std::size_t>(k)].height;
        if (k == shape.empty_subband || w == 0 || h == 0) {
            file.subbands.push_back(directory);
            continue;
        }
        const int32_t side = shape.tile > 0 ? shape.tile : (w > h ? w : h);
        int32_t index = 0;
        for (int32_t ty = 0; ty < h; ty += side) {
            for (int32_t tx = 0; tx < w; tx += side, ++index) {
                kavel::TileInput tile;
                tile.x0 = tx;
                tile.y0 = ty;
                tile.x1 = std::min(w, tx + side + shape.overlap) - 1;
                tile.y1 = std::min(h, ty + side + shape.overlap) - 1;
                const int32_t count = (tile.x1 - tile.x0 + 1) * (tile.y1 - tile.y0 + 1);
                for (int32_t j = 0; j < planes; ++j) {
                    if (shape.drop_plane_1 && j == 1 && index % 2 == 1) {
                        tile.planes.push_back(std::nullopt);
                        continue;
                    }
                    kavel::StreamInput stream;
                    stream.step = k == 0 ? 2.0f : 5.0f;
                    stream.block_width = shape.block;
                    stream.block_height = shape.block;
                    stream.coefficients = tile_values(count, k == 0, j, &random);
                    tile.planes.push_back(stream);
                }
                directory.tiles.push_back(tile);
            }
        }
        file.subbands.push_back(directory);
    }
    return file;
}

SeedFile written(const std::string& name, const kavel::FileInput& file) {
    SeedFile seed{name, {}, file.planes, file.levels, file.width, file.height};
    std::string error;
    if (!kavel::write_kavel(file, &seed.bytes, &error)) give_up(name, error);
    return seed;
}

// The smallest file: one grey 8 x 8 tile, every coefficient 10.
kavel::FileInput flat_file() {
    kavel::FileInput file;
    file.planes = 1;
    file.levels = 0;
    file.width = 8;
    file.height = 8;
    file.subbands.resize(1);
    kavel::TileInput tile{0, 0, 7, 7, {}};
    kavel::StreamInput stream;
    stream.step = 1.0f;
    stream.block_width = 8;
    stream.block_height = 8;
    stream.coefficients.assign(64, 10);
    tile.planes.push_back(stream);
    file.subbands[0].tiles.push_back(tile);
    return file;
}

// A grey file whose low-low band is coded with a given table and hand-written symbols: symbol 0,
// long runs (105, 106), 8- and 16-bit magnitudes (40000 reads back negative).
kavel::FileInput hand_coded_file() {
    kavel::FileInput file = shaped_file(1, 1, 24, 16, 7, Shape{0, 6, 0, false, -1});
    kavel::CodeTable table;
    table.counts[1] = 1;  // lengths 2, 3, 3, 3, 4, 4, 4, 4, 4, 4
    table.counts[2] = 3;
    table.counts[3] = 6;
    table.symbols = {180, 181, 101, 5, 0, 103, 104, 105, 106, 182};
    kavel::StreamInput& stream = *file.subbands[0].tiles[0].planes[0];
    stream.code_table = table;
    stream.block_symbols.resize(4);
    stream.block_symbols[0] = std::vector<kavel::BlockSymbol>{
        {181, 0}, {101, 200}, {0, 0}, {5, 0}, {103, 40000}, {104, 300}, {105, 20}, {180, 0}};
    stream.block_symbols[1] = std::vector<kavel::BlockSymbol>{{106, 3}, {101, 255}, {106, 40}};
    stream.block_symbols[2] = std::vector<kavel::BlockSymbol>{{0, 0}, {0, 0}, {181, 0}};
    for (int32_t& q : stream.coefficients) q = q % 3;
    return file;
}

SeedFile encoded(const std::string& name, int32_t width, int32_t height, int32_t channels,
                 double quality, int32_t tile, kavel::LayoutOrder order) {
    kavel::Picture picture;
    picture.width = width;
    picture.height = height;
    picture.channels = channels;
    std::mt19937 random(static_cast<uint32_t>(width * 131 + height));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                const int32_t v =
                    (x * 7 + y * 5 + c * 60) % 256 + static_cast<int32_t>(random() % 24);
                picture.samples.push_back(static_cast<uint8_t>(v > 255 ? 255 : v));
            }
        }
    }
    kavel::EncoderOptions options;
    options.quality = quality;
    options.tile_size = tile;
    options.block_size = 8;
    options.threads = 1;
    options.layout.order = order;
    kavel::EncodeResult result;
    std::string error;
    if (!kavel::encode_picture(std::move(picture), options, &result, &error)) give_up(name, error);
    SeedFile seed{name, {}, channels, result.levels, width, height};
    if (!kavel::write_kavel(result.file, &seed.bytes, &error)) give_up(name, error);
    return seed;
}

}  // namespace

std::vector<SeedFile> make_seed_files() {
    std::vector<SeedFile> files;
    files.push_back(written("flat-grey-l0", flat_file()));
    files.push_back(written("grey-l2-natural", shaped_file(1, 2, 37, 29, 1, Shape{})));
    {
        kavel::FileInput file = shaped_file(3, 2, 24, 19, 2, Shape{8, 4, 0, false, -1});
        file.layout.order = kavel::LayoutOrder::directories_last;
        files.push_back(written("colour-l2-tiles-directories-last", file));
    }
    {
        kavel::FileInput file = shaped_file(3, 1, 21, 13, 3, Shape{0, 5, 0, false, -1});
        file.layout.order = kavel::LayoutOrder::reversed;
        file.layout.gap = 3;
        files.push_back(written("colour-l1-reversed-gaps", file));
    }
    files.push_back(written("grey-l3-overlapping-tiles",
                            shaped_file(1, 3, 30, 30, 4, Shape{5, 4, 3, false, -1})));
    files.push_back(
        written("grey-l2-empty-directory", shaped_file(1, 2, 19, 23, 5, Shape{0, 8, 0, false, 2})));
    files.push_back(written("colour-l2-missing-streams",
                            shaped_file(3, 2, 26, 18, 6, Shape{6, 4, 0, true, -1})));
    files.push_back(written("grey-l1-hand-coded", hand_coded_file()));
    files.push_back(
        written("grey-l2-one-column", shaped_file(1, 2, 1, 9, 8, Shape{0, 2, 0, false, -1})));
    files.push_back(
        written("colour-l0-one-row", shaped_file(3, 0, 11, 1, 9, Shape{4, 3, 0, false, -1})));
    {
        // Tiles that reach beyond their subband and start at negative coordinates.
        kavel::FileInput file = shaped_file(1, 1, 16, 12, 10, Shape{0, 4, 0, false, -1});
        std::mt19937 random(11);
        for (auto& directory : file.subbands) {
            for (auto& tile : directory.tiles) {
                tile.x0 -= 2;
                tile.y1 += 1;
                for (auto& plane : tile.planes) {
                    plane->coefficients = tile_values(
                        (tile.x1 - tile.x0 + 1) * (tile.y1 - tile.y0 + 1), false, 0, &random);
                }
            }
        }
        files.push_back(written("grey-l1-tiles-beyond-band", file));
    }
    {
        // The largest image the header can name, every directory empty.
        kavel::FileInput file;
        file.planes = 1;
        file.levels = 2;
        file.width = INT32_MAX;
        file.height = INT32_MAX;
        file.subbands.resize(7);
        files.push_back(written("largest-image-empty-directories", file));
    }
    files.push_back(encoded("encoded-grey-40x30", 40, 30, 1, 60.0, 0, kavel::LayoutOrder::natural));
    files.push_back(
        encoded("encoded-colour-32x24-tiled", 32, 24, 3, 80.0, 8, kavel::LayoutOrder::reversed));
    files.push_back(
        encoded("encoded-colour-48x20", 48, 20, 3, 30.0, 0, kavel::LayoutOrder::directories_last));
    return files;
}

std::vector<SeedBlock> make_seed_blocks() {
    std::vector<SeedBlock> blocks;
    // The worked example: 01 100 00000011 101 00, padded with 1-bits: 1, 3, 0, 0, 0, 0, 0, 0.
    {
        SeedBlock b;
        b.name = "worked-example";
        b.table.counts[1] = 2;
        b.table.counts[2] = 2;
        b.table.symbols = {180, 181, 101, 5};
        b.width = 8;
        b.height = 1;
        b.bytes = {0xFF, 0xA3, 0x60, 0x1D, 0x3F};
        blocks.push_back(b);
        b.name = "marker-first";
        b.bytes = {0xFF, 0xA3, 0xFF, 0xD9};
        blocks.push_back(b);
        b.name = "stuffed-ff";
        b.bytes = {0xFF, 0xA3, 0x7F, 0xFF, 0x00, 0xF0};
        blocks.push_back(b);
    }
    // Blocks of coded tile streams: image-like values, a hand-made table with escapes, and
    // runs that cross rows.
    std::mt19937 random(21);
    struct Kind {
        const char* name;
        int32_t tile_width, tile_height, block;
        bool low_low;
        bool hand_table;
    };
    const Kind kinds[] = {{"low-low-16", 16, 16, 16, true, false},
                          {"sparse-24x10", 24, 10, 12, false, false},
                          {"escapes-20", 20, 20, 20, true, true},
                          {"wide-64x4", 64, 4, 64, false, false}};
    for (const Kind& kind : kinds) {
        kavel::StreamInput input;
        input.block_width = kind.block;
        input.block_height = kind.block;
        input.coefficients =
            tile_values(kind.tile_width * kind.tile_height, kind.low_low, 0, &random);
        input.share_empty_blocks = false;
        if (kind.hand_table) {
            kavel::CodeTable table;
            table.counts[1] = 1;
            table.counts[2] = 3;
            table.counts[3] = 4;
            table.symbols = {180, 101, 102, 105, 103, 104, 106, 0};
            input.code_table = table;
            input.coefficients[5] = 40000;
            input.coefficients[6] = -300;
        }
        kavel::EncodedStream stream;
        std::string error;
        if (!kavel::encode_stream(input, kind.tile_width, kind.tile_height, &stream, &error)) {
            give_up(kind.name, error);
        }
        for (int32_t i = 0; i < stream.block_count() && i < 2; ++i) {
            const uint64_t start = stream.block_start[static_cast<std::size_t>(i)];
            uint64_t end = stream.block_start[static_cast<std::size_t>(i) + 1];
            if (end == kavel::EncodedStream::kEmptyBlock) end = stream.data.size();
            SeedBlock b;
            b.name = std::string(kind.name) + "-block" + std::to_string(i);
            b.table = stream.table;
            b.width = std::min(kind.block, kind.tile_width - i * kind.block);
            b.height = std::min(kind.block, kind.tile_height);
            if (start == kavel::EncodedStream::kEmptyBlock) {
                b.bytes = {0xFF, 0xA3, 0xFF, 0xFF};
            } else {
                b.bytes.assign(stream.data.begin() + static_cast<std::ptrdiff_t>(start),
                               stream.data.begin() + static_cast<std::ptrdiff_t>(end));
            }
            if (b.width > 0) blocks.push_back(b);
        }
    }
    return blocks;
}

}  // namespace kavel_fuzz
