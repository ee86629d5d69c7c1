// Writing a module's resources as a Windows resource script for windres: the property list,
// the string table, the dialog templates, the cursors and the version block, all in the
// table's language. The property list and the cursors go to binary files beside the script.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace platform {

// The property list with the entry point's code property ('wx86') keyed codeKey instead
// ("8664" for the 64-bit module); the bytes are otherwise unchanged. Empty when the list
// has no 'wx86' property or is malformed.
std::vector<uint8_t> PropertyListForCode(std::span<const uint8_t> list, const char codeKey[4]);

// A cursor file (.cur): one 32 x 32 monochrome image with its hot spot. Empty when the
// picture is malformed.
std::vector<uint8_t> CursorFile(const CursorResource& cursor);

// A string as a resource script's string literal (quotes doubled, backslashes escaped).
std::string ScriptString(const char* text);

// The script: propertyListFile and cursor files named "cursor<id>.cur" are referred to by
// name, relative to the script.
std::string ResourceScript(const ResourceTable& table, uint16_t propertyListId,
                           const std::string& propertyListFile);

}  // namespace platform
