#include "platform/win32/resource_script.h"

#include <cstdio>
#include <cstring>

#include "platform/cursor_masks.h"

namespace platform {
namespace {

uint32_t ReadLong(std::span<const uint8_t> bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

void PutWord(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutLong(std::vector<uint8_t>* out, uint32_t value) {
    PutWord(out, value & 0xFFFFu);
    PutWord(out, value >> 16);
}

const char* ClassName(ControlClass controlClass) {
    switch (controlClass) {
        case ControlClass::Button:
            return "Button";
        case ControlClass::Edit:
            return "Edit";
        case ControlClass::Static:
            return "Static";
        case ControlClass::ComboBox:
            return "ComboBox";
    }
    return "Static";
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

std::vector<uint8_t> PropertyListForCode(std::span<const uint8_t> list, const char codeKey[4]) {
    // Leading word, version, count; then vendor, key, id, length, value padded to 4.
    if (list.size() < 10) return {};
    const uint32_t count = ReadLong(list, 6);
    std::vector<uint8_t> out(list.begin(), list.end());
    size_t at = 10;
    bool found = false;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 16 > list.size()) return {};
        const uint32_t length = ReadLong(list, at + 12);
        if (length > list.size() - at - 16) return {};
        // Keys are stored as little-endian integers: 'wx86' reads "68xw".
        if (std::memcmp(&list[at + 4], "68xw", 4) == 0) {
            for (int k = 0; k < 4; ++k) out[at + 4 + size_t(k)] = uint8_t(codeKey[3 - k]);
            found = true;
        }
        at += 16 + (size_t(length) + 3) / 4 * 4;
    }
    if (!found || at > list.size()) return {};
    return out;
}

std::vector<uint8_t> CursorFile(const CursorResource& cursor) {
    CursorBits bits;
    if (!CursorMasksFromRows(cursor, &bits)) return {};
    constexpr uint32_t kImageBytes = 40 + 8 + 128 + 128;
    std::vector<uint8_t> out;
    // Directory: reserved, type 2 (cursor), one image.
    PutWord(&out, 0);
    PutWord(&out, 2);
    PutWord(&out, 1);
    // Entry: 32 x 32, two colours, hot spot, size and offset of the image.
    out.push_back(32);
    out.push_back(32);
    out.push_back(2);
    out.push_back(0);
    PutWord(&out, static_cast<uint32_t>(cursor.hotSpotX));
    PutWord(&out, static_cast<uint32_t>(cursor.hotSpotY));
    PutLong(&out, kImageBytes);
    PutLong(&out, 22);
    // The image: a bitmap header of twice the height (XOR mask, then AND mask), black and
    // white, rows bottom-up.
    PutLong(&out, 40);
    PutLong(&out, 32);
    PutLong(&out, 64);
    PutWord(&out, 1);
    PutWord(&out, 1);
    for (int i = 0; i < 6; ++i) PutLong(&out, 0);
    PutLong(&out, 0x00000000u);
    PutLong(&out, 0x00FFFFFFu);
    for (const uint32_t* mask : {bits.xorMask, bits.andMask}) {
        for (int y = 31; y >= 0; --y) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                out.push_back(static_cast<uint8_t>(mask[y] >> shift));
            }
        }
    }
    return out;
}

std::string ScriptString(const char* text) {
    std::string out = "\"";
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        if (*c == '"') {
            out += "\"\"";
        } else if (*c == '\\') {
            out += "\\\\";
        } else {
            out += *c;
        }
    }
    return out + "\"";
}

std::string ResourceScript(const ResourceTable& table, uint16_t propertyListId,
                           const std::string& propertyListFile) {
    std::string rc = "// Generated from the module's resource table: do not edit.\n";
    rc += "#pragma code_page(65001)\n";
    char line[256];
    std::snprintf(line, sizeof line, "LANGUAGE 0x%02X, 0x%02X\n\n", table.language & 0x3FFu,
                  table.language >> 10);
    rc += line;
    std::snprintf(line, sizeof line, "%u PIPL %s\n\n", propertyListId,
                  ScriptString(propertyListFile.c_str()).c_str());
    rc += line;

    rc += "STRINGTABLE\nBEGIN\n";
    for (const StringResource& entry : table.strings) {
        rc += "  " + std::to_string(entry.id) + ", " + ScriptString(entry.text) + "\n";
    }
    rc += "END\n\n";

    for (const CursorResource& cursor : table.cursors) {
        std::snprintf(line, sizeof line, "%u CURSOR \"cursor%u.cur\"\n", cursor.id, cursor.id);
        rc += line;
    }
    rc += "\n";

    for (const DialogTemplate& dialog : table.dialogs) {
        std::snprintf(line, sizeof line, "%u DIALOGEX %d, %d, %d, %d\n", dialog.id, dialog.x,
                      dialog.y, dialog.cx, dialog.cy);
        rc += line;
        rc += "STYLE " + Hex(dialog.style) + "\n";
        rc += "EXSTYLE " + Hex(dialog.exStyle) + "\n";
        rc += "CAPTION " + ScriptString(dialog.caption) + "\n";
        rc += "FONT " + std::to_string(dialog.pointSize) + ", " + ScriptString(dialog.fontName) +
              ", 0, 0, 0x1\n";
        rc += "BEGIN\n";
        for (const ControlTemplate& control : dialog.controls) {
            std::snprintf(line, sizeof line, ", %d, \"%s\", %s, %d, %d, %d, %d, %s\n",
                          control.id, ClassName(control.controlClass), Hex(control.style).c_str(),
                          control.x, control.y, control.cx, control.cy,
                          Hex(control.exStyle).c_str());
            rc += "  CONTROL " + ScriptString(control.text) + line;
        }
        rc += "END\n\n";
    }

    if (const VersionResource* version = table.version) {
        std::snprintf(line, sizeof line,
                      "1 VERSIONINFO\nFILEVERSION %u, %u, %u, %u\nPRODUCTVERSION %u, %u, %u, %u\n",
                      version->fileVersion[0], version->fileVersion[1], version->fileVersion[2],
                      version->fileVersion[3], version->productVersion[0],
                      version->productVersion[1], version->productVersion[2],
                      version->productVersion[3]);
        rc += line;
        rc += "FILEFLAGSMASK " + Hex(version->flagsMask) + "\nFILEFLAGS " + Hex(version->flags) +
              "\nFILEOS " + Hex(version->operatingSystem) + "\nFILETYPE " +
              Hex(version->fileType) + "\nFILESUBTYPE " + Hex(version->fileSubtype) + "\n";
        std::snprintf(line, sizeof line, "%04x%04x", version->language, version->codePage);
        rc += "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"" + std::string(line) +
              "\"\n    BEGIN\n";
        const std::pair<const char*, const char*> values[] = {
            {"CompanyName", version->companyName},
            {"FileDescription", version->fileDescription},
            {"FileVersion", version->fileVersionText},
            {"InternalName", version->internalName},
            {"LegalCopyright", version->legalCopyright},
            {"LegalTrademarks", version->legalTrademarks},
            {"OriginalFilename", version->originalFilename},
            {"ProductName", version->productName},
            {"ProductVersion", version->productVersionText},
        };
        for (const auto& [key, value] : values) {
            rc += "      VALUE \"" + std::string(key) + "\", " + ScriptString(value) + "\n";
        }
        std::snprintf(line, sizeof line, "0x%04X, 0x%04X", version->language, version->codePage);
        rc += "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", " +
              std::string(line) + "\n  END\nEND\n";
    }
    return rc;
}

}  // namespace platform
