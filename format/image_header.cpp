#include "format/image_header.h"

#include <cstring>

#include <sys/stat.h>

int read_be32(FILE* stream, int32_t* destination) {
    unsigned char bytes[4];
    if (std::fread(bytes, 4, 1, stream) != 1) return 1;
    const uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                           (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
    std::memcpy(destination, &value, sizeof value);
    return 0;
}

int read_be32_float(FILE* stream, float* destination) {
    int32_t bits;
    if (read_be32(stream, &bits) != 0) return 1;
    std::memcpy(destination, &bits, sizeof bits);
    return 0;
}

int check_magic(FILE* stream) {
    static const int magic[4] = {'k', 'v', 'e', 'l'};
    int result = 0;
    for (int expected : magic) {
        const int c = std::fgetc(stream);
        if (c == EOF) return 1;
        if (c != expected) result = 1;
    }
    return result;
}

int read_image_header(FILE* stream, ImageHeader* header) {
    if (std::fseek(stream, 0, SEEK_SET) != 0) return 1;
    if (check_magic(stream) != 0) return 1;
    unsigned char skipped[3];
    if (std::fread(skipped, 1, 3, stream) != 3) return 1;
    if (read_be32(stream, &header->planes) != 0) return 1;
    if (read_be32(stream, &header->levels) != 0) return 1;
    if (read_be32(stream, &header->width) != 0) return 1;
    if (read_be32(stream, &header->height) != 0) return 1;
    return 0;
}

int open_image_header(const char* path, int32_t* planes, int32_t* levels, int32_t* width,
                      int32_t* height) {
    FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        std::fprintf(stderr, "Error opening %s for read.\n", path);
        return 1;
    }
    ImageHeader header{};
    const int result = read_image_header(stream, &header);
    std::fclose(stream);
    if (result != 0) return 1;
    *planes = header.planes;
    *levels = header.levels;
    *width = header.width;
    *height = header.height;
    return 0;
}

bool header_is_usable(const ImageHeader& header) {
    return header.planes >= 1 && header.planes <= kMaxPlanes && header.levels >= 0 &&
           header.levels <= kMaxLevels && header.width >= 1 && header.height >= 1;
}

long stream_size(FILE* stream) {
    // A stream on a file descriptor is measured without disturbing its buffer.
    const int descriptor = fileno(stream);
    struct stat status {};
    if (descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
        return static_cast<long>(status.st_size);
    }
    const long position = std::ftell(stream);
    if (position < 0) return -1;
    if (std::fseek(stream, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(stream);
    if (std::fseek(stream, position, SEEK_SET) != 0) return -1;
    return size;
}
