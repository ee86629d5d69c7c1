// The files and blocks the seed corpora are made from: small Kavel files of every layout the
// writer offers and of the shapes the reader must handle, and coded blocks with their tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/kavel_writer.h"

namespace kavel_fuzz {

struct SeedFile {
    std::string name;
    std::vector<uint8_t> bytes;
    int32_t planes = 1, levels = 0, width = 0, height = 0;
};

struct SeedBlock {
    std::string name;
    kavel::CodeTable table;
    int32_t width = 1, height = 1;  // block size
    std::vector<uint8_t> bytes;     // from FF A3 on
};

// Writes every seed file; a file that cannot be made stops the generator with a message.
std::vector<SeedFile> make_seed_files();
// Coded blocks taken from tile streams of several kinds.
std::vector<SeedBlock> make_seed_blocks();

}  // namespace kavel_fuzz
