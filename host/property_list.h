// The module's property list: what a host reads from the module file, without loading it, to
// register the module (kind, name, entry point, readable type and extension, limits).
//
// It is stored in the module file in a section of its own, ".pipl", so that a host finds it
// by reading the section headers.
//
//   offset  size  value
//   0       2     1            leading word
//   2       4     0            property-list version
//   6       4     15           number of properties
//   10      ...   properties:  vendor (4), key (4), id (int32, 0), length (int32, unpadded),
//                              value, zero bytes up to the next multiple of 4
//
// Integers are little-endian. Four-character codes (vendor, key and code values) are stored
// as little-endian 32-bit integers, so '8BIM' reads "MIB8" in the file; the extension codes of
// 'RdEx' and 'WrEx' are stored in reading order ("KVL ").
#pragma once

#include <array>
#include <cstdint>
#include <span>

constexpr size_t kPropertyListSize = 374;
constexpr const char* kPropertyListSection = ".pipl";

// The bytes as they are stored in the module file.
std::span<const uint8_t, kPropertyListSize> PropertyListBytes();
