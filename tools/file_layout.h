// The layout of a Kavel file as `kavel info` shows it: for every subband its size, tiles,
// blocks and quantiser steps, read straight from the file with bounded work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavel_tools {

struct PlaneSteps {
    bool any = false;  // a stream of this plane was found
    float lowest = 0, highest = 0;
};

struct SubbandLayout {
    int32_t number = 0;
    int32_t level = 0;        // 1 finest .. L coarsest
    const char* kind = "";    // "low-low", "high-low", "low-high", "high-high"
    int64_t width = 0, height = 0;
    int64_t tiles = 0;        // records in the tile directory
    int64_t tile_width = 0, tile_height = 0;    // of the first tile
    int64_t block_width = 0, block_height = 0;  // of the first stream
    std::vector<PlaneSteps> steps;              // per plane, over the tiles read
    bool complete = true;     // every tile's streams were read
    std::string problem;      // why the subband could not be read (if so)
};

struct FileLayout {
    int32_t planes = 0, levels = 0, width = 0, height = 0;
    uint64_t file_size = 0;
    std::vector<SubbandLayout> subbands;  // in file order, 0 .. 3L
};

// Reads the layout of the Kavel file at path. False with *error when the header cannot be
// read; problems further in are reported per subband.
bool read_file_layout(const std::string& path, FileLayout* layout, std::string* error);

}  // namespace kavel_tools
