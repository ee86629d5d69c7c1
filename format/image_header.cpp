#include "format/image_header.h"

#include <cstdio>
#include <cstring>

int read_be32(ByteStream* stream, int32_t* destination) {
    unsigned char bytes[4];
    if (stream->read(bytes, 4) != 4) return 1;
    const uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                           (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
    std::memcpy(destination, &value, sizeof value);
    return 0;
}

int read_be32_float(ByteStream* stream, float* destination) {
    int32_t bits;
    if (read_be32(stream, &bits) != 0) return 1;
    std::memcpy(destination, &bits, sizeof bits);
    return 0;
}

int check_magic(ByteStream* stream) {
    static const int magic[4] = {'k', 'v', 'e', 'l'};
    int result = 0;
    for (int expected : magic) {
        const int c = stream->get();
        if (c == ByteStream::kEnd) return 1;
        if (c != expected) result = 1;
    }
    return result;
}

int read_image_header(ByteStream* stream, ImageHeader* header) {
    if (!stream->seek(0)) return 1;
    if (check_magic(stream) != 0) return 1;
    unsigned char skipped[3];
    if (stream->read(skipped, 3) != 3) return 1;
    if (read_be32(stream, &header->planes) != 0) return 1;
    if (read_be32(stream, &header->levels) != 0) return 1;
    if (read_be32(stream, &header->width) != 0) return 1;
    if (read_be32(stream, &header->height) != 0) return 1;
    return 0;
}

std::unique_ptr<ByteSource> open_image_source(const char* path, ImageHeader* header) {
    std::unique_ptr<ByteSource> source = open_file_source(path);
    if (source == nullptr) {
        std::fprintf(stderr, "Error opening %s for read.\n", path);
        return nullptr;
    }
    ByteStream stream(*source);
    if (read_image_header(&stream, header) != 0) return nullptr;
    return source;
}

int open_image_header(const char* path, int32_t* planes, int32_t* levels, int32_t* width,
                      int32_t* height) {
    ImageHeader header{};
    if (open_image_source(path, &header) == nullptr) return 1;
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

int32_t size_at_scale(int32_t size, int32_t scale) {
    int64_t v = size;
    for (int32_t s = 0; s < scale && s < 64; ++s) v = (v + 1) / 2;
    return static_cast<int32_t>(v);
}
