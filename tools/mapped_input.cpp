#include "tools/mapped_input.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/atomic_output.h"

namespace kavel_tools {

namespace {

// The line the handler writes, made when the file is mapped: a handler may only write it.
char g_message[4352];
std::size_t g_message_length = 0;

void report_unreadable_and_exit(int) {
    kavel_common::AtomicOutput::remove_pending();
    [[maybe_unused]] const ssize_t written = ::write(2, g_message, g_message_length);
    ::_exit(1);
}

void set_message(const std::string& shown) {
    const std::string line = "kavel decode: " + shown +
                             ": the file cannot be read any more (it was made shorter, or "
                             "reading it failed)\n";
    g_message_length = std::min(line.size(), sizeof g_message);
    std::memcpy(g_message, line.data(), g_message_length);
}

}  // namespace

MappedInput::~MappedInput() {
    if (address_ != nullptr) ::munmap(address_, size_);
}

bool MappedInput::map(const std::string& path, const std::string& shown) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        ::close(descriptor);
        return false;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    ::close(descriptor);  // the mapping holds the file
    if (address == MAP_FAILED) return false;
    set_message(shown);
    struct sigaction action {};
    action.sa_handler = report_unreadable_and_exit;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
    address_ = address;
    size_ = size;
    return true;
}

void MappedInput::release_pages() const {
    if (address_ != nullptr) ::madvise(address_, size_, MADV_DONTNEED);
}

void MappedInput::pieces_done(int64_t done, int64_t total) {
    if (address_ == nullptr || total <= 0) return;
    // The share of the file the pieces since the last release read, taken as their share of
    // the pieces (in double: a file and a piece count may be large).
    const double read = static_cast<double>(size_) * static_cast<double>(done - released_at_) /
                        static_cast<double>(total);
    if (read < static_cast<double>(kReleaseBytes)) return;
    release_pages();
    released_at_ = done;
}

}  // namespace kavel_tools
