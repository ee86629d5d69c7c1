#include "format/kavel.h"

#include <cerrno>
#include <cstring>

#include "format/byte_source.h"
#include "format/image_header.h"
#include "format/window_decode.h"

namespace kavel {

int32_t size_at_scale(int32_t size, int32_t scale) { return ::size_at_scale(size, scale); }

std::optional<Image> Image::open(const std::string& path, std::string* error) {
    int number = 0;
    std::shared_ptr<const ByteSource> source = open_file_source(path.c_str(), &number);
    if (source == nullptr) {
        if (error != nullptr) *error = std::string("cannot open: ") + std::strerror(number);
        return std::nullopt;
    }
    ImageHeader header{};
    std::string reason;
    if (read_source_header(*source, &header, &reason) != DecodeStatus::ok) {
        if (error != nullptr) *error = reason;
        return std::nullopt;
    }
    Image image;
    image.path_ = path;
    image.info_ = ImageInfo{header.planes, header.levels, header.width, header.height};
    image.source_ = std::move(source);
    return image;
}

Window Image::bounds_at(int32_t scale) const {
    return Window{0, 0, width_at(scale) - 1, height_at(scale) - 1};
}

int32_t Image::strip_rows(const Window& window) const {
    const PieceSize size =
        piece_size(info_.planes, PixelWindow{window.x0, window.y0, window.x1, window.y1});
    return static_cast<int32_t>(size.rows);
}

bool Image::decode(int32_t scale, const Window& window, uint8_t* buffer, std::size_t stride,
                   std::string* error, const DecoderOverride* decoder) const {
    if (source_ == nullptr) {
        if (error != nullptr) *error = "no image";
        return false;
    }
    const ImageHeader opened{info_.planes, info_.levels, info_.width, info_.height};
    std::string reason;
    WindowDecodeSettings settings;
    settings.decoder = decoder;
    const DecodeStatus status =
        decode_window(*source_, opened, scale, PixelWindow{window.x0, window.y0, window.x1, window.y1},
                      buffer, stride, settings, &reason);
    if (status == DecodeStatus::ok) return true;
    if (error != nullptr) *error = reason;
    return false;
}

}  // namespace kavel
