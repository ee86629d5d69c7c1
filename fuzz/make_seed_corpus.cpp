// Writes the seed corpora of the fuzz harnesses:
//   OUTPUT_DIR/fuzz_region/  each seed file with a few scales and windows (fuzz_inputs.h)
//   OUTPUT_DIR/fuzz_header/  the seed files cut after their pointer table, and a few damaged
//                            headers
//   OUTPUT_DIR/fuzz_block/   coded blocks with their code tables, block sizes and windows
//
//   make_seed_corpus fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "fuzz/seed_inputs.h"

namespace {

void write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "make_seed_corpus: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

// Windows at the coarsest scale of a huge image: the whole image, its far corner and the
// largest coordinates (finer scales of such files are left for the fuzzer to reach).
void write_huge_image_seeds(const std::filesystem::path& dir, const kavel_fuzz::SeedFile& file) {
    kavel_fuzz::RegionParameters p;
    p.scale = file.levels;
    p.whole_image = true;
    write(dir / (file.name + "-coarsest.bin"), kavel_fuzz::make_region_input(p, file.bytes));
    p.whole_image = false;
    p.anchor = 1;
    p.x0 = p.y0 = -4;
    p.columns = p.rows = 8;
    write(dir / (file.name + "-far-corner.bin"), kavel_fuzz::make_region_input(p, file.bytes));
    p.anchor = 2;
    p.x0 = p.y0 = 250;
    p.use_image_api = true;
    write(dir / (file.name + "-largest-coordinates.bin"),
          kavel_fuzz::make_region_input(p, file.bytes));
}

void write_region_seeds(const std::filesystem::path& dir,
                        const std::vector<kavel_fuzz::SeedFile>& files) {
    int32_t variant = 0;
    for (const auto& file : files) {
        if (file.width > 65535 || file.height > 65535) {
            write_huge_image_seeds(dir, file);
            continue;
        }
        kavel_fuzz::RegionParameters whole;
        whole.whole_image = true;
        whole.use_image_api = variant % 2 == 1;
        write(dir / (file.name + "-whole.bin"), kavel_fuzz::make_region_input(whole, file.bytes));
        if (file.levels > 0) {
            kavel_fuzz::RegionParameters coarse = whole;
            coarse.scale = file.levels;
            coarse.stride_padding = 1;
            write(dir / (file.name + "-coarsest.bin"),
                  kavel_fuzz::make_region_input(coarse, file.bytes));
        }
        // A window that starts inside the image and reaches beyond it.
        kavel_fuzz::RegionParameters window;
        window.scale = file.levels > 0 ? 1 : 0;
        window.x0 = file.width / 5 - 2;
        window.y0 = file.height / 3;
        window.columns = 9 + variant;
        window.rows = 7;
        window.stride_padding = variant % 4;
        write(dir / (file.name + "-window.bin"), kavel_fuzz::make_region_input(window, file.bytes));
        ++variant;
    }
}

void write_header_seeds(const std::filesystem::path& dir,
                        const std::vector<kavel_fuzz::SeedFile>& files) {
    for (const auto& file : files) {
        const std::size_t table_end = 23 + 4 * static_cast<std::size_t>(3 * file.levels + 1);
        std::vector<uint8_t> head(file.bytes.begin(),
                                  file.bytes.begin() + static_cast<std::ptrdiff_t>(table_end));
        write(dir / (file.name + ".kvl"), head);
    }
    std::vector<uint8_t> header(files.front().bytes.begin(), files.front().bytes.begin() + 23);
    write(dir / "exactly-23-bytes.kvl", header);
    std::vector<uint8_t> short_header(header.begin(), header.end() - 1);
    write(dir / "22-bytes.kvl", short_header);
    std::vector<uint8_t> bad_magic = header;
    bad_magic[3] = 'L';
    write(dir / "bad-magic.kvl", bad_magic);
    std::vector<uint8_t> most_levels = header;
    most_levels[14] = 31;  // L = 31 on an 8 x 8 image
    write(dir / "31-levels.kvl", most_levels);
}

void write_block_seeds(const std::filesystem::path& dir,
                       const std::vector<kavel_fuzz::SeedBlock>& blocks) {
    int32_t variant = 0;
    for (const auto& block : blocks) {
        kavel_fuzz::BlockParameters p;
        for (int i = 0; i < 16; ++i) p.counts[i] = block.table.counts[static_cast<std::size_t>(i)];
        p.symbol_count = static_cast<int32_t>(block.table.symbols.size());
        for (int32_t i = 0; i < p.symbol_count; ++i) {
            p.symbols[i] = block.table.symbols[static_cast<std::size_t>(i)];
        }
        p.x0 = variant * 64;
        p.y0 = variant * 8;
        p.width = block.width;
        p.height = block.height;
        p.window_columns = block.width;
        p.window_rows = block.height;
        p.step_bits = variant % 2 == 0 ? 0x3F800000u : 0x40D00000u;  // 1.0, 6.5
        p.pitch_extra = variant % 3 * 5;
        write(dir / (block.name + "-whole.bin"), kavel_fuzz::make_block_input(p, block.bytes));
        // The last sample only, then an inner window.
        kavel_fuzz::BlockParameters last = p;
        last.window_column = block.width - 1;
        last.window_row = block.height - 1;
        last.window_columns = last.window_rows = 1;
        write(dir / (block.name + "-last.bin"), kavel_fuzz::make_block_input(last, block.bytes));
        if (block.width > 2 && block.height > 2) {
            kavel_fuzz::BlockParameters inner = p;
            inner.window_column = inner.window_row = 1;
            inner.window_columns = block.width - 2;
            inner.window_rows = block.height - 2;
            write(dir / (block.name + "-inner.bin"),
                  kavel_fuzz::make_block_input(inner, block.bytes));
        }
        ++variant;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seed_corpus OUTPUT_DIR\n");
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    for (const char* harness : {"fuzz_region", "fuzz_header", "fuzz_block"}) {
        std::filesystem::create_directories(root / harness);
    }
    const auto files = kavel_fuzz::make_seed_files();
    write_region_seeds(root / "fuzz_region", files);
    write_header_seeds(root / "fuzz_header", files);
    write_block_seeds(root / "fuzz_block", kavel_fuzz::make_seed_blocks());
    return 0;
}
