// Finding the file a module was loaded from, given an address inside it: through the dynamic
// loader on Linux, through the module handle on Windows.
#pragma once

#include <string>

namespace platform {

// The path of the module containing address, and the system's handle of it where there is
// one (else null). False when no module contains address.
bool FindModuleFile(const void* address, std::string* path, void** handle);

}  // namespace platform
