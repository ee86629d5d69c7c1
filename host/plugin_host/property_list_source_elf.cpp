#include "host/plugin_host/elf_section.h"
#include "host/plugin_host/property_list_source.h"

bool ReadModulePropertyList(const std::string& path, std::vector<uint8_t>* bytes,
                            std::string* error) {
    return ReadElfSection(path, ".pipl", bytes, error);
}
