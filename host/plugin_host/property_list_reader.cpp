#include "host/plugin_host/property_list_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr uint32_t kMaxProperties = 1024;

// The code property that names the entry point for this host's processor: 64-bit Windows
// hosts look for '8664', the others for 'wx86'.
#ifdef _WIN64
constexpr const char* kEntryPointKey = "8664";
#else
constexpr const char* kEntryPointKey = "wx86";
#endif

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A four-character code stored as a little-endian integer.
std::string Code(const uint8_t* p) {
    return std::string{char(p[3]), char(p[2]), char(p[1]), char(p[0])};
}

std::string Extension(const uint8_t* p) {
    std::string extension;
    for (int i = 0; i < 4; ++i) {
        if (p[i] != ' ' && p[i] != 0) extension += char(std::tolower(p[i]));
    }
    return extension;
}

}  // namespace

bool ModuleProperties::ReadsExtension(const std::string& extension) const {
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(readExtensions.begin(), readExtensions.end(), lower) != readExtensions.end();
}

bool ParsePropertyList(std::span<const uint8_t> bytes, ModuleProperties* properties,
                       std::string* error) {
    *properties = ModuleProperties{};
    if (bytes.size() < 10) {
        *error = "property list shorter than its 10-byte head";
        return false;
    }
    if (Le16(bytes.data()) != 1 || Le32(bytes.data() + 2) != 0) {
        *error = "property list has an unknown leading word or version";
        return false;
    }
    const uint32_t count = Le32(bytes.data() + 6);
    if (count > kMaxProperties) {
        *error = "property list claims " + std::to_string(count) + " properties";
        return false;
    }
    size_t at = 10;
    for (uint32_t index = 0; index < count; ++index) {
        if (bytes.size() - at < 16) {
            *error = "property " + std::to_string(index + 1) + " runs past the end";
            return false;
        }
        const uint8_t* head = bytes.data() + at;
        const std::string vendor = Code(head);
        const std::string key = Code(head + 4);
        const uint32_t length = Le32(head + 12);
        const size_t padded = (size_t(length) + 3) / 4 * 4;
        if (length > bytes.size() || bytes.size() - at - 16 < padded) {
            *error = "property '" + key + "' runs past the end";
            return false;
        }
        const uint8_t* value = head + 16;
        at += 16 + padded;
        if (vendor != "8BIM") continue;
        auto need = [&](uint32_t size) {
            if (length >= size) return true;
            *error = "property '" + key + "' is too short";
            return false;
        };
        if (key == "kind") {
            if (!need(4)) return false;
            properties->kind = Code(value);
        } else if (key == "name") {
            if (!need(1) || value[0] + 1u > length) {
                *error = "property 'name' is malformed";
                return false;
            }
            properties->name.assign(reinterpret_cast<const char*>(value + 1), value[0]);
        } else if (key == "vers") {
            if (!need(4)) return false;
            properties->version = Le32(value);
        } else if (key == kEntryPointKey) {
            const auto* text = reinterpret_cast<const char*>(value);
            properties->entryPoint.assign(text, strnlen(text, length));
        } else if (key == "RdTy") {
            if (!need(8)) return false;
            properties->readType = Code(value);
            properties->readCreator = Code(value + 4);
        } else if (key == "RdEx" || key == "WrEx") {
            if (length % 4 != 0) {
                *error = "property '" + key + "' is malformed";
                return false;
            }
            auto& list = key == "RdEx" ? properties->readExtensions : properties->writeExtensions;
            for (uint32_t i = 0; i < length; i += 4) list.push_back(Extension(value + i));
        } else if (key == "fmtf") {
            if (!need(4)) return false;
            properties->formatFlags = uint32_t(value[0]) << 24 | uint32_t(value[1]) << 16 |
                                      uint32_t(value[2]) << 8 | value[3];
        } else if (key == "mode") {
            if (!need(2)) return false;
            properties->modes = uint32_t(value[0]) << 8 | value[1];
        } else if (key == "mxsz") {
            if (!need(4)) return false;
            properties->maxRows = int16_t(Le16(value));
            properties->maxColumns = int16_t(Le16(value + 2));
        } else if (key == "mxch") {
            for (uint32_t i = 0; i + 1 < length; i += 2) {
                properties->maxChannels.push_back(int16_t(Le16(value + i)));
            }
        }
    }
    if (properties->kind.empty() || properties->name.empty() || properties->entryPoint.empty()) {
        *error = "property list lacks the kind, name or entry point";
        return false;
    }
    return true;
}

std::string DescribeFormatFlags(uint32_t flags) {
    static const char* const kNames[] = {"reads all types", "saves image resources", "can read",
                                         "can write", "can write if read"};
    std::string text;
    for (int bit = 0; bit < 5; ++bit) {
        if (flags & (0x80000000u >> bit)) {
            if (!text.empty()) text += ", ";
            text += kNames[bit];
        }
    }
    return text.empty() ? "none" : text;
}
