// libkavel for C++ (C++20): a thin header-only layer over the C interface of kavel.h.
//
//   kavel::Image image = kavel::Image::open("photo.kvl");     // throws kavel::Error
//   const kavel::Info info = image.info();
//   const kavel::Window window{1000, 1000, 1255, 1255};       // inclusive, pixels at the scale
//   std::vector<uint8_t> pixels = image.decode(0, window);    // rows of 256 x planes bytes
//
// Failures throw kavel::Error, which carries the kavel_status and the library's message naming
// the reason and the place; nothing else is thrown but std::bad_alloc. An Image owns its handle
// (moved, never copied) and closes it when destroyed. As with the C interface, one Image may be
// decoded from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kavel/kavel.h"

namespace kavel {
inline namespace v1 {

using Info = kavel_info;
using Window = kavel_window;
using Limits = kavel_limits;
using Reader = kavel_reader;

// A failed call: its status and the library's message.
class Error : public std::runtime_error {
  public:
    Error(kavel_status status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    kavel_status status() const noexcept { return status_; }

  private:
    kavel_status status_;
};

namespace detail {

inline void check(kavel_status status) {
    if (status != KAVEL_OK) {
        const char* message = kavel_last_error();
        throw Error(status, message != nullptr && *message != '\0'
                                ? std::string(message)
                                : std::string(kavel_status_string(status)));
    }
}

struct Closer {
    void operator()(kavel_image* image) const noexcept { kavel_close(image); }
};

}  // namespace detail

// Columns and rows of an inclusive window (0 when it is empty).
inline int64_t columns(const Window& w) noexcept {
    return w.x1 < w.x0 ? 0 : int64_t{w.x1} - w.x0 + 1;
}
inline int64_t rows(const Window& w) noexcept { return w.y1 < w.y0 ? 0 : int64_t{w.y1} - w.y0 + 1; }

struct Size {
    int32_t width = 0;
    int32_t height = 0;
};

class Image {
  public:
    // Opens a file, held open until the Image is destroyed.
    static Image open(const std::string& path) {
        kavel_image* image = nullptr;
        detail::check(kavel_open_path(path.c_str(), &image));
        return Image(image);
    }
    // Bytes in memory, not copied: they must outlive the Image, unchanged.
    static Image open_memory(std::span<const std::byte> bytes) {
        kavel_image* image = nullptr;
        detail::check(kavel_open_memory(bytes.data(), bytes.size(), &image));
        return Image(image);
    }
    static Image open_memory(std::span<const uint8_t> bytes) {
        return open_memory(std::as_bytes(bytes));
    }
    // A caller's reader (copied; its close is called when the Image is destroyed).
    static Image open_reader(const Reader& reader) {
        kavel_image* image = nullptr;
        detail::check(kavel_open_reader(&reader, &image));
        return Image(image);
    }

    Info info() const {
        Info info{};
        detail::check(kavel_get_info(handle_.get(), &info));
        return info;
    }
    // The image's size at scale (0..levels).
    Size size_at(int32_t scale) const {
        Size size;
        detail::check(kavel_size_at(handle_.get(), scale, &size.width, &size.height));
        return size;
    }
    // The whole image at scale, as an inclusive window.
    Window bounds_at(int32_t scale) const {
        const Size size = size_at(scale);
        return Window{0, 0, size.width - 1, size.height - 1};
    }
    // The coarsest scale whose size is at least width x height (0 when none is).
    int32_t scale_for_size(int32_t width, int32_t height) const noexcept {
        return kavel_scale_for_size(handle_.get(), width, height);
    }

    Limits limits() const {
        Limits limits{};
        detail::check(kavel_get_limits(handle_.get(), &limits));
        return limits;
    }
    void set_limits(const Limits& limits) { detail::check(kavel_set_limits(handle_.get(), &limits)); }

    // Decodes window at scale into buffer, rows stride bytes apart (0: planes x columns). The
    // buffer must hold (rows - 1) x stride + planes x columns bytes; on failure it is left as
    // it was. threads > 1 decodes a large window on that many threads (same bytes).
    void decode(int32_t scale, const Window& window, std::span<uint8_t> buffer,
                std::size_t stride = 0, int32_t threads = 1) const {
        const int64_t row_bytes = columns(window) * info().planes;
        if (stride == 0) stride = static_cast<std::size_t>(row_bytes);
        const int64_t height = rows(window);
        if (row_bytes > 0 && height > 0 &&
            buffer.size() < static_cast<std::size_t>(height - 1) * stride +
                                static_cast<std::size_t>(row_bytes)) {
            throw Error(KAVEL_ERROR_ARGUMENT, "the buffer does not hold the window");
        }
        const kavel_decode_options options{sizeof(kavel_decode_options), threads};
        detail::check(
            kavel_decode(handle_.get(), scale, window, buffer.data(), stride, &options));
    }
    // Decodes window at scale into a new buffer of rows x planes x columns bytes.
    std::vector<uint8_t> decode(int32_t scale, const Window& window, int32_t threads = 1) const {
        const int64_t bytes = columns(window) * rows(window) * info().planes;
        if (bytes <= 0) throw Error(KAVEL_ERROR_ARGUMENT, "the window is empty");
        std::vector<uint8_t> pixels(static_cast<std::size_t>(bytes));
        decode(scale, window, pixels, 0, threads);
        return pixels;
    }

    // The C handle, for calls this layer does not wrap.
    kavel_image* get() const noexcept { return handle_.get(); }

  private:
    explicit Image(kavel_image* image) : handle_(image) {}
    std::unique_ptr<kavel_image, detail::Closer> handle_;
};

}  // namespace v1
}  // namespace kavel
