#include "host/plugin_host/png_output.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "host/plugin_host/host_session.h"

namespace {

bool WritePng(FILE* file, const HostDocument& document, std::string* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        *error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "the PNG could not be written";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(document.columns), png_uint_32(document.rows), 8,
                 document.planes == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (document.resolution > 0) {
        const auto perMetre = static_cast<png_uint_32>(std::lround(document.resolution / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    const size_t stride = size_t(document.columns) * size_t(document.planes);
    for (int32_t row = 0; row < document.rows; ++row) {
        png_write_row(png, document.pixels.data() + size_t(row) * stride);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WriteDocumentPng(const HostDocument& document, const std::string& path, std::string* error) {
    if (document.rows <= 0 || document.columns <= 0 ||
        document.pixels.size() !=
            size_t(document.rows) * size_t(document.columns) * size_t(document.planes)) {
        *error = "the document is empty";
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        *error = "cannot create a file next to " + path + ": " + std::strerror(errno);
        return false;
    }
    // An ordinary file's permissions, not the private ones of a temporary file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    bool written = WritePng(file, document, error);
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
        if (written) *error = "cannot write " + path + ": " + std::strerror(errno);
        written = false;
    }
    if (std::fclose(file) != 0 && written) {
        *error = "cannot write " + path;
        written = false;
    }
    if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot rename the output into " + path + ": " + std::strerror(errno);
        written = false;
    }
    if (!written) std::remove(temporary.c_str());
    return written;
}
