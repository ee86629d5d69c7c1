#include "python/errors.h"

#include <array>

namespace py = pybind11;

namespace kavel_python {
namespace {

PyObject* error_class = nullptr;
PyObject* encode_error_class = nullptr;
// Indexed by kavel_status (KAVEL_OK unused).
std::array<PyObject*, 9> status_classes{};

PyObject* new_class(py::module_& module, const char* name, PyObject* bases, const char* doc) {
    const std::string qualified = std::string("kavel.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
    if (type == nullptr) throw py::error_already_set();
    module.add_object(name, py::reinterpret_borrow<py::object>(type));
    return type;
}

PyObject* new_subclass(py::module_& module, const char* name, PyObject* also, const char* doc) {
    py::tuple bases = also != nullptr ? py::make_tuple(py::handle(error_class), py::handle(also))
                                      : py::make_tuple(py::handle(error_class));
    return new_class(module, name, bases.ptr(), doc);
}

[[noreturn]] void raise_with(PyObject* type, int status, const std::string& reason) {
    py::object exception = py::reinterpret_borrow<py::object>(type)(reason);
    exception.attr("reason") = reason;
    exception.attr("status") = status;
    PyErr_SetObject(type, exception.ptr());
    throw py::error_already_set();
}

}  // namespace

void add_exceptions(py::module_& module) {
    error_class = new_class(module, "Error", PyExc_Exception,
                            "A failure of the Kavel library; .reason says why and where, "
                            ".status is the library's code.");
    struct Subclass {
        kavel_status status;
        const char* name;
        PyObject* also;  // a built-in exception the class also derives from, or null
        const char* doc;
    };
    const Subclass subclasses[] = {
        {KAVEL_ERROR_IO, "FileError", PyExc_OSError, "The source could not be read."},
        {KAVEL_ERROR_NOT_KAVEL, "NotKavelError", nullptr, "Not a Kavel file."},
        {KAVEL_ERROR_BAD_HEADER, "BadHeaderError", nullptr, "The header describes no image."},
        {KAVEL_ERROR_DAMAGED, "DamagedError", nullptr, "The file's data are damaged."},
        {KAVEL_ERROR_OUT_OF_MEMORY, "OutOfMemoryError", PyExc_MemoryError,
         "Out of memory or over the memory limit."},
        {KAVEL_ERROR_LIMIT, "LimitError", nullptr, "Over the work or pixel limit."},
        {KAVEL_ERROR_ARGUMENT, "ArgumentError", PyExc_ValueError, "A bad argument."},
        {KAVEL_ERROR_SOURCE_CHANGED, "SourceChangedError", nullptr,
         "The source changed since it was opened."},
    };
    for (const Subclass& subclass : subclasses)
        status_classes[subclass.status] =
            new_subclass(module, subclass.name, subclass.also, subclass.doc);
    encode_error_class = new_subclass(module, "EncodeError", nullptr,
                                      "The picture could not be encoded or written.");
}

void raise(kavel_status status, const std::string& reason) {
    const auto index = static_cast<size_t>(status);
    PyObject* type = index < status_classes.size() && status_classes[index] != nullptr
                         ? status_classes[index]
                         : error_class;
    raise_with(type, static_cast<int>(status), reason);
}

void raise_last_error(kavel_status status) {
    const std::string reason = kavel_last_error();
    raise(status, reason.empty() ? kavel_status_string(status) : reason);
}

void raise_encode_error(const std::string& reason) { raise_with(encode_error_class, 0, reason); }

}  // namespace kavel_python
