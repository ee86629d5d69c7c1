// An input file mapped into memory, read-only, so that a decode reads its bytes where they lie
// instead of copying them with a system call for every read. Pages are read as the decode
// first touches them, so a small window of a large file reads little more than it needs.
// A file made shorter while it is mapped (or one whose pages the system cannot read) would
// end the process with SIGBUS: the mapping's handler then names the file in one line, removes
// the output being written and exits with status 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kavel_tools {

class MappedInput {
public:
    MappedInput() = default;
    ~MappedInput();
    MappedInput(const MappedInput&) = delete;
    MappedInput& operator=(const MappedInput&) = delete;

    // Maps the regular file at path (shown names it in messages); false when it cannot be
    // mapped (not a regular file, empty, or no room): the caller then reads it as a file.
    bool map(const std::string& path, const std::string& shown);
    // The file's bytes (empty when not mapped); valid while this object lives.
    std::span<const uint8_t> bytes() const {
        return {static_cast<const uint8_t*>(address_), size_};
    }

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace kavel_tools
