// The module's exceptions: kavel.Error and one subclass per failure of the library, each
// carrying the library's reason (.reason) and status code (.status).
//
//   Error
//     FileError          the source could not be opened or read (also an OSError)
//     NotKavelError      no "kvel" magic
//     BadHeaderError     the header describes no image
//     DamagedError       damaged structures or coded data
//     OutOfMemoryError   an allocation failed or the memory limit was reached (also MemoryError)
//     LimitError         over the work or pixel limit
//     ArgumentError      a bad argument (also a ValueError)
//     SourceChangedError the source no longer holds the header it was opened with
//     EncodeError        the encoder refused the picture or could not write the file
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "kavel/kavel.h"

namespace kavel_python {

// Creates the exception classes in module.
void add_exceptions(pybind11::module_& module);

// Raises the exception of status with reason (thrown as pybind11::error_already_set).
[[noreturn]] void raise(kavel_status status, const std::string& reason);
// Raises the exception of status with the calling thread's last library message.
[[noreturn]] void raise_last_error(kavel_status status);
// Raises EncodeError with reason.
[[noreturn]] void raise_encode_error(const std::string& reason);

}  // namespace kavel_python
