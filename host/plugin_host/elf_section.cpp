#include "host/plugin_host/elf_section.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Nothing a module needs is larger; a bigger file is not read whole.
constexpr uint64_t kMaxFileSize = uint64_t(512) << 20;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

class Bytes {
  public:
    explicit Bytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    uint64_t Read(uint64_t offset, int size) const {
        uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes_[size_t(offset) + size_t(i)];
        return value;
    }

  private:
    const std::vector<uint8_t>& bytes_;
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        *error = "cannot read " + path;
        return false;
    }
    const long size = std::ftell(file.get());
    if (size < 0 || uint64_t(size) > kMaxFileSize) {
        *error = path + " is not a module (unreadable or too large)";
        return false;
    }
    std::rewind(file.get());
    bytes->resize(size_t(size));
    if (size > 0 && std::fread(bytes->data(), 1, size_t(size), file.get()) != size_t(size)) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

}  // namespace

bool ReadElfSection(const std::string& path, const std::string& name,
                    std::vector<uint8_t>* contents, std::string* error) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, &file, error)) return false;
    const Bytes bytes(file);
    if (!bytes.Has(0, 16) || std::memcmp(file.data(),
                                         "\x7F"
                                         "ELF",
                                         4) != 0) {
        *error = path + " is not an ELF shared library";
        return false;
    }
    const bool wide = file[4] == 2;
    if ((file[4] != 1 && file[4] != 2) || file[5] != 1) {
        *error = path + " is not a little-endian ELF file";
        return false;
    }
    const int word = wide ? 8 : 4;
    const uint64_t headerSize = wide ? 64 : 52;
    if (!bytes.Has(0, headerSize)) {
        *error = path + ": truncated ELF header";
        return false;
    }
    const uint64_t sectionTable = bytes.Read(wide ? 0x28 : 0x20, word);
    const uint64_t entrySize = bytes.Read(wide ? 0x3A : 0x2E, 2);
    const uint64_t count = bytes.Read(wide ? 0x3C : 0x30, 2);
    const uint64_t namesIndex = bytes.Read(wide ? 0x3E : 0x32, 2);
    const uint64_t minimumEntry = wide ? 64 : 40;
    if (entrySize < minimumEntry || count == 0 || namesIndex >= count ||
        !bytes.Has(sectionTable, entrySize * count)) {
        *error = path + ": no usable section table";
        return false;
    }
    auto sectionOffset = [&](uint64_t index) {
        return bytes.Read(sectionTable + index * entrySize + (wide ? 0x18 : 0x10), word);
    };
    auto sectionSize = [&](uint64_t index) {
        return bytes.Read(sectionTable + index * entrySize + (wide ? 0x20 : 0x14), word);
    };
    auto sectionType = [&](uint64_t index) {
        return bytes.Read(sectionTable + index * entrySize + 4, 4);
    };
    const uint64_t namesOffset = sectionOffset(namesIndex);
    const uint64_t namesSize = sectionSize(namesIndex);
    if (!bytes.Has(namesOffset, namesSize)) {
        *error = path + ": section names lie outside the file";
        return false;
    }
    for (uint64_t index = 0; index < count; ++index) {
        const uint64_t nameOffset = bytes.Read(sectionTable + index * entrySize, 4);
        if (nameOffset >= namesSize) continue;
        const char* start = reinterpret_cast<const char*>(file.data() + namesOffset + nameOffset);
        const size_t room = size_t(namesSize - nameOffset);
        const size_t length = strnlen(start, room);
        if (length == room || name != std::string(start, length)) continue;
        constexpr uint64_t kNoBits = 8;
        const uint64_t offset = sectionOffset(index);
        const uint64_t size = sectionSize(index);
        if (sectionType(index) == kNoBits || !bytes.Has(offset, size)) {
            *error = path + ": section " + name + " lies outside the file";
            return false;
        }
        contents->assign(file.begin() + ptrdiff_t(offset), file.begin() + ptrdiff_t(offset + size));
        return true;
    }
    *error = path + " has no " + name + " section (no property list)";
    return false;
}
