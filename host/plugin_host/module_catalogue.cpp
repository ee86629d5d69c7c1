#include "host/plugin_host/module_catalogue.h"

#include <algorithm>
#include <filesystem>

#include "host/plugin_host/property_list_source.h"

namespace fs = std::filesystem;

CatalogueEntry ReadModule(const std::string& path) {
    CatalogueEntry entry;
    entry.path = path;
    std::vector<uint8_t> bytes;
    if (!ReadModulePropertyList(path, &bytes, &entry.problem)) return entry;
    if (!ParsePropertyList(bytes, &entry.properties, &entry.problem)) return entry;
    entry.usable = true;
    return entry;
}

std::vector<CatalogueEntry> ReadCatalogue(const std::string& directoryOrModule) {
    std::vector<CatalogueEntry> catalogue;
    std::error_code error;
    if (!fs::is_directory(directoryOrModule, error)) {
        catalogue.push_back(ReadModule(directoryOrModule));
        return catalogue;
    }
    std::vector<std::string> paths;
    for (const auto& item : fs::directory_iterator(directoryOrModule, error)) {
        // Only regular files: a FIFO or a device named like a module would block or never
        // end.
        if (item.path().extension() == ".8bi" && item.is_regular_file(error))
            paths.push_back(item.path().string());
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) catalogue.push_back(ReadModule(path));
    return catalogue;
}

std::vector<const CatalogueEntry*> FindReaders(const std::vector<CatalogueEntry>& catalogue,
                                               const std::string& extension) {
    std::vector<const CatalogueEntry*> readers;
    for (const CatalogueEntry& entry : catalogue) {
        if (entry.usable && entry.properties.kind == "8BIF" && entry.properties.CanRead() &&
            entry.properties.ReadsExtension(extension)) {
            readers.push_back(&entry);
        }
    }
    return readers;
}
