// Reading one named section out of a shared library file without loading it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the contents of section name from the ELF file at path (32- or 64-bit,
// little-endian). False with a reason in *error when the file is not such a file, has no
// such section, or any offset or size in it points outside the file.
bool ReadElfSection(const std::string& path, const std::string& name,
                    std::vector<uint8_t>* contents, std::string* error);
