#include "library/last_error.h"

namespace {

thread_local std::string t_last_error;

}  // namespace

kavel_status set_last_error(kavel_status status, std::string message) {
    try {
        t_last_error = std::move(message);
    } catch (...) {
        t_last_error.clear();  // no room for the message: the status still tells the class
    }
    return status;
}

extern "C" const char* kavel_last_error(void) { return t_last_error.c_str(); }

extern "C" const char* kavel_status_string(kavel_status status) {
    switch (status) {
        case KAVEL_OK: return "success";
        case KAVEL_ERROR_IO: return "input/output error";
        case KAVEL_ERROR_NOT_KAVEL: return "not a Kavel file";
        case KAVEL_ERROR_BAD_HEADER: return "bad header";
        case KAVEL_ERROR_DAMAGED: return "damaged data";
        case KAVEL_ERROR_OUT_OF_MEMORY: return "out of memory";
        case KAVEL_ERROR_LIMIT: return "over a limit";
        case KAVEL_ERROR_ARGUMENT: return "bad argument";
        case KAVEL_ERROR_SOURCE_CHANGED: return "source changed";
    }
    return "unknown status";
}
