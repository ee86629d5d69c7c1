#include <cstdio>
#include <cstring>
#include <string>

#include "format/kavel.h"
#include "tools/commands.h"

namespace {

void print_info_usage(FILE* out) {
    std::fputs(
        "usage: kavel info [--json] FILE\n"
        "Prints the plane count, level count and full-resolution size of a Kavel file.\n"
        "  --json   one JSON object with the keys planes, levels, width, height\n",
        out);
}

}  // namespace

int run_info_command(int argc, char** argv) {
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print_info_usage(stdout);
            return 0;
        } else if (argv[i][0] == '-' || path != nullptr) {
            std::fprintf(stderr, "kavel info: unexpected argument '%s'\n", argv[i]);
            print_info_usage(stderr);
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr) {
        print_info_usage(stderr);
        return 2;
    }
    std::string error;
    const auto image = kavel::Image::open(path, &error);
    if (!image) {
        std::fprintf(stderr, "kavel info: %s: %s\n", path, error.c_str());
        return 1;
    }
    const kavel::ImageInfo& info = image->info();
    if (json) {
        std::printf("{\"planes\": %d, \"levels\": %d, \"width\": %d, \"height\": %d}\n",
                    info.planes, info.levels, info.width, info.height);
    } else {
        std::printf("%s: %d plane%s (%s), %d level%s (scales 0 to %d), %d x %d pixels\n", path,
                    info.planes, info.planes == 1 ? "" : "s",
                    info.planes == 1 ? "grey" : (info.planes == 3 ? "colour" : "planes"),
                    info.levels, info.levels == 1 ? "" : "s", info.levels, info.width,
                    info.height);
    }
    return 0;
}
