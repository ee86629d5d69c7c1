#include "host/plugin_host/elf_section.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Only these parts of a module are read, each within its own bound: the file header, the
// section table, the section names and the one section asked for.
constexpr uint64_t kHeaderBytes = 64;
constexpr uint64_t kMaxSectionTable = uint64_t(4) << 20;
constexpr uint64_t kMaxSectionNames = uint64_t(1) << 20;
constexpr uint64_t kMaxSection = uint64_t(1) << 20;

class File {
  public:
    explicit File(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return fd_; }

    // size bytes at offset; false when they do not lie wholly in the file or cannot be read.
    bool ReadAt(uint64_t offset, uint64_t size, uint64_t fileSize,
                std::vector<uint8_t>* bytes) const {
        if (offset > fileSize || size > fileSize - offset) return false;
        bytes->assign(size_t(size), 0);
        uint64_t done = 0;
        while (done < size) {
            const ssize_t got =
                ::pread(fd_, bytes->data() + done, size_t(size - done), off_t(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += uint64_t(got);
        }
        return true;
    }

  private:
    int fd_;
};

uint64_t Little(const std::vector<uint8_t>& bytes, uint64_t offset, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[size_t(offset) + size_t(i)];
    return value;
}

}  // namespace

bool ReadElfSection(const std::string& path, const std::string& name,
                    std::vector<uint8_t>* contents, std::string* error) {
    // Opened without waiting (a FIFO would block for a writer) and read only if it is a
    // regular file.
    const File file(path);
    struct stat status {};
    if (file.fd() < 0 || ::fstat(file.fd(), &status) != 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = path + " is not a regular file";
        return false;
    }
    const auto fileSize = uint64_t(status.st_size);

    std::vector<uint8_t> header;
    if (!file.ReadAt(0, std::min(kHeaderBytes, fileSize), fileSize, &header) ||
        header.size() < 16 ||
        std::memcmp(header.data(),
                    "\x7F"
                    "ELF",
                    4) != 0) {
        *error = path + " is not an ELF shared library";
        return false;
    }
    const bool wide = header[4] == 2;
    if ((header[4] != 1 && header[4] != 2) || header[5] != 1) {
        *error = path + " is not a little-endian ELF file";
        return false;
    }
    const int word = wide ? 8 : 4;
    if (header.size() < (wide ? 64u : 52u)) {
        *error = path + ": truncated ELF header";
        return false;
    }
    const uint64_t tableOffset = Little(header, wide ? 0x28 : 0x20, word);
    const uint64_t entrySize = Little(header, wide ? 0x3A : 0x2E, 2);
    const uint64_t count = Little(header, wide ? 0x3C : 0x30, 2);
    const uint64_t namesIndex = Little(header, wide ? 0x3E : 0x32, 2);
    std::vector<uint8_t> table;
    if (entrySize < (wide ? 64u : 40u) || count == 0 || namesIndex >= count ||
        entrySize * count > kMaxSectionTable ||
        !file.ReadAt(tableOffset, entrySize * count, fileSize, &table)) {
        *error = path + ": no usable section table";
        return false;
    }
    auto field = [&](uint64_t index, uint64_t at, int size) {
        return Little(table, index * entrySize + at, size);
    };
    auto offsetOf = [&](uint64_t index) { return field(index, wide ? 0x18 : 0x10, word); };
    auto sizeOf = [&](uint64_t index) { return field(index, wide ? 0x20 : 0x14, word); };

    std::vector<uint8_t> names;
    const uint64_t namesSize = sizeOf(namesIndex);
    if (namesSize > kMaxSectionNames ||
        !file.ReadAt(offsetOf(namesIndex), namesSize, fileSize, &names)) {
        *error = path + ": section names lie outside the file";
        return false;
    }
    for (uint64_t index = 0; index < count; ++index) {
        const uint64_t nameOffset = field(index, 0, 4);
        if (nameOffset >= names.size()) continue;
        const char* start = reinterpret_cast<const char*>(names.data() + nameOffset);
        const size_t room = names.size() - size_t(nameOffset);
        const size_t length = strnlen(start, room);
        if (length == room || name != std::string(start, length)) continue;
        constexpr uint64_t kNoBits = 8;
        const uint64_t size = sizeOf(index);
        if (field(index, 4, 4) == kNoBits || size > kMaxSection ||
            !file.ReadAt(offsetOf(index), size, fileSize, contents)) {
            *error = path + ": section " + name + " lies outside the file or is too large";
            return false;
        }
        return true;
    }
    *error = path + " has no " + name + " section (no property list)";
    return false;
}
