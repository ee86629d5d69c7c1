// Parsing a module's property list: what the host needs to register a file-format module.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ModuleProperties {
    std::string kind;        // '8BIF' for a file-format module
    std::string name;        // shown in the host's format list
    uint32_t version = 0;    // interface version: major in the upper 16 bits
    std::string entryPoint;  // name of the exported entry point
    std::string readType;    // file type and creator the module reads
    std::string readCreator;
    std::vector<std::string> readExtensions;  // lower case, blanks removed
    std::vector<std::string> writeExtensions;
    uint32_t formatFlags = 0;  // bits counted from the most significant of the first byte
    uint32_t modes = 0;
    int32_t maxRows = 0;
    int32_t maxColumns = 0;
    std::vector<int32_t> maxChannels;  // per image mode

    bool CanRead() const { return (formatFlags & 0x20000000u) != 0; }
    bool ReadsExtension(const std::string& extension) const;
};

// False with a reason when the bytes are not a well-formed property list of a file-format
// module (wrong leading word or version, a property running past the end, no kind, name or
// entry point, values of the wrong length).
bool ParsePropertyList(std::span<const uint8_t> bytes, ModuleProperties* properties,
                       std::string* error);

// The flags as words: "can read", "saves image resources", ...
std::string DescribeFormatFlags(uint32_t flags);
