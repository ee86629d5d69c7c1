// An input file mapped into memory, read-only, so that a decode reads its bytes where they lie
// instead of copying them with a system call for every read. Pages are read as the decode
// first touches them, so a small window of a large file reads little more than it needs; they
// count in the process's resident memory until released. A file made shorter while it is
// mapped (or one whose pages the system cannot read) would end the process with SIGBUS: the
// mapping's handler then names the file in one line, removes the output being written and
// exits with status 1.
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
    // Lets the pages read so far leave the process's resident memory (they stay in the
    // system's file cache, and a later read maps them again).
    void release_pages() const;
    // For a decode in pieces that has done `done` of `total`: releases the pages read so far
    // when the pieces done since the last release account for kReleaseBytes of the file, so
    // that the decode's memory does not grow with the file (a smaller file is never released:
    // pages read again cost faults).
    static constexpr int64_t kReleaseBytes = int64_t{16} << 20;
    void pieces_done(int64_t done, int64_t total);

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
    int64_t released_at_ = 0;  // pieces done at the last release
};

}  // namespace kavel_tools
