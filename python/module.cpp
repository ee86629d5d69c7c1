// kavel._kavel: the compiled half of the Python package (kavel/__init__.py re-exports it).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>

#include "encode/encoder.h"
#include "kavel/kavel.h"
#include "python/errors.h"
#include "python/image_source.h"

namespace py = pybind11;

namespace kavel_python {
namespace {

// A Kavel image opened by kavel.open; decodes windows at any scale into numpy arrays.
class Image {
  public:
    explicit Image(const py::object& source) : handle_(open_source(source)) {
        kavel_get_info(handle_->get(), &info_);
    }

    int32_t width() const { return info_.width; }
    int32_t height() const { return info_.height; }
    int32_t planes() const { return info_.planes; }
    int32_t levels() const { return info_.levels; }

    std::pair<int32_t, int32_t> size_at(int32_t scale) const {
        int32_t width = 0, height = 0;
        const kavel_status status = kavel_size_at(open_handle()->get(), scale, &width, &height);
        if (status != KAVEL_OK) raise_last_error(status);
        return {width, height};
    }

    int32_t scale_for_size(int32_t width, int32_t height) const {
        return kavel_scale_for_size(open_handle()->get(), width, height);
    }

    py::array read(int32_t scale, std::optional<std::array<int64_t, 4>> window,
                   int32_t threads) const {
        const std::shared_ptr<ImageHandle> handle = open_handle();
        const auto [width, height] = size_at(scale);
        const std::array<int64_t, 4> w =
            window ? *window : std::array<int64_t, 4>{0, 0, width - 1, height - 1};
        for (const int64_t v : w)
            if (v < INT32_MIN || v > INT32_MAX)
                raise(KAVEL_ERROR_ARGUMENT, "window coordinates must be 32-bit integers");
        if (w[2] < w[0] || w[3] < w[1])
            raise(KAVEL_ERROR_ARGUMENT, "window (x0, y0, x1, y1) needs x0 <= x1 and y0 <= y1");
        if (threads < 1) raise(KAVEL_ERROR_ARGUMENT, "threads must be at least 1");
        const py::ssize_t rows = w[3] - w[1] + 1, columns = w[2] - w[0] + 1;
        py::array_t<uint8_t> pixels =
            info_.planes == 1 ? py::array_t<uint8_t>({rows, columns})
                              : py::array_t<uint8_t>({rows, columns, py::ssize_t{info_.planes}});
        uint8_t* data = pixels.mutable_data();
        const kavel_window region{static_cast<int32_t>(w[0]), static_cast<int32_t>(w[1]),
                                  static_cast<int32_t>(w[2]), static_cast<int32_t>(w[3])};
        kavel_decode_options options{};
        options.struct_size = sizeof options;
        options.threads = threads;
        kavel_status status;
        {
            py::gil_scoped_release released;
            status = kavel_decode(handle->get(), scale, region, data,
                                  static_cast<size_t>(columns) * info_.planes, &options);
        }
        if (status != KAVEL_OK) raise_last_error(status);
        return pixels;
    }

    void close() { handle_.reset(); }

    std::string repr() const {
        return "<kavel.Image " + std::to_string(info_.width) + " x " +
               std::to_string(info_.height) + ", " + std::to_string(info_.planes) +
               (info_.planes == 1 ? " plane, " : " planes, ") + std::to_string(info_.levels) +
               " levels" + (handle_ ? "" : ", closed") + ">";
    }

  private:
    std::shared_ptr<ImageHandle> open_handle() const {
        if (!handle_) raise(KAVEL_ERROR_ARGUMENT, "the image is closed");
        return handle_;
    }

    std::shared_ptr<ImageHandle> handle_;
    kavel_info info_{};
};

uint64_t encode(const py::array& array, const py::object& destination,
                std::optional<double> quality, std::optional<double> bpp,
                std::optional<int32_t> levels) {
    if (array.dtype().kind() != 'u' || array.dtype().itemsize() != 1)
        raise(KAVEL_ERROR_ARGUMENT, "the array must be of dtype uint8");
    const py::ssize_t channels = array.ndim() == 2 ? 1 : array.ndim() == 3 ? array.shape(2) : 0;
    if (channels != 1 && channels != 3)
        raise(KAVEL_ERROR_ARGUMENT,
              "the array must be (rows, columns) or (rows, columns, 1 or 3) samples");
    if (quality && bpp) raise(KAVEL_ERROR_ARGUMENT, "give only one of quality and bpp");
    kavel::EncoderOptions options;
    if (quality) {
        if (!(*quality >= 1 && *quality <= 100))
            raise(KAVEL_ERROR_ARGUMENT, "quality must be 1..100");
        options.quality = *quality;
    }
    if (bpp) {
        if (!(*bpp > 0 && *bpp <= 64))
            raise(KAVEL_ERROR_ARGUMENT, "bpp must be above 0, at most 64");
        options.mode = kavel::RateMode::bpp;
        options.bpp = *bpp;
    }
    if (levels) {
        if (*levels < 0 || *levels > kavel::kMaxLevelCount)
            raise(KAVEL_ERROR_ARGUMENT,
                  "levels must be 0.." + std::to_string(kavel::kMaxLevelCount));
        options.levels = *levels;
    }
    if (array.shape(0) > INT32_MAX || array.shape(1) > INT32_MAX ||
        uint64_t(array.shape(0)) * uint64_t(array.shape(1)) * uint64_t(channels) >
            kavel::kMaxEncodeSamples)
        raise_encode_error("the picture is too large to encode");
    const auto contiguous = py::array_t<uint8_t, py::array::c_style>::ensure(array);
    if (!contiguous) throw py::error_already_set();
    kavel::Picture picture;
    picture.height = static_cast<int32_t>(array.shape(0));
    picture.width = static_cast<int32_t>(array.shape(1));
    picture.channels = static_cast<int32_t>(channels);
    picture.samples.assign(contiguous.data(), contiguous.data() + contiguous.size());
    // A str, bytes or os.PathLike path, as the file system spells it.
    const std::string path =
        py::module_::import("os").attr("fsencode")(destination).cast<std::string>();
    std::string error;
    bool done = false;
    kavel::EncodeResult result;
    {
        py::gil_scoped_release released;
        done = kavel::encode_picture(std::move(picture), options, &result, &error) &&
               kavel::write_kavel_file(result.file, path, &error);
    }
    if (!done) raise_encode_error(path + ": " + error);
    return result.bytes;
}

}  // namespace
}  // namespace kavel_python

PYBIND11_MODULE(_kavel, module) {
    using kavel_python::Image;
    module.doc() = "Kavel images: any window at any scale 1:2^s, as numpy arrays.";
    kavel_python::add_exceptions(module);
    module.attr("__version__") = kavel_version();

    py::class_<Image>(module, "Image",
                      "An opened Kavel image. Sizes are in pixels; scale s is the image at "
                      "1 : 2**s (0 full size .. levels).")
        .def_property_readonly("width", &Image::width, "width at full size")
        .def_property_readonly("height", &Image::height, "height at full size")
        .def_property_readonly("planes", &Image::planes, "1 grey, 3 red-green-blue")
        .def_property_readonly("levels", &Image::levels, "the coarsest scale")
        .def("size_at", &Image::size_at, py::arg("scale"),
             "(width, height) at a scale: ceil(size / 2**scale)")
        .def("scale_for_size", &Image::scale_for_size, py::arg("width"), py::arg("height"),
             "the coarsest scale whose size is at least width x height (0 if none)")
        .def("read", &Image::read, py::arg("scale") = 0, py::arg("window") = py::none(),
             py::arg("threads") = 1,
             "Decodes window=(x0, y0, x1, y1) (inclusive pixels at that scale; default the "
             "whole image) into a uint8 array of (rows, columns) or (rows, columns, planes). "
             "Outside the image is 0. Runs without the GIL.")
        .def("close", &Image::close, "releases the source; later reads raise ArgumentError")
        .def("__enter__", [](Image& image) -> Image& { return image; })
        .def("__exit__", [](Image& image, py::args) { image.close(); })
        .def("__repr__", &Image::repr);

    module.def(
        "open", [](const py::object& source) { return Image(source); }, py::arg("source"),
        "Opens a Kavel image from a path, bytes-like data (read in place) or a binary file "
        "object with read and seek.");
    module.def("encode", &kavel_python::encode, py::arg("array"), py::arg("path"),
               py::arg("quality") = py::none(), py::arg("bpp") = py::none(),
               py::arg("levels") = py::none(),
               "Writes a uint8 array of (rows, columns) or (rows, columns, 1 or 3) as a Kavel "
               "file (atomically). quality 1..100 (default 75) or bpp, the target bits per "
               "pixel; levels: readable scales 0..levels. Returns the file's size in bytes.");
}
