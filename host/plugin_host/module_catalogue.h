// The modules of a plug-in directory, registered from their property lists without loading
// them.
#pragma once

#include <string>
#include <vector>

#include "host/plugin_host/property_list_reader.h"

struct CatalogueEntry {
    std::string path;
    bool usable = false;
    std::string problem;  // why the module was refused
    ModuleProperties properties;
};

// Reads one module file's property list.
CatalogueEntry ReadModule(const std::string& path);
// Every "*.8bi" file of a directory (sorted by name), or the one module named.
std::vector<CatalogueEntry> ReadCatalogue(const std::string& directoryOrModule);
// The first usable file-format module that reads files with extension (no dot), or null.
const CatalogueEntry* FindReader(const std::vector<CatalogueEntry>& catalogue,
                                 const std::string& extension);
