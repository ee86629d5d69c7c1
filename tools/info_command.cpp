#include <cstdio>
#include <string>

#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/file_layout.h"
#include "tools/input_file.h"

using namespace kavel_tools;

namespace {

void print_info_usage() {
    std::fputs(
        "usage: kavel info [--json] FILE...\n"
        "Describes Kavel files: planes, levels, the size at every scale, the file's size and\n"
        "bits per pixel, and per subband its size, tiles, blocks and quantiser steps.\n"
        "FILE - reads standard input.\n"
        "  --json   one JSON object per file and line, with the keys planes, levels, width,\n"
        "           height, file_size, bits_per_pixel, scales and subbands\n",
        stdout);
}

std::string json_text(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int64_t size_at(int64_t size, int32_t scale) {
    for (int32_t s = 0; s < scale; ++s) size -= size / 2;
    return size;
}

double bits_per_pixel(const FileLayout& layout) {
    return double(layout.file_size) * 8.0 / (double(layout.width) * double(layout.height));
}

void print_json(const std::string& name, const FileLayout& layout) {
    std::printf("{\"file\": %s, \"planes\": %d, \"levels\": %d, \"width\": %d, \"height\": %d, "
                "\"file_size\": %llu, \"bits_per_pixel\": %.4f, \"scales\": [",
                json_text(name).c_str(), layout.planes, layout.levels, layout.width,
                layout.height, static_cast<unsigned long long>(layout.file_size),
                bits_per_pixel(layout));
    for (int32_t s = 0; s <= layout.levels; ++s) {
        std::printf("%s{\"scale\": %d, \"width\": %lld, \"height\": %lld}", s ? ", " : "", s,
                    static_cast<long long>(size_at(layout.width, s)),
                    static_cast<long long>(size_at(layout.height, s)));
    }
    std::printf("], \"subbands\": [");
    for (const SubbandLayout& band : layout.subbands) {
        std::printf("%s{\"subband\": %d, \"level\": %d, \"kind\": \"%s\", \"width\": %lld, "
                    "\"height\": %lld",
                    band.number ? ", " : "", band.number, band.level, band.kind,
                    static_cast<long long>(band.width), static_cast<long long>(band.height));
        if (!band.problem.empty()) {
            std::printf(", \"problem\": %s}", json_text(band.problem).c_str());
            continue;
        }
        std::printf(", \"tiles\": %lld, \"tile_width\": %lld, \"tile_height\": %lld, "
                    "\"block_width\": %lld, \"block_height\": %lld, \"steps\": [",
                    static_cast<long long>(band.tiles), static_cast<long long>(band.tile_width),
                    static_cast<long long>(band.tile_height),
                    static_cast<long long>(band.block_width),
                    static_cast<long long>(band.block_height));
        for (std::size_t p = 0; p < band.steps.size(); ++p) {
            const PlaneSteps& steps = band.steps[p];
            if (steps.any) {
                std::printf("%s{\"min\": %.9g, \"max\": %.9g}", p ? ", " : "",
                            double(steps.lowest), double(steps.highest));
            } else {
                std::printf("%snull", p ? ", " : "");
            }
        }
        std::printf("], \"complete\": %s}", band.complete ? "true" : "false");
    }
    std::printf("]}\n");
}

void print_words(const std::string& name, const FileLayout& layout) {
    const int32_t planes = layout.planes, levels = layout.levels;
    std::printf("%s: %d plane%s (%s), %d level%s (scales 0 to %d), %d x %d pixels\n",
                name.c_str(), planes, planes == 1 ? "" : "s",
                planes == 1 ? "grey" : (planes == 3 ? "colour" : "planes"), levels,
                levels == 1 ? "" : "s", levels, layout.width, layout.height);
    std::printf("  %llu bytes, %.3f bits per pixel\n",
                static_cast<unsigned long long>(layout.file_size), bits_per_pixel(layout));
    std::printf("  scales:");
    for (int32_t s = 0; s <= levels; ++s) {
        std::printf(" %d: %lld x %lld%s", s, static_cast<long long>(size_at(layout.width, s)),
                    static_cast<long long>(size_at(layout.height, s)), s < levels ? "," : "\n");
    }
    for (const SubbandLayout& band : layout.subbands) {
        std::printf("  subband %d (level %d, %s): %lld x %lld", band.number, band.level,
                    band.kind, static_cast<long long>(band.width),
                    static_cast<long long>(band.height));
        if (!band.problem.empty()) {
            std::printf(": %s\n", band.problem.c_str());
            continue;
        }
        std::printf(", %lld tile%s of %lld x %lld, blocks %lld x %lld, steps",
                    static_cast<long long>(band.tiles), band.tiles == 1 ? "" : "s",
                    static_cast<long long>(band.tile_width),
                    static_cast<long long>(band.tile_height),
                    static_cast<long long>(band.block_width),
                    static_cast<long long>(band.block_height));
        for (std::size_t p = 0; p < band.steps.size(); ++p) {
            const PlaneSteps& steps = band.steps[p];
            if (!steps.any) {
                std::printf(" -");
            } else if (steps.lowest == steps.highest) {
                std::printf(" %.6g", double(steps.lowest));
            } else {
                std::printf(" %.6g..%.6g", double(steps.lowest), double(steps.highest));
            }
        }
        std::printf("%s\n", band.complete ? "" : " (first tiles only)");
    }
}

}  // namespace

int run_info_command(int argc, char** argv) {
    CommandLine line;
    std::string why;
    if (!line.parse(argc, argv, with_common_options({{"json", 0, false}}), &why))
        return usage_error("info", why);
    if (answered_help_or_version(line, print_info_usage)) return 0;
    if (line.positional().empty()) return usage_error("info", "no file given");
    int status = 0;
    for (const std::string& name : line.positional()) {
        InputFile input;
        std::string error;
        FileLayout layout;
        if (!input.open(name, &error)) {
            std::fprintf(stderr, "kavel info: %s\n", error.c_str());
            status = 1;
            continue;
        }
        if (!read_file_layout(input.path(), &layout, &error)) {
            std::fprintf(stderr, "kavel info: %s: %s\n", input.shown().c_str(), error.c_str());
            status = 1;
            continue;
        }
        std::fflush(stderr);
        if (line.has("json")) {
            print_json(input.shown(), layout);
        } else {
            print_words(input.shown(), layout);
        }
        std::fflush(stdout);
    }
    return status;
}
