// Where a module file keeps its property list, read without loading the module: an ELF
// section of its own on Linux, a "PIPL" resource on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The property list's bytes; false with a reason in *error when the file has none.
bool ReadModulePropertyList(const std::string& path, std::vector<uint8_t>* bytes,
                            std::string* error);
