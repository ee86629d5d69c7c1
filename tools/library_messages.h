// The library's failures as the tool's one-line messages give them.
#pragma once

#include <string>

#include "kavel/kavel.hpp"

namespace kavel_tools {

// The reason of a failed call, without the path the library puts first when it opened the file
// itself (the tool names its input as the user gave it, "standard input" for -).
inline std::string reason_of(const kavel::Error& error, const std::string& path) {
    std::string message = error.what();
    const std::string prefix = path + ": ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
    if (message.empty()) message = kavel_status_string(error.status());
    if (error.status() == KAVEL_ERROR_OUT_OF_MEMORY && message.find("memory") == std::string::npos)
        message = "out of memory (" + message + ")";
    return message;
}

}  // namespace kavel_tools
