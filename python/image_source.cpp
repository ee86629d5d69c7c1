#include "python/image_source.h"

#include <cstring>
#include <mutex>
#include <string>

#include "python/errors.h"

namespace py = pybind11;

namespace kavel_python {
namespace {

// A binary file object as a byte source. The library may call read_at from several threads at
// once (and from threads that do not hold the GIL): each call takes the mutex first, then the
// GIL, so a thread waiting for the mutex never holds the GIL the owner needs.
struct FileObjectSource {
    py::object file;
    std::mutex mutex;
    bool* closed = nullptr;  // while opening: set when the library closes the source
};

int64_t read_file_object(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* source = static_cast<FileObjectSource*>(context);
    std::lock_guard lock(source->mutex);
    py::gil_scoped_acquire gil;
    try {
        source->file.attr("seek")(offset);
        size_t done = 0;
        while (done < length) {
            py::bytes chunk = source->file.attr("read")(length - done);
            char* data = nullptr;
            Py_ssize_t size = 0;
            if (PyBytes_AsStringAndSize(chunk.ptr(), &data, &size) != 0)
                throw py::error_already_set();
            if (size <= 0) break;
            const size_t got = std::min(static_cast<size_t>(size), length - done);
            std::memcpy(static_cast<char*>(buffer) + done, data, got);
            done += got;
        }
        return static_cast<int64_t>(done);
    } catch (py::error_already_set&) {
        return -1;  // the library reports a read failure at this offset
    } catch (py::cast_error&) {
        return -1;  // read() returned something other than bytes
    }
}

void close_file_object(void* context) {
    auto* source = static_cast<FileObjectSource*>(context);
    if (source->closed != nullptr) *source->closed = true;
    py::gil_scoped_acquire gil;
    delete source;
}

std::shared_ptr<ImageHandle> checked(kavel_status status, kavel_image* image,
                                     std::unique_ptr<py::buffer_info> buffer) {
    if (status != KAVEL_OK) raise_last_error(status);
    return std::make_shared<ImageHandle>(image, std::move(buffer));
}

std::shared_ptr<ImageHandle> open_file_object(const py::object& file) {
    auto* source = new FileObjectSource;
    source->file = file;
    kavel_reader reader{};
    reader.context = source;
    reader.read_at = read_file_object;
    reader.close = close_file_object;
    try {
        reader.size = file.attr("seek")(0, 2).cast<uint64_t>();
    } catch (...) {
        delete source;
        throw;
    }
    // A failed open may or may not have closed the source already: close it once.
    bool closed = false;
    source->closed = &closed;
    kavel_image* image = nullptr;
    kavel_status status;
    {
        py::gil_scoped_release released;
        status = kavel_open_reader(&reader, &image);
    }
    if (status == KAVEL_OK) {
        source->closed = nullptr;  // kavel_close calls close_file_object
    } else if (!closed) {
        close_file_object(source);
    }
    return checked(status, image, nullptr);
}

}  // namespace

ImageHandle::ImageHandle(kavel_image* image, std::unique_ptr<py::buffer_info> buffer)
    : image_(image), buffer_(std::move(buffer)) {}

ImageHandle::~ImageHandle() {
    kavel_close(image_);
    if (buffer_) {
        py::gil_scoped_acquire gil;
        buffer_.reset();
    }
}

std::shared_ptr<ImageHandle> open_source(const py::object& source) {
    kavel_image* image = nullptr;
    if (py::isinstance<py::str>(source) || py::hasattr(source, "__fspath__")) {
        const std::string path =
            py::module_::import("os").attr("fsencode")(source).cast<std::string>();
        kavel_status status;
        {
            py::gil_scoped_release released;
            status = kavel_open_path(path.c_str(), &image);
        }
        return checked(status, image, nullptr);
    }
    if (PyObject_CheckBuffer(source.ptr())) {
        auto buffer =
            std::make_unique<py::buffer_info>(py::reinterpret_borrow<py::buffer>(source).request());
        if (!PyBuffer_IsContiguous(buffer->view(), 'C'))
            raise(KAVEL_ERROR_ARGUMENT, "the buffer must be contiguous");
        const size_t size = static_cast<size_t>(buffer->size * buffer->itemsize);
        kavel_status status;
        {
            py::gil_scoped_release released;
            status = kavel_open_memory(buffer->ptr, size, &image);
        }
        return checked(status, image, std::move(buffer));
    }
    if (py::hasattr(source, "read") && py::hasattr(source, "seek")) return open_file_object(source);
    throw py::type_error(
        "kavel.open() takes a path, bytes-like data or a binary file object with read and seek");
}

}  // namespace kavel_python
