#include "tools/encode_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "tools/picture_reader.h"

namespace {

constexpr const char* kUsage =
    "usage: kavel encode IN OUT.kvl [--levels L] [--quality Q | --step S | --bpp B]\n"
    "                    [--tile N] [--block N] [--layout index-first|by-place|natural]\n";

void print_help() {
    std::printf(
        "%s\n"
        "Writes the picture IN (PNG: grey, grey + alpha, RGB, RGBA, palette, 8 or 16 bits;\n"
        "binary PGM / PPM) as the Kavel file OUT. Alpha is dropped and 16-bit samples are\n"
        "reduced to 8 bits, each with a warning. OUT is written under a temporary name and\n"
        "renamed into place when complete.\n\n"
        "options:\n"
        "  --levels L    wavelet levels, readable scales 0..L (default: split until the\n"
        "                smallest scale is below 64 pixels on its longer side)\n"
        "  --quality Q   1..100, 100 finest (default 75: about 1.5 bits per pixel on\n"
        "                photographs; 90 about 50 dB PSNR; 100 nearly lossless)\n"
        "  --step S      the quantisation step itself (> 0; 8 is quality 75, 0.5 nearly\n"
        "                lossless)\n"
        "  --bpp B       search the step that gives B bits per pixel (file size / pixels)\n"
        "  --tile N      tile side in coefficients of each subband (default: by the\n"
        "                subband's size, 128..2048)\n"
        "  --block N     block side in coefficients (default: %d in the finest subbands,\n"
        "                halved with every coarser level down to %d)\n"
        "  --layout L    index-first (default: directories and stream headers before all\n"
        "                blocks, for remote reading), by-place (index first, blocks sorted\n"
        "                by the picture area they cover: windows of remote files in fewer\n"
        "                requests) or natural (each tile's blocks after it)\n\n"
        "example: kavel encode photo.png photo.kvl --bpp 1\n",
        kUsage, kavel::EncoderOptions::kDefaultFinestBlock,
        kavel::EncoderOptions::kDefaultSmallestBlock);
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "kavel encode: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parse_long(const char* text, long low, long high, long* value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

bool parse_real(const char* text, double low, double high, double* value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
    *value = v;
    return true;
}

}  // namespace

int run_encode_command(int argc, char** argv) {
    std::vector<std::string> positional;
    kavel::EncoderOptions options;
    int rate_options = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help();
            return 0;
        }
        if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            const char* value = argv[++i];
            long n = 0;
            if (arg == "--levels") {
                if (!parse_long(value, 0, kavel::kMaxLevelCount, &n))
                    return usage_error("--levels wants an integer 0.." +
                                       std::to_string(kavel::kMaxLevelCount) + ", not '" + value +
                                       "'");
                options.levels = static_cast<int32_t>(n);
            } else if (arg == "--tile" || arg == "--block") {
                if (!parse_long(value, 1, 65535, &n))
                    return usage_error(arg + " wants an integer 1..65535, not '" + value + "'");
                (arg == "--tile" ? options.tile_size : options.block_size) =
                    static_cast<int32_t>(n);
            } else if (arg == "--layout" && (!std::strcmp(value, "natural") ||
                                              !std::strcmp(value, "index-first") ||
                                              !std::strcmp(value, "by-place"))) {
                options.layout.order = *value == 'n'   ? kavel::LayoutOrder::natural
                                       : *value == 'i' ? kavel::LayoutOrder::index_first
                                                       : kavel::LayoutOrder::by_place;
            } else if (arg == "--quality") {
                if (!parse_real(value, 1, 100, &options.quality))
                    return usage_error(std::string("--quality wants a number 1..100, not '") +
                                       value + "'");
                options.mode = kavel::RateMode::quality;
                ++rate_options;
            } else if (arg == "--step") {
                if (!parse_real(value, 1e-6, 1e9, &options.step) || !(options.step > 0))
                    return usage_error(std::string("--step wants a positive number, not '") +
                                       value + "'");
                options.mode = kavel::RateMode::step;
                ++rate_options;
            } else if (arg == "--bpp") {
                if (!parse_real(value, 1e-4, 64, &options.bpp) || !(options.bpp > 0))
                    return usage_error(
                        std::string("--bpp wants a number above 0 and up to 64, not '") + value +
                        "'");
                options.mode = kavel::RateMode::bpp;
                ++rate_options;
            } else {
                return usage_error("unknown option " + arg);
            }
            continue;
        }
        positional.push_back(arg);
    }
    if (rate_options > 1) return usage_error("give only one of --quality, --step and --bpp");
    if (positional.size() != 2) return usage_error("needs an input picture and an output file");
    const std::string& in = positional[0];
    const std::string& out = positional[1];

    kavel::Picture picture;
    std::string error;
    std::vector<std::string> warnings;
    if (!kavel::read_picture(in, &picture, &error, &warnings)) {
        std::fprintf(stderr, "kavel encode: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "kavel encode: warning: %s\n", warning.c_str());
    if (options.levels > kavel::max_level_count(picture.width, picture.height)) {
        std::fprintf(
            stderr,
            "kavel encode: %s: --levels %d is too many for a %d x %d picture (at most %d)\n",
            in.c_str(), options.levels, picture.width, picture.height,
            kavel::max_level_count(picture.width, picture.height));
        return 1;
    }
    const int32_t width = picture.width, height = picture.height, channels = picture.channels;
    kavel::EncodeResult result;
    if (!kavel::encode_picture(std::move(picture), options, &result, &error)) {
        std::fprintf(stderr, "kavel encode: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!kavel::write_kavel_file(result.file, out, &error)) {
        std::fprintf(stderr, "kavel encode: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d x %d %s, %d levels, step %.4g, %llu bytes, %.3f bits per pixel",
                out.c_str(), width, height, channels == 1 ? "grey" : "colour", result.levels,
                result.step, static_cast<unsigned long long>(result.bytes),
                double(result.bytes) * 8.0 / (double(width) * double(height)));
    if (result.passes > 1) std::printf(" (%d coding passes)", result.passes);
    std::printf("\n");
    return 0;
}
