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

// Reads one module file's property list (a file that is not a regular file is refused
// unread).
CatalogueEntry ReadModule(const std::string& path);
// Every regular "*.8bi" file of a directory (sorted by name), or the one module named.
std::vector<CatalogueEntry> ReadCatalogue(const std::string& directoryOrModule);
// The usable file-format modules that read files with extension (no dot), in catalogue
// order: the host tries them one after another until one loads.
std::vector<const CatalogueEntry*> FindReaders(const std::vector<CatalogueEntry>& catalogue,
                                               const std::string& extension);
