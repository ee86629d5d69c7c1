// The property list as the Windows resource of type "PIPL", number 16000, in English (United
// States), read through the resource API from the module mapped as a data file: none of its
// code runs.
#include <windows.h>

#include "host/plugin_host/property_list_source.h"

bool ReadModulePropertyList(const std::string& path, std::vector<uint8_t>* bytes,
                            std::string* error) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        *error = "not a Windows module (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool found = false;
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    if (HRSRC resource = FindResourceExA(module, "PIPL", MAKEINTRESOURCEA(16000), english)) {
        const DWORD size = SizeofResource(module, resource);
        HGLOBAL loaded = LoadResource(module, resource);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data != nullptr && size > 0) {
            const auto* first = static_cast<const uint8_t*>(data);
            bytes->assign(first, first + size);
            found = true;
        }
    }
    FreeLibrary(module);
    if (!found) *error = "no property list (PIPL resource 16000, language 0x0409)";
    return found;
}
